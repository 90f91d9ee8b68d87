// A fake /sys and /dev in a temporary folder: serial UARTs, USB serial
// adapters, parallel and usblp printers laid out as the kernel shows them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace marlet::testing {

class DeviceTree {
public:
    DeviceTree()
    {
        char folder[] = "/tmp/marlet-devtree-XXXXXX";
        if (::mkdtemp(folder) != nullptr)
            root_ = folder;
        File("/sys/class/tty/console/active", "tty0\n");
        File("/dev/console");
    }
    ~DeviceTree()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    DeviceTree(const DeviceTree&) = delete;
    DeviceTree& operator=(const DeviceTree&) = delete;

    const std::string& Root() const { return root_; }

    void File(const std::string& path, const std::string& content = "")
    {
        std::filesystem::create_directories(std::filesystem::path(root_ + path).parent_path());
        std::ofstream(root_ + path, std::ios::trunc) << content;
    }
    // A symbolic link at path to an absolute path inside the tree.
    void Link(const std::string& path, const std::string& target)
    {
        std::filesystem::create_directories(std::filesystem::path(root_ + path).parent_path());
        std::filesystem::create_directories(root_ + target);
        std::filesystem::create_symlink(root_ + target, root_ + path);
    }
    void Remove(const std::string& path) { std::filesystem::remove_all(root_ + path); }

    // ttyS<n>: a UART that is there (type 4, a 16550A), or an empty slot (type 0).
    void AddUart(int n, bool present)
    {
        const std::string tty = "/sys/class/tty/ttyS" + std::to_string(n);
        Link(tty + "/device", "/sys/devices/platform/serial8250");
        File(tty + "/type", present ? "4\n" : "0\n");
        File("/dev/ttyS" + std::to_string(n));
    }

    // A tty on interface `interface` of a USB device at bus position `bus`
    // ("1-1.2"). ttyUSB sits one level below its interface, ttyACM on it.
    void AddUsbTty(const std::string& tty, const std::string& bus, uint16_t vendor, uint16_t product,
                   int interface, const std::string& serial)
    {
        const std::string device = "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + bus;
        File(device + "/idVendor", Hex4(vendor) + "\n");
        File(device + "/idProduct", Hex4(product) + "\n");
        if (!serial.empty())
            File(device + "/serial", serial + "\n");
        const std::string iface = device + "/" + bus + ":1." + std::to_string(interface);
        char number[8];
        std::snprintf(number, sizeof number, "%02x\n", unsigned(interface));
        File(iface + "/bInterfaceNumber", number);
        const bool acm = tty.rfind("ttyACM", 0) == 0;
        const std::string ttyDevice = acm ? iface : iface + "/" + tty;
        Link("/sys/class/tty/" + tty + "/device", ttyDevice);
        File("/dev/" + tty);
        if (!serial.empty()) {
            const std::string link = "/dev/serial/by-id/usb-Maker_" + Hex4(product) + "_" + serial + "-if0" +
                                     std::to_string(interface) + (acm ? "" : "-port0");
            std::filesystem::create_directories(root_ + "/dev/serial/by-id");
            std::filesystem::create_symlink("../../" + tty, root_ + link);
        }
    }
    void RemoveUsbTty(const std::string& tty)
    {
        Remove("/sys/class/tty/" + tty);
        Remove("/dev/" + tty);
        if (!std::filesystem::exists(root_ + "/dev/serial/by-id"))
            return;
        for (const auto& link : std::filesystem::directory_iterator(root_ + "/dev/serial/by-id")) {
            std::error_code error;
            if (std::filesystem::read_symlink(link.path(), error).filename() == tty)
                std::filesystem::remove(link.path());
        }
    }

    void AddParallel(int n) { File("/dev/lp" + std::to_string(n)); }
    void AddUsbPrinter(int n)
    {
        File("/dev/usb/lp" + std::to_string(n));
        File("/sys/class/usbmisc/lp" + std::to_string(n) + "/dev", "180:" + std::to_string(n) + "\n");
    }

private:
    static std::string Hex4(uint16_t v)
    {
        char text[8];
        std::snprintf(text, sizeof text, "%04x", unsigned(v));
        return text;
    }
    std::string root_;
};

} // namespace marlet::testing
