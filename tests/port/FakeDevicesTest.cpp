// The fake comm device and fake sockets that the port tests stand on: their
// time-out rules in virtual time and the faults they model.
#include "platform/fake/FakeCommDevice.h"
#include "platform/fake/FakeSockets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace marlet {
namespace {

// A peer that starts sending its reply at a given time, one byte per 20 ms.
class TimedPeer : public FakePeer {
public:
    TimedPeer(std::string reply, uint32_t from) : reply_(std::move(reply)), from_(from) {}
    size_t Receive(const uint8_t*, size_t length, uint32_t now) override
    {
        return now >= from_ ? length : std::min<size_t>(length, taken_++ < 1 ? 5 : 0);
    }
    size_t Send(uint8_t* data, size_t length, uint32_t now) override
    {
        if (now < from_ || sent_ >= reply_.size() || length == 0)
            return 0;
        const size_t due = std::min<size_t>(reply_.size(), (now - from_) / 20 + 1);
        const size_t n = std::min(length, due > sent_ ? due - sent_ : 0);
        std::memcpy(data, reply_.data() + sent_, n);
        sent_ += n;
        return n;
    }

private:
    std::string reply_;
    uint32_t from_;
    size_t sent_ = 0;
    size_t taken_ = 0;
};

TEST(FakeCommDeviceTest, SerialReadsFollowTheTimeoutRulesInVirtualTime)
{
    FakeClock clock;
    FakeCommDevice comm(clock);
    FakeCommDevice::Port& port = comm.Add("\\\\.\\COM1");
    const DeviceHandle h = comm.Open("\\\\.\\COM1", ICommDevice::OpenMode::Exclusive);
    ASSERT_TRUE(comm.SetCommTimeouts(h, {50, 10, 300, 0, 0}));
    uint8_t buffer[8];
    uint32_t read = 0;

    // Nothing comes: the whole total time-out (10 x 8 + 300 ms) passes.
    uint32_t start = clock.now;
    ASSERT_TRUE(comm.ReadFile(h, buffer, 8, read));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(clock.now - start, 380u);

    // A reply that trickles in ends at the first gap longer than the interval.
    TimedPeer peer("OK", clock.now + 100);
    port.peer = &peer;
    start = clock.now;
    ASSERT_TRUE(comm.ReadFile(h, buffer, 8, read));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), read), "OK");
    EXPECT_EQ(clock.now - start, 100u + 20u + 50u);
    EXPECT_TRUE(clock.sleeps.empty()); // waits of the device are not pauses of the program
}

TEST(FakeCommDeviceTest, WritesThePeerOnlyPartlyTakesRunIntoTheirTimeout)
{
    FakeClock clock;
    FakeCommDevice comm(clock);
    TimedPeer peer("", clock.now + 100000);
    comm.Add("\\\\.\\COM1").peer = &peer;
    const DeviceHandle h = comm.Open("\\\\.\\COM1", ICommDevice::OpenMode::Exclusive);
    ASSERT_TRUE(comm.SetCommTimeouts(h, {0, 0, 0, 2, 100}));
    const uint8_t data[20] = {};
    uint32_t written = 0;
    ASSERT_TRUE(comm.WriteFile(h, data, 20, written));
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(clock.now, 1000u + 2 * 20 + 100);
}

TEST(FakeCommDeviceTest, KindsAndExclusiveOpens)
{
    FakeClock clock;
    FakeCommDevice comm(clock);
    comm.Add("LPT1:", FakeCommDevice::Kind::Parallel);
    comm.Add("FILE", FakeCommDevice::Kind::Device);
    const DeviceHandle lpt = comm.Open("LPT1:", ICommDevice::OpenMode::Exclusive);
    EXPECT_EQ(comm.Open("LPT1:", ICommDevice::OpenMode::SharedOverlapped), InvalidDevice);
    EXPECT_EQ(comm.LastError(), 5u);
    EXPECT_FALSE(comm.SetCommConfig(lpt, CommConfig{}));
    EXPECT_TRUE(comm.SetCommTimeouts(lpt, {}));
    const DeviceHandle f1 = comm.Open("FILE", ICommDevice::OpenMode::SharedOverlapped);
    const DeviceHandle f2 = comm.Open("FILE", ICommDevice::OpenMode::SharedOverlapped);
    EXPECT_NE(f2, InvalidDevice);
    EXPECT_FALSE(comm.SetCommTimeouts(f1, {}));
    EXPECT_EQ(comm.Open("COM9", ICommDevice::OpenMode::Exclusive), InvalidDevice);
    EXPECT_EQ(comm.LastError(), 2u);
    EXPECT_EQ(comm.OpenHandles(), 3);
}

TEST(FakeCommDeviceTest, SetupStringParserChangesNothingOnMalformedInput)
{
    const struct {
        const char* setup;
        bool ok;
        uint32_t baud;
        uint8_t parity, bits, stop;
    } cases[] = {
        {"baud=19200 parity=N data=8 stop=2", true, 19200, NoParity, 8, TwoStopBits},
        {"BAUD=460800 Parity=e DATA=7 stop=1.5", true, 460800, EvenParity, 7, One5StopBits},
        {"baud=9600", true, 9600, OddParity, 5, OneStopBit},
        {"baud=9600 parity=X", false, 1200, OddParity, 5, OneStopBit},
        {"baud=9600 data=9", false, 1200, OddParity, 5, OneStopBit},
        {"baud=9600 stop", false, 1200, OddParity, 5, OneStopBit},
        {"", false, 1200, OddParity, 5, OneStopBit},
    };
    for (const auto& c : cases) {
        Dcb dcb;
        dcb.BaudRate = 1200;
        dcb.Parity = OddParity;
        dcb.ByteSize = 5;
        EXPECT_EQ(FakeCommDevice::ParseSetup(c.setup, dcb), c.ok) << c.setup;
        EXPECT_EQ(dcb.BaudRate, c.baud) << c.setup;
        EXPECT_EQ(dcb.Parity, c.parity) << c.setup;
        EXPECT_EQ(dcb.ByteSize, c.bits) << c.setup;
        EXPECT_EQ(dcb.StopBits, c.stop) << c.setup;
    }
}

TEST(FakeSocketsTest, ClosingOverUnreadRepliesResetsAndLosesTheQueuedTail)
{
    FakeClock clock;
    FakeSockets sockets(clock);
    TimedPeer slow("", clock.now + 100000); // takes 5 bytes, then nothing for a long time
    FakeSockets::Endpoint& printer = sockets.Add("10.0.0.1", 9100);
    printer.peer = &slow;
    printer.replies = {"STATUS"};
    const SocketHandle s = sockets.Socket();
    ASSERT_TRUE(sockets.Connect(s, "10.0.0.1", 9100, 10000));
    const uint8_t data[20] = {};
    EXPECT_EQ(sockets.Send(s, data, 20), 20);
    sockets.CloseSocket(s);
    EXPECT_EQ(printer.resets, 1);
    EXPECT_EQ(printer.lostOnReset, 15u);
    EXPECT_EQ(printer.received.size(), 5u);
}

TEST(FakeSocketsTest, SelectWaitsInVirtualTimeAndLimitsHold)
{
    FakeClock clock;
    FakeSockets sockets(clock);
    FakeSockets::Endpoint& printer = sockets.Add("10.0.0.1", 9100);
    printer.acceptLimit = 4;
    const SocketHandle s = sockets.Socket();
    ASSERT_TRUE(sockets.Connect(s, "10.0.0.1", 9100, 10000));
    const uint8_t data[10] = {};
    EXPECT_EQ(sockets.Select(s, true, 100), 1);
    EXPECT_EQ(sockets.Send(s, data, 10), 4);
    const uint32_t start = clock.now;
    EXPECT_EQ(sockets.Select(s, true, 100), 0);
    EXPECT_EQ(sockets.Select(s, false, 250), 0);
    EXPECT_EQ(clock.now - start, 350u);
    EXPECT_EQ(printer.received.size(), 4u);
}

} // namespace
} // namespace marlet
