// Turns a network port name into "address:port": an address given directly,
// or a TCP/IP printer port that the port monitor's settings describe.
#include "discovery/RegistryRead.h"
#include "port/IOComm.h"

#include <cstdint>

namespace marlet {

namespace {

const char* const MonitorPortsKey =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports";
constexpr uint32_t MaxMonitorPorts = 500;
constexpr size_t AddressArea = 300;

} // namespace

std::string IOComm::ResolveNetworkPort(std::string name)
{
    if (!name.empty() && name[0] >= '0' && name[0] <= '9')
        return name;

    IRegistry& registry = platform_.registry;
    RegistryKey ports(registry, registry.OpenKey(HKeyLocalMachine, MonitorPortsKey, IRegistry::Access::Read));
    if (!ports)
        return "";

    // The first port whose name the given name begins with (letter case
    // significant) is taken.
    std::string chosen;
    bool found = false;
    for (uint32_t position = 0; position < MaxMonitorPorts && !found; ++position) {
        std::string subKey;
        if (!registry.EnumKey(ports.Get(), position, subKey))
            return "";
        if (name.starts_with(subKey)) {
            chosen = subKey;
            found = true;
        }
    }
    if (!found)
        return "";

    RegistryKey port(registry, registry.OpenKey(ports.Get(), chosen, IRegistry::Access::Read));
    if (!port)
        return "";
    uint32_t portNumber = 0;
    if (!discovery::ReadDword(registry, port.Get(), "PortNumber", portNumber))
        return "";
    std::string address;
    if (!discovery::ReadText(registry, port.Get(), "IPAddress", AddressArea, address))
        return "";
    return address + ":" + std::to_string(portNumber & 0xFFFFu);
}

} // namespace marlet
