#include "platform/posix/PosixSystem.h"
#include "platform/fake/FakeRegistry.h"
#include "platform/posix/SystemKeys.h"
#include "support/DeviceTree.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace marlet::testing {
namespace {

using Names = std::vector<std::string>;

const std::string EnumInterfaceKey = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0613&Pid_2000&Mi_00";
const std::string EnumCompositeKey = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0613&Pid_2000";
const std::string ClassesKey = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses";
const std::string MonitorPortsKey =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports";

class PosixSystemTest : public ::testing::Test {
protected:
    DeviceTree tree;
    FakeRegistry store; // holds the recorded COM names
    int lpstatRuns = 0;
    std::string lpstatOutput;

    PosixSystem MakeSystem(int cacheMs = PosixSystem::QueueCacheMs)
    {
        return PosixSystem(
            store, tree.Root(),
            [this] {
                ++lpstatRuns;
                return lpstatOutput;
            },
            cacheMs);
    }

    // A machine with two UARTs and an empty UART slot, a USB serial adapter,
    // the printer family's USB serial interface (interfaces 0 and 2), a
    // parallel port, two usblp printers and a print queue on a raw socket.
    void BuildMachine()
    {
        tree.AddUart(0, true);
        tree.AddUart(1, false);
        tree.AddUart(2, true);
        tree.AddUsbTty("ttyUSB0", "1-1", 0x0403, 0x6001, 0, "A10K");
        tree.AddUsbTty("ttyACM0", "1-2", 0x0613, 0x2000, 0, "P1");
        tree.AddUsbTty("ttyACM1", "1-2", 0x0613, 0x2000, 2, "P1");
        tree.AddParallel(0);
        tree.AddUsbPrinter(0);
        tree.AddUsbPrinter(2);
        lpstatOutput = "device for Office: socket://192.0.2.10:9100\n"
                       "device for Colour: ipp://192.0.2.11/ipp/print\n";
    }

    static Names Ports(PosixSystem& system)
    {
        Names names;
        EXPECT_TRUE(system.EnumPorts(names));
        return names;
    }
};

TEST_F(PosixSystemTest, SpoolerPortsOfTheMachine)
{
    BuildMachine();
    PosixSystem system = MakeSystem();
    // UARTs by number (ttyS1 has no UART); USB serial ttys get the lowest free numbers from 3.
    EXPECT_EQ(Ports(system), (Names{"COM1:", "COM3:", "COM4:", "COM5:", "COM6:", "LPT1:", "USB001", "USB003",
                                    "IP_192.0.2.10"}));
    EXPECT_EQ(system.GetVersion().platformId, 2u);
    EXPECT_EQ(system.GetVersion().majorVersion, 6u);
}

TEST_F(PosixSystemTest, ComNamesStayWithTheirDevicesAcrossRunsAndPluggingOrder)
{
    BuildMachine();
    {
        PosixSystem first = MakeSystem();
        Ports(first);
    }
    // Next run: everything on USB unplugged and plugged in again elsewhere, in another order.
    tree.RemoveUsbTty("ttyUSB0");
    tree.RemoveUsbTty("ttyACM0");
    tree.RemoveUsbTty("ttyACM1");
    tree.Remove("/sys/devices/pci0000:00/0000:00:14.0/usb1");
    tree.AddUsbTty("ttyACM0", "1-4", 0x0613, 0x2000, 2, "P1");
    tree.AddUsbTty("ttyACM1", "1-4", 0x0613, 0x2000, 0, "P1");
    tree.AddUsbTty("ttyUSB1", "1-3", 0x0403, 0x6001, 0, "A10K");

    PosixSystem second = MakeSystem();
    Ports(second);
    std::map<std::string, std::string> ttyOf;
    for (const SerialPort& port : second.Naming().SerialPorts())
        ttyOf[port.comName] = port.ttyName;
    EXPECT_EQ(ttyOf["COM4"], "ttyACM1"); // the printer's interface 0
    EXPECT_EQ(ttyOf["COM5"], "ttyACM0"); // its interface 2
    EXPECT_EQ(ttyOf["COM6"], "ttyUSB1"); // the adapter
}

TEST_F(PosixSystemTest, TheConsoleIsNeverListed)
{
    BuildMachine();
    tree.File("/sys/class/tty/console/active", "ttyS0\n");
    PosixSystem system = MakeSystem();
    const Names ports = Ports(system);
    EXPECT_EQ(std::count(ports.begin(), ports.end(), "COM1:"), 0);
    EXPECT_EQ(ports.front(), "COM3:");
}

TEST_F(PosixSystemTest, UsbPrintersMatchTheirUsbNames)
{
    BuildMachine();
    PosixSystem system = MakeSystem();
    std::vector<UsbPrinterInterface> interfaces;
    ASSERT_TRUE(system.UsbPrinterInterfaces(interfaces));
    ASSERT_EQ(interfaces.size(), 2u);
    EXPECT_EQ(interfaces[0].devicePath, "/dev/usb/lp0");
    EXPECT_EQ(interfaces[1].devicePath, "/dev/usb/lp2");

    // The key of each interface carries the number of its USB00n name.
    SystemKeys keys(system);
    const std::vector<std::pair<std::string, uint32_t>> expected = {{"/dev/usb/lp0", 1}, {"/dev/usb/lp2", 3}};
    for (const auto& [path, number] : expected) {
        for (const std::string& classPart : {path, std::string(SystemKeys::PrinterClass)}) {
            RegistryKey key(
                keys, keys.OpenKey(HKeyLocalMachine,
                                   ClassesKey + "\\" + classPart + "\\" + path + "\\#\\Device Parameters",
                                   IRegistry::Access::Read));
            RegValue value;
            ASSERT_TRUE(key && keys.QueryValue(key.Get(), "port number", value))
                << path << " below " << classPart;
            EXPECT_EQ(value.type, uint32_t(RegDword));
            EXPECT_EQ(DwordFromBytes(value.data), number) << path;
        }
    }
}

TEST_F(PosixSystemTest, NothingPresentListsNothing)
{
    PosixSystem system = MakeSystem();
    EXPECT_EQ(Ports(system), Names{});
    std::vector<UsbPrinterInterface> interfaces;
    EXPECT_TRUE(system.UsbPrinterInterfaces(interfaces));
    EXPECT_TRUE(interfaces.empty());
}

TEST_F(PosixSystemTest, PrintSystemIsAskedOncePerListBuild)
{
    BuildMachine();
    PosixSystem system = MakeSystem();
    for (int i = 0; i < 50; ++i)
        Ports(system);
    SystemKeys keys(system);
    RegistryKey ports(keys, keys.OpenKey(HKeyLocalMachine, MonitorPortsKey, IRegistry::Access::Read));
    EXPECT_EQ(lpstatRuns, 1);

    PosixSystem uncached = MakeSystem(0);
    Ports(uncached);
    Ports(uncached);
    EXPECT_EQ(lpstatRuns, 3);
}

// --- The read-only system keys ---

TEST_F(PosixSystemTest, UsbSerialInterfaceKeysCarryTheComNumber)
{
    BuildMachine();
    tree.AddUsbTty("ttyUSB1", "1-5", 0x0613, 0x2001, 0, "X9"); // another product of the maker
    PosixSystem system = MakeSystem();
    SystemKeys keys(system);

    RegistryKey interface0(keys, keys.OpenKey(HKeyLocalMachine, EnumInterfaceKey, IRegistry::Access::Read));
    ASSERT_TRUE(interface0);
    std::string instance;
    ASSERT_TRUE(keys.EnumKey(interface0.Get(), 0, instance));
    EXPECT_EQ(instance, "P1"); // named by the device's serial number
    EXPECT_FALSE(keys.EnumKey(interface0.Get(), 1, instance)) << "only interface 0 of 0613:2000";

    RegistryKey parameters(keys,
                           keys.OpenKey(interface0.Get(), "p1\\device parameters", IRegistry::Access::Read));
    RegValue value;
    ASSERT_TRUE(parameters && keys.QueryValue(parameters.Get(), "COMPortForInterface0000", value));
    EXPECT_EQ(value.type, uint32_t(RegDword));
    EXPECT_EQ(DwordFromBytes(value.data), 4u);

    EXPECT_NE(keys.OpenKey(HKeyLocalMachine, EnumCompositeKey + "\\P1", IRegistry::Access::Read), 0u);
    EXPECT_FALSE(keys.SetValue(parameters.Get(), "COMPortForInterface0000", RegDword, DwordBytes(9)));
    EXPECT_EQ(keys.CreateKey(interface0.Get(), "new"), 0u);
}

TEST_F(PosixSystemTest, WithoutTheDeviceThereIsNoCompositeKey)
{
    tree.AddUsbTty("ttyUSB0", "1-1", 0x0403, 0x6001, 0, "A10K");
    PosixSystem system = MakeSystem();
    SystemKeys keys(system);
    EXPECT_EQ(keys.OpenKey(HKeyLocalMachine, EnumCompositeKey, IRegistry::Access::Read), 0u);
    EXPECT_EQ(keys.OpenKey(HKeyLocalMachine, EnumInterfaceKey, IRegistry::Access::Read), 0u);
}

TEST_F(PosixSystemTest, SocketQueuesBecomeMonitorPorts)
{
    lpstatOutput = "device for A: socket://192.0.2.1\n"
                   "device for B: socket://192.0.2.10:9101\n"
                   "device for C: socket://printer.example.org:9100\n";
    PosixSystem system = MakeSystem();
    SystemKeys keys(system);
    RegistryKey ports(keys, keys.OpenKey(HKeyLocalMachine, MonitorPortsKey, IRegistry::Access::Read));
    ASSERT_TRUE(ports);
    Names names;
    std::string name;
    for (uint32_t i = 0; keys.EnumKey(ports.Get(), i, name); ++i)
        names.push_back(name);
    // A name comes before every shorter name that begins it.
    EXPECT_EQ(names, (Names{"IP_printer.example.org", "IP_192.0.2.10", "IP_192.0.2.1"}));

    RegistryKey port(keys, keys.OpenKey(ports.Get(), "IP_192.0.2.10", IRegistry::Access::Read));
    RegValue address, number;
    ASSERT_TRUE(keys.QueryValue(port.Get(), "IPAddress", address));
    ASSERT_TRUE(keys.QueryValue(port.Get(), "PortNumber", number));
    EXPECT_EQ(address.type, uint32_t(RegSz));
    EXPECT_EQ(address.data, std::string("192.0.2.10\0", 11));
    EXPECT_EQ(DwordFromBytes(number.data), 9101u);
}

TEST_F(PosixSystemTest, NoPrintSystemLeavesTheMonitorKeyEmpty)
{
    PosixSystem system = MakeSystem();
    SystemKeys keys(system);
    RegistryKey ports(keys, keys.OpenKey(HKeyLocalMachine, MonitorPortsKey, IRegistry::Access::Read));
    ASSERT_TRUE(ports);
    std::string name;
    EXPECT_FALSE(keys.EnumKey(ports.Get(), 0, name));
}

TEST_F(PosixSystemTest, KeysOpenedBelowAKeyKeepItsPictureOfTheMachine)
{
    tree.AddUsbPrinter(0);
    PosixSystem system = MakeSystem();
    SystemKeys keys(system);
    RegistryKey classes(keys, keys.OpenKey(HKeyLocalMachine, ClassesKey, IRegistry::Access::Read));
    tree.Remove("/dev/usb/lp0");
    EXPECT_NE(keys.OpenKey(classes.Get(), "/dev/usb/lp0", IRegistry::Access::Read), 0u);
    EXPECT_EQ(keys.OpenKey(HKeyLocalMachine, ClassesKey + "\\/dev/usb/lp0", IRegistry::Access::Read), 0u);
}

// --- What the print system says ---

struct LpstatCase {
    const char* what;
    std::string line;
    std::string host; // empty: no queue
    uint16_t port;
};

class LpstatParsing : public ::testing::TestWithParam<LpstatCase> {};

TEST_P(LpstatParsing, SocketQueuesOnly)
{
    const LpstatCase& c = GetParam();
    const std::vector<SocketQueue> queues = ParseLpstatDevices(c.line + "\n");
    if (c.host.empty()) {
        EXPECT_TRUE(queues.empty()) << c.what;
        return;
    }
    ASSERT_EQ(queues.size(), 1u) << c.what;
    EXPECT_EQ(queues[0].host, c.host) << c.what;
    EXPECT_EQ(queues[0].port, c.port) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    PosixSystem, LpstatParsing,
    ::testing::Values(
        LpstatCase{"address and port", "device for Office: socket://192.0.2.10:9100", "192.0.2.10", 9100},
        LpstatCase{"port defaults to 9100", "device for Lab: socket://printer.example.org",
                   "printer.example.org", 9100},
        LpstatCase{"path, options and user dropped",
                   "device for Q: socket://op@192.0.2.12:9101/?waitof=false", "192.0.2.12", 9101},
        LpstatCase{"scheme in capitals, CR LF ending", "device for Q: SOCKET://192.0.2.13:9100\r",
                   "192.0.2.13", 9100},
        LpstatCase{"IPv6 in brackets", "device for V6: socket://[2001:db8::5]:9102", "2001:db8::5", 9102},
        LpstatCase{"another scheme", "device for Colour: ipp://192.0.2.11/ipp/print", "", 0},
        LpstatCase{"a local device", "device for PDF: ///dev/null", "", 0},
        LpstatCase{"a port out of range", "device for Q: socket://192.0.2.14:99999", "", 0},
        LpstatCase{"a port that is not a number", "device for Q: socket://192.0.2.14:ipp", "", 0},
        LpstatCase{"a backslash in the host", "device for Q: socket://a\\b:9100", "", 0},
        LpstatCase{"a blank in the host", "device for Q: socket://a b:9100", "", 0},
        LpstatCase{"no host", "device for Q: socket://:9100", "", 0},
        LpstatCase{"an error line", "lpstat: No destinations added.", "", 0},
        LpstatCase{"a system default line", "system default destination: Office", "", 0}));

TEST(NetworkPrinterPortNames, NamesTheLayerReadsAsNetworkNames)
{
    const std::vector<SocketQueue> queues = {
        {"a", "192.0.2.10", 9100},
        {"b", "192.0.2.10", 9101},
        {"c", "192.0.2.10", 9100}, // again: left out
        {"d", "1.2.3.4", 9100},    // IP_1.2.3.4 is too short
        {"e", "prn1", 515},        // no dot
        {"f", "p", 1},             // IP_p:1 still too short
    };
    Names names;
    for (const NetworkPrinterPort& port : NetworkPrinterPorts(queues))
        names.push_back(port.name + "=" + port.host + ":" + std::to_string(port.port));
    EXPECT_EQ(names, (Names{"IP_192.0.2.10=192.0.2.10:9100", "IP_192.0.2.10:9101=192.0.2.10:9101",
                            "IP_1.2.3.4:9100=1.2.3.4:9100", "IP_prn1:515=prn1:515"}));
}

// --- Running lpstat ---

class LpstatRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/marlet-lpstat-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        dir_ = folder;
        const char* path = std::getenv("PATH");
        savedPath_ = path ? path : "";
        ::setenv("PATH", dir_.c_str(), 1);
    }
    void TearDown() override
    {
        ::setenv("PATH", savedPath_.c_str(), 1);
        std::filesystem::remove_all(dir_);
    }
    void Script(const std::string& body)
    {
        const std::string path = dir_ + "/lpstat";
        std::ofstream(path) << "#!/bin/sh\n" << body;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }
    std::string dir_;
    std::string savedPath_;
};

TEST_F(LpstatRun, ReadsTheDevicesInTheCLocale)
{
    Script("[ \"$1\" = -v ] || exit 1\n"
           "echo \"device for Q: socket://host-$LC_ALL.example:9100\"\n"
           "echo 'noise' >&2\n");
    EXPECT_EQ(RunLpstat(2000), "device for Q: socket://host-C.example:9100\n");
}

TEST_F(LpstatRun, MissingOrHangingGivesNothing)
{
    EXPECT_EQ(RunLpstat(2000), "");

    Script("echo 'device for Q: socket://192.0.2.1'\nexec /bin/sleep 20\n");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunLpstat(200), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

} // namespace
} // namespace marlet::testing
