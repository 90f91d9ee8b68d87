// The HKEY_LOCAL_MACHINE\SYSTEM keys that port discovery reads, made read-only
// from the machine as it is when a key is opened:
//  - SYSTEM\CurrentControlSet\Enum\USB\Vid_0613&Pid_2000&Mi_00\<instance>\Device Parameters
//    with "COMPortForInterface0000" for each present tty of the printer family's USB
//    serial interface (vendor 0613, product 2000, interface 0), and the composite
//    device's key Enum\USB\Vid_0613&Pid_2000 with the same instances;
//  - SYSTEM\CurrentControlSet\Control\DeviceClasses\<class part>\<device path, "\" as "#">\#\Device
//  Parameters
//    with "Port Number" for each present usblp printer, where the class part is the
//    device path from its first "{" on, or the whole path ("/dev/usb/lp0") when it has
//    none; every interface is also listed under the USB printer class key;
//  - SYSTEM\CurrentControlSet\Control\Print\Monitors\Standard TCP/IP Port\Ports\<IP_ name>
//    with "IPAddress" and "PortNumber" for each socket:// print queue.
// Key names are compared without regard to case. A key opened below another
// belongs to the same picture of the machine as its parent.
#pragma once

#include "platform/Registry.h"
#include "platform/posix/PosixSystem.h"

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace marlet {

class SystemKeys : public IRegistry {
public:
    static constexpr const char* PrinterClass = "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

    // system is asked only when a key is opened; it must outlive this object.
    explicit SystemKeys(PosixSystem& system);

    RegKey OpenKey(RegKey parent, const std::string& subKey, Access access) override;
    // Opens an existing key; nothing can be created here.
    RegKey CreateKey(RegKey parent, const std::string& subKey) override;
    void CloseKey(RegKey key) override;
    bool QueryValue(RegKey key, const std::string& name, RegValue& value) override;
    bool SetValue(RegKey key, const std::string& name, uint32_t type, const std::string& data) override;
    bool EnumKey(RegKey key, uint32_t index, std::string& name) override;

    struct Node {
        std::string name;
        std::vector<std::pair<std::string, RegValue>> values;
        std::vector<std::unique_ptr<Node>> children;
        Node* Child(const std::string& childName) const;
        // The node at a path of "\"-separated names below this one, made when missing.
        Node& Ensure(const std::string& path);
        void SetDword(const std::string& valueName, uint32_t value);
        void SetString(const std::string& valueName, const std::string& text);
    };

    // The picture of the machine below HKEY_LOCAL_MACHINE, with the branches
    // that a key path reaches filled in.
    std::shared_ptr<const Node> Build(const std::string& path);

private:
    struct OpenKeyState {
        std::shared_ptr<const Node> tree;
        const Node* node;
    };
    void AddUsbSerialInterfaces(Node& root);
    void AddUsbPrinters(Node& root);
    void AddNetworkPorts(Node& root);
    const OpenKeyState* Find(RegKey key) const;

    PosixSystem& system_;
    std::map<RegKey, OpenKeyState> open_;
    RegKey next_ = 0x1000;
};

} // namespace marlet
