#include "PtyFixture.h"

#include "platform/posix/PosixCommDevice.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

namespace marlet {
namespace {

constexpr const char* kPorts = "SOFTWARE\\Varden\\IOCommDL\\Ports";

class PosixCommDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(pty.slavePath().empty());
        store.SetString(kPorts, "COM5", pty.slavePath());
    }
    void TearDown() override
    {
        if (handle != InvalidDevice)
            comm.Close(handle);
    }
    DeviceHandle OpenCom5()
    {
        handle = comm.Open("\\\\.\\COM5", ICommDevice::OpenMode::Exclusive);
        return handle;
    }
    void Timeouts(uint32_t interval, uint32_t multiplier, uint32_t constant)
    {
        ASSERT_TRUE(comm.SetCommTimeouts(handle, {interval, multiplier, constant, multiplier, constant}));
    }
    termios MasterView()
    {
        termios t{};
        EXPECT_EQ(::tcgetattr(pty.master(), &t), 0);
        return t;
    }

    Pty pty;
    FakeRegistry store;
    PosixCommDevice comm{store};
    DeviceHandle handle = InvalidDevice;
};

TEST_F(PosixCommDeviceTest, OpensRawAndAppliesTheSetupString)
{
    ASSERT_NE(OpenCom5(), InvalidDevice);
    termios raw = MasterView();
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(raw.c_oflag & OPOST, 0u);
    EXPECT_EQ(raw.c_iflag & (ICRNL | IXON), 0u);

    CommConfig config;
    ASSERT_TRUE(comm.GetCommConfig(handle, config));
    EXPECT_EQ(config.dwSize, 52u);
    EXPECT_EQ(config.wVersion, 1);
    EXPECT_EQ(config.dcb.DCBlength, 28u);
    ASSERT_TRUE(comm.BuildCommDcb("baud=19200 parity=N data=8 stop=2", config.dcb));
    ASSERT_TRUE(comm.SetCommConfig(handle, config));

    const termios t = MasterView();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
    EXPECT_TRUE(t.c_cflag & CSTOPB);

    CommConfig back;
    ASSERT_TRUE(comm.GetCommConfig(handle, back));
    EXPECT_EQ(back.dcb.BaudRate, 19200u);
    EXPECT_EQ(back.dcb.StopBits, TwoStopBits);
    EXPECT_EQ(back.dcb.ByteSize, 8);

    // A record the line cannot take is refused and leaves the line as it was.
    config.dcb.BaudRate = 14400;
    EXPECT_FALSE(comm.SetCommConfig(handle, config));
    EXPECT_EQ(comm.LastError(), uint32_t(EINVAL));
    const termios kept = MasterView();
    EXPECT_EQ(cfgetospeed(&kept), speed_t(B19200));
}

TEST_F(PosixCommDeviceTest, SecondExclusiveOpenIsRefusedUntilClose)
{
    ASSERT_NE(OpenCom5(), InvalidDevice);
    EXPECT_EQ(comm.Open("COM5", ICommDevice::OpenMode::Exclusive), InvalidDevice);
    EXPECT_EQ(comm.LastError(), uint32_t(EBUSY));
    PosixCommDevice other(store); // another run of the program
    EXPECT_EQ(other.Open("COM5:", ICommDevice::OpenMode::Exclusive), InvalidDevice);

    ASSERT_TRUE(comm.Close(handle));
    handle = InvalidDevice;
    const DeviceHandle again = other.Open("COM5", ICommDevice::OpenMode::Exclusive);
    EXPECT_NE(again, InvalidDevice);
    other.Close(again);
}

TEST_F(PosixCommDeviceTest, UnknownNamesFailWithNoSuchFile)
{
    EXPECT_EQ(comm.Open("COM77", ICommDevice::OpenMode::Exclusive), InvalidDevice);
    EXPECT_EQ(comm.LastError(), uint32_t(ENOENT));
    CommConfig config;
    EXPECT_FALSE(comm.GetDefaultCommConfig("COM77", config));
    ASSERT_TRUE(comm.GetDefaultCommConfig("COM5", config));
    EXPECT_EQ(config.dcb.BaudRate, 9600u);
    EXPECT_EQ(config.dcb.ByteSize, 8);
    EXPECT_EQ(config.dcb.Parity, NoParity);
    EXPECT_EQ(config.dcb.StopBits, OneStopBit);
    EXPECT_EQ(config.dcb.fOutX | config.dcb.fInX | config.dcb.fOutxCtsFlow, 0u);
}

TEST_F(PosixCommDeviceTest, EveryByteValuePassesUnchangedBothWays)
{
    ASSERT_NE(OpenCom5(), InvalidDevice);
    Timeouts(0, 0, 1000);
    const std::vector<uint8_t> image = EveryByteValue(4096); // holds XON, XOFF, CR, LF, ^C, ^D
    uint32_t written = 0;
    ASSERT_TRUE(comm.WriteFile(handle, image.data(), uint32_t(image.size()), written));
    EXPECT_EQ(written, image.size());
    EXPECT_EQ(pty.Receive(), image);

    pty.Send(image);
    std::vector<uint8_t> got(image.size());
    uint32_t read = 0;
    ASSERT_TRUE(comm.ReadFile(handle, got.data(), uint32_t(got.size()), read));
    EXPECT_EQ(read, image.size());
    EXPECT_EQ(got, image);
}

TEST_F(PosixCommDeviceTest, ReadTimeouts)
{
    ASSERT_NE(OpenCom5(), InvalidDevice);
    uint8_t buffer[100];
    uint32_t read = 99;

    // The interval ends a read soon after the last byte, long before the total.
    Timeouts(50, 0, 3000);
    pty.Send({1, 2, 3, 4, 5});
    int64_t ms = TimedMs([&] { EXPECT_TRUE(comm.ReadFile(handle, buffer, sizeof buffer, read)); });
    EXPECT_EQ(read, 5u);
    EXPECT_GE(ms, 40);
    EXPECT_LT(ms, 1000);

    // Nothing arrives: 0 bytes after multiplier x length + constant (10 x 10 + 50).
    Timeouts(0, 10, 50);
    ms = TimedMs([&] { EXPECT_TRUE(comm.ReadFile(handle, buffer, 10, read)); });
    EXPECT_EQ(read, 0u);
    EXPECT_GE(ms, 140);
    EXPECT_LT(ms, 1000);

    // All wanted bytes there: no waiting for any time-out.
    Timeouts(500, 0, 3000);
    pty.Send({9, 8, 7});
    ms = TimedMs([&] { EXPECT_TRUE(comm.ReadFile(handle, buffer, 3, read)); });
    EXPECT_EQ(read, 3u);
    EXPECT_LT(ms, 400);

    // MAXDWORD interval with zero totals: what is there, at once.
    Timeouts(0xFFFFFFFF, 0, 0);
    ms = TimedMs([&] { EXPECT_TRUE(comm.ReadFile(handle, buffer, 10, read)); });
    EXPECT_EQ(read, 0u);
    pty.Send({4, 4});
    ::usleep(20000);
    EXPECT_TRUE(comm.ReadFile(handle, buffer, 10, read));
    EXPECT_EQ(read, 2u);
    EXPECT_LT(ms, 200);
}

TEST_F(PosixCommDeviceTest, TimedWriteReturnsTheExactPartialCount)
{
    ASSERT_NE(OpenCom5(), InvalidDevice);
    Timeouts(0, 0, 100);
    const std::vector<uint8_t> image = EveryByteValue(1 << 20); // far more than the pty holds
    uint32_t written = 0;
    const int64_t ms =
        TimedMs([&] { EXPECT_TRUE(comm.WriteFile(handle, image.data(), uint32_t(image.size()), written)); });
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, image.size());
    EXPECT_GE(ms, 90);
    EXPECT_LT(ms, 1000);
    const std::vector<uint8_t> arrived = pty.Receive();
    EXPECT_EQ(arrived, std::vector<uint8_t>(image.begin(), image.begin() + written));
}

TEST_F(PosixCommDeviceTest, WriteWithoutTimeoutsGivesUpAfterTheStallLimit)
{
    ASSERT_NE(OpenCom5(), InvalidDevice);
    comm.SetStallLimit(150);
    Timeouts(0, 0, 0); // no bound of its own
    const std::vector<uint8_t> image = EveryByteValue(1 << 20);
    uint32_t written = 0;
    const int64_t ms =
        TimedMs([&] { EXPECT_TRUE(comm.WriteFile(handle, image.data(), uint32_t(image.size()), written)); });
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, image.size());
    EXPECT_GE(ms, 140);
    EXPECT_LT(ms, 1000);
}

TEST_F(PosixCommDeviceTest, StatusQueriesOnAPty)
{
    ASSERT_NE(OpenCom5(), InvalidDevice);
    uint32_t modem = 0;
    ASSERT_TRUE(comm.GetCommModemStatus(handle, modem)); // no modem lines: DSR reads as on
    EXPECT_TRUE(modem & MS_DSR_ON);

    pty.Send({1, 2, 3, 4});
    ::usleep(20000);
    uint32_t errors = 99;
    CommStatus status;
    ASSERT_TRUE(comm.ClearCommError(handle, errors, status));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(status.cbOutQue, 0u);
    EXPECT_EQ(status.cbInQue, 4u);
    EXPECT_FALSE(status.fXoffHold);

    uint8_t answer[2] = {7, 7};
    uint32_t returned = 0;
    ASSERT_TRUE(comm.DeviceIoControl(handle, IoctlPortStatus, answer, sizeof answer, returned));
    EXPECT_EQ(returned, 2u);
}

TEST_F(PosixCommDeviceTest, APrinterThatGoesAwayFailsInsteadOfReadingNothing)
{
    ASSERT_NE(OpenCom5(), InvalidDevice);
    Timeouts(0, 0, 200);
    pty.CloseMaster(); // the slave's node disappears, as an unplugged adapter's does

    uint8_t buffer[16];
    uint32_t read = 0;
    const int64_t ms = TimedMs([&] { EXPECT_FALSE(comm.ReadFile(handle, buffer, sizeof buffer, read)); });
    EXPECT_EQ(comm.LastError(), uint32_t(EIO));
    EXPECT_LT(ms, 150);
    uint32_t written = 0;
    EXPECT_FALSE(comm.WriteFile(handle, buffer, sizeof buffer, written));
    EXPECT_EQ(written, 0u);

    uint8_t answer[2];
    uint32_t returned = 9;
    comm.DeviceIoControl(handle, IoctlPortStatus, answer, sizeof answer, returned);
    EXPECT_EQ(returned, 0u);
}

TEST_F(PosixCommDeviceTest, DevicePortsAreSharedAndBounded)
{
    // The pty opened by its path is a device port: shared, with bounded I/O.
    handle = comm.Open(pty.slavePath(), ICommDevice::OpenMode::SharedOverlapped);
    ASSERT_NE(handle, InvalidDevice);
    const DeviceHandle second = comm.Open(pty.slavePath(), ICommDevice::OpenMode::SharedOverlapped);
    EXPECT_NE(second, InvalidDevice);
    comm.Close(second);

    uint8_t buffer[64];
    uint32_t read = 0;
    DeviceIoResult result = DeviceIoResult::Completed;
    int64_t ms = TimedMs([&] { result = comm.ReadDevice(handle, buffer, sizeof buffer, 200, read); });
    EXPECT_EQ(result, DeviceIoResult::TimedOut);
    EXPECT_GE(ms, 190);
    EXPECT_LT(ms, 1000);

    pty.Send({0x11, 0x13, 0x0d});
    EXPECT_EQ(comm.ReadDevice(handle, buffer, sizeof buffer, 200, read), DeviceIoResult::Completed);
    EXPECT_EQ(read, 3u);

    const std::vector<uint8_t> block = EveryByteValue(1 << 20);
    uint32_t written = 0;
    ms = TimedMs(
        [&] { result = comm.WriteDevice(handle, block.data(), uint32_t(block.size()), 100, written); });
    EXPECT_EQ(result, DeviceIoResult::TimedOut);
    EXPECT_LT(written, block.size());
    EXPECT_LT(ms, 1000);
}

TEST_F(PosixCommDeviceTest, ConfigurationIsRefusedOnAFileAndItsStatusFollowsTheFile)
{
    const std::string path =
        std::filesystem::temp_directory_path() / ("posixio-file-" + std::to_string(::getpid()));
    std::ofstream(path) << "";
    store.SetString(kPorts, "COM6", path);

    handle = comm.Open("\\\\.\\COM6", ICommDevice::OpenMode::Exclusive);
    ASSERT_NE(handle, InvalidDevice);
    CommConfig config = PosixCommDevice::DefaultConfig();
    EXPECT_FALSE(comm.SetCommConfig(handle, config)); // the refusal the open falls back on
    EXPECT_EQ(comm.LastError(), uint32_t(ENOTTY));
    comm.Close(handle);

    handle = comm.Open("\\\\.\\COM6", ICommDevice::OpenMode::SharedOverlapped);
    ASSERT_NE(handle, InvalidDevice);
    const uint8_t bytes[] = {1, 2, 3};
    uint32_t written = 0;
    EXPECT_EQ(comm.WriteDevice(handle, bytes, 3, 30000, written), DeviceIoResult::Completed);
    EXPECT_EQ(written, 3u);
    uint8_t answer[2];
    uint32_t returned = 0;
    EXPECT_TRUE(comm.DeviceIoControl(handle, IoctlPortStatus, answer, 2, returned));
    EXPECT_EQ(returned, 2u);
    std::filesystem::remove(path);
    EXPECT_FALSE(comm.DeviceIoControl(handle, IoctlPortStatus, answer, 2, returned));
    EXPECT_EQ(returned, 0u);
}

TEST(PosixParallelPort, WritesWithBoundedRetriesAndIsExclusive)
{
    // LPT1 is <root>/dev/lp0; a FIFO there stands in for a port without poll support.
    char pattern[] = "/tmp/posixio-lp-XXXXXX";
    const std::string root = ::mkdtemp(pattern);
    std::filesystem::create_directories(root + "/dev");
    ASSERT_EQ(::mkfifo((root + "/dev/lp0").c_str(), 0600), 0);
    FakeRegistry store;
    PosixCommDevice comm(store, root);

    const DeviceHandle lpt = comm.Open("LPT1:", ICommDevice::OpenMode::Exclusive);
    ASSERT_NE(lpt, InvalidDevice);
    EXPECT_EQ(comm.Open("LPT1", ICommDevice::OpenMode::Exclusive), InvalidDevice);
    EXPECT_EQ(comm.LastError(), uint32_t(EBUSY));

    ASSERT_TRUE(comm.SetCommTimeouts(lpt, {0, 0, 0, 0, 100}));
    const std::vector<uint8_t> image = EveryByteValue(1 << 20);
    uint32_t written = 0;
    const int64_t ms =
        TimedMs([&] { EXPECT_TRUE(comm.WriteFile(lpt, image.data(), uint32_t(image.size()), written)); });
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, image.size());
    EXPECT_GE(ms, 90);
    EXPECT_LT(ms, 1000);

    const int reader = ::open((root + "/dev/lp0").c_str(), O_RDONLY | O_NONBLOCK);
    std::vector<uint8_t> arrived(image.size());
    const ssize_t n = ::read(reader, arrived.data(), arrived.size());
    ::close(reader);
    ASSERT_EQ(n, ssize_t(written));
    arrived.resize(size_t(n));
    EXPECT_EQ(arrived, std::vector<uint8_t>(image.begin(), image.begin() + written));

    // No lp status here: the query fails rather than inventing an answer.
    uint8_t status = 0;
    uint32_t returned = 9;
    EXPECT_FALSE(comm.DeviceIoControl(lpt, IoctlParQueryInformation, &status, 1, returned));
    EXPECT_EQ(returned, 0u);
    EXPECT_TRUE(comm.Close(lpt));
    std::filesystem::remove_all(root);
}

TEST_F(PosixCommDeviceTest, ConfigurationDialogHook)
{
    std::string asked;
    comm.SetConfigDialogHook([&](const std::string& device, WindowHandle, CommConfig& config) {
        asked = device;
        config.dcb.BaudRate = 57600;
        return device == "COM5";
    });
    CommConfig config = PosixCommDevice::DefaultConfig();
    EXPECT_TRUE(comm.CommConfigDialog("COM5", nullptr, config));
    EXPECT_EQ(asked, "COM5");
    EXPECT_EQ(config.dcb.BaudRate, 57600u);
    EXPECT_FALSE(comm.CommConfigDialog("COM6", nullptr, config));
}

} // namespace
} // namespace marlet
