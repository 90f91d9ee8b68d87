// The one place where port names (COMn, LPTn, paths) become device paths on
// this machine. The port list and the open both go through it, so a COM name
// that the list shows is the device the open reaches.
#pragma once

#include "platform/Registry.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace marlet {

// A serial tty that is present, under its COM name.
struct SerialPort {
    std::string comName;    // "COM3"
    std::string devicePath; // what DevicePathFor(comName) gives: "/dev/ttyS2", a by-id link, a mapped path
    std::string identity;   // what the name is recorded against ("" for UARTs, which are named by number)
    std::string ttyName;    // "ttyUSB0"; "" for a mapped path that is not a tty of this machine
};

// Where a tty sits on the USB bus.
struct UsbIdentity {
    uint16_t vendor = 0;
    uint16_t product = 0;
    int interfaceNumber = -1;
    std::string devicePath;    // sysfs folder of the USB device (below the root)
    std::string interfacePath; // sysfs folder of the interface (below the root)
    std::string serial;        // the device's serial number text, when it has one
};

class PortNaming {
public:
    // The key whose values map COM names to device paths or identities.
    static constexpr const char* PortsKey = "SOFTWARE\\Varden\\IOCommDL\\Ports";
    static constexpr int FirstAssignedCom = 3;
    static constexpr int LastCom = 256;

    enum class Kind { Serial, Parallel, Other };

    // root prefixes /sys and /dev (a fake tree in tests); "/" is the machine.
    explicit PortNaming(IRegistry& store, std::string root = "/");

    // "\\.\COM5", "COM5:", "COM5" -> the device path of that COM port ("" when
    // there is none); "LPTn" / "LPTn:" -> /dev/lp(n-1); any other name as given
    // (with the root in front of /dev and /sys paths).
    std::string DevicePathFor(const std::string& name);

    // Serial for COM names, Parallel for LPT names, Other for the rest.
    static Kind Classify(const std::string& name);
    // The number of a COM or LPT name (all its digits); 0 when it is not one.
    static int PortNumber(const std::string& name, const char* prefix);

    // The serial ttys that are present, sorted by COM number. Names devices
    // that have none yet (recording them in the Ports key).
    std::vector<SerialPort> SerialPorts();

    // The USB identity of a tty, given as "ttyUSB0" or as a path to its device
    // node; false when it is not on USB.
    bool UsbIdentityOf(const std::string& tty, UsbIdentity& identity);

    // True when the path is (a link to) the active system console.
    bool IsConsole(const std::string& path);

    // The root in front of an absolute machine path ("/dev/x" -> root + "/dev/x").
    std::string Rooted(const std::string& path) const;
    const std::string& Root() const { return root_; }

private:
    struct Tty {
        std::string name;      // ttyUSB0
        std::string sysDevice; // realpath of /sys/class/tty/<name>/device, below the root
        std::string byIdPath;  // /dev/serial/by-id/..., below the root, or ""
    };
    std::vector<Tty> PresentTtys();
    bool IsRealUart(const std::string& ttyName);
    std::vector<std::string> ConsoleTtys();
    std::string ResolveMapping(const std::string& data);
    std::string TtyOfPath(const std::string& path);
    std::string Unrooted(const std::string& path) const;
    bool ReadMapping(int number, std::string& data);
    std::map<int, std::string> ReadMappings();
    bool WriteMapping(int number, const std::string& data);

    IRegistry& store_;
    std::string root_;                           // without a trailing slash; "" for the machine's own root
    std::map<int, std::string> sessionMappings_; // names given while the store could not be written
};

} // namespace marlet
