// Registry seam: keys under HKEY_LOCAL_MACHINE with typed values whose names
// are matched without regard to case, and subkeys enumerated by position.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace marlet {

using RegKey = uintptr_t; // 0 means no key
constexpr RegKey HKeyLocalMachine = 0x80000002u;

enum RegType : uint32_t {
    RegNone = 0,
    RegSz = 1,
    RegExpandSz = 2,
    RegBinary = 3,
    RegDword = 4,
    RegMultiSz = 7,
};

// A value as stored: its type and exactly its bytes (a REG_SZ keeps or lacks
// its terminating zero byte as it was written).
struct RegValue {
    uint32_t type = RegNone;
    std::string data;
};

class IRegistry {
public:
    enum class Access { All, Read };
    virtual ~IRegistry() = default;
    // Opens an existing key below parent (HKeyLocalMachine or an open key); 0 on failure.
    virtual RegKey OpenKey(RegKey parent, const std::string& subKey, Access access) = 0;
    // Opens or creates a key below parent; 0 on failure.
    virtual RegKey CreateKey(RegKey parent, const std::string& subKey) = 0;
    virtual void CloseKey(RegKey key) = 0;
    virtual bool QueryValue(RegKey key, const std::string& name, RegValue& value) = 0;
    virtual bool SetValue(RegKey key, const std::string& name, uint32_t type, const std::string& data) = 0;
    // Name of the subkey at a position; false past the last one.
    virtual bool EnumKey(RegKey key, uint32_t index, std::string& name) = 0;
};

// An open key, closed on every way out.
class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(IRegistry& registry, RegKey key) : registry_(&registry), key_(key) {}
    RegistryKey(RegistryKey&& other) noexcept : registry_(other.registry_), key_(std::exchange(other.key_, 0))
    {
    }
    RegistryKey& operator=(RegistryKey&& other) noexcept
    {
        if (this != &other) {
            Close();
            registry_ = other.registry_;
            key_ = std::exchange(other.key_, 0);
        }
        return *this;
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() { Close(); }

    RegKey Get() const { return key_; }
    explicit operator bool() const { return key_ != 0; }
    void Close()
    {
        if (key_ != 0 && registry_ != nullptr)
            registry_->CloseKey(key_);
        key_ = 0;
    }

private:
    IRegistry* registry_ = nullptr;
    RegKey key_ = 0;
};

// Little-endian helpers for DWORD values.
inline std::string DwordBytes(uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = char(uint8_t(v >> (8 * i)));
    return s;
}

// Reads the first four bytes of a value as a little-endian number (fewer bytes
// are taken as they come, the rest zero).
inline uint32_t DwordFromBytes(const std::string& s)
{
    uint32_t v = 0;
    for (size_t i = 0; i < 4 && i < s.size(); ++i)
        v |= uint32_t(uint8_t(s[i])) << (8 * i);
    return v;
}

} // namespace marlet
