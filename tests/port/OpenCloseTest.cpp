// Opening and closing ports: naming, the device fallback, DebugMode, the
// Start and End strings, network connections and their history.
#include "PortFixture.h"

#include <algorithm>
#include <cstring>

namespace marlet::test {
namespace {

using Strings = std::vector<std::string>;

TEST_F(PortTest, OpenNamesPortsAndOpensThemInTheirMode)
{
    const struct {
        const char* given;
        const char* portName; // PortName afterwards
        const char* opened;   // the open call the device saw
    } cases[] = {
        {"COM1", "\\\\.\\COM1", "Open \\\\.\\COM1 exclusive"},
        {"COM1:", "\\\\.\\COM1", "Open \\\\.\\COM1 exclusive"},
        {"COM123", "\\\\.\\COM123", "Open \\\\.\\COM123 exclusive"},
        {"COM12:", "\\\\.\\COM12", "Open \\\\.\\COM12 exclusive"},
        {"\\\\.\\COM7", "\\\\.\\COM7", "Open \\\\.\\COM7 exclusive"},
        {"LPT1", "LPT1", "Open LPT1: exclusive"},
        {"LPT1:", "LPT1:", "Open LPT1: exclusive"},
        {"FILE", "FILE", "Open FILE shared"},
        {"\\\\.\\PRN", "\\\\.\\PRN", "Open \\\\.\\PRN shared"},
    };
    for (const char* name : {"\\\\.\\COM1", "\\\\.\\COM123", "\\\\.\\COM12", "\\\\.\\COM7"})
        w.comm.Add(name, Kind::Serial);
    w.comm.Add("LPT1:", Kind::Parallel);
    w.comm.Add("FILE", Kind::Device);
    w.comm.Add("\\\\.\\PRN", Kind::Device);
    StoreCommData();
    IOComm& io = Io();
    for (const auto& c : cases) {
        w.comm.calls.clear();
        EXPECT_NE(io.Open(c.given, "", 0), 0) << c.given;
        EXPECT_EQ(io.PortName, c.portName);
        EXPECT_EQ(w.comm.CallsStartingWith("Open"), Strings{c.opened});
        EXPECT_EQ(io.Close(), 1);
        EXPECT_EQ(w.comm.OpenHandles(), 0);
    }
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PortTest, OpenWhileAHandleIsHeldReturnsIt)
{
    w.comm.Add(kCom1);
    w.comm.Add("\\\\.\\COM2");
    StoreCommData();
    IOComm& io = Io();
    const intptr_t handle = io.Open("COM1", "baud=19200 parity=N data=8 stop=2", 1);
    ASSERT_NE(handle, 0);
    EXPECT_EQ(io.Open("COM2", "baud=9600 parity=N data=8 stop=1", 0), handle);
    EXPECT_EQ(io.PortName, kCom1);
    EXPECT_EQ(io.SetupString, "baud=19200 parity=N data=8 stop=2");
    EXPECT_EQ(io.SaveConfig, 1);
}

TEST_F(PortTest, SerialOpenAppliesSetupStringConfigurationAndTimeouts)
{
    FakeCommDevice::Port& com1 = w.comm.Add(kCom1);
    CommConfig stored;
    stored.dcb.BaudRate = 115200;
    stored.dcb.fOutX = 1; // normalised by the open into full XON/XOFF settings
    StoreCommData(stored);
    IOComm& io = Io();
    ASSERT_NE(io.Open("COM1", "baud=19200 parity=N data=8 stop=2", 0), 0);
    EXPECT_EQ(w.comm.calls.back(), "SetCommTimeouts \\\\.\\COM1 500/40/300/30/300");
    ASSERT_EQ(com1.configsApplied.size(), 1u);
    const Dcb& dcb = com1.configsApplied[0].dcb;
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.StopBits, TwoStopBits);
    EXPECT_EQ(dcb.fOutX, 1u);
    EXPECT_EQ(dcb.fInX, 1u);
    EXPECT_EQ(dcb.XonChar, 17);
    EXPECT_EQ(dcb.XoffChar, 19);
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(io.Handshake, HandshakeXonXoff);
}

TEST_F(PortTest, OpenFailureIsShownAndLeavesThePortClosed)
{
    StoreCommData();
    IOComm& io = Io();
    EXPECT_EQ(io.Open("COM9", "", 0), 0);
    EXPECT_TRUE(io.ErrorFlag);
    EXPECT_EQ(io.LastError, "IOComm::Open() failed, GetLastError() returned: 2");
    EXPECT_EQ(Boxes(), Strings{"IOComm::Open() failed, GetLastError() returned: 2"});
    EXPECT_FALSE(io.IsOpen());
}

TEST_F(PortTest, EmptyNameOrMissingUsbPrinterFailsSilently)
{
    StoreCommData();
    IOComm& io = Io();
    EXPECT_EQ(io.Open("", "", 0), 0);
    EXPECT_EQ(io.Open("USB001", "", 0), 0);
    EXPECT_FALSE(io.IsUsbPrinter);
    EXPECT_EQ(w.comm.CallsStartingWith("Open").size(), 1u); // only COM2 at construction
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PortTest, UsbPrinterPortOpensItsDevicePath)
{
    AddUsbPrinter(2);
    const std::string path = AddUsbPrinter(1);
    w.comm.Add(path, Kind::Device);
    StoreCommData();
    IOComm& io = Io();
    ASSERT_NE(io.Open("USB001", "", 0), 0);
    EXPECT_EQ(w.comm.CallsStartingWith("Open").back(), "Open " + path + " shared");
    EXPECT_EQ(io.GetInterfaceType(), PortTypeUsb);
    EXPECT_EQ(io.GetPortType(), PortTypeDevice);
    io.Close();
    EXPECT_FALSE(io.IsUsbPrinter);
    EXPECT_EQ(io.GetInterfaceType(), PortTypeDevice);
}

TEST_F(PortTest, RefusedSerialConfigurationReopensThePortAsADevice)
{
    // A driver under a COM name that takes no serial configuration.
    OpenDeclared("COM5", "\\\\.\\COM5", Kind::Device);
    IOComm& io = Io();
    EXPECT_TRUE(io.IsOpen());
    EXPECT_EQ(io.PortType, PortTypeDevice);
    EXPECT_FALSE(io.ErrorFlag);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(w.comm.calls, (Strings{
                                "Open \\\\.\\COM2 exclusive",
                                "Open \\\\.\\COM5 exclusive",
                                "SetCommConfig \\\\.\\COM5",
                                "Close \\\\.\\COM5",
                                "Open \\\\.\\COM5 shared",
                                "SetCommTimeouts \\\\.\\COM5 500/40/300/30/300",
                            }));
    // The next open classifies the name again and falls back anew.
    io.Close();
    w.comm.calls.clear();
    io.OpenPort();
    EXPECT_EQ(w.comm.CallsStartingWith("Open"),
              (Strings{"Open \\\\.\\COM5 exclusive", "Open \\\\.\\COM5 shared"}));
}

TEST_F(PortTest, DebugModeShowsItselfAndIgnoresRefusals)
{
    const struct {
        uint32_t mode;
        Strings boxes;
        int32_t typeAfter;
    } cases[] = {
        {1,
         {"DebugMode: 1", "SetCommConfig(IOHandle, ....) failed, GetLastError() returned: 1 Ignoring Error"},
         PortTypeSerial},
        {2, {"DebugMode: 2", "DebugMode: 2"}, PortTypeDevice},
        {3,
         {"DebugMode: 3", "SetCommConfig(IOHandle, ....) failed, GetLastError() returned: 1 Ignoring Error"},
         PortTypeSerial},
    };
    for (const auto& c : cases) {
        World world;
        world.comm.Add("\\\\.\\COM5", Kind::Device);
        world.registry.SetDword(kKey, "DebugMode", c.mode);
        world.registry.Set(kKey, "Comm data", RegBinary, std::string(52, '\0'));
        IOComm io(world.platform);
        EXPECT_NE(io.Open("COM5", "", 0), 0) << c.mode;
        EXPECT_EQ(world.BoxTexts(), c.boxes) << c.mode;
        EXPECT_EQ(io.PortType, c.typeAfter) << c.mode;
        EXPECT_FALSE(io.ErrorFlag);
    }
}

TEST_F(PortTest, RefusedTimeoutsFailSerialAndOldParallelPorts)
{
    const struct {
        const char* name;
        Kind kind;
        OsVersion version;
        bool opens;
    } cases[] = {
        {"\\\\.\\COM1", Kind::Serial, {2, 6}, false},
        {"LPT1:", Kind::Parallel, {1, 4}, false},
        {"LPT1:", Kind::Parallel, {2, 5}, true},
    };
    for (const auto& c : cases) {
        World world;
        world.system.version = c.version;
        world.comm.Add(c.name, c.kind).refuseTimeouts = true;
        world.registry.Set(kKey, "Comm data", RegBinary, std::string(52, '\0'));
        IOComm io(world.platform);
        const intptr_t result = io.Open(c.kind == Kind::Serial ? "COM1" : "LPT1", "", 0);
        EXPECT_EQ(result != 0, c.opens) << c.name;
        EXPECT_EQ(io.IsOpen(), c.opens);
        if (c.opens) {
            EXPECT_TRUE(world.BoxTexts().empty());
        } else {
            EXPECT_EQ(world.BoxTexts(),
                      Strings{"SetCommTimeouts(IOHandle, ....) failed, GetLastError() returned: 1"});
            EXPECT_EQ(world.comm.OpenHandles(), 0);
        }
    }
}

TEST_F(PortTest, HandleThatWillNotCloseIsRetriedAfter300Ms)
{
    OpenDeclared("COM1", kCom1, Kind::Serial);
    IOComm& io = Io();
    w.comm.failCloses = 1;
    EXPECT_EQ(io.Close(), 1);
    EXPECT_EQ(Sleeps(), std::vector<uint32_t>{300});
    EXPECT_FALSE(io.IsOpen());

    io.OpenPort();
    w.comm.failCloses = 2;
    EXPECT_EQ(io.Close(), 0);
    EXPECT_TRUE(io.IsOpen());
}

TEST_F(PortTest, StartAndEndStringsAreSentUnchanged)
{
    SetDword("DoExtra", 1);
    w.registry.Set(kKey, "Start", RegBinary, Bytes({0x1B, 0x40}));
    w.registry.Set(kKey, "End", RegBinary, Bytes({0x41, 0x1B, 0x40}));
    w.registry.Set(kKey, "Pattern1", RegBinary, Bytes({0x1B, 0x40}));
    w.registry.Set(kKey, "Conversion1", RegBinary, Bytes({0x58}));
    FakeCommDevice::Port& com1 = OpenDeclared("COM1", kCom1, Kind::Serial);
    IOComm& io = Io();
    EXPECT_EQ(com1.written, Bytes({0x1B, 0x40}));

    w.comm.calls.clear();
    EXPECT_EQ(io.Close(), 1);
    EXPECT_EQ(com1.written, Bytes({0x1B, 0x40, 0x41, 0x1B, 0x40}));
    EXPECT_EQ(Sleeps(), std::vector<uint32_t>{500});
    EXPECT_EQ(w.comm.calls.back(), "Close \\\\.\\COM1");
    EXPECT_EQ(io.DoExtra, 1u);
}

class NetworkTest : public PortTest {
protected:
    FakeSockets::Endpoint& printer = w.sockets.Add("192.168.1.20", 9100);

    std::string History()
    {
        RegValue value;
        return w.registry.Get(kKey, "TCP", value) ? value.data : std::string("<none>");
    }
    static std::string Block(const std::string& text)
    {
        std::string block = text;
        block.resize(1000, '\0');
        return block;
    }
};

TEST_F(NetworkTest, ConnectionIsBoundedAndRecordedInTheHistory)
{
    IOComm& io = Io();
    EXPECT_EQ(io.Open("192.168.1.20:9100", "", 0), 1);
    EXPECT_EQ(w.sockets.CallsStartingWith("Connect"), Strings{"Connect 192.168.1.20:9100 10000"});
    EXPECT_EQ(printer.connects, 1);
    EXPECT_EQ(io.PortType, PortTypeNetwork);
    EXPECT_EQ(io.Timeouts.ReadTotalTimeoutConstant, 100u);
    EXPECT_EQ(io.Timeouts.WriteTotalTimeoutConstant, 100u);
    EXPECT_EQ(History(), Block(" 192.168.1.20:9100"));
    RegValue value;
    w.registry.Get(kKey, "TCP", value);
    EXPECT_EQ(value.type, uint32_t(RegBinary));

    io.Close();
    EXPECT_EQ(io.Open("192.168.1.20:9100", "", 0), 1);
    EXPECT_EQ(History(), Block(" 192.168.1.20:9100"));
    EXPECT_EQ(w.sockets.startups, 2);
}

TEST_F(NetworkTest, OpenWhileConnectedKeepsTheConnection)
{
    IOComm& io = Io();
    ASSERT_EQ(io.Open("192.168.1.20:9100", "", 0), 1);
    EXPECT_EQ(io.Open("192.168.1.30:9100", "", 0), 1);
    EXPECT_EQ(io.PortName, "192.168.1.30:9100");
    EXPECT_EQ(w.sockets.CallsStartingWith("Connect").size(), 1u);
}

TEST_F(NetworkTest, FailedConnectionsReturnZeroWithoutMessage)
{
    w.sockets.Add("192.168.1.21", 9100).refuse = true;
    IOComm& io = Io();
    const uint32_t start = w.clock.now;
    EXPECT_EQ(io.Open("192.168.1.21:9100", "", 0), 0);
    EXPECT_TRUE(io.ErrorFlag);
    EXPECT_EQ(w.clock.now, start);
    // Nobody answers: the attempt ends at its 10 s bound.
    EXPECT_EQ(io.Open("192.168.1.99:9100", "", 0), 0);
    EXPECT_EQ(w.clock.now, start + 10000);
    EXPECT_EQ(io.Open("10.0.0.1.9100", "", 0), 0); // no colon to split at
    w.sockets.failSocket = true;
    EXPECT_EQ(io.Open("192.168.1.20:9100", "", 0), 0);
    EXPECT_EQ(w.sockets.OpenSockets(), 0);
    EXPECT_EQ(io.Socket, InvalidSocket);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(History(), "<none>");
}

TEST_F(NetworkTest, TcpPortNameWithHostNameIsResolvedByTheConnect)
{
    const std::string ports =
        "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports";
    w.registry.SetString(ports + "\\IP_printer.example", "IPAddress", "printer.example");
    w.registry.SetDword(ports + "\\IP_printer.example", "PortNumber", 9101);
    w.sockets.Add("printer.example", 9101);
    IOComm& io = Io();
    EXPECT_EQ(io.Open("IP_printer.example", "", 0), 1);
    EXPECT_EQ(w.sockets.CallsStartingWith("Connect"), Strings{"Connect printer.example:9101 10000"});
    EXPECT_EQ(History(), Block(" printer.example:9101"));
}

TEST_F(NetworkTest, HistoryAppendsOnlyWhileTheTextStaysWithin999Characters)
{
    const std::string entry = "192.168.1.20:9100"; // 17 characters
    const struct {
        size_t existing;
        bool appended;
    } cases[] = {{981, true}, {982, false}};
    for (const auto& c : cases) {
        const std::string text(c.existing, 'x');
        w.registry.Set(kKey, "TCP", RegBinary, Block(text));
        IOComm io(w.platform);
        ASSERT_EQ(io.Open(entry, "", 0), 1);
        io.Close();
        EXPECT_EQ(History(), Block(c.appended ? text + " " + entry : text)) << c.existing;
    }
}

TEST_F(NetworkTest, OverlongHistoryKeepsItsCompleteEntries)
{
    std::string text;
    while (text.size() < 1500)
        text += " 10.0.0." + std::to_string(text.size() % 200) + ":9100";
    w.registry.Set(kKey, "TCP", RegBinary, text);
    IOComm& io = Io();
    ASSERT_EQ(io.Open("192.168.1.20:9100", "", 0), 1);

    const std::string block = History();
    ASSERT_EQ(block.size(), 1000u);
    const std::string kept = block.substr(0, block.find('\0'));
    EXPECT_LT(kept.size(), 1000u);
    EXPECT_EQ(text.compare(0, kept.size(), kept), 0);
    EXPECT_EQ(text[kept.size()], ' '); // cut between entries
    EXPECT_EQ(block.find_first_not_of('\0', kept.size()), std::string::npos);
}

TEST_F(NetworkTest, CloseLingersAfterARecentSend)
{
    IOComm& io = Io();
    ASSERT_EQ(io.Open("192.168.1.20:9100", "", 0), 1);
    const uint8_t data[10] = {};
    ASSERT_EQ(io.Output(data, 10), 1);
    w.clock.Advance(200);
    io.Close();
    EXPECT_EQ(Sleeps(), std::vector<uint32_t>{700});

    Sleeps().clear();
    ASSERT_EQ(io.Open("192.168.1.20:9100", "", 0), 1);
    ASSERT_EQ(io.Output(data, 10), 1);
    w.clock.Advance(500);
    io.Close();
    EXPECT_TRUE(Sleeps().empty());
}

// A printer that takes a few bytes at a time and has sent a status line the
// program never reads.
class SlowPrinter : public FakePeer {
public:
    size_t Receive(const uint8_t*, size_t length, uint32_t) override { return std::min<size_t>(length, 4); }
    size_t Send(uint8_t* data, size_t length, uint32_t) override
    {
        if (sentStatus || length < 7)
            return 0;
        sentStatus = true;
        std::memcpy(data, "READY\r\n", 7);
        return 7;
    }
    bool sentStatus = false;
};

TEST_F(NetworkTest, CloseShutsTheSendingSideAndDrainsBeforeClosing)
{
    SlowPrinter slow;
    printer.peer = &slow;
    IOComm& io = Io();
    ASSERT_EQ(io.Open("192.168.1.20:9100", "", 0), 1);
    const std::string image = "0123456789abcdefghij";
    ASSERT_EQ(io.OutputString(image), 1);
    ASSERT_LT(printer.received.size(), image.size()); // the tail is still queued
    w.sockets.calls.clear();

    EXPECT_EQ(io.Close(), 1);

    EXPECT_EQ(printer.resets, 0);
    EXPECT_EQ(printer.lostOnReset, 0u);
    EXPECT_EQ(printer.received, image);
    ASSERT_FALSE(w.sockets.calls.empty());
    EXPECT_EQ(w.sockets.calls.front(), "Shutdown 7 1");
    EXPECT_EQ(w.sockets.calls.back(), "Close 7");
    EXPECT_EQ(io.Socket, InvalidSocket);
}

TEST_F(NetworkTest, DrainingAtCloseIsBounded)
{
    printer.closesOnShutdown = false; // the printer never closes its side
    IOComm& io = Io();
    ASSERT_EQ(io.Open("192.168.1.20:9100", "", 0), 1);
    const uint32_t start = w.clock.now;
    EXPECT_EQ(io.Close(), 1);
    EXPECT_EQ(w.clock.now - start, 2000u);
    EXPECT_EQ(w.sockets.OpenSockets(), 0);
}

} // namespace
} // namespace marlet::test
