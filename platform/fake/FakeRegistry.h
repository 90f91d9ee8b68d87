// An in-memory registry: keys and subkeys by position, value names without
// regard to case, every call recorded.
#pragma once

#include "platform/Registry.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace marlet {

class FakeRegistry : public IRegistry {
public:
    struct Key {
        std::vector<std::pair<std::string, RegValue>> values; // in order of creation
        std::vector<std::pair<std::string, std::unique_ptr<Key>>> subkeys;
        bool readOnly = false;
    };

    FakeRegistry();
    RegKey OpenKey(RegKey parent, const std::string& subKey, Access access) override;
    RegKey CreateKey(RegKey parent, const std::string& subKey) override;
    void CloseKey(RegKey key) override;
    bool QueryValue(RegKey key, const std::string& name, RegValue& value) override;
    bool SetValue(RegKey key, const std::string& name, uint32_t type, const std::string& data) override;
    bool EnumKey(RegKey key, uint32_t index, std::string& name) override;

    // Test set-up and inspection by path below HKEY_LOCAL_MACHINE ("A\B\C").
    Key& Ensure(const std::string& path);
    Key* Find(const std::string& path);
    void Set(const std::string& path, const std::string& name, uint32_t type, const std::string& data);
    void SetDword(const std::string& path, const std::string& name, uint32_t value);
    void SetString(const std::string& path, const std::string& name,
                   const std::string& text); // REG_SZ with its zero byte
    bool Get(const std::string& path, const std::string& name, RegValue& value);

    // Failure switches.
    bool failOpenAll = false;  // opening for full access fails
    bool failOpenRead = false; // opening for reading fails
    bool failCreate = false;
    int openKeys() const { return int(open_.size()); }
    std::vector<std::string> calls;

private:
    Key* Resolve(RegKey key);
    static const RegValue* FindValue(const Key& node, const std::string& name);
    Key* Walk(Key* from, const std::string& path, bool create);
    RegKey Issue(Key* key, bool writable);

    Key root_;
    std::map<RegKey, std::pair<Key*, bool>> open_; // key -> (node, writable)
    RegKey next_ = 0x1000;
};

} // namespace marlet
