#include "platform/posix/PortNaming.h"
#include "platform/fake/FakeRegistry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace marlet {
namespace {

namespace fs = std::filesystem;

// A /sys and /dev tree in a temporary folder, shaped as Linux lays them out.
class FakeTree {
public:
    FakeTree()
    {
        char pattern[] = "/tmp/portnaming-XXXXXX";
        root_ = ::mkdtemp(pattern);
        fs::create_directories(root_ + "/sys/class/tty");
        fs::create_directories(root_ + "/dev");
    }
    ~FakeTree() { fs::remove_all(root_); }
    const std::string& root() const { return root_; }
    std::string Path(const std::string& p) const { return root_ + p; }

    void Write(const std::string& path, const std::string& text)
    {
        fs::create_directories(fs::path(Path(path)).parent_path());
        std::ofstream(Path(path)) << text;
    }

    // A ttyS slot; type 0 is the unknown UART, withDevice false a slot without a device link.
    void Uart(int n, int type, bool withDevice = true)
    {
        const std::string name = "ttyS" + std::to_string(n);
        const std::string cls = "/sys/class/tty/" + name;
        fs::create_directories(Path(cls));
        Write(cls + "/type", std::to_string(type) + "\n");
        Write(cls + "/port", type ? "0x3F8\n" : "0x0\n");
        if (withDevice) {
            fs::create_directories(Path("/sys/devices/platform/serial8250"));
            fs::create_symlink(Path("/sys/devices/platform/serial8250"), Path(cls + "/device"));
        }
        Write("/dev/" + name, "");
    }

    // A USB serial adapter: ttyUSB sits one level below its interface, ttyACM on it.
    void UsbSerial(const std::string& name, const std::string& usbPort, const std::string& vendor,
                   const std::string& product, int interfaceNumber, const std::string& byId = "")
    {
        const std::string device = "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + usbPort;
        const std::string interface = device + "/" + usbPort + ":1." + std::to_string(interfaceNumber);
        Write(device + "/idVendor", vendor + "\n");
        Write(device + "/idProduct", product + "\n");
        Write(device + "/serial", "SN-" + usbPort + "\n");
        Write(interface + "/bInterfaceNumber", "0" + std::to_string(interfaceNumber) + "\n");
        std::string ttyDevice = interface;
        if (name.rfind("ttyUSB", 0) == 0) {
            ttyDevice = interface + "/" + name;
            fs::create_directories(Path(ttyDevice));
        }
        Unplug(name);
        fs::create_directories(Path("/sys/class/tty/" + name));
        fs::create_symlink(Path(ttyDevice), Path("/sys/class/tty/" + name + "/device"));
        Write("/dev/" + name, "");
        if (!byId.empty()) {
            fs::create_directories(Path("/dev/serial/by-id"));
            fs::create_symlink("../../" + name, Path("/dev/serial/by-id/" + byId));
        }
    }

    void Unplug(const std::string& name)
    {
        fs::remove_all(Path("/sys/class/tty/" + name));
        fs::remove(Path("/dev/" + name));
        if (fs::exists(Path("/dev/serial/by-id")))
            for (const auto& link : fs::directory_iterator(Path("/dev/serial/by-id")))
                if (fs::read_symlink(link.path()).filename() == name)
                    fs::remove(link.path());
    }

    void Console(const std::string& active) { Write("/sys/class/tty/console/active", active + "\n"); }

private:
    std::string root_;
};

const char* kPorts = "SOFTWARE\\Varden\\IOCommDL\\Ports";

class PortNamingTest : public ::testing::Test {
protected:
    void Map(const std::string& com, const std::string& path) { store.SetString(kPorts, com, path); }
    std::string Mapping(const std::string& com)
    {
        RegValue v;
        if (!store.Get(kPorts, com, v))
            return "<none>";
        return v.data.substr(0, v.data.find('\0'));
    }
    std::vector<std::string> Listed(PortNaming& naming)
    {
        std::vector<std::string> out;
        for (const SerialPort& p : naming.SerialPorts())
            out.push_back(p.comName + "=" + (p.ttyName.empty() ? p.devicePath : p.ttyName));
        return out;
    }

    FakeTree tree;
    FakeRegistry store;
};

TEST_F(PortNamingTest, NamesToDevicePaths)
{
    tree.Console("tty0 ttyS0");
    tree.Uart(0, 4); // the console
    tree.Uart(1, 4);
    tree.Uart(2, 0);        // a slot with the unknown UART
    tree.Uart(3, 4, false); // no device behind it
    Map("COM5", "/dev/pts/7");
    Map("COM6", "/tmp/printer-link");
    Map("COM8", "/dev/ttyS0");
    Map("COM123", "/dev/ttyACM0");
    PortNaming naming(store, tree.root());

    const struct {
        const char* name;
        std::string path;
    } cases[] = {
        {"COM2", tree.Path("/dev/ttyS1")},
        {"\\\\.\\COM2", tree.Path("/dev/ttyS1")},
        {"COM2:", tree.Path("/dev/ttyS1")},
        {"com2", tree.Path("/dev/ttyS1")},
        {"COM1", ""}, // the active console is never a port
        {"COM8", ""}, // not even through a mapping
        {"COM3", ""}, // unknown UART
        {"COM4", ""}, // no device
        {"COM12", ""},
        {"COM5", tree.Path("/dev/pts/7")},
        {"\\\\.\\COM5", tree.Path("/dev/pts/7")},
        {"COM6", "/tmp/printer-link"},
        {"COM123", tree.Path("/dev/ttyACM0")}, // all digits count
        {"\\\\.\\COM12", ""},
        {"LPT1", tree.Path("/dev/lp0")},
        {"LPT2:", tree.Path("/dev/lp1")},
        {"/dev/usb/lp0", tree.Path("/dev/usb/lp0")},
        {"FILE", "FILE"},
        {"/tmp/image.out", "/tmp/image.out"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(naming.DevicePathFor(c.name), c.path) << c.name;
}

TEST_F(PortNamingTest, ClassifiesNames)
{
    using K = PortNaming::Kind;
    const struct {
        const char* name;
        K kind;
    } cases[] = {
        {"COM1", K::Serial},   {"\\\\.\\COM123", K::Serial}, {"com7:", K::Serial},     {"COM", K::Other},
        {"COM0", K::Other},    {"COM01", K::Other},          {"COM1x", K::Other},      {"LPT1:", K::Parallel},
        {"LPT3", K::Parallel}, {"USB001", K::Other},         {"/dev/ttyS0", K::Other}, {"FILE", K::Other},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PortNaming::Classify(c.name), c.kind) << c.name;
}

TEST_F(PortNamingTest, ListsUartsAdaptersAndMappingsButNeverTheConsole)
{
    tree.Console("ttyS0");
    tree.Uart(0, 4);
    tree.Uart(1, 4);
    tree.Uart(2, 0);
    tree.UsbSerial("ttyUSB0", "1-1", "0403", "6001", 0, "usb-FTDI_Cable_A-if00-port0");
    tree.UsbSerial("ttyACM0", "1-2", "0613", "2000", 0);
    tree.Write("/dev/pts/3", "");
    Map("COM9", "/dev/pts/3");
    Map("COM10", "/dev/pts/99"); // not there: not listed
    PortNaming naming(store, tree.root());

    EXPECT_EQ(Listed(naming), (std::vector<std::string>{"COM2=ttyS1", "COM3=ttyACM0", "COM4=ttyUSB0",
                                                        "COM9=" + tree.Path("/dev/pts/3")}));
    // The new names are recorded against stable identities, and the open finds them.
    EXPECT_EQ(Mapping("COM3"), "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0");
    EXPECT_EQ(Mapping("COM4"), "/dev/serial/by-id/usb-FTDI_Cable_A-if00-port0");
    EXPECT_EQ(naming.DevicePathFor("COM3"), tree.Path("/dev/ttyACM0"));
    EXPECT_EQ(naming.DevicePathFor("COM4"), tree.Path("/dev/serial/by-id/usb-FTDI_Cable_A-if00-port0"));
    // A second listing names nothing anew.
    EXPECT_EQ(Listed(naming).size(), 4u);
    EXPECT_EQ(Mapping("COM5"), "<none>");
}

TEST_F(PortNamingTest, NamesStayWithTheirDevicesAcrossRunsAndPluggingOrder)
{
    // Run 1: adapter A alone; adapter C has no by-id name (named by its USB port).
    tree.UsbSerial("ttyUSB0", "1-1", "0403", "6001", 0, "usb-A");
    tree.UsbSerial("ttyACM0", "1-3", "0613", "2000", 0);
    {
        PortNaming naming(store, tree.root());
        EXPECT_EQ(Listed(naming), (std::vector<std::string>{"COM3=ttyACM0", "COM4=ttyUSB0"}));
    }
    // Run 2: A unplugged, B plugged in first and takes A's tty number.
    tree.Unplug("ttyUSB0");
    tree.UsbSerial("ttyUSB0", "1-2", "067b", "2303", 0, "usb-B");
    {
        PortNaming naming(store, tree.root());
        EXPECT_EQ(Listed(naming), (std::vector<std::string>{"COM3=ttyACM0", "COM5=ttyUSB0"}));
        EXPECT_EQ(naming.DevicePathFor("COM4"), tree.Path("/dev/serial/by-id/usb-A")); // absent: open fails
    }
    // Run 3: A back as ttyUSB1, C renumbered to ttyACM1 on the same USB port.
    tree.UsbSerial("ttyUSB1", "1-1", "0403", "6001", 0, "usb-A");
    tree.Unplug("ttyACM0");
    tree.UsbSerial("ttyACM1", "1-3", "0613", "2000", 0);
    PortNaming naming(store, tree.root());
    EXPECT_EQ(Listed(naming), (std::vector<std::string>{"COM3=ttyACM1", "COM4=ttyUSB1", "COM5=ttyUSB0"}));
    EXPECT_EQ(naming.DevicePathFor("COM3"), tree.Path("/dev/ttyACM1"));
    EXPECT_TRUE(fs::equivalent(naming.DevicePathFor("COM4"), tree.Path("/dev/ttyUSB1")));
    EXPECT_TRUE(fs::equivalent(naming.DevicePathFor("COM5"), tree.Path("/dev/ttyUSB0")));
}

TEST_F(PortNamingTest, ExplicitMappingWinsOverUartNumber)
{
    tree.Uart(1, 4);
    tree.Uart(2, 4);
    tree.Write("/dev/pts/4", "");
    Map("COM2", "/dev/pts/4");
    PortNaming naming(store, tree.root());
    EXPECT_EQ(naming.DevicePathFor("COM2"), tree.Path("/dev/pts/4"));
    EXPECT_EQ(Listed(naming), (std::vector<std::string>{"COM2=" + tree.Path("/dev/pts/4"), "COM3=ttyS2"}));
}

TEST_F(PortNamingTest, StoreThatCannotBeWrittenStillNamesForThisRun)
{
    tree.UsbSerial("ttyUSB0", "1-1", "0403", "6001", 0, "usb-A");
    store.failCreate = true;
    PortNaming naming(store, tree.root());
    EXPECT_EQ(Listed(naming), (std::vector<std::string>{"COM3=ttyUSB0"}));
    EXPECT_EQ(naming.DevicePathFor("COM3"), tree.Path("/dev/serial/by-id/usb-A"));
    EXPECT_EQ(Listed(naming), (std::vector<std::string>{"COM3=ttyUSB0"}));
}

TEST_F(PortNamingTest, UsbIdentityOfATty)
{
    tree.UsbSerial("ttyUSB0", "1-1", "0403", "6001", 0, "usb-A");
    tree.UsbSerial("ttyACM0", "1-4", "0613", "2000", 2);
    tree.Uart(1, 4);
    PortNaming naming(store, tree.root());

    UsbIdentity id;
    ASSERT_TRUE(naming.UsbIdentityOf("ttyACM0", id));
    EXPECT_EQ(id.vendor, 0x0613);
    EXPECT_EQ(id.product, 0x2000);
    EXPECT_EQ(id.interfaceNumber, 2);
    EXPECT_EQ(id.devicePath, "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-4");
    EXPECT_EQ(id.serial, "SN-1-4");

    for (const std::string& name :
         {std::string("ttyUSB0"), tree.Path("/dev/ttyUSB0"), tree.Path("/dev/serial/by-id/usb-A")}) {
        UsbIdentity usb;
        ASSERT_TRUE(naming.UsbIdentityOf(name, usb)) << name;
        EXPECT_EQ(usb.vendor, 0x0403);
        EXPECT_EQ(usb.product, 0x6001);
        EXPECT_EQ(usb.interfaceNumber, 0);
        EXPECT_EQ(usb.interfacePath, "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0");
    }
    EXPECT_FALSE(naming.UsbIdentityOf("ttyS1", id));
    EXPECT_FALSE(naming.UsbIdentityOf("ttyUSB7", id));
}

} // namespace
} // namespace marlet
