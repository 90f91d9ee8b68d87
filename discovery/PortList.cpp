// The list of ports the port selector offers, one entry per position: the
// spooler's ports (without FILE ports), the COM ports of the printer family's
// USB serial interface, then the network ports reached before.
#include "discovery/RegistryRead.h"
#include "port/IOComm.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <vector>

namespace marlet {

namespace {

constexpr int ListSlots = 50;
constexpr size_t HistoryArea = 1000;
constexpr size_t MaxHistoryEntry = 49;

bool IsFilePort(const std::string& name)
{
    static const char prefix[] = "FILE";
    if (name.size() < 4)
        return false;
    for (size_t i = 0; i < 4; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != prefix[i])
            return false;
    }
    return true;
}

// The text of the history value as a 1000-byte area holds it: up to the first
// zero byte. A value longer than the area keeps its first 1000 bytes, less a
// last entry that the cut went through.
std::string HistoryText(const std::string& data)
{
    std::string text = data.substr(0, std::min(data.size(), HistoryArea));
    text = text.substr(0, text.find('\0'));
    if (text.size() == HistoryArea && data[HistoryArea] != ' ' && data[HistoryArea] != '\0') {
        const size_t lastSpace = text.rfind(' ');
        text.erase(lastSpace == std::string::npos ? 0 : lastSpace);
    }
    return text;
}

// The entries of the history text: runs of spaces separate them. An entry
// longer than the list keeps is passed over (a cut address would name
// another printer).
std::vector<std::string> HistoryEntries(const std::string& text)
{
    std::vector<std::string> entries;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t start = text.find_first_not_of(' ', pos);
        if (start == std::string::npos)
            break;
        size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        if (end - start <= MaxHistoryEntry)
            entries.push_back(text.substr(start, end - start));
        pos = end;
    }
    return entries;
}

} // namespace

std::string IOComm::GetPortName(int index)
{
    // The spooler's answer comes whole, however many ports it has.
    std::vector<std::string> spoolerPorts;
    if (!platform_.system.EnumPorts(spoolerPorts))
        spoolerPorts.clear();

    // Every entry walked takes a slot, a skipped FILE port too; only listed
    // entries take a position.
    int slots = 0;
    int listed = 0;
    for (const std::string& name : spoolerPorts) {
        if (slots == ListSlots)
            break;
        ++slots;
        if (IsFilePort(name))
            continue;
        if (listed == index)
            return name;
        ++listed;
    }
    if (slots == ListSlots)
        return "";

    for (int k = 0;; ++k) {
        std::string name = GetUsbComPortName(k);
        if (name.empty())
            break;
        if (slots == ListSlots)
            return "";
        ++slots;
        name += ":";
        if (listed == index)
            return name;
        ++listed;
    }

    for (int k = 0;; ++k) {
        std::string name = GetRecentNetworkPort(k);
        if (name.empty() || slots == ListSlots)
            return "";
        ++slots;
        if (listed == index)
            return name;
        ++listed;
    }
}

std::string IOComm::GetUsbComPortName(int index)
{
    if (index < 0)
        return "";
    // The platform family decides the layout of the device registry; the
    // record is read once and kept.
    if (Version.platformId == 0)
        Version = platform_.system.GetVersion();
    const bool ntLayout = Version.platformId == 2;

    IRegistry& registry = platform_.registry;
    const std::string interfaceKey =
        ntLayout ? std::string("SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0613&") + "Pid_2000&Mi_00"
                 : std::string("Enum\\USB\\VID_0613&") + "Pid_2000&Mi_00";
    RegistryKey interface0(registry,
                           registry.OpenKey(HKeyLocalMachine, interfaceKey, IRegistry::Access::Read));
    if (!interface0)
        return "";
    std::string instanceName;
    if (!registry.EnumKey(interface0.Get(), uint32_t(index), instanceName))
        return "";
    RegistryKey instance(registry, registry.OpenKey(interface0.Get(), instanceName, IRegistry::Access::Read));
    if (!instance)
        return "";

    uint32_t comNumber = 0;
    if (ntLayout) {
        RegistryKey parameters(
            registry, registry.OpenKey(instance.Get(), "Device Parameters", IRegistry::Access::Read));
        if (!parameters ||
            !discovery::ReadDword(registry, parameters.Get(), "COMPortForInterface0000", comNumber))
            return "";
        // The composite device itself must be known as well.
        RegistryKey composite(registry,
                              registry.OpenKey(HKeyLocalMachine,
                                               "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0613&Pid_2000",
                                               IRegistry::Access::Read));
        if (!composite)
            return "";
    } else if (!discovery::ReadDword(registry, instance.Get(), "COMPortForInterface0000", comNumber)) {
        return "";
    }
    return "COM" + std::to_string(comNumber);
}

std::string IOComm::GetRecentNetworkPort(int index)
{
    if (index < 0)
        return "";
    std::string text;
    {
        RegistryKey key = OpenRegistryKey();
        RegValue value;
        if (key && platform_.registry.QueryValue(key.Get(), "TCP", value))
            text = HistoryText(value.data);
    }
    const std::vector<std::string> entries = HistoryEntries(text);
    return size_t(index) < entries.size() ? entries[size_t(index)] : "";
}

} // namespace marlet
