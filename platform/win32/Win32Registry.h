// The registry through advapi32. Every key is opened in the view a 32-bit
// program sees, so that a 64-bit build finds the settings that earlier
// (32-bit) installations left under HKEY_LOCAL_MACHINE\SOFTWARE.
#pragma once

#include "platform/Registry.h"

namespace marlet {

class Win32Registry : public IRegistry {
public:
    RegKey OpenKey(RegKey parent, const std::string& subKey, Access access) override;
    RegKey CreateKey(RegKey parent, const std::string& subKey) override;
    void CloseKey(RegKey key) override;
    bool QueryValue(RegKey key, const std::string& name, RegValue& value) override;
    bool SetValue(RegKey key, const std::string& name, uint32_t type, const std::string& data) override;
    bool EnumKey(RegKey key, uint32_t index, std::string& name) override;
};

} // namespace marlet
