#include "platform/fake/FakeRegistry.h"

#include "platform/RegistryNames.h"

#include <algorithm>

namespace marlet {

namespace {

bool SameName(const std::string& a, const std::string& b) { return SameRegistryName(a, b); }
std::vector<std::string> SplitPath(const std::string& path) { return SplitRegistryPath(path); }

} // namespace

FakeRegistry::FakeRegistry() = default;

FakeRegistry::Key* FakeRegistry::Walk(Key* from, const std::string& path, bool create)
{
    Key* node = from;
    for (const std::string& part : SplitPath(path)) {
        auto it = std::find_if(node->subkeys.begin(), node->subkeys.end(),
                               [&](const auto& entry) { return SameName(entry.first, part); });
        if (it == node->subkeys.end()) {
            if (!create)
                return nullptr;
            node->subkeys.emplace_back(part, std::make_unique<Key>());
            node = node->subkeys.back().second.get();
        } else {
            node = it->second.get();
        }
    }
    return node;
}

FakeRegistry::Key* FakeRegistry::Resolve(RegKey key)
{
    if (key == HKeyLocalMachine)
        return &root_;
    auto it = open_.find(key);
    return it == open_.end() ? nullptr : it->second.first;
}

RegKey FakeRegistry::Issue(Key* key, bool writable)
{
    const RegKey handle = next_++;
    open_[handle] = {key, writable};
    return handle;
}

RegKey FakeRegistry::OpenKey(RegKey parent, const std::string& subKey, Access access)
{
    calls.push_back(std::string(access == Access::All ? "OpenAll " : "OpenRead ") + subKey);
    if ((access == Access::All && failOpenAll) || (access == Access::Read && failOpenRead))
        return 0;
    Key* from = Resolve(parent);
    Key* node = from ? Walk(from, subKey, false) : nullptr;
    if (node == nullptr)
        return 0;
    return Issue(node, access == Access::All && !node->readOnly);
}

RegKey FakeRegistry::CreateKey(RegKey parent, const std::string& subKey)
{
    calls.push_back("Create " + subKey);
    if (failCreate)
        return 0;
    Key* from = Resolve(parent);
    Key* node = from ? Walk(from, subKey, true) : nullptr;
    return node ? Issue(node, !node->readOnly) : 0;
}

void FakeRegistry::CloseKey(RegKey key) { open_.erase(key); }

bool FakeRegistry::QueryValue(RegKey key, const std::string& name, RegValue& value)
{
    const Key* node = Resolve(key);
    const RegValue* found = node != nullptr ? FindValue(*node, name) : nullptr;
    if (found != nullptr)
        value = *found;
    return found != nullptr;
}

bool FakeRegistry::SetValue(RegKey key, const std::string& name, uint32_t type, const std::string& data)
{
    auto it = open_.find(key);
    if (it == open_.end() || !it->second.second)
        return false;
    Key* node = it->second.first;
    for (auto& entry : node->values) {
        if (SameName(entry.first, name)) {
            entry.second = {type, data};
            return true;
        }
    }
    node->values.emplace_back(name, RegValue{type, data});
    return true;
}

bool FakeRegistry::EnumKey(RegKey key, uint32_t index, std::string& name)
{
    Key* node = Resolve(key);
    if (node == nullptr || index >= node->subkeys.size())
        return false;
    name = node->subkeys[index].first;
    return true;
}

FakeRegistry::Key& FakeRegistry::Ensure(const std::string& path) { return *Walk(&root_, path, true); }
FakeRegistry::Key* FakeRegistry::Find(const std::string& path) { return Walk(&root_, path, false); }

void FakeRegistry::Set(const std::string& path, const std::string& name, uint32_t type,
                       const std::string& data)
{
    Key& node = Ensure(path);
    for (auto& entry : node.values) {
        if (SameName(entry.first, name)) {
            entry.second = {type, data};
            return;
        }
    }
    node.values.emplace_back(name, RegValue{type, data});
}

void FakeRegistry::SetDword(const std::string& path, const std::string& name, uint32_t value)
{
    Set(path, name, RegDword, DwordBytes(value));
}

void FakeRegistry::SetString(const std::string& path, const std::string& name, const std::string& text)
{
    Set(path, name, RegSz, text + std::string(1, '\0'));
}

bool FakeRegistry::Get(const std::string& path, const std::string& name, RegValue& value)
{
    const Key* node = Find(path);
    const RegValue* found = node != nullptr ? FindValue(*node, name) : nullptr;
    if (found != nullptr)
        value = *found;
    return found != nullptr;
}

const RegValue* FakeRegistry::FindValue(const Key& node, const std::string& name)
{
    for (const auto& entry : node.values) {
        if (SameName(entry.first, name))
            return &entry.second;
    }
    return nullptr;
}

} // namespace marlet
