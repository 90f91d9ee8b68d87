// Reading and writing: partial writes, reconnects, substitution, the device
// read cache, readiness and the transmit queue.
#include "PortFixture.h"

#include <algorithm>
#include <array>
#include <deque>
#include <functional>

namespace marlet::test {
namespace {

using Strings = std::vector<std::string>;
using Sleeps_ = std::vector<uint32_t>;
using FCD = FakeCommDevice;

std::string Block(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = char('a' + i % 26);
    return s;
}

int Write(IOComm& io, const std::string& bytes)
{
    return io.Output(reinterpret_cast<const uint8_t*>(bytes.data()), int(bytes.size()));
}

TEST_F(PortTest, OutputNeedsAnOpenPortAndWritesNothingForAnEmptyBlock)
{
    IOComm& io = Io();
    EXPECT_EQ(Write(io, "abc"), 0);
    EXPECT_EQ(io.Output(nullptr, 0), 0);
    FCD::Port& com1 = OpenDeclared("COM1", kCom1, Kind::Serial);
    EXPECT_EQ(io.Output(nullptr, 0), 1);
    EXPECT_EQ(io.Output(nullptr, -5), 1);
    EXPECT_TRUE(com1.writeSizes.empty());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PortTest, PartialWritesAreContinuedAfterTwoSeconds)
{
    const struct {
        std::vector<FCD::WriteStep> steps;
        int32_t bytesWritten;
        std::vector<uint32_t> sizes;
        size_t pauses;
    } cases[] = {
        // A time-out after 300 of 1000 bytes; the other 700 go through next time.
        {{FCD::Accept(300)}, 1000, {1000, 700}, 1},
        // Nothing taken: the block is reported as not written, without error.
        {{FCD::Accept(0)}, 0, {1000}, 0},
        // A port that stops taking bytes ends the block early.
        {{FCD::Accept(300), FCD::Accept(0)}, 300, {1000, 700}, 1},
        // Ten rounds at most.
        {std::vector<FCD::WriteStep>(12, FCD::Accept(10)), 100,
         std::vector<uint32_t>{1000, 990, 980, 970, 960, 950, 940, 930, 920, 910}, 10},
    };
    for (const auto& c : cases) {
        World world;
        world.registry.Set(kKey, "Comm data", RegBinary, std::string(52, '\0'));
        FCD::Port& com1 = world.comm.Add(kCom1);
        IOComm io(world.platform);
        ASSERT_NE(io.Open("COM1", "", 0), 0);
        com1.writes.assign(c.steps.begin(), c.steps.end());
        const std::string block = Block(1000);
        EXPECT_EQ(Write(io, block), 1);
        EXPECT_EQ(io.BytesWritten, c.bytesWritten);
        EXPECT_EQ(com1.writeSizes, c.sizes);
        EXPECT_EQ(world.clock.sleeps, Sleeps_(c.pauses, 2000));
        EXPECT_EQ(com1.written, block.substr(0, size_t(c.bytesWritten)));
        EXPECT_TRUE(world.BoxTexts().empty());
    }
}

TEST_F(PortTest, FailedWriteIsShownAndCountsWhatWentThrough)
{
    FCD::Port& com1 = OpenDeclared("COM1", kCom1, Kind::Serial);
    IOComm& io = Io();
    com1.writes = {FCD::FailWrite(31, 100)};
    EXPECT_EQ(Write(io, Block(1000)), 0);
    EXPECT_EQ(io.BytesWritten, 100);
    EXPECT_EQ(Sleeps(), Sleeps_{2000});
    EXPECT_TRUE(io.ErrorFlag);
    EXPECT_EQ(Boxes(), Strings{"IOComm::Output() failed, GetLastError() returned: 31"});

    com1.writes = {FCD::FailWrite(22)};
    EXPECT_EQ(Write(io, "abc"), 0);
    EXPECT_EQ(io.BytesWritten, 0);
    EXPECT_EQ(io.LastError, "IOComm::Output() failed, GetLastError() returned: 22");
}

TEST_F(PortTest, ReconnectWaitsGrowBy1000MsUpTo8000)
{
    FCD::Port& com1 = OpenDeclared("COM1", kCom1, Kind::Serial);
    IOComm& io = Io();
    com1.writes.assign(100, FCD::FailWrite(31));
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(Write(io, "x"), 0);
    EXPECT_EQ(Sleeps(), (Sleeps_{200, 1200, 2200, 3200, 4200, 5200, 6200, 7200, 8000, 8000}));
    EXPECT_EQ(com1.opens, 11);
    EXPECT_TRUE(io.IsOpen());

    // A retry that succeeds starts the policy over.
    Sleeps().clear();
    com1.writes = {FCD::FailWrite(31)};
    EXPECT_EQ(Write(io, "y"), 1);
    EXPECT_EQ(Sleeps(), Sleeps_{8000});
    EXPECT_EQ(IOComm::WriteReconnect.delay, 200u);
    EXPECT_EQ(IOComm::WriteReconnect.counter, 0);
    com1.writes = {FCD::FailWrite(31)};
    EXPECT_EQ(Write(io, "z"), 0);
    EXPECT_EQ(Sleeps(), Sleeps_{8000});
    EXPECT_EQ(com1.written, "y"); // only the retry got through
}

TEST_F(PortTest, NetworkReadsTimeOutAndTheFourthFailureReconnects)
{
    FakeSockets::Endpoint& printer = w.sockets.Add("192.168.1.20", 9100);
    IOComm& io = Io();
    ASSERT_EQ(io.Open("192.168.1.20:9100", "", 0), 1);
    std::array<uint8_t, 20> buffer{};
    for (int i = 0; i < 3; ++i) {
        const uint32_t before = w.clock.now;
        EXPECT_EQ(io.Input(buffer.data(), 20), 0);
        EXPECT_EQ(w.clock.now - before, 100u);
    }
    EXPECT_EQ(printer.connects, 1);
    EXPECT_EQ(io.Input(buffer.data(), 20), 0);
    EXPECT_EQ(printer.connects, 2);
    EXPECT_EQ(Sleeps(), Sleeps_{200});
    EXPECT_TRUE(io.IsOpen());
    EXPECT_TRUE(io.LastError.starts_with("IOComm::Input() failed, GetLastError() returned: "));
    EXPECT_TRUE(Boxes().empty());

    printer.replies = {"REV:2.18"};
    EXPECT_EQ(io.Input(buffer.data(), 20), 8);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 8), "REV:2.18");
}

TEST_F(PortTest, ReplacePatternCases)
{
    const struct {
        std::string text, pattern, replacement;
        int result;
        std::string after; // when the result is not 0
    } cases[] = {
        {Bytes({0x1B, 0x40, 0x41, 0x1B, 0x40}), Bytes({0x1B, 0x40}), Bytes({0x1B, 0x40, 0x1B, 0x40}), 9,
         Bytes({0x1B, 0x40, 0x1B, 0x40, 0x41, 0x1B, 0x40, 0x1B, 0x40})},
        {"xAx", "A", "AA", 4, "xAAx"},                // the replacement is not searched again
        {"ABCABC", "ABC", "Z", 2, "ZZ"},              // shorter result
        {"abc", "abc", "wxyz", 4, "wxyz"},            // same length: the whole text
        {"abc", "abd", "wxyz", 0, ""},                // same length, different
        {"abc", "abc", "", 0, ""},                    // an emptied text counts as not replaced
        {std::string("AB\0CD", 5), "CD", "Q", 0, ""}, // not found after a zero byte
        {"hello", "xyz", "Q", 0, ""},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(IOComm::ReplacePattern(text, c.pattern, c.replacement), c.result) << c.text;
        if (c.result != 0) {
            EXPECT_EQ(text, c.after) << c.text;
        }
    }
}

TEST_F(PortTest, ReplacePatternStopsAfter100Replacements)
{
    std::string text;
    for (int i = 0; i < 150; ++i)
        text += "Ab";
    text += std::string(100, '.');
    ASSERT_EQ(text.size(), 400u);
    ASSERT_EQ(IOComm::ReplacePattern(text, "A", "Z"), 400);
    EXPECT_EQ(std::count(text.begin(), text.end(), 'Z'), 100);
    EXPECT_EQ(text.find('A'), 200u);
}

class SubstitutionTest : public PortTest {
protected:
    FCD::Port* com1 = nullptr;
    void SetUp() override
    {
        SetDword("DoExtra", 1);
        w.registry.Set(kKey, "Pattern1", RegBinary, Bytes({0x1B, 0x40}));
        w.registry.Set(kKey, "Conversion1", RegBinary, Bytes({0x1B, 0x40, 0x1B, 0x40}));
        w.registry.Set(kKey, "Pattern2", RegBinary, "ABC");
        w.registry.Set(kKey, "Conversion2", RegBinary, "Z");
        w.registry.Set(kKey, "Pattern3", RegBinary, "Q");
        w.registry.Set(kKey, "Conversion3", RegBinary, "RR");
        com1 = &OpenDeclared("COM1", kCom1, Kind::Serial);
    }
};

TEST_F(SubstitutionTest, BlocksAreRewrittenAndCountedAgainstTheCallersBytes)
{
    const struct {
        std::string block;
        std::vector<FCD::WriteStep> steps;
        std::string wire;
        int32_t bytesWritten;
    } cases[] = {
        {Bytes({0x1B, 0x40, 0x41, 0x1B, 0x40}),
         {},
         Bytes({0x1B, 0x40, 0x1B, 0x40, 0x41, 0x1B, 0x40, 0x1B, 0x40}),
         5},
        // Shortened: the caller's six bytes count as written, nothing twice.
        {"ABCABC", {}, "ZZ", 6},
        // A partial write of the substituted bytes goes on from where it stopped.
        {Bytes({0x1B, 0x40, 0x41, 0x1B, 0x40}),
         {FCD::Accept(5)},
         Bytes({0x1B, 0x40, 0x1B, 0x40, 0x41, 0x1B, 0x40, 0x1B, 0x40}),
         5},
        // A port that stops inside a replacement counts only the caller's bytes fully sent.
        {Bytes({0x1B, 0x40, 0x41, 0x1B, 0x40}),
         {FCD::Accept(3), FCD::Accept(0)},
         Bytes({0x1B, 0x40, 0x1B}),
         0},
        {Bytes({0x1B, 0x40, 0x41, 0x1B, 0x40}),
         {FCD::Accept(6), FCD::Accept(0)},
         Bytes({0x1B, 0x40, 0x1B, 0x40, 0x41, 0x1B}),
         3},
        // A 600-byte block is sent as it is.
        {std::string(600, 'Q'), {}, std::string(600, 'Q'), 600},
    };
    IOComm& io = Io();
    for (const auto& c : cases) {
        com1->written.clear();
        com1->writes.assign(c.steps.begin(), c.steps.end());
        EXPECT_EQ(Write(io, c.block), 1);
        EXPECT_EQ(com1->written, c.wire) << c.block.size();
        EXPECT_EQ(io.BytesWritten, c.bytesWritten) << c.block.size();
    }
}

TEST_F(SubstitutionTest, ResultLongerThanTheWorkAreaIsSentWhole)
{
    IOComm& io = Io();
    com1->writeSizes.clear();
    const std::string block = std::string(400, '.') + std::string(100, 'Q');
    EXPECT_EQ(Write(io, block), 1);
    EXPECT_EQ(com1->written, std::string(400, '.') + std::string(200, 'R'));
    EXPECT_EQ(com1->writeSizes, std::vector<uint32_t>{600});
    EXPECT_EQ(io.BytesWritten, 500);
}

class UsbTest : public PortTest {
protected:
    FCD::Port* usb = nullptr;
    void SetUp() override
    {
        const std::string path = AddUsbPrinter(1);
        usb = &OpenDeclared("USB001", path, Kind::Device);
    }
};

TEST_F(UsbTest, DeviceReadIsCachedForTheNextInput)
{
    IOComm& io = Io();
    usb->reads = {FCD::Data("0123456789")};
    std::array<uint8_t, 16> buffer{};
    EXPECT_EQ(io.Input(buffer.data(), 4), 4);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 4), "0123");
    EXPECT_EQ(io.CacheCount, 6u);
    EXPECT_EQ(w.comm.CallsStartingWith("ReadDevice"),
              Strings{"ReadDevice " + w.comm.NameOf(io.Handle) + " 64"});

    EXPECT_EQ(io.Input(buffer.data(), 6), 6);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 6), "456789");
    EXPECT_EQ(w.comm.CallsStartingWith("ReadDevice").size(), 1u);
    EXPECT_EQ(io.CacheCount, 0u);
}

TEST_F(UsbTest, CachedReadsStopAfterRepeatedFailuresOrEmptyReads)
{
    const struct {
        std::vector<FCD::ReadStep> steps;
        int result;
        size_t reads;
        size_t pauses; // 50 ms each
    } cases[] = {
        {std::vector<FCD::ReadStep>(10, FCD::Data("")), 0, 5, 4},
        {std::vector<FCD::ReadStep>(10, FCD::FailRead(31)), 0, 5, 4},
        // Bytes start the count of failures over; then reads that find
        // nothing (time-outs) end the loop.
        {{FCD::Data("ab"), FCD::FailRead(31), FCD::Data("cd")}, 4, 8, 5},
    };
    IOComm& io = Io();
    for (const auto& c : cases) {
        usb->reads.assign(c.steps.begin(), c.steps.end());
        w.comm.calls.clear();
        Sleeps().clear();
        std::array<uint8_t, 8> buffer{};
        EXPECT_EQ(io.Input(buffer.data(), 8), c.result);
        EXPECT_EQ(w.comm.CallsStartingWith("ReadDevice").size(), c.reads);
        EXPECT_EQ(Sleeps(), Sleeps_(c.pauses, 50));
        EXPECT_EQ(IOComm::ReadReconnect.counter, 0); // no reconnects on USB printer ports
    }
}

TEST_F(PortTest, OtherDevicesReadWholeUnitsWithoutOverrunningTheCaller)
{
    FCD::Port& device = OpenDeclared("FILE", "FILE", Kind::Device);
    IOComm& io = Io();
    device.reads = {FCD::Data(std::string(64, 'r'))};
    std::array<uint8_t, 8> buffer{};
    buffer.fill(0xEE);
    EXPECT_EQ(io.Input(buffer.data(), 4), 4);
    EXPECT_EQ(buffer[4], 0xEE);
    EXPECT_EQ(w.comm.CallsStartingWith("ReadDevice"), Strings{"ReadDevice FILE 64"});
    EXPECT_EQ(io.Input(buffer.data(), 8), 8);
    EXPECT_EQ(w.comm.CallsStartingWith("ReadDevice").size(), 1u);
    EXPECT_EQ(io.CacheCount, 52u);
}

class ReadyTest : public PortTest {
protected:
    FCD::Port& Open(const std::string& given, const std::string& device, Kind kind,
                    OsVersion version = {2, 6})
    {
        w.system.version = version;
        return OpenDeclared(given, device, kind);
    }
};

TEST_F(ReadyTest, SerialReadinessFollowsTheHandshake)
{
    FCD::Port& com1 = Open("COM1", kCom1, Kind::Serial);
    IOComm& io = Io();
    const struct {
        int32_t handshake;
        std::function<void(FCD::Port&)> setUp;
        int ready;
    } cases[] = {
        {HandshakeNone, [](FCD::Port& p) { p.modemStatus = 0; }, 1},
        {HandshakeHardware, [](FCD::Port& p) { p.modemStatus = MS_DSR_ON; }, 1},
        {HandshakeHardware, [](FCD::Port& p) { p.modemStatus = 0; }, 0},
        {HandshakeHardware, [](FCD::Port& p) { p.modemStatusFails = true; }, 0},
        {HandshakeXonXoff, [](FCD::Port&) {}, 1},
        {HandshakeXonXoff, [](FCD::Port& p) { p.status.fXoffHold = true; }, 0},
        {HandshakeXonXoff, [](FCD::Port& p) { p.status.fXoffSent = true; }, 0},
        {HandshakeXonXoff, [](FCD::Port& p) { p.clearCommErrorFails = true; }, 0},
        {5, [](FCD::Port& p) { p.status.fXoffHold = true; }, 1},
    };
    for (const auto& c : cases) {
        com1.modemStatus = MS_DSR_ON;
        com1.modemStatusFails = com1.clearCommErrorFails = false;
        com1.status = {};
        c.setUp(com1);
        io.Handshake = c.handshake;
        EXPECT_EQ(io.IsReady(), c.ready) << c.handshake;
    }
}

TEST_F(ReadyTest, PortNotReadyRefusesInputAndOutput)
{
    FCD::Port& com1 = Open("COM1", kCom1, Kind::Serial);
    IOComm& io = Io();
    io.Handshake = HandshakeHardware;
    com1.modemStatus = 0;
    std::array<uint8_t, 4> buffer{};
    com1.reads = {FCD::Data("abcd")};
    EXPECT_EQ(Write(io, "abc"), 0);
    EXPECT_EQ(io.Input(buffer.data(), 4), 0);
    EXPECT_TRUE(com1.writeSizes.empty());
    EXPECT_TRUE(w.comm.CallsStartingWith("ReadFile").empty());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ReadyTest, ParallelStatusOnTheNtFamily)
{
    const struct {
        std::deque<uint8_t> statuses;
        uint32_t major;
        bool ioctlFails;
        int ready;
        size_t polls; // 30 ms pauses
    } cases[] = {
        {{0x80}, 6, false, 1, 0},        {{0x80 | 0x04}, 6, false, 0, 0},
        {{0x80 | 0x08}, 6, false, 0, 0}, {{0x80 | 0x10}, 6, false, 0, 0},
        {{0x80 | 0x20}, 6, false, 0, 0}, {{0x00}, 6, false, 0, 0},
        {{0x00}, 5, false, 1, 0},        {{0x44}, 5, false, 1, 0},
        {{0x44}, 6, false, 0, 0},        {{0xC0, 0xC0, 0xC0, 0x80}, 6, false, 1, 3},
        {{0xC0}, 6, false, 0, 10},       {{0xC0}, 6, true, 1, 0},
    };
    for (const auto& c : cases) {
        World world;
        world.system.version = {2, c.major};
        FCD::Port& lpt = world.comm.Add("LPT1:", Kind::Parallel);
        IOComm io(world.platform);
        io.ParametersLoaded = true;
        ASSERT_NE(io.Open("LPT1", "", 0), 0);
        lpt.parallelStatus = c.statuses;
        lpt.ioctlFails = c.ioctlFails;
        EXPECT_EQ(io.IsReady(), c.ready) << int(c.statuses.front()) << " v" << c.major;
        EXPECT_EQ(world.clock.sleeps, Sleeps_(c.polls, 30)) << int(c.statuses.front());
    }
}

TEST_F(ReadyTest, ParallelStatusOnThe95Family)
{
    FCD::Port& lpt = Open("LPT1", "LPT1:", Kind::Parallel, {1, 4});
    IOComm& io = Io();
    const struct {
        uint32_t errors;
        bool fails;
        int ready;
    } cases[] = {
        {0, false, 1}, {CE_OOP, false, 0}, {CE_DNS, false, 0}, {CE_OOP, true, 1}, {0x0001, false, 1}};
    for (const auto& c : cases) {
        lpt.commErrors = c.errors;
        lpt.clearCommErrorFails = c.fails;
        EXPECT_EQ(io.IsReady(), c.ready) << c.errors;
    }
}

TEST_F(ReadyTest, DeviceStatusAnswerDecidesAndAnEmptyAnswerClosesThePort)
{
    FCD::Port& device = Open("FILE", "FILE", Kind::Device);
    IOComm& io = Io();
    device.deviceStatusBytes = {2, 1, 0};
    EXPECT_EQ(io.IsReady(), 1);
    EXPECT_EQ(io.IsReady(), 0);
    EXPECT_TRUE(io.IsOpen());
    EXPECT_EQ(io.IsReady(), 0);
    EXPECT_FALSE(io.IsOpen());
    EXPECT_EQ(device.openHandles, 0);
}

TEST_F(UsbTest, UsbPrinterIsAlwaysReady)
{
    usb->deviceStatusBytes = {0};
    EXPECT_EQ(Io().IsReady(), 1);
    EXPECT_TRUE(w.comm.CallsStartingWith("DeviceIoControl").empty());
}

TEST_F(ReadyTest, InputPendingPerKind)
{
    const struct {
        std::string given, device;
        Kind kind;
        OsVersion version;
        std::function<void(FCD::Port&)> setUp;
        int pending;
    } cases[] = {
        {"COM1", kCom1, Kind::Serial, {2, 6}, [](FCD::Port& p) { p.outQueue = {5}; }, 5},
        {"LPT1", "LPT1:", Kind::Parallel, {2, 6}, [](FCD::Port& p) { p.outQueue = {5}; }, -1},
        {"LPT1", "LPT1:", Kind::Parallel, {1, 4}, [](FCD::Port& p) { p.outQueue = {5}; }, 5},
        {"FILE", "FILE", Kind::Device, {2, 6}, [](FCD::Port&) {}, 0},
        {"FILE", "FILE", Kind::Device, {2, 6}, [](FCD::Port& p) { p.deviceStatusBytes = {1}; }, -2},
    };
    for (const auto& c : cases) {
        World world;
        world.system.version = c.version;
        FCD::Port& device = world.comm.Add(c.device, c.kind);
        IOComm io(world.platform);
        EXPECT_EQ(io.InputPending(), 0);
        io.ParametersLoaded = true;
        ASSERT_NE(io.Open(c.given, "", 0), 0);
        c.setUp(device);
        EXPECT_EQ(io.InputPending(), c.pending) << c.given;
    }
}

TEST_F(ReadyTest, FailedQueueQueryIsShownAndReports200)
{
    FCD::Port& com1 = Open("COM1", kCom1, Kind::Serial);
    IOComm& io = Io();
    com1.clearCommErrorFails = true;
    EXPECT_EQ(io.InputPending(), 200);
    io.DebugMode = 2;
    EXPECT_EQ(io.InputPending(), 0);
    EXPECT_EQ(Boxes(), Strings(2, "IOComm::InputPending(): ClearCommError() failed"));
}

TEST_F(ReadyTest, WaitUntilSentPerKind)
{
    const struct {
        std::string given, device;
        Kind kind;
        std::deque<uint32_t> queue;
        int budget;
        int result;
        std::vector<uint32_t> sleeps;
    } cases[] = {
        {"COM1", kCom1, Kind::Serial, {0}, 2000, 0, {}},
        {"COM1", kCom1, Kind::Serial, {7, 7, 0}, 2000, 0, {10, 10}},
        {"COM1", kCom1, Kind::Serial, {7}, 2000, 7, {10, 10, 10, 10}},
        {"LPT1", "LPT1:", Kind::Parallel, {7}, 2000, -1, {}},
        {"FILE", "FILE", Kind::Device, {}, 2000, 0, {20}},
    };
    for (const auto& c : cases) {
        World world;
        FCD::Port& device = world.comm.Add(c.device, c.kind);
        IOComm io(world.platform);
        io.ParametersLoaded = true;
        ASSERT_NE(io.Open(c.given, "", 0), 0);
        device.outQueue = c.queue;
        EXPECT_EQ(io.WaitUntilSent(c.budget), c.result) << c.given;
        EXPECT_EQ(world.clock.sleeps, c.sleeps) << c.given;
    }
}

TEST_F(PortTest, NetworkPortWaitsAtMost300MsForSending)
{
    w.sockets.Add("192.168.1.20", 9100);
    IOComm& io = Io();
    ASSERT_EQ(io.Open("192.168.1.20:9100", "", 0), 1);
    EXPECT_EQ(io.InputPending(), -2);
    EXPECT_EQ(io.WaitUntilSent(2000), 1);
    EXPECT_EQ(io.WaitUntilSent(120), 1);
    EXPECT_EQ(Sleeps(), (Sleeps_{300, 120}));
}

TEST_F(ReadyTest, OutputAfterInputReopensAParallelPort)
{
    FCD::Port& lpt = Open("LPT1", "LPT1:", Kind::Parallel);
    IOComm& io = Io();
    std::array<uint8_t, 4> buffer{};
    lpt.reads = {FCD::Data("ok")};
    EXPECT_EQ(io.Input(buffer.data(), 4), 2);
    EXPECT_EQ(Write(io, "abc"), 1);
    EXPECT_EQ(lpt.opens, 2);
    EXPECT_EQ(lpt.written, "abc");
    EXPECT_FALSE(io.LastWasInput);
}

} // namespace
} // namespace marlet::test
