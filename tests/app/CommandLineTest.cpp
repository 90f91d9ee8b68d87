#include "support/Program.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace marlet::test {
namespace {

const std::string kNoPortReset =
    "I/O Port not specified, or I/O Port not specified before Reset printer request.";
const std::string kNoPortSetup =
    "I/O Port not specified, or I/O Port not specified before port setup request.";
const std::string kNoPortHandshake =
    "I/O Port not specified, or I/O Port not specified before handshaking setup request.";
const std::string kNotSerial = "Setup is only done on standard serial ports.";
const std::string kCloseOnError =
    "Closing communications Port due to an Error. Communications request Failed.";

bool Contains(const std::vector<std::string>& texts, const std::string& text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST(CommandLine, RecognisesEachOptionInEitherPrefixFormAndCase)
{
    struct Case {
        std::vector<std::string> args;
        std::string portName;
        std::string fileName;
        int quietMode;
    };
    const Case cases[] = {
        {{"-port:COM4"}, "COM4", "", 0},
        {{"/PORT:COM4"}, "COM4", "", 0},
        {{"port:COM4"}, "COM4", "", 0},
        {{"-port:COM4", "-port:COM6"}, "COM6", "", 0},
        {{"-readfile:N:\\FW2207_218.bot"}, "", "N:\\FW2207_218.bot", 0},
        {{"-READFILE:a b.bot"}, "", "a b.bot", 0},
        {{"-readfile"}, "", "", 0}, // no separator: not the option
        {{"-s"}, "", "", 1},
        {{"/S"}, "", "", 1},
        {{"-sa"}, "", "", 4},
        {{"-SA", "-s"}, "", "", 1},
        {{"-sab"}, "", "", 0}, // equality test
        {{"a.bot", "-misspelt", "--port:COM1"}, "", "", 0},
    };
    for (const Case& c : cases) {
        World w(c.args);
        Program p(w);
        p.Run();
        EXPECT_EQ(p.dialog->PortName, c.portName) << c.args[0];
        EXPECT_EQ(p.dialog->DLFileName, c.fileName) << c.args[0];
        EXPECT_EQ(QuietMode, c.quietMode) << c.args[0];
        EXPECT_FALSE(p.exitStatus) << c.args[0];
    }
}

TEST(CommandLine, DelayReadsItsValueAsTheCLibraryDoes)
{
    const std::pair<std::string, uint32_t> cases[] = {
        {"-delay:1500", 1500}, {"-delay:abc", 0}, {"-delay:-5", 0}, {"-delay: 42x", 42}, {"-delay:", 0},
    };
    for (const auto& [arg, ms] : cases) {
        World w({arg});
        Program(w).Run();
        ASSERT_EQ(w.clock.sleeps.size(), 1u) << arg;
        EXPECT_EQ(w.clock.sleeps[0], ms) << arg;
    }
}

TEST(CommandLine, ExitEndsWithTheLastVerifyResultAfterItsMessage)
{
    for (const std::string exitWord : {"-exit", "exitnow", "/EXIT"}) {
        World w({exitWord});
        Program p(w);
        p.Run();
        ASSERT_TRUE(p.exitStatus) << exitWord;
        EXPECT_EQ(*p.exitStatus, 0);
        EXPECT_EQ(w.BoxTexts(), std::vector<std::string>{"Exiting Printer Configuration."});
    }
}

TEST(CommandLine, ExitWritesTheSettings)
{
    World w({"-port:COM4", "-readfile:x.bot", "-exit"});
    Program(w).Run().End();
    RegValue value;
    ASSERT_TRUE(w.registry.Get(kKey, "DLFileName", value));
    EXPECT_EQ(value.data, "x.bot");
    ASSERT_TRUE(w.registry.Get(kKey, "PortName", value));
    EXPECT_EQ(value.data, "COM4");
}

TEST(CommandLine, ExitBeforeFlashSendsNothingAndLaterSecondPassOptionsNeverRun)
{
    World w({"-exit", "-flash", "-verify:2.18", "-readfile:late.bot"});
    Program p(w);
    p.Run();
    ASSERT_TRUE(p.exitStatus);
    EXPECT_TRUE(w.PortCalls().empty());
    EXPECT_EQ(p.dialog->DLFileName, "late.bot"); // a first-pass option written after -exit has run
    EXPECT_EQ(w.BoxTexts(), std::vector<std::string>{"Exiting Printer Configuration."});
}

TEST(CommandLine, PortActionsWithAnEmptyPortReportWithoutOpeningAnything)
{
    const std::pair<std::string, std::string> cases[] = {
        {"-reset", kNoPortReset},
        {"-resetall", kNoPortReset},
        {"-portsetup", kNoPortSetup},
        {"-portsetup:baud=9600", kNoPortSetup},
        {"-handshake:xon", kNoPortHandshake},
    };
    for (const auto& [arg, message] : cases) {
        World w({"-port:", arg});
        w.registry.SetString(kKey, "PortName", "COM1");
        Program p(w);
        p.Run();
        EXPECT_EQ(w.BoxTexts(), std::vector<std::string>{message}) << arg;
        EXPECT_TRUE(w.PortCalls().empty()) << arg;
        // First-pass boxes come before any window exists: no owner.
        ASSERT_FALSE(w.windows.boxes.empty());
        EXPECT_EQ(w.windows.boxes[0].owner, nullptr);
    }
}

TEST(CommandLine, QuietOptionsSilenceWhatFollowsThemOnly)
{
    struct Case {
        std::vector<std::string> args;
        bool resetMessageShown;
    };
    const Case cases[] = {
        {{"-port:", "-s", "-reset"}, true},   // -s belongs to the second pass
        {{"-port:", "-sa", "-reset"}, false}, // -sa before -reset silences it
        {{"-port:", "-reset", "-sa"}, true},  // and after it does not
    };
    for (const Case& c : cases) {
        World w(c.args);
        Program(w).Run();
        EXPECT_EQ(Contains(w.BoxTexts(), kNoPortReset), c.resetMessageShown) << c.args[1] << c.args[2];
    }
}

TEST(CommandLine, SetupAndHandshakeApplyOnlyToSerialPorts)
{
    World w({"-port:FILE", "-handshake:xon", "-portsetup:baud=9600"});
    w.comm.Add("FILE", FakeCommDevice::Kind::Device);
    Program(w).Run();
    EXPECT_EQ(w.BoxTexts(), (std::vector<std::string>{kNotSerial, kNotSerial}));
    EXPECT_EQ(w.comm.OpenHandles(), 0);
}

TEST(CommandLine, HandshakeValueIsLowerCasedAndTheLastKeywordTestWins)
{
    const std::pair<std::string, int> cases[] = {
        {"-handshake:XON", HandshakeXonXoff},      {"-handshake:hardware", HandshakeHardware},
        {"-handshake:xon,none", HandshakeNone},    {"-handshake:none-hardware", HandshakeNone},
        {"-handshake:nothing", HandshakeHardware}, // no keyword: stays as it was (from the stored record)
    };
    for (const auto& [arg, mode] : cases) {
        World w({"-port:COM5", arg});
        w.comm.Add("\\\\.\\COM5");
        CommConfig stored;
        stored.dcb.fOutxCtsFlow = 1;
        const auto bytes = stored.ToBytes();
        w.registry.Set(kKey, "Comm Data", RegBinary, std::string(bytes.begin(), bytes.end()));
        Program p(w);
        p.Run();
        EXPECT_EQ(p.dialog->Comm.GetHandshake(), mode) << arg;
        EXPECT_EQ(w.comm.OpenHandles(), 0) << arg;
        EXPECT_TRUE(w.windows.boxes.empty()) << arg;
    }
}

TEST(CommandLine, PortSetupStoresTheConfigurationGivenOnTheCommandLine)
{
    World w({"-port:COM5", "-portsetup:baud=9600 parity=N data=8 stop=1"});
    w.comm.Add("\\\\.\\COM5");
    w.comm.defaultConfigs["COM5"] = CommConfig{};
    Program(w).Run();
    RegValue stored;
    ASSERT_TRUE(w.registry.Get(kKey, "Comm data", stored));
    ASSERT_EQ(stored.data.size(), 52u);
    const CommConfig config = CommConfig::FromBytes(reinterpret_cast<const uint8_t*>(stored.data.data()));
    EXPECT_EQ(config.dcb.BaudRate, 9600u);
    EXPECT_EQ(config.dcb.ByteSize, 8);
    EXPECT_EQ(config.dcb.Parity, NoParity);
    EXPECT_EQ(config.dcb.StopBits, OneStopBit);
    EXPECT_EQ(w.comm.OpenHandles(), 0);
}

TEST(CommandLine, VerifyWithoutAPrinterFailsAndItsBoxIsOwnedByTheWindow)
{
    World w({"-verify:2.18", "-exit"});
    Program p(w);
    p.Run();
    ASSERT_TRUE(p.exitStatus);
    EXPECT_EQ(*p.exitStatus, 0);
    EXPECT_TRUE(Contains(w.BoxTexts(), "Verify Failed."));
    // Second-pass boxes are owned by the window.
    EXPECT_NE(w.windows.boxes.back().owner, nullptr);
}

TEST(CommandLine, AtoiLikeReadsAsTheCLibrary)
{
    const std::pair<std::string, long> cases[] = {
        {"1500", 1500}, {"  +7", 7}, {"-12ab", -12}, {"x1", 0}, {"", 0}, {"99999999999999999999", 2147483647},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(AtoiLike(text), value) << text;
}

} // namespace
} // namespace marlet::test
