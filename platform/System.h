// System seam: the spooler's ports, the present USB printer interfaces and
// the platform family.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace marlet {

struct OsVersion {
    uint32_t platformId = 0; // 2 NT family, 1 the 95 family
    uint32_t majorVersion = 0;
};

// One present interface of the USB printer class as the device installation
// interface reports it.
struct UsbPrinterInterface {
    std::string devicePath;
    bool sizeReported = true; // the detail size query answers
    bool detailFails = false; // fetching the detail record fails
};

class ISystem {
public:
    virtual ~ISystem() = default;
    // The local spooler's port names in the spooler's order; false when it cannot be asked.
    virtual bool EnumPorts(std::vector<std::string>& names) = 0;
    // The present interfaces of the USB printer class; false when no list can be had.
    virtual bool UsbPrinterInterfaces(std::vector<UsbPrinterInterface>& interfaces) = 0;
    virtual OsVersion GetVersion() = 0;
};

} // namespace marlet
