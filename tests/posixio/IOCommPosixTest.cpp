// The port object on the real back ends: a pty as a COM port, loopback TCP.
// The port object's own pauses run on the virtual clock; the devices' time-outs are real.
#include "PtyFixture.h"

#include "app/ProcessValues.h"
#include "framework/Afx.h"
#include "framework/scripted/ScriptedWindows.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeFiles.h"
#include "platform/fake/FakeSystem.h"
#include "platform/posix/PosixCommDevice.h"
#include "platform/posix/PosixSockets.h"
#include "port/IOComm.h"

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>

namespace marlet {
namespace {

constexpr const char* kKey = "SOFTWARE\\Varden\\IOCommDL";
constexpr const char* kPorts = "SOFTWARE\\Varden\\IOCommDL\\Ports";

class IOCommPosixTest : public ::testing::Test {
protected:
    IOCommPosixTest()
    {
        ResetProcessValues();
        IOComm::ResetClassState();
        SetWindowSystem(&windows);
        // The starting configuration is read from COM2: keep it off the machine's own ports.
        registry.SetString(kPorts, "COM2", "/nonexistent/com2");
    }
    ~IOCommPosixTest() override { SetWindowSystem(nullptr); }

    FakeRegistry registry;
    PosixCommDevice comm{registry};
    PosixSockets sockets;
    FakeSystem system;
    FakeClock clock;
    FakeFiles files;
    Platform platform{registry, comm, sockets, system, clock, files};
    ScriptedWindowSystem windows;
};

TEST_F(IOCommPosixTest, SerialPortOnAPty)
{
    Pty pty;
    registry.SetString(kPorts, "COM5", pty.slavePath());
    IOComm io(platform);

    ASSERT_NE(io.Open("COM5", "baud=19200 parity=N data=8 stop=2", 1), 0);
    EXPECT_EQ(io.GetPortType(), PortTypeSerial);
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
    EXPECT_TRUE(t.c_cflag & CSTOPB);

    ASSERT_EQ(io.SetTimeouts(3500, 50), 1);
    ASSERT_EQ(io.SetHandshake(HandshakeHardware), 1); // no modem lines on a pty: DSR reads as on
    const ByteString query("\x00\x1b\x0d", 3);
    ASSERT_EQ(io.OutputString(query), 1);
    EXPECT_EQ(io.BytesWritten, 3);
    const std::vector<uint8_t> got = pty.Receive();
    EXPECT_EQ(std::string(got.begin(), got.end()), query);

    pty.Send({'1', '.', '9', '6'});
    uint8_t reply[20] = {};
    EXPECT_EQ(io.Input(reply, 20), 4); // the interval (50 ms) ends the read, not the total
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), 4), "1.96");
    EXPECT_EQ(io.InputPending(), 0);
    EXPECT_EQ(io.Close(), 1);
    EXPECT_TRUE(windows.boxes.empty());
}

TEST_F(IOCommPosixTest, PortSetupStoresTheConfigurationOfTheSetupString)
{
    Pty pty;
    registry.SetString(kPorts, "COM5", pty.slavePath());
    IOComm io(platform);
    io.PortName = "\\\\.\\COM5";
    io.SetupString = "baud=115200 parity=N data=8 stop=1";
    io.SaveConfig = 1;
    ASSERT_EQ(io.PortSetup(0, nullptr), 1);

    RegValue stored;
    ASSERT_TRUE(registry.Get(kKey, "Comm data", stored));
    EXPECT_EQ(stored.type, uint32_t(RegBinary));
    ASSERT_EQ(stored.data.size(), 52u);
    const CommConfig config = CommConfig::FromBytes(reinterpret_cast<const uint8_t*>(stored.data.data()));
    EXPECT_EQ(config.dcb.BaudRate, 115200u);
    EXPECT_EQ(config.dcb.ByteSize, 8);
    EXPECT_EQ(config.dcb.Parity, NoParity);
    EXPECT_EQ(config.dcb.StopBits, OneStopBit);
    EXPECT_FALSE(io.IsOpen());

    // The next run opens the port with the stored configuration.
    IOComm next(platform);
    ASSERT_NE(next.Open("COM5", "", 0), 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
    EXPECT_FALSE(t.c_cflag & CSTOPB);
}

TEST_F(IOCommPosixTest, ComPortThatIsNoTtyIsOpenedAsADevice)
{
    const std::string path =
        std::filesystem::temp_directory_path() / ("iocomm-file-" + std::to_string(::getpid()));
    std::ofstream(path) << "";
    registry.SetString(kPorts, "COM6", path);
    {
        IOComm io(platform);
        ASSERT_NE(io.Open("COM6", "baud=19200 parity=N data=8 stop=2", 0), 0);
        EXPECT_EQ(io.GetPortType(), PortTypeDevice);
        EXPECT_EQ(io.OutputString("image"), 1);
        EXPECT_EQ(io.Close(), 1);
        EXPECT_TRUE(windows.boxes.empty());
    }
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "image");
    std::filesystem::remove(path);
}

// A printer's TCP port on loopback.
class TcpPrinter {
public:
    TcpPrinter()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 4);
        socklen_t size = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size);
        port_ = ntohs(a.sin_port);
    }
    ~TcpPrinter()
    {
        Hangup();
        ::close(listener_);
    }
    std::string Name() const { return "127.0.0.1:" + std::to_string(port_); }
    // Takes the next connection waiting, if one comes within the bound.
    bool Accept(int ms = 500)
    {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return false;
        Hangup();
        peer_ = ::accept(listener_, nullptr, nullptr);
        return peer_ >= 0;
    }
    void Hangup()
    {
        if (peer_ >= 0)
            ::close(peer_);
        peer_ = -1;
    }
    void ReadAll(std::string& into)
    {
        char buffer[1 << 16];
        pollfd p{peer_, POLLIN, 0};
        while (::poll(&p, 1, 100) > 0) {
            const ssize_t n = ::recv(peer_, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            into.append(buffer, size_t(n));
        }
    }

private:
    int listener_ = -1;
    int peer_ = -1;
    uint16_t port_ = 0;
};

TEST_F(IOCommPosixTest, NetworkPrinterThatStopsReadingLeavesAnExactPartialCount)
{
    TcpPrinter printer;
    IOComm io(platform);
    ASSERT_EQ(io.Open(printer.Name(), "", 0), 1);
    ASSERT_TRUE(printer.Accept());

    // Far more than the socket buffers hold, so the first send takes only part;
    // after the pause between rounds the socket is still full and select times out.
    std::string pattern(251, '\0'); // a period that no buffer size divides
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = char(i * 13);
    std::string block;
    while (block.size() < (16u << 20))
        block += pattern;
    int result = 1;
    const int64_t ms = TimedMs(
        [&] { result = io.Output(reinterpret_cast<const uint8_t*>(block.data()), int(block.size())); });
    EXPECT_EQ(result, 0);
    EXPECT_GT(io.BytesWritten, 0);
    EXPECT_LT(io.BytesWritten, int(block.size()));
    EXPECT_EQ(clock.sleeps, std::vector<uint32_t>{2000}); // one pause between the rounds
    EXPECT_GE(ms, 90);                                    // the select time-out of 100 ms
    EXPECT_LT(ms, 1000);
    ASSERT_EQ(windows.boxes.size(), 1u);
    EXPECT_EQ(windows.boxes[0].text.rfind("IOComm::Output() failed, GetLastError() returned: ", 0), 0u);

    // Exactly the accepted part arrives: nothing twice, nothing lost.
    std::string received;
    printer.ReadAll(received);
    EXPECT_EQ(received.size(), size_t(io.BytesWritten));
    EXPECT_TRUE(received == block.substr(0, received.size()));
    printer.Hangup();
    EXPECT_EQ(io.Close(), 1);
}

TEST_F(IOCommPosixTest, NetworkPrinterThatHangsUpIsReconnected)
{
    TcpPrinter printer;
    IOComm io(platform);
    ASSERT_EQ(io.Open(printer.Name(), "", 0), 1);
    ASSERT_TRUE(printer.Accept());
    printer.Hangup();

    uint8_t buffer[20];
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(io.Input(buffer, 20), 0);
    EXPECT_FALSE(printer.Accept(50)); // three failures: no reconnect yet
    EXPECT_EQ(io.Input(buffer, 20), 0);
    EXPECT_TRUE(printer.Accept(50)); // the fourth closed and connected again
    EXPECT_TRUE(io.IsOpen());
    EXPECT_EQ(clock.sleeps.back(), 200u); // the first reconnect wait
}

} // namespace
} // namespace marlet
