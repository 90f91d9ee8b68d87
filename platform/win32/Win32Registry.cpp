#include "platform/win32/Win32Registry.h"

#include <vector>

#include <windows.h>

namespace marlet {

namespace {

// The seam's HKEY_LOCAL_MACHINE is the 32-bit value of the predefined key; on
// a 64-bit build the real one is that value sign-extended.
HKEY ToHkey(RegKey key)
{
    if (key == HKeyLocalMachine)
        return HKEY_LOCAL_MACHINE;
    return reinterpret_cast<HKEY>(key);
}

RegKey FromHkey(HKEY key) { return reinterpret_cast<RegKey>(key); }

constexpr REGSAM kView = KEY_WOW64_32KEY;

} // namespace

RegKey Win32Registry::OpenKey(RegKey parent, const std::string& subKey, Access access)
{
    HKEY key = nullptr;
    const REGSAM rights = (access == Access::All ? KEY_ALL_ACCESS : KEY_READ) | kView;
    if (::RegOpenKeyExA(ToHkey(parent), subKey.c_str(), 0, rights, &key) != ERROR_SUCCESS)
        return 0;
    return FromHkey(key);
}

RegKey Win32Registry::CreateKey(RegKey parent, const std::string& subKey)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExA(ToHkey(parent), subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS | kView, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return 0;
    return FromHkey(key);
}

void Win32Registry::CloseKey(RegKey key)
{
    if (key != 0 && key != HKeyLocalMachine)
        ::RegCloseKey(ToHkey(key));
}

bool Win32Registry::QueryValue(RegKey key, const std::string& name, RegValue& value)
{
    // The value may grow between the size query and the read: ask again then.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        if (::RegQueryValueExA(ToHkey(key), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return false;
        std::vector<BYTE> data(size + 1);
        DWORD got = size;
        const LONG result = ::RegQueryValueExA(ToHkey(key), name.c_str(), nullptr, &type, data.data(), &got);
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            return false;
        value.type = type;
        value.data.assign(reinterpret_cast<const char*>(data.data()), got);
        return true;
    }
    return false;
}

bool Win32Registry::SetValue(RegKey key, const std::string& name, uint32_t type, const std::string& data)
{
    return ::RegSetValueExA(ToHkey(key), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                            DWORD(data.size())) == ERROR_SUCCESS;
}

bool Win32Registry::EnumKey(RegKey key, uint32_t index, std::string& name)
{
    // Key names have at most 255 characters.
    char buffer[256] = {};
    if (::RegEnumKeyA(ToHkey(key), index, buffer, sizeof buffer) != ERROR_SUCCESS)
        return false;
    name = buffer;
    return true;
}

} // namespace marlet
