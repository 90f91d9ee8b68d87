// The comm device back end: the write plan that bounds a stalled serial
// write, and the overlapped device I/O on a named pipe standing in for a
// printer device.
#include "platform/win32/Win32CommDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include <windows.h>

namespace marlet::testing {
namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(Win32CommDevicePlan, NoPieceOfAWriteMayWaitLongerThanTheStallLimit)
{
    struct Case {
        uint32_t multiplier, constant, length;
        Win32CommDevice::WritePlan expected;
    };
    const Case cases[] = {
        {130, 10000, 20000, {384, 130, 10000}}, // the transfer's time-outs: 43 minutes in one write otherwise
        {130, 10000, 300, {300, 130, 10000}},   // a short block goes whole
        {50, 3500, 20, {20, 50, 3500}},         // the queries' time-outs
        {0, 0, 5000, {5000, 0, 60000}},         // no time-outs: no bound at all otherwise
        {0, 90000, 100, {100, 0, 60000}},       // a constant beyond the limit
        {130, 59000, 1000, {230, 130, 30000}},  // a constant close to the limit
        {100000, 0, 10, {1, 60000, 0}},         // a multiplier beyond the limit
    };
    for (const Case& c : cases) {
        CommTimeouts timeouts;
        timeouts.WriteTotalTimeoutMultiplier = c.multiplier;
        timeouts.WriteTotalTimeoutConstant = c.constant;
        const auto plan = Win32CommDevice::PlanWrite(timeouts, c.length, 60000);
        SCOPED_TRACE(std::to_string(c.multiplier) + " x " + std::to_string(c.length) + " + " +
                     std::to_string(c.constant));
        EXPECT_EQ(plan.pieceLength, c.expected.pieceLength);
        EXPECT_EQ(plan.multiplier, c.expected.multiplier);
        EXPECT_EQ(plan.constant, c.expected.constant);
        EXPECT_LE(uint64_t(plan.multiplier) * plan.pieceLength + plan.constant, 60000u);
    }
    CommTimeouts slow{0, 0, 0, 130, 10000};
    const auto unbounded = Win32CommDevice::PlanWrite(slow, 20000, 0);
    EXPECT_EQ(unbounded.pieceLength, 20000u);
    EXPECT_EQ(unbounded.constant, 10000u);
}

TEST(Win32CommDevice, FailuresCarryThePlatformsErrorCodes)
{
    Win32CommDevice comm;
    EXPECT_EQ(comm.Open("\\\\.\\MarletNoSuchDevice", ICommDevice::OpenMode::Exclusive), InvalidDevice);
    EXPECT_EQ(comm.LastError(), uint32_t(ERROR_FILE_NOT_FOUND));

    Dcb dcb;
    dcb.DCBlength = Dcb::StoredSize;
    dcb.BaudRate = 1200;
    const Dcb before = dcb;
    EXPECT_FALSE(comm.BuildCommDcb("baud=fast", dcb));
    EXPECT_EQ(dcb, before);
    EXPECT_EQ(comm.LastError(), uint32_t(ERROR_INVALID_PARAMETER));
    ASSERT_TRUE(comm.BuildCommDcb("baud=19200 parity=N data=8 stop=2", dcb));
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.StopBits, TwoStopBits);

    uint32_t errors = 0;
    CommStatus status;
    EXPECT_FALSE(comm.ClearCommError(12345, errors, status));
    EXPECT_EQ(comm.LastError(), uint32_t(ERROR_INVALID_HANDLE));
}

// A device opened shared for overlapped I/O: a named pipe whose server side
// the test holds, as the printer.
class OverlappedDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        name_ = "\\\\.\\pipe\\marlet-device-" + std::to_string(::GetCurrentProcessId());
        server_ = ::CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                                     4096, 0, nullptr);
        ASSERT_NE(server_, INVALID_HANDLE_VALUE);
        handle_ = comm_.Open(name_, ICommDevice::OpenMode::SharedOverlapped);
        ASSERT_NE(handle_, InvalidDevice) << comm_.LastError();
    }
    void TearDown() override
    {
        if (handle_ != InvalidDevice)
            comm_.Close(handle_);
        ::CloseHandle(server_);
    }

    std::string Drain()
    {
        std::string got;
        DWORD available = 0;
        while (::PeekNamedPipe(server_, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            std::vector<char> buffer(available);
            DWORD read = 0;
            ::ReadFile(server_, buffer.data(), available, &read, nullptr);
            got.append(buffer.data(), read);
        }
        return got;
    }

    Win32CommDevice comm_;
    std::string name_;
    HANDLE server_ = INVALID_HANDLE_VALUE;
    DeviceHandle handle_ = InvalidDevice;
};

TEST_F(OverlappedDevice, AReadWithNothingToReadIsAbandonedAndLosesNothingLater)
{
    uint8_t buffer[64] = {};
    uint32_t read = 99;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(comm_.ReadDevice(handle_, buffer, 64, 200, read), DeviceIoResult::TimedOut);
    EXPECT_GE(MsSince(start), 150);
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_EQ(read, 0u);

    // The abandoned read was cancelled: the printer's next answer reaches the next read whole.
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(server_, "2.18\r", 5, &written, nullptr));
    ASSERT_EQ(comm_.ReadDevice(handle_, buffer, 64, 200, read), DeviceIoResult::Completed);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), read), "2.18\r");
}

TEST_F(OverlappedDevice, AWriteCompletesWithItsCountAndAStalledOneIsAbandoned)
{
    const std::string block(300, 'x');
    uint32_t written = 0;
    ASSERT_EQ(comm_.WriteDevice(handle_, reinterpret_cast<const uint8_t*>(block.data()), 300, 30000, written),
              DeviceIoResult::Completed);
    EXPECT_EQ(written, 300u);
    EXPECT_EQ(Drain(), block);

    // Nobody reads: a block far larger than the pipe holds cannot complete.
    const std::vector<uint8_t> large(256 * 1024, 0x55);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(comm_.WriteDevice(handle_, large.data(), uint32_t(large.size()), 300, written),
              DeviceIoResult::TimedOut);
    EXPECT_LT(MsSince(start), 5000);
}

TEST_F(OverlappedDevice, AnythingButAPortRefusesTheSerialCallsAndTheStatusQuery)
{
    CommConfig config;
    config.dwSize = CommConfig::StoredSize;
    config.dcb.DCBlength = Dcb::StoredSize;
    config.dcb.BaudRate = 19200;
    config.dcb.ByteSize = 8;
    // The refused configuration is what turns a serial name into a device.
    EXPECT_FALSE(comm_.SetCommConfig(handle_, config));
    uint8_t answer[2] = {};
    uint32_t returned = 7;
    EXPECT_FALSE(comm_.DeviceIoControl(handle_, IoctlPortStatus, answer, sizeof answer, returned));
    EXPECT_EQ(returned, 0u);
    EXPECT_TRUE(comm_.Close(handle_));
    handle_ = InvalidDevice;
}

} // namespace
} // namespace marlet::testing
