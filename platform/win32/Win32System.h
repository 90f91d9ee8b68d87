// The system seam on Windows: the spooler's ports (winspool), the present USB
// printer interfaces (setupapi) and the platform family.
#pragma once

#include "platform/System.h"

namespace marlet {

class Win32System : public ISystem {
public:
    bool EnumPorts(std::vector<std::string>& names) override;
    bool UsbPrinterInterfaces(std::vector<UsbPrinterInterface>& interfaces) override;
    OsVersion GetVersion() override;
};

} // namespace marlet
