// The firmware download against the simulated printer: the wire, the virtual
// clock, the messages and the clean-up of every way out.
#include "ProtocolFixture.h"

#include "app/ProcessValues.h"

#include <algorithm>

namespace marlet::test {
namespace {

using sim::SimConfig;

const std::string kInformationQueries("\x00\x02\x42\x02\x45\x02\x4B", 7);
const std::string kBootCheck("\x00\x02\x42", 3);
constexpr size_t kCommandBytes = 10; // the information queries and the boot-mode check
const std::string kAborted = "Flash Update ABORTED.";
const std::string kCannotOpen = "Boot File Error !  Could not open file.";
const std::string kCannotRead = "Boot File Error !  Could not read file.";
const std::string kQuestion = "The bootloader in your printer has a of revision 1.96. Firmware downloading "
                              "cannot be done with this version "
                              "of the bootloader when the printer uses a USB interface. Also, if you are "
                              "using a RS232 serial interface and "
                              "the firmware download fails, you may need to try a different \"Serial "
                              "Performance\" setting.\n\n Continue?";

std::string DoneMessage(const std::string& file)
{
    return "Flash Update DONE. \n\nFile Downloaded: " + file +
           "\n\nYour printer should now reset and you should be able to use it.  \n\nIf your printer does "
           "not "
           "reset, disconnect the power cord and re-connect it to the power source.  If your printer has a "
           "red "
           "indicator light, the firmware download did not get programmed into the printer correctly.  "
           "Ensure "
           "that your cable connection is good and retry the download.  In the case of a serial "
           "communication "
           "equipped printer you may have to change the \"Serial Performance\" setting.";
}

enum class Port { Com1, Com3, LowerCaseCom1, Usb001, Network };

class DownloadTest : public ProtocolTest {
protected:
    GatedPrinter& Attach(Port port, SimConfig config = {})
    {
        switch (port) {
        case Port::Com1:
            return SerialPrinter(std::move(config));
        case Port::Com3:
            return SerialPrinter(std::move(config), "\\\\.\\COM3");
        case Port::LowerCaseCom1:
            return SerialPrinter(std::move(config), "\\\\.\\com1");
        case Port::Usb001:
            return UsbPrinter(std::move(config));
        case Port::Network:
            break;
        }
        return NetworkPrinter(std::move(config));
    }
    static std::string NameOf(Port port)
    {
        switch (port) {
        case Port::Com1:
            return "COM1";
        case Port::Com3:
            return "COM3";
        case Port::LowerCaseCom1:
            return "com1";
        case Port::Usb001:
            return "USB001";
        case Port::Network:
            break;
        }
        return kNetName;
    }

    // A download of a file of `size` bytes named fw.bot.
    CDownloadDlg& Prepare(Port port, size_t size)
    {
        world.files.files["fw.bot"] = ImageBytes(size);
        return Dialog(NameOf(port), "fw.bot");
    }

    // Every way out leaves the run cleaned up.
    void ExpectCleanedUp(CDownloadDlg& dlg)
    {
        EXPECT_EQ(dlg.DownloadInProgress, 0);
        EXPECT_FALSE(windows.catching);
        EXPECT_EQ(world.files.OpenCount(), 0);
        EXPECT_EQ(world.comm.OpenHandles(), 0);
        EXPECT_EQ(world.sockets.OpenSockets(), 0);
    }

    // The longest run of consecutive sleeps of ms milliseconds.
    size_t LongestRunOf(uint32_t ms) const
    {
        size_t longest = 0, run = 0;
        for (uint32_t s : world.clock.sleeps) {
            run = s == ms ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        return longest;
    }
};

TEST_F(DownloadTest, SendsTheFileAndReportsCompletion)
{
    GatedPrinter& p = Attach(Port::Com1);
    CDownloadDlg& dlg = Prepare(Port::Com1, 2500);
    std::vector<bool> catching;
    windows.onPump = [&] { catching.push_back(windows.catching && dlg.DownloadInProgress == 1); };

    ASSERT_EQ(dlg.DownloadFirmware(), 1);

    EXPECT_TRUE(SameBytes(AsText(p.Sim().Received()), kInformationQueries + kBootCheck + ImageBytes(2500)));
    EXPECT_TRUE(SameBytes(AsText(p.Sim().Image()), ImageBytes(2500)));
    EXPECT_EQ(p.RunsFrom(kCommandBytes), (std::vector<size_t>{1000, 1000, 500}));
    EXPECT_EQ(SleepsOf(150), 0u); // no pacing on a serial port without XON/XOFF
    EXPECT_EQ(ProgressShown(), (std::vector<int>{41, 81, 100}));
    EXPECT_EQ(catching, (std::vector<bool>{true, true, true}));

    // The boot-mode check and the transfer, each with its time-outs.
    EXPECT_EQ(world.comm.CallsStartingWith("SetCommTimeouts " + kCom1 + " 130/130/10000/130/10000").size(),
              2u);

    EXPECT_EQ(BoxTexts(), std::vector<std::string>{DoneMessage("fw.bot")});
    EXPECT_EQ(window.statuses.back(), "Flash Update DONE. \r\nFile Downloaded: fw.bot");
    EXPECT_NE(std::find(window.statuses.begin(), window.statuses.end(), "Flash Update Started. "),
              window.statuses.end());

    // The port stays open 5000 ms after the last block, then the outcome is shown.
    ASSERT_FALSE(p.closes.empty());
    EXPECT_EQ(p.closes.back() - p.Sim().Record().back().timeMs, 5000u);
    EXPECT_EQ(windows.times.back(), p.closes.back());
    ExpectCleanedUp(dlg);
}

struct BlockCase {
    const char* name;
    Port port;
    int32_t xonXoff;
    int32_t speed;
    size_t size;
    std::vector<size_t> blocks;
    bool paced;
    uint32_t newBaud; // 0: no speed change
};

class Blocks : public DownloadTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(Blocks, SizesPacingAndSpeed)
{
    const BlockCase& c = GetParam();
    GatedPrinter& p = Attach(c.port);
    CDownloadDlg& dlg = Prepare(c.port, c.size);
    XonXoff = c.xonXoff;
    dlg.DLSpeed = c.speed;

    ASSERT_EQ(dlg.DownloadFirmware(), 1);

    const size_t commandBytes = kCommandBytes + (c.newBaud != 0 ? 3 : 0);
    EXPECT_TRUE(SameBytes(AsText(p.Sim().Image()), ImageBytes(c.size)));
    EXPECT_EQ(p.Sim().GarbledBytes(), 0u);
    EXPECT_EQ(p.RunsFrom(commandBytes), c.blocks);
    EXPECT_EQ(SleepsOf(150), c.paced ? c.blocks.size() : 0u);
    const std::vector<uint32_t> requests =
        c.newBaud != 0 ? std::vector<uint32_t>{c.newBaud} : std::vector<uint32_t>{};
    EXPECT_EQ(p.Sim().SpeedRequests(), requests);
    EXPECT_EQ(ProgressShown().back(), 100);
    EXPECT_EQ(BoxTexts().back(), DoneMessage("fw.bot"));
    ExpectCleanedUp(dlg);
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, Blocks,
    ::testing::Values(
        BlockCase{"SerialPlain", Port::Com1, 0, 0, 2500, {1000, 1000, 500}, false, 0},
        BlockCase{"SerialXonXoffBelow115200", Port::Com1, 1, 2, 2500, {1000, 1000, 500}, true, 57600},
        BlockCase{"SerialHardware38400", Port::Com1, 0, 1, 1500, {1000, 500}, false, 38400},
        BlockCase{"SerialXonXoff115200", Port::Com3, 1, 3, 45000, {20000, 20000, 5000}, true, 115200},
        BlockCase{"SerialXonXoff230400", Port::Com1, 1, 4, 21000, {20000, 1000}, true, 230400},
        BlockCase{"SerialHardware460800", Port::Com1, 0, 5, 1500, {1000, 500}, false, 460800},
        BlockCase{"SpeedOutsideTheTable", Port::Com1, 1, 7, 1500, {1000, 500}, true, 0},
        BlockCase{"LowerCaseComName", Port::LowerCaseCom1, 0, 3, 1500, {1000, 500}, false, 0},
        BlockCase{"UsbPrinterPort", Port::Usb001, 0, 5, 2500, {1000, 1000, 500}, true, 0},
        BlockCase{"NetworkPort", Port::Network, 0, 3, 2500, {1000, 1000, 500}, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloadTest, SpeedChangeThenReopenAtTheNewSpeed)
{
    GatedPrinter& p = Attach(Port::Com3);
    CDownloadDlg& dlg = Prepare(Port::Com3, 45000);
    XonXoff = 1;
    dlg.DLSpeed = 3;

    ASSERT_EQ(dlg.DownloadFirmware(), 1);

    const std::string received = AsText(p.Sim().Received());
    EXPECT_EQ(received.substr(0, kCommandBytes + 3), kInformationQueries + kBootCheck + "\x02\x48\x73");

    // 800 ms after the command the port is closed, and 800 ms later opened
    // again at the new speed with the save flag.
    uint64_t commandAt = 0;
    for (const sim::ReceivedRun& run : p.Sim().Record())
        if (run.offset == kCommandBytes)
            commandAt = run.timeMs;
    ASSERT_NE(commandAt, 0u);
    ASSERT_TRUE(std::find(p.closes.begin(), p.closes.end(), commandAt + 800) != p.closes.end());
    ASSERT_TRUE(std::find(p.opens.begin(), p.opens.end(), commandAt + 1600) != p.opens.end());
    const CommConfig& reopened = p.configs.back();
    EXPECT_EQ(reopened.dcb.BaudRate, 115200u);
    EXPECT_EQ(reopened.dcb.ByteSize, 8);
    EXPECT_EQ(reopened.dcb.Parity, NoParity);
    EXPECT_EQ(reopened.dcb.StopBits, TwoStopBits);
    EXPECT_EQ(dlg.Comm.SetupString, "baud=115200 parity=N data=8 stop=2");
    EXPECT_EQ(dlg.Comm.SaveConfig, 1);
    // Flow control and time-outs set after the first open carry over the re-open.
    EXPECT_EQ(dlg.Comm.GetHandshake(), HandshakeXonXoff);
    EXPECT_EQ(p.RunsFrom(kCommandBytes + 3), (std::vector<size_t>{20000, 20000, 5000}));
}

TEST_F(DownloadTest, FailedReopenAfterSpeedChangeLeavesTheDialogUsable)
{
    GatedPrinter& p = Attach(Port::Com1);
    CDownloadDlg& dlg = Prepare(Port::Com1, 1500);
    dlg.DLSpeed = 2;
    // The port disappears once the speed change has been sent.
    p.onClosed = [&] {
        if (p.Sim().SpeedRequests().size() == 1)
            world.comm[kCom1].exists = false;
    };

    EXPECT_EQ(dlg.DownloadFirmware(), 0);

    EXPECT_EQ(BoxTexts().back(), kCloseOnError);
    EXPECT_TRUE(p.Sim().Image().empty());
    ExpectCleanedUp(dlg);
}

struct QuestionCase {
    const char* name;
    Port port;
    int32_t noMessages;
    int32_t quietMode;
    int answer;
    bool asked;
    int result;
};

class RevisionQuestion : public DownloadTest, public ::testing::WithParamInterface<QuestionCase> {};

TEST_P(RevisionQuestion, AskedOnComNamesUnlessNoMessages)
{
    const QuestionCase& c = GetParam();
    SimConfig config;
    config.bootRev.text = "V1.96a";
    GatedPrinter& p = Attach(c.port, config);
    CDownloadDlg& dlg = Prepare(c.port, 1500);
    NoMessages = c.noMessages;
    QuietMode = c.quietMode;
    windows.answers = {c.answer};

    EXPECT_EQ(dlg.DownloadFirmware(), c.result);

    const auto question = std::find_if(windows.boxes.begin(), windows.boxes.end(),
                                       [](const auto& box) { return box.buttons == MessageButtons::YesNo; });
    ASSERT_EQ(question != windows.boxes.end(), c.asked);
    if (c.asked) {
        EXPECT_EQ(question->text, kQuestion);
        EXPECT_EQ(question->caption, "Warning");
        EXPECT_EQ(question->owner, dlg.GetSafeHwnd());
    }
    if (c.result == 0) {
        // Answered No: nothing more happens.
        EXPECT_EQ(AsText(p.Sim().Received()), kInformationQueries);
        EXPECT_EQ(window.statuses.back(), "Printer information read out of printer");
        EXPECT_EQ(windows.boxes.size(), 1u);
    } else {
        EXPECT_TRUE(SameBytes(AsText(p.Sim().Image()), ImageBytes(1500)));
    }
    ExpectCleanedUp(dlg);
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, RevisionQuestion,
    ::testing::Values(QuestionCase{"ComAnsweredNo", Port::Com1, 0, 0, IDNO, true, 0},
                      QuestionCase{"ComAnsweredYes", Port::Com1, 0, 0, IDYES, true, 1},
                      QuestionCase{"NoMessagesSkipsIt", Port::Com1, 1, 0, IDNO, false, 1},
                      QuestionCase{"QuietModeStillAsks", Port::Com1, 0, 1, IDNO, true, 0},
                      QuestionCase{"LowerCaseComName", Port::LowerCaseCom1, 0, 0, IDNO, false, 1},
                      QuestionCase{"UsbPrinterPort", Port::Usb001, 0, 0, IDNO, false, 1},
                      QuestionCase{"NetworkPort", Port::Network, 0, 0, IDNO, false, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloadTest, BootModeCheckWithoutReplyStopsBeforeTheFile)
{
    GatedPrinter& p = Attach(Port::Com1);
    CDownloadDlg& dlg = Prepare(Port::Com1, 1500);
    // The printer answers the information queries, then falls silent.
    p.onClosed = [&] { p.mute = p.Sim().Received().size() >= kInformationQueries.size(); };

    EXPECT_EQ(dlg.DownloadFirmware(), 0);

    EXPECT_EQ(AsText(p.Sim().Received()), kInformationQueries + kBootCheck);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{kNotInBootMode});
    EXPECT_EQ(world.files.reads, 0);
    EXPECT_EQ(std::find(window.statuses.begin(), window.statuses.end(), "Flash Update Started. "),
              window.statuses.end());
    ExpectCleanedUp(dlg);
}

struct FileCase {
    const char* name;
    const char* content; // nullptr: no such file
    std::vector<std::string> lastBoxes;
    int result;
    size_t imageBytes;
};

class FileProblems : public DownloadTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(FileProblems, ReportedAndCleanedUp)
{
    const FileCase& c = GetParam();
    GatedPrinter& p = Attach(Port::Com1);
    CDownloadDlg& dlg = Dialog("COM1", "fw.bot");
    if (c.content != nullptr)
        world.files.files["fw.bot"] = c.content;

    EXPECT_EQ(dlg.DownloadFirmware(), c.result);

    const std::vector<std::string> boxes = BoxTexts();
    ASSERT_GE(boxes.size(), c.lastBoxes.size());
    EXPECT_EQ(std::vector<std::string>(boxes.end() - long(c.lastBoxes.size()), boxes.end()), c.lastBoxes);
    EXPECT_EQ(p.Sim().Image().size(), c.imageBytes);
    ExpectCleanedUp(dlg);
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, FileProblems,
    ::testing::Values(FileCase{"ZeroLength", "", {"Zero length file error !", kCloseOnError}, 0, 0},
                      FileCase{"CannotOpen", nullptr, {kCannotOpen}, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// The first block goes out, the second read fails: the run ends as at the end
// of the file, with its own message in place of the completion message.
TEST_F(DownloadTest, ReadFailureEndsAfterTheEndPause)
{
    GatedPrinter& p = Attach(Port::Com1);
    CDownloadDlg& dlg = Prepare(Port::Com1, 2500);
    world.files.failReadAfter = 1;

    EXPECT_EQ(dlg.DownloadFirmware(), 1);

    EXPECT_EQ(p.Sim().Image().size(), 1000u);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{kCannotRead});
    EXPECT_EQ(window.statuses.back(), kCannotRead);
    EXPECT_EQ(windows.times.back() - p.Sim().Record().back().timeMs, 5000u);
    ExpectCleanedUp(dlg);
}

TEST_F(DownloadTest, PartialWriteContinuedAfter100ms)
{
    // The printer takes 400 bytes of the first block and then nothing until
    // the window has had its turn.
    GatedPrinter& p = Attach(Port::Com1);
    CDownloadDlg& dlg = Prepare(Port::Com1, 2500);
    bool held = true;
    p.limitInput = [&](size_t received) -> size_t {
        return held ? kCommandBytes + 400 - std::min(received, kCommandBytes + 400) : SIZE_MAX;
    };
    windows.onPump = [&] { held = false; };

    ASSERT_EQ(dlg.DownloadFirmware(), 1);

    const std::vector<uint32_t>& sizes = world.comm[kCom1].writeSizes;
    ASSERT_GE(sizes.size(), 5u);
    // The port's own retry of the rest, then the download's next pass with it.
    EXPECT_EQ(std::vector<uint32_t>(sizes.end() - 5, sizes.end()),
              (std::vector<uint32_t>{1000, 600, 600, 1000, 500}));
    const auto portRetry = std::find(world.clock.sleeps.begin(), world.clock.sleeps.end(), 2000u);
    ASSERT_NE(portRetry, world.clock.sleeps.end());
    ASSERT_NE(portRetry + 1, world.clock.sleeps.end());
    EXPECT_EQ(*(portRetry + 1), 100u);
    EXPECT_EQ(ProgressShown(), (std::vector<int>{17, 41, 81, 100}));
    // Every byte went over the line once, in order (the gate stands for the
    // line, so the printer itself saw a pause and may have programmed early).
    EXPECT_TRUE(SameBytes(world.comm[kCom1].written, kInformationQueries + kBootCheck + ImageBytes(2500)));
    EXPECT_EQ(BoxTexts().back(), DoneMessage("fw.bot"));
}

TEST_F(DownloadTest, ReadinessPollIsBounded)
{
    // XOFF after the first block, held for good: each pass polls 1000 times
    // 10 ms, then writes anyway (the port refuses while held); the stalled
    // transfer ends as an abort.
    SimConfig config;
    config.xoffAtByte = kCommandBytes + 1000;
    GatedPrinter& p = Attach(Port::Com1, config);
    CDownloadDlg& dlg = Prepare(Port::Com1, 3000);
    XonXoff = 1;

    EXPECT_EQ(dlg.DownloadFirmware(), 1);

    EXPECT_EQ(LongestRunOf(10), 1000u);
    EXPECT_EQ(p.Sim().Image().size(), 1000u);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{kAborted});
    ExpectCleanedUp(dlg);
}

TEST_F(DownloadTest, ReadinessPollStopsAtTheFirstReadyAnswer)
{
    SimConfig config;
    config.xoffAtByte = kCommandBytes + 1000;
    config.xoffHoldMs = 2000;
    GatedPrinter& p = Attach(Port::Com1, config);
    CDownloadDlg& dlg = Prepare(Port::Com1, 3000);
    XonXoff = 1;

    EXPECT_EQ(dlg.DownloadFirmware(), 1);

    const size_t polls = LongestRunOf(10);
    EXPECT_GT(polls, 150u);
    EXPECT_LE(polls, 200u);
    EXPECT_TRUE(SameBytes(AsText(p.Sim().Image()), ImageBytes(3000)));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{DoneMessage("fw.bot")});
}

TEST_F(DownloadTest, StalledPrinterEndsAsAnAbort)
{
    SimConfig config;
    config.stallAtByte = kCommandBytes + 1500; // reads nothing more, for good
    GatedPrinter& p = Attach(Port::Com1, config);
    CDownloadDlg& dlg = Prepare(Port::Com1, 3000);

    EXPECT_EQ(dlg.DownloadFirmware(), 1);

    EXPECT_EQ(p.Sim().Image().size(), 1500u);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{kAborted});
    EXPECT_EQ(dlg.AbortRequested, 1);
    // Progress never claims more than was accepted.
    const std::vector<int> shown = ProgressShown();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(*std::max_element(shown.begin(), shown.end()), 51);
    // Bounded: at most one pass of the port's own retries beyond the 60 s.
    const uint64_t lastByte = p.Sim().Record().back().timeMs;
    EXPECT_LT(windows.times.back() - lastByte, 200000u);
    ExpectCleanedUp(dlg);
}

TEST_F(DownloadTest, AbortSeenAfterTheCurrentBlock)
{
    GatedPrinter& p = Attach(Port::Com1);
    CDownloadDlg& dlg = Prepare(Port::Com1, 5000);
    int pumps = 0;
    windows.onPump = [&] {
        ++pumps;
        if (pumps == 1)
            dlg.OnGetPrinterInfo(); // refused: the transfer goes on
        if (pumps == 2)
            dlg.OnAbortDownload();
    };

    EXPECT_EQ(dlg.DownloadFirmware(), 1);

    EXPECT_EQ(pumps, 2);
    EXPECT_EQ(p.Sim().Image().size(), 2000u);
    const std::vector<std::string> boxes = BoxTexts();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].rfind("Firmware download is in progress.", 0), 0u);
    EXPECT_EQ(boxes[1], kAborted);
    EXPECT_EQ(window.statuses.back(), kAborted);
    // Shown only after the end pause, with the port closed.
    EXPECT_EQ(windows.times.back() - p.Sim().Record().back().timeMs, 5000u);
    EXPECT_EQ(windows.times.back(), p.closes.back());
    ExpectCleanedUp(dlg);
}

TEST_F(DownloadTest, NetworkPortPausesTenSeconds)
{
    GatedPrinter& p = Attach(Port::Network);
    CDownloadDlg& dlg = Prepare(Port::Network, 2500);

    ASSERT_EQ(dlg.DownloadFirmware(), 1);

    EXPECT_TRUE(SameBytes(AsText(p.Sim().Image()), ImageBytes(2500)));
    EXPECT_NE(std::find(world.clock.sleeps.begin(), world.clock.sleeps.end(), 10000u),
              world.clock.sleeps.end());
    EXPECT_EQ(SleepsOf(5000), 0u);
    const uint64_t pause = windows.times.back() - p.Sim().Record().back().timeMs;
    EXPECT_GE(pause, 10000u);
    EXPECT_LT(pause, 12500u); // plus the bounded graceful close
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{DoneMessage("fw.bot")});
    ExpectCleanedUp(dlg);
}

TEST_F(DownloadTest, ImageNeverSubstituted)
{
    // A substitution pair that matches bytes of the short last block (1000 and
    // 1001 of the file: AD B4): commands may be rewritten, the image is not.
    world.registry.SetDword(kKey, "DoExtra", 1);
    world.registry.Set(kKey, "Pattern1", RegBinary, "\xAD\xB4");
    world.registry.Set(kKey, "Conversion1", RegBinary, "Z");
    GatedPrinter& p = Attach(Port::Com1);
    CDownloadDlg& dlg = Prepare(Port::Com1, 1300);
    ASSERT_EQ(ImageBytes(1300).substr(1000, 2), "\xAD\xB4");

    ASSERT_EQ(dlg.DownloadFirmware(), 1);

    EXPECT_TRUE(SameBytes(AsText(p.Sim().Image()), ImageBytes(1300)));
    EXPECT_EQ(dlg.Comm.DoExtra, 1u);
}

} // namespace
} // namespace marlet::test
