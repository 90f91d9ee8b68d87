// The system seam on POSIX: the ports this machine offers, under the names the
// spooler of the other platform would give them (COMn:, LPTn:, USB00n, IP_host),
// the present usblp printers, and the platform family.
#pragma once

#include "platform/Registry.h"
#include "platform/System.h"
#include "platform/posix/PortNaming.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace marlet {

// A print queue whose device is socket://HOST[:PORT].
struct SocketQueue {
    std::string queue;
    std::string host;
    uint16_t port = 9100;
};

// The queues of "lpstat -v" output that print to a raw socket. Lines of other
// forms, other schemes and hosts with unexpected characters are left out.
std::vector<SocketQueue> ParseLpstatDevices(const std::string& output);

// Output of "lpstat -v" in the C locale, or "" when it cannot be run or does
// not end within timeoutMs (it is then killed).
std::string RunLpstat(int timeoutMs);

// A network printer port made from a socket queue.
struct NetworkPrinterPort {
    std::string name; // IP_host, or IP_host:port when IP_host is taken or too short
    std::string host;
    uint16_t port = 9100;
};

// The port names for the queues: IP_host, unless that name is taken or would
// not be read as a network name by the port layer (it needs a "." or ":" and
// more than 10 characters); then IP_host:port. Queues that reach the same
// host and port again, or still get no network name, are left out.
std::vector<NetworkPrinterPort> NetworkPrinterPorts(const std::vector<SocketQueue>& queues);

// A present usblp printer: /dev/usb/lpN is USB port N+1 (USB001 is lp0), the
// number kept as long as the device stays plugged in.
struct UsbPrinterDevice {
    std::string devicePath; // "/dev/usb/lp0", without the root
    uint32_t portNumber = 0;
    std::string PortName() const; // "USB001"
};

class PosixSystem : public ISystem {
public:
    using LpstatRunner = std::function<std::string()>;
    static constexpr int LpstatTimeoutMs = 3000;
    static constexpr int QueueCacheMs = 2000;

    // store keeps the COM names of serial devices (its Ports key); root
    // prefixes /dev and /sys ("/" is the machine). lpstat answers the print
    // system's devices; by default "lpstat -v" is run. Neither argument is
    // used before the first question.
    explicit PosixSystem(IRegistry& store, std::string root = "/", LpstatRunner lpstat = {},
                         int queueCacheMs = QueueCacheMs);

    // COMn: for the serial ttys, LPTn: for /dev/lp(n-1), USB00n for the usblp
    // printers, IP_ names for the socket queues, in this order.
    bool EnumPorts(std::vector<std::string>& names) override;
    bool UsbPrinterInterfaces(std::vector<UsbPrinterInterface>& interfaces) override;
    OsVersion GetVersion() override { return {2, 6}; }

    // The answers the read-only system keys are made from.
    std::vector<UsbPrinterDevice> UsbPrinters();
    std::vector<NetworkPrinterPort> NetworkPorts();
    PortNaming& Naming() { return naming_; }

private:
    // Numbers N (up to three digits) of the entries "<prefix>N" that are not
    // folders, in a folder below the root, ascending.
    std::vector<int> NumberedEntries(const std::string& folder, const std::string& prefix);

    PortNaming naming_;
    LpstatRunner lpstat_;
    std::chrono::milliseconds queueCacheAge_;
    bool queuesKnown_ = false;
    std::chrono::steady_clock::time_point queuesTime_;
    std::vector<NetworkPrinterPort> queues_;
};

} // namespace marlet
