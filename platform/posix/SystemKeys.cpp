#include "platform/posix/SystemKeys.h"

#include "platform/RegistryNames.h"

#include <algorithm>

namespace marlet {

namespace {

constexpr uint16_t FamilyVendor = 0x0613;
constexpr uint16_t FamilyProduct = 0x2000;
const char* const ControlSet = "SYSTEM\\CurrentControlSet\\";

bool SameName(const std::string& a, const std::string& b) { return SameRegistryName(a, b); }
std::vector<std::string> SplitPath(const std::string& path) { return SplitRegistryPath(path); }

enum Branch { SerialBranch = 1, PrinterBranch = 2, NetworkBranch = 4, AllBranches = 7 };

// The branches a key path below HKEY_LOCAL_MACHINE can reach.
int BranchesFor(const std::string& path)
{
    const std::vector<std::string> parts = SplitPath(path);
    if (parts.empty() || !SameName(parts[0], "SYSTEM"))
        return 0;
    if (parts.size() < 3)
        return parts.size() < 2 || SameName(parts[1], "CurrentControlSet") ? AllBranches : 0;
    if (!SameName(parts[1], "CurrentControlSet"))
        return 0;
    if (SameName(parts[2], "Enum"))
        return SerialBranch;
    if (!SameName(parts[2], "Control"))
        return 0;
    if (parts.size() < 4)
        return PrinterBranch | NetworkBranch;
    if (SameName(parts[3], "DeviceClasses"))
        return PrinterBranch;
    return SameName(parts[3], "Print") ? NetworkBranch : 0;
}

// A key name from a device's own text: no separators inside.
std::string KeyNameFrom(std::string text)
{
    std::replace(text.begin(), text.end(), '\\', '_');
    return text;
}

} // namespace

SystemKeys::Node* SystemKeys::Node::Child(const std::string& childName) const
{
    for (const auto& child : children) {
        if (SameName(child->name, childName))
            return child.get();
    }
    return nullptr;
}

SystemKeys::Node& SystemKeys::Node::Ensure(const std::string& path)
{
    Node* node = this;
    for (const std::string& part : SplitPath(path)) {
        Node* next = node->Child(part);
        if (next == nullptr) {
            node->children.push_back(std::make_unique<Node>());
            next = node->children.back().get();
            next->name = part;
        }
        node = next;
    }
    return *node;
}

void SystemKeys::Node::SetDword(const std::string& valueName, uint32_t value)
{
    values.emplace_back(valueName, RegValue{RegDword, DwordBytes(value)});
}

void SystemKeys::Node::SetString(const std::string& valueName, const std::string& text)
{
    values.emplace_back(valueName, RegValue{RegSz, text + std::string(1, '\0')});
}

SystemKeys::SystemKeys(PosixSystem& system) : system_(system) {}

std::shared_ptr<const SystemKeys::Node> SystemKeys::Build(const std::string& path)
{
    auto root = std::make_shared<Node>();
    // The keys every machine of the other platform has, filled or not.
    root->Ensure(std::string(ControlSet) + "Enum\\USB");
    root->Ensure(std::string(ControlSet) + "Control\\DeviceClasses\\" + PrinterClass);
    root->Ensure(std::string(ControlSet) + "Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports");
    const int branches = BranchesFor(path);
    if (branches & SerialBranch)
        AddUsbSerialInterfaces(*root);
    if (branches & PrinterBranch)
        AddUsbPrinters(*root);
    if (branches & NetworkBranch)
        AddNetworkPorts(*root);
    return root;
}

void SystemKeys::AddUsbSerialInterfaces(Node& root)
{
    Node& usb = root.Ensure(std::string(ControlSet) + "Enum\\USB");
    PortNaming& naming = system_.Naming();
    std::vector<std::string> instances;
    for (const SerialPort& port : naming.SerialPorts()) {
        UsbIdentity identity;
        if (port.ttyName.empty() || !naming.UsbIdentityOf(port.ttyName, identity))
            continue;
        if (identity.vendor != FamilyVendor || identity.product != FamilyProduct ||
            identity.interfaceNumber != 0)
            continue;
        const int comNumber = PortNaming::PortNumber(port.comName, "COM");
        if (comNumber <= 0)
            continue;
        // The instance is named after the device (its serial number, else its
        // place on the bus), so it keeps its key while it stays plugged in.
        std::string instance = identity.serial;
        if (instance.empty())
            instance = identity.devicePath.substr(identity.devicePath.find_last_of('/') + 1);
        instance = KeyNameFrom(instance);
        if (instance.empty())
            instance = port.ttyName;
        const std::string base = instance;
        for (int n = 2; std::find(instances.begin(), instances.end(), instance) != instances.end(); ++n)
            instance = base + "&" + std::to_string(n);
        instances.push_back(instance);

        usb.Ensure("Vid_0613&Pid_2000&Mi_00\\" + instance + "\\Device Parameters")
            .SetDword("COMPortForInterface0000", uint32_t(comNumber));
        usb.Ensure("Vid_0613&Pid_2000\\" + instance);
    }
}

void SystemKeys::AddUsbPrinters(Node& root)
{
    Node& classes = root.Ensure(std::string(ControlSet) + "Control\\DeviceClasses");
    for (const UsbPrinterDevice& printer : system_.UsbPrinters()) {
        std::string interfaceKey = printer.devicePath;
        std::replace(interfaceKey.begin(), interfaceKey.end(), '\\', '#');
        interfaceKey += "\\#\\Device Parameters";
        // The walk looks the interface up below the class part of its path.
        const size_t brace = printer.devicePath.find('{');
        const std::string classPart =
            brace == std::string::npos ? printer.devicePath : printer.devicePath.substr(brace);
        classes.Ensure(classPart).Ensure(interfaceKey).SetDword("Port Number", printer.portNumber);
        if (!SameName(classPart, PrinterClass))
            classes.Ensure(PrinterClass).Ensure(interfaceKey).SetDword("Port Number", printer.portNumber);
    }
}

void SystemKeys::AddNetworkPorts(Node& root)
{
    Node& ports =
        root.Ensure(std::string(ControlSet) + "Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports");
    std::vector<NetworkPrinterPort> network = system_.NetworkPorts();
    // The lookup takes the first port whose name the wanted name begins with;
    // in descending order a name comes before every name that begins it, so
    // IP_10.0.0.10 is found as itself and not as IP_10.0.0.1.
    std::sort(network.begin(), network.end(),
              [](const NetworkPrinterPort& a, const NetworkPrinterPort& b) { return a.name > b.name; });
    for (const NetworkPrinterPort& port : network) {
        Node& key = ports.Ensure(port.name);
        key.SetString("IPAddress", port.host);
        key.SetDword("PortNumber", port.port);
    }
}

const SystemKeys::OpenKeyState* SystemKeys::Find(RegKey key) const
{
    auto it = open_.find(key);
    return it == open_.end() ? nullptr : &it->second;
}

RegKey SystemKeys::OpenKey(RegKey parent, const std::string& subKey, Access)
{
    std::shared_ptr<const Node> tree;
    const Node* node = nullptr;
    if (parent == HKeyLocalMachine) {
        tree = Build(subKey);
        node = tree.get();
    } else if (const OpenKeyState* state = Find(parent)) {
        tree = state->tree;
        node = state->node;
    } else {
        return 0;
    }
    for (const std::string& part : SplitPath(subKey)) {
        node = node->Child(part);
        if (node == nullptr)
            return 0;
    }
    const RegKey handle = next_++;
    open_[handle] = {tree, node};
    return handle;
}

RegKey SystemKeys::CreateKey(RegKey parent, const std::string& subKey)
{
    return OpenKey(parent, subKey, Access::Read);
}

void SystemKeys::CloseKey(RegKey key) { open_.erase(key); }

bool SystemKeys::QueryValue(RegKey key, const std::string& name, RegValue& value)
{
    const OpenKeyState* state = Find(key);
    if (state == nullptr)
        return false;
    for (const auto& entry : state->node->values) {
        if (SameName(entry.first, name)) {
            value = entry.second;
            return true;
        }
    }
    return false;
}

bool SystemKeys::SetValue(RegKey, const std::string&, uint32_t, const std::string&) { return false; }

bool SystemKeys::EnumKey(RegKey key, uint32_t index, std::string& name)
{
    const OpenKeyState* state = Find(key);
    if (state == nullptr || index >= state->node->children.size())
        return false;
    name = state->node->children[index]->name;
    return true;
}

} // namespace marlet
