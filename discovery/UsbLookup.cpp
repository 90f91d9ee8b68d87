// Finds the device path of the present USB printer interface whose port
// number is that of the port name (USB001 is port 1).
#include "discovery/RegistryRead.h"
#include "port/IOComm.h"

#include <cctype>
#include <cstdint>
#include <vector>

namespace marlet {

namespace {

constexpr size_t MaxDevicePath = 199;
const char* const DeviceClassesKey = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\";

// The number in the last three characters of a port name (the whole name when
// shorter), read as atoi reads it: blanks, a sign, digits up to the first
// other character; no digits give 0.
int PortNumberOfName(const std::string& portName)
{
    const std::string tail = portName.size() > 3 ? portName.substr(portName.size() - 3) : portName;
    size_t i = 0;
    while (i < tail.size() && std::isspace(static_cast<unsigned char>(tail[i])))
        ++i;
    bool negative = false;
    if (i < tail.size() && (tail[i] == '+' || tail[i] == '-'))
        negative = tail[i++] == '-';
    int number = 0;
    while (i < tail.size() && std::isdigit(static_cast<unsigned char>(tail[i])))
        number = number * 10 + (tail[i++] - '0');
    return negative ? -number : number;
}

} // namespace

int IOComm::FindUsbPrinterPath()
{
    std::vector<UsbPrinterInterface> interfaces;
    if (!platform_.system.UsbPrinterInterfaces(interfaces))
        return 0;
    for (const UsbPrinterInterface& candidate : interfaces) {
        if (!candidate.sizeReported)
            continue;
        if (candidate.detailFails)
            return 0;
        // A longer path does not fit the path member; cutting it would name
        // another device, so the interface is passed over.
        if (candidate.devicePath.size() > MaxDevicePath)
            continue;
        UsbDevicePath = candidate.devicePath;
        if (MatchUsbPortNumber(UsbDevicePath) == 1)
            return 1;
    }
    return 0;
}

int IOComm::MatchUsbPortNumber(std::string devicePath)
{
    // The interface class key is named by the path from its first brace on,
    // or by the whole path when it has none.
    const size_t brace = devicePath.find('{');
    if (brace == 0)
        return 0;
    const std::string classPart = brace == std::string::npos ? devicePath : devicePath.substr(brace);

    IRegistry& registry = platform_.registry;
    RegistryKey classKey(
        registry, registry.OpenKey(HKeyLocalMachine, DeviceClassesKey + classPart, IRegistry::Access::Read));
    if (!classKey)
        return 0;

    for (char& c : devicePath) {
        if (c == '\\')
            c = '#';
    }
    RegistryKey parameters(registry, registry.OpenKey(classKey.Get(), devicePath + "\\#\\Device Parameters",
                                                      IRegistry::Access::Read));
    if (!parameters)
        return 0;

    uint32_t portNumber = 0;
    if (!discovery::ReadDword(registry, parameters.Get(), "Port Number", portNumber))
        return 0;
    // Compared as numbers: a negative name number never equals a port number.
    return int64_t(PortNumberOfName(PortName)) == int64_t(portNumber) ? 1 : 0;
}

} // namespace marlet
