#include "sim/PrinterSim.h"
#include "sim/SimPeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace marlet::sim;

namespace {

const std::string bootQuery("\x00\x02\x42", 3);
const std::string flashQuery = "\x02\x45";
const std::string firmwareQuery = "\x02\x4B";
const std::string statusQuery = "\x05\x15";
const std::string resetSequence = "\x1B\x79\x02\x1B\x79\x08\x1B\x7E\x7E\x01\x1B\x7E\x78\xFF";

void Feed(PrinterSim& sim, const std::string& bytes, uint64_t now)
{
    sim.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), now);
}

std::string Take(PrinterSim& sim, uint64_t now)
{
    std::string out;
    uint8_t buffer[64];
    while (size_t n = sim.TakeOutput(buffer, sizeof buffer, now))
        out.append(reinterpret_cast<const char*>(buffer), n);
    return out;
}

// An image in the form of the demo files: no query at its start, a revision
// marker, and bytes that look like commands inside.
std::string Image(const std::string& revision, size_t filler = 3000)
{
    std::string image = "\xA5\x5A";
    if (!revision.empty())
        image += "MARLETFWREV=" + revision + ";";
    image += bootQuery + statusQuery + resetSequence;
    for (size_t i = 0; i < filler; ++i)
        image += static_cast<char>(i * 7 + 3);
    return image;
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(PrinterSim, Crc32IsTheCommonOne)
{
    const std::string check = "123456789";
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xCBF43926u);
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
}

TEST(PrinterSim, ImageRevisionReadsTheMarker)
{
    const struct {
        std::string image;
        std::string revision;
    } cases[] = {
        {"\xA5MARLETFWREV=2.18;rest", "2.18"},
        {"xxMARLETFWREV=2.19;MARLETFWREV=3.00;", "2.19"}, // the first marker counts
        {"no marker here", ""},
        {"MARLETFWREV=2.18", ""},               // no terminating ';'
        {"MARLETFWREV=;", ""},                  // empty
        {"MARLETFWREV=2.1\x01;", ""},           // not printable
        {"MARLETFWREV=12345678901234567;", ""}, // longer than 16
        {"MARLETFWREV=1234567890123456;", "1234567890123456"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ImageRevision(Bytes(c.image)), c.revision) << c.image;
}

TEST(PrinterSim, BootLoaderAnswersItsQueriesInTheConfiguredFraming)
{
    const struct {
        const char* name;
        void (*setup)(SimConfig&);
        std::string query;
        std::string reply;
    } cases[] = {
        {"boot revision", [](SimConfig&) {}, bootQuery, "1.07\r"},
        {"flash id", [](SimConfig&) {}, flashQuery, "29F160\r"},
        {"firmware revision", [](SimConfig&) {}, firmwareQuery, "2.17\r"},
        {"leading control byte", [](SimConfig& c) { c.flashId.lead = "\x02"; }, flashQuery,
         "\x02"
         "29F160\r"},
        {"trailing ETX", [](SimConfig& c) { c.firmwareRev.trail = "\x03"; }, firmwareQuery, "2.17\x03"},
        {"no trail", [](SimConfig& c) { c.bootRev.trail = ""; }, bootQuery, "1.07"},
        {"own text", [](SimConfig& c) { c.bootRev.text = "1.96 BOOT"; }, bootQuery, "1.96 BOOT\r"},
        {"silent query", [](SimConfig& c) { c.flashId.silent = true; }, flashQuery, ""},
        {"no reply at all", [](SimConfig& c) { c.noReply = true; }, bootQuery, ""},
    };
    for (const auto& c : cases) {
        SimConfig config;
        c.setup(config);
        PrinterSim sim(config);
        Feed(sim, c.query, 100);
        EXPECT_EQ(Take(sim, 104), "") << c.name << ": before the reply delay";
        EXPECT_EQ(Take(sim, 105), c.reply) << c.name;
        EXPECT_FALSE(sim.ImageInProgress()) << c.name;
    }
}

TEST(PrinterSim, QueriesArrivingInPiecesAreAnsweredOnce)
{
    PrinterSim sim;
    const std::string all = bootQuery + flashQuery + firmwareQuery;
    for (size_t i = 0; i < all.size(); ++i)
        Feed(sim, all.substr(i, 1), 100 + i);
    EXPECT_EQ(Take(sim, 200), "1.07\r29F160\r2.17\r");
    EXPECT_FALSE(sim.ImageInProgress());
}

TEST(PrinterSim, FirmwareRevisionReplySplitsWithAGap)
{
    SimConfig config;
    config.firmwareRev.text = "V2.17";
    config.firmwareRev.splitAt = 3;
    config.firmwareRev.splitGapMs = 300;
    PrinterSim sim(config);
    Feed(sim, firmwareQuery, 1000);
    EXPECT_EQ(Take(sim, 1005), "V2.");
    EXPECT_EQ(Take(sim, 1200), "");
    EXPECT_EQ(Take(sim, 1305), "17\r");
}

TEST(PrinterSim, SpeedChangeCodes)
{
    const struct {
        uint8_t code;
        uint32_t baud;
    } cases[] = {{0x26, 38400}, {0x39, 57600}, {0x73, 115200}, {0xE6, 230400}, {0x2E, 460800}, {0x55, 19200}};
    for (const auto& c : cases) {
        PrinterSim sim;
        Feed(sim, std::string("\x02\x48") + static_cast<char>(c.code), 10);
        EXPECT_EQ(sim.Baud(), c.baud) << int(c.code);
        ASSERT_EQ(sim.SpeedRequests().size(), 1u);
        EXPECT_EQ(sim.SpeedRequests()[0], c.baud == 19200 ? 0u : c.baud);
        EXPECT_EQ(Take(sim, 100), "") << "no reply to a speed change";
        EXPECT_FALSE(sim.ImageInProgress());
    }
}

TEST(PrinterSim, BytesAtTheWrongLineSpeedAreLost)
{
    PrinterSim sim;
    ASSERT_EQ(sim.SetLine(19200, 8, 0, 2, 0), 1);
    Feed(sim, bootQuery, 10);
    EXPECT_EQ(Take(sim, 20), "1.07\r");
    Feed(sim, "\x02\x48\x73", 30);
    ASSERT_EQ(sim.Baud(), 115200u);

    // The program forgot to follow the new speed.
    Feed(sim, "\xA5\x5A\x01\x02", 40);
    EXPECT_EQ(sim.GarbledBytes(), 4u);
    EXPECT_FALSE(sim.ImageInProgress());
    EXPECT_EQ(sim.Received().size(), 3u + 3u + 4u) << "the record keeps them all the same";

    sim.SetLine(115200, 8, 0, 2, 50);
    const std::string image = Image("2.18");
    Feed(sim, image, 60);
    EXPECT_EQ(sim.Image(), Bytes(image));
}

TEST(PrinterSim, ImageIsTakenWholeAndProgrammedAfterTheQuietTime)
{
    SimConfig config;
    config.quietMs = 400;
    PrinterSim sim(config);
    Feed(sim, bootQuery + flashQuery + firmwareQuery, 0);
    Take(sim, 10);

    const std::string image = Image("2.18");
    uint64_t now = 100;
    for (size_t at = 0; at < image.size(); at += 997, now += 50)
        Feed(sim, image.substr(at, 997), now);
    const uint64_t last = now - 50;
    EXPECT_EQ(Take(sim, last + 10), "") << "commands inside the image are not answered";

    sim.Tick(last + 399);
    EXPECT_TRUE(sim.ImageInProgress());
    EXPECT_EQ(sim.GetMode(), Mode::BootLoad);

    sim.Tick(last + 400);
    EXPECT_FALSE(sim.ImageInProgress());
    EXPECT_EQ(sim.GetMode(), Mode::Firmware);
    EXPECT_EQ(sim.ImagesProgrammed(), 1);
    EXPECT_EQ(sim.Image(), Bytes(image));
    EXPECT_EQ(sim.ImageCrc(), Crc32(sim.Image().data(), sim.Image().size()));
    EXPECT_EQ(sim.Revision(), "2.18");
    EXPECT_EQ(sim.Received().size(), 7u + image.size());

    Feed(sim, statusQuery, last + 1000);
    EXPECT_EQ(Take(sim, last + 1005), "ONLINE;READY;REV:MT600-2.18;PAGES:0042\r");
    EXPECT_EQ(sim.StatusQueriesAnswered(), 1);
}

TEST(PrinterSim, QuietTimeIsAtMostOneSecond)
{
    SimConfig config;
    config.quietMs = 5000;
    PrinterSim sim(config);
    Feed(sim, Image("2.18"), 0);
    sim.Tick(1000);
    EXPECT_EQ(sim.ImagesProgrammed(), 1);
}

TEST(PrinterSim, LateBytesFindTheImageAlreadyProgrammed)
{
    // Nobody ticked during the pause: the next bytes still come after programming.
    PrinterSim sim;
    Feed(sim, Image("2.19"), 0);
    Feed(sim, statusQuery, 5000);
    EXPECT_EQ(sim.Image().size(), Image("2.19").size());
    EXPECT_EQ(Take(sim, 5005), "ONLINE;READY;REV:MT600-2.19;PAGES:0042\r");
}

TEST(PrinterSim, ImageWithoutMarkerReportsTheDefaultRevision)
{
    SimConfig config;
    config.defaultRev = "9.99";
    config.status.text = "{model}|REV:{model}-{rev}";
    config.status.trail = "\x03";
    config.model = "X9";
    PrinterSim sim(config);
    Feed(sim, Image(""), 0);
    sim.Tick(2000);
    Feed(sim, statusQuery, 2000);
    EXPECT_EQ(Take(sim, 2100), "X9|REV:X9-9.99\x03");
}

TEST(PrinterSim, PendingBytesThatAreNoCommandBeginTheImage)
{
    PrinterSim sim;
    Feed(sim, flashQuery + "\x02\x99\x10", 0);
    EXPECT_EQ(Take(sim, 10), "29F160\r");
    EXPECT_EQ(sim.Image(), Bytes("\x02\x99\x10"));
}

TEST(PrinterSim, BootLoaderIgnoresStatusQueryAndTakesReset)
{
    PrinterSim sim;
    Feed(sim, statusQuery, 0);
    EXPECT_EQ(Take(sim, 100), "");
    EXPECT_FALSE(sim.ImageInProgress());
    EXPECT_EQ(sim.GetMode(), Mode::BootLoad);

    Feed(sim, resetSequence, 200);
    EXPECT_EQ(sim.ResetsSeen(), 1);
    EXPECT_EQ(sim.GetMode(), Mode::Firmware);
    EXPECT_FALSE(sim.ImageInProgress());
}

TEST(PrinterSim, FirmwareAnswersStatusAmongOtherDataAndTakesReset)
{
    SimConfig config;
    config.mode = Mode::Firmware;
    config.resetInto = Mode::BootLoad;
    PrinterSim sim(config);

    Feed(sim, bootQuery + flashQuery + firmwareQuery, 0);
    EXPECT_EQ(Take(sim, 100), "") << "a running printer does not answer the boot loader's queries";

    Feed(sim, "print data \x05", 200);
    Feed(sim, "\x15", 201);
    EXPECT_EQ(Take(sim, 300), "ONLINE;READY;REV:MT600-2.17;PAGES:0042\r");

    // A reset behind a stray ESC, in two pieces.
    Feed(sim, "\x1B" + resetSequence.substr(0, 6), 400);
    EXPECT_EQ(sim.ResetsSeen(), 0);
    Feed(sim, resetSequence.substr(6), 401);
    EXPECT_EQ(sim.ResetsSeen(), 1);
    EXPECT_EQ(sim.GetMode(), Mode::BootLoad);
    Feed(sim, bootQuery, 500);
    EXPECT_EQ(Take(sim, 600), "1.07\r");
}

TEST(PrinterSim, ReprogrammingReportsTheNewRevisionEverywhere)
{
    SimConfig config;
    config.resetInto = Mode::BootLoad;
    PrinterSim sim(config);
    Feed(sim, Image("2.18"), 0);
    sim.Tick(1000);
    Feed(sim, resetSequence, 1100);
    Feed(sim, firmwareQuery, 1200);
    EXPECT_EQ(Take(sim, 1300), "2.18\r");
}

TEST(PrinterSim, SlowReaderTakesBytesAtItsRate)
{
    SimConfig config;
    config.acceptBytesPerSecond = 1000;
    PrinterSim sim(config);
    const size_t first = sim.Accept(100000, 10000);
    EXPECT_EQ(first, 250u) << "a quarter second's worth at most";
    sim.Feed(std::vector<uint8_t>(first, 0xA5).data(), first, 10000);
    EXPECT_EQ(sim.Accept(100000, 10000), 0u);
    EXPECT_EQ(sim.Accept(100000, 10100), 100u);
}

TEST(PrinterSim, StalledReaderTakesNothingForAWhile)
{
    SimConfig config;
    config.stallAtByte = 1000;
    config.stallMs = 5000;
    config.quietMs = 500;
    PrinterSim sim(config);
    const std::vector<uint8_t> data(3000, 0xA5);
    ASSERT_EQ(sim.Accept(3000, 0), 1000u);
    sim.Feed(data.data(), 1000, 0);
    EXPECT_EQ(sim.Accept(3000, 1), 0u);
    sim.Tick(4999);
    EXPECT_EQ(sim.Accept(3000, 4999), 0u);
    EXPECT_EQ(sim.ImagesProgrammed(), 0) << "a printer that holds the line does not end the image";
    EXPECT_EQ(sim.Accept(3000, 5000), 3000u);
    sim.Tick(5499);
    EXPECT_EQ(sim.ImagesProgrammed(), 0) << "quiet time counts from the end of the stall";
    sim.Tick(5500);
    EXPECT_EQ(sim.ImagesProgrammed(), 1);
}

TEST(PrinterSim, StallForGood)
{
    SimConfig config;
    config.stallAtByte = 10;
    PrinterSim sim(config);
    const std::vector<uint8_t> data(10, 0xA5);
    sim.Feed(data.data(), 10, 0);
    EXPECT_EQ(sim.Accept(100, 1000000), 0u);
    EXPECT_EQ(sim.ImagesProgrammed(), 0);
}

TEST(PrinterSim, XoffHoldsTheLineThenXonReleasesIt)
{
    SimConfig config;
    config.xoffAtByte = 100;
    config.xoffHoldMs = 300;
    PrinterSim sim(config);
    const std::vector<uint8_t> data(200, 0xA5);
    ASSERT_EQ(sim.Accept(200, 0), 100u) << "reading stops at the byte that makes the printer send XOFF";
    sim.Feed(data.data(), 100, 0);
    EXPECT_TRUE(sim.XoffHeld());
    EXPECT_EQ(Take(sim, 0), "\x13");
    EXPECT_EQ(sim.Accept(200, 100), 0u);

    sim.Feed(data.data(), 5, 150); // a sender that ignores XOFF
    EXPECT_EQ(sim.BytesWhileHeld(), 5u);

    EXPECT_EQ(Take(sim, 299), "");
    EXPECT_EQ(Take(sim, 300), "\x11");
    EXPECT_FALSE(sim.XoffHeld());
    EXPECT_EQ(sim.Accept(200, 300), 200u);
}

TEST(PrinterSim, XoffHeldForGood)
{
    SimConfig config;
    config.xoffAtByte = 1;
    PrinterSim sim(config);
    Feed(sim, "\xA5", 0);
    EXPECT_EQ(Take(sim, 1000000), "\x13");
    EXPECT_TRUE(sim.XoffHeld());
    EXPECT_EQ(sim.Accept(10, 1000000), 0u);
}

TEST(PrinterSim, ConnectionDropsAtByteNOnce)
{
    SimConfig config;
    config.dropAtByte = 5;
    PrinterSim sim(config);
    EXPECT_EQ(sim.Accept(100, 0), 5u);
    Feed(sim, bootQuery + "\xA5\x5A\x01\x02", 0); // more than the printer takes
    EXPECT_TRUE(sim.Dropped());
    EXPECT_EQ(sim.Received().size(), 5u);
    EXPECT_EQ(Take(sim, 100), "") << "the reply is lost with the connection";
    EXPECT_EQ(sim.Accept(100, 100), 0u);

    sim.Reconnect(200);
    EXPECT_FALSE(sim.Dropped());
    EXPECT_EQ(sim.Accept(100, 200), 100u);
    Feed(sim, "\x03\x04", 200);
    EXPECT_FALSE(sim.Dropped());
    EXPECT_EQ(sim.Image(), Bytes("\xA5\x5A\x03\x04")) << "the printer keeps what came before the drop";
}

TEST(PrinterSim, RefusedLineSettingsLeaveTheLineAsItWas)
{
    SimConfig config;
    config.refuseSerialConfig = true;
    PrinterSim sim(config);
    EXPECT_EQ(sim.SetLine(19200, 8, 0, 2, 0, false), 1) << "the line as found is not a request";
    EXPECT_EQ(sim.SetLine(115200, 8, 0, 2, 10), 0);
    EXPECT_EQ(sim.LineBaud(), 19200u);
    EXPECT_EQ(sim.LinesRefused(), 1);
}

TEST(PrinterSim, RecordsWhenEachByteCame)
{
    PrinterSim sim;
    Feed(sim, bootQuery, 100);
    Feed(sim, flashQuery, 250);
    ASSERT_EQ(sim.Record().size(), 2u);
    EXPECT_EQ(sim.TimeOfByte(0), 100u);
    EXPECT_EQ(sim.TimeOfByte(2), 100u);
    EXPECT_EQ(sim.TimeOfByte(3), 250u);
    EXPECT_EQ(sim.TimeOfByte(4), 250u);
    EXPECT_EQ(sim.Received(), Bytes(bootQuery + flashQuery));
}

TEST(SimPeer, ServesThePrinterBehindTheFakePeerInterface)
{
    SimConfig config;
    config.dropAtByte = 6;
    SimPeer peer(config);
    marlet::FakePeer& fake = peer;

    marlet::CommConfig line;
    line.dcb.BaudRate = 19200;
    line.dcb.ByteSize = 8;
    line.dcb.StopBits = marlet::TwoStopBits;
    EXPECT_FALSE(fake.RefusesConfig(line, 0));
    fake.Configured(line, 0);
    EXPECT_EQ(peer.Sim().LineBaud(), 19200u);

    const std::string query = bootQuery + flashQuery;
    EXPECT_EQ(fake.Receive(reinterpret_cast<const uint8_t*>(query.data()), query.size(), 10), 5u);
    uint8_t reply[32];
    const size_t n = fake.Send(reply, sizeof reply, 20);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), n), "1.07\r29F160\r");

    const uint8_t more[] = {0xA5, 0x5A};
    EXPECT_EQ(fake.Receive(more, 2, 30), 1u);
    EXPECT_TRUE(fake.Gone());
    fake.Opened(40);
    EXPECT_FALSE(fake.Gone());
}

TEST(SimPeer, RefusesConfigurationWhenSwitchedTo)
{
    SimConfig config;
    config.refuseSerialConfig = true;
    SimPeer peer(config);
    marlet::CommConfig line;
    line.dcb.BaudRate = 115200;
    EXPECT_TRUE(peer.RefusesConfig(line, 0));
    EXPECT_EQ(peer.Sim().LinesRefused(), 1);
    EXPECT_EQ(peer.Sim().LineBaud(), 0u);
}

TEST(PrinterSim, DemoFilesAreProgrammedWithTheirRevision)
{
    const struct {
        const char* file;
        size_t size;
        const char* revision;
        uint32_t crc;
    } samples[] = {
        {"FW_small_218.bot", 2500, "2.18", 0x2a4431ee}, {"FW2207_218.bot", 65536, "2.18", 0x2e914ee3},
        {"FW_1M_218.bot", 1048576, "2.18", 0xe50d31b2}, {"FW_4M_218.bot", 4194304, "2.18", 0xc023f85d},
        {"FW_219.bot", 65536, "2.19", 0x969e5e28},
    };
    for (const auto& sample : samples) {
        std::ifstream in(std::string(MARLET_SOURCE_DIR "/samples/") + sample.file, std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
        ASSERT_EQ(bytes.size(), sample.size) << sample.file;
        EXPECT_NE(bytes[0], 0x00);
        EXPECT_NE(bytes[0], 0x02);
        bool seen[256] = {};
        for (uint8_t b : bytes)
            seen[b] = true;
        EXPECT_EQ(std::count(std::begin(seen), std::end(seen), true), 256) << sample.file;

        PrinterSim sim;
        sim.SetLine(19200, 8, 0, 2, 0);
        Feed(sim, bootQuery, 0);
        for (size_t at = 0; at < bytes.size(); at += 20000)
            sim.Feed(bytes.data() + at, std::min<size_t>(20000, bytes.size() - at), 100);
        sim.Tick(1100);
        EXPECT_EQ(sim.Image(), bytes) << sample.file;
        EXPECT_EQ(sim.Revision(), sample.revision) << sample.file;
        EXPECT_EQ(sim.ImageCrc(), sample.crc) << sample.file;
    }
}

} // namespace
