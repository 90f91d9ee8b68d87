// The spooler, the USB printer interfaces and the platform family, in memory.
#pragma once

#include "platform/System.h"

namespace marlet {

class FakeSystem : public ISystem {
public:
    bool EnumPorts(std::vector<std::string>& names) override
    {
        ++enumPortsCalls;
        if (!spoolerAnswers)
            return false;
        names = spoolerPorts;
        return true;
    }
    bool UsbPrinterInterfaces(std::vector<UsbPrinterInterface>& interfaces) override
    {
        if (!usbListAvailable)
            return false;
        interfaces = usbPrinters;
        return true;
    }
    OsVersion GetVersion() override { return version; }

    std::vector<std::string> spoolerPorts;
    bool spoolerAnswers = true;
    int enumPortsCalls = 0;
    std::vector<UsbPrinterInterface> usbPrinters;
    bool usbListAvailable = true;
    OsVersion version{2, 6};
};

} // namespace marlet
