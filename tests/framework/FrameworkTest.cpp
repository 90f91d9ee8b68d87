#include "framework/Afx.h"
#include "framework/MemoryWindow.h"
#include "framework/headless/HeadlessWindows.h"
#include "platform/CommConfig.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace marlet {
namespace {

class Recorder : public CCommandLineInfo {
public:
    void ParseParam(const char* param, int flag, int last) override
    {
        seen.push_back(std::string(param) + "|" + std::to_string(flag) + "|" + std::to_string(last));
    }
    std::vector<std::string> seen;
};

TEST(CommandLineWalk, RemovesOneLeadingDashOrSlashInOrder)
{
    SetCommandLine({"prog", "-port:COM1", "/s", "exit", "--x", "//y", ""});
    Recorder r;
    CWinApp::ParseCommandLine(r);
    EXPECT_EQ(r.seen,
              (std::vector<std::string>{"port:COM1|1|0", "s|1|0", "exit|0|0", "-x|1|0", "/y|1|0", "|0|1"}));
}

TEST(Combo, SortsIgnoringCaseAndSelectsTheFirstEntryThatBeginsWithAName)
{
    MemoryDialogWindow w;
    for (const char* name : {"LPT1:", "com10:", "COM1:", "192.0.2.10:9100", "COM2:", "USB001"})
        w.ComboAddString(1, name);
    EXPECT_EQ(w.controls[1].entries,
              (std::vector<std::string>{"192.0.2.10:9100", "com10:", "COM1:", "COM2:", "LPT1:", "USB001"}));
    const std::pair<std::string, int> cases[] = {
        {"", 0},      {"COM1", 2},       {"com1:", 2},      {"COM10", 1}, {"COM", 1},
        {"COM3", -1}, {"192.0.2.1", -1}, {"192.0.2.10", 0}, {"US", 5},    {"USB0011", -1},
    };
    for (const auto& [name, index] : cases)
        EXPECT_EQ(combo::FindFirstBeginningWith(w.controls[1].entries, name), index) << name;
    EXPECT_EQ(w.ComboSelectString(1, "lpt"), 4);
    EXPECT_EQ(w.GetItemText(1), "LPT1:");
    EXPECT_EQ(w.ComboSelectString(1, "COM3"), -1);
    EXPECT_EQ(w.ComboGetCurSel(1), 4); // unchanged
}

TEST(SerialRecord, StoredFormIsTheFiftyTwoBytesOfTheRecord)
{
    CommConfig c;
    c.dwSize = 52;
    c.wVersion = 1;
    c.dcb.DCBlength = 28;
    c.dcb.BaudRate = 19200;
    c.dcb.fBinary = 1;
    c.dcb.fOutxCtsFlow = 1;
    c.dcb.fDtrControl = 1;
    c.dcb.fOutX = 1;
    c.dcb.fInX = 1;
    c.dcb.fRtsControl = 2;
    c.dcb.fDummy2 = 0x1ABCD;
    c.dcb.XonLim = 256;
    c.dcb.XoffLim = 100;
    c.dcb.ByteSize = 8;
    c.dcb.StopBits = TwoStopBits;
    c.dcb.XonChar = 17;
    c.dcb.XoffChar = 19;
    c.dwProviderSubType = 1;
    const auto bytes = c.ToBytes();
    // Offsets of the documented layout.
    EXPECT_EQ(bytes[0], 52);
    EXPECT_EQ(bytes[8], 28);                      // DCBlength
    EXPECT_EQ(bytes[12] | bytes[13] << 8, 19200); // BaudRate
    const uint32_t flags = bytes[16] | bytes[17] << 8 | bytes[18] << 16 | uint32_t(bytes[19]) << 24;
    EXPECT_EQ(flags & 0x7FFFu, 0x1u | 0x4u | 0x10u | 0x100u | 0x200u | 0x2000u);
    EXPECT_EQ(flags >> 15, 0x1ABCDu);
    EXPECT_EQ(bytes[22] | bytes[23] << 8, 256); // XonLim
    EXPECT_EQ(bytes[26], 8);                    // ByteSize
    EXPECT_EQ(bytes[28], TwoStopBits);
    EXPECT_EQ(bytes[29], 17);
    EXPECT_EQ(bytes[36], 1); // dwProviderSubType
    EXPECT_EQ(CommConfig::FromBytes(bytes.data()), c);
    std::array<uint8_t, 52> all{};
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = uint8_t(0xA5 ^ i);
    EXPECT_EQ(CommConfig::FromBytes(all.data()).ToBytes(), all);
}

// The headless layer's output to a log (not a terminal).
class HeadlessLog : public ::testing::Test {
protected:
    void SetUp() override { file_ = std::tmpfile(); }
    void TearDown() override { std::fclose(file_); }
    std::string Output()
    {
        std::fflush(file_);
        std::rewind(file_);
        std::string text;
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0)
            text.append(buffer, n);
        return text;
    }
    std::FILE* file_ = nullptr;
};

class StatusDialog : public CDialog {
public:
    StatusDialog() : CDialog(1) {}
    int OnInitDialog() override
    {
        Window()->SetItemText(7, "Communicating with Printer");
        Window()->RedrawNow();
        Window()->SetItemText(7, "Communicating with Printer");
        Window()->RedrawNow(); // the same text: not again
        Window()->SetItemText(7, "Flash Update In Progress, 41% Complete \r\n****");
        Window()->RedrawNow();
        Window()->SetItemText(7, "Done. Two paragraphs.");
        Window()->RedrawNow();
        Windows().MessageBox(nullptr, "Done.\nTwo paragraphs.", "Message", MessageButtons::Ok);
        answer = Windows().MessageBox(nullptr, "Continue?", "Warning", MessageButtons::YesNo);
        EndDialog(IDOK);
        return 1;
    }
    int answer = 0;
};

TEST_F(HeadlessLog, PlainLinesOnePerChangeAndEachMessageOnce)
{
    HeadlessWindowSystem system(7, file_, false, false);
    SetWindowSystem(&system);
    StatusDialog dialog;
    EXPECT_EQ(system.RunModal(dialog), IDOK);
    EXPECT_EQ(dialog.answer, IDNO); // no terminal: the safe answer
    SetWindowSystem(nullptr);
    EXPECT_EQ(Output(), "Communicating with Printer\n"
                        "Flash Update In Progress, 41% Complete  ****\n"
                        "Done.\nTwo paragraphs.\n"
                        "Continue?\n-> No\n");
}

TEST_F(HeadlessLog, ATerminalGetsOneLineUpdatedInPlace)
{
    HeadlessWindowSystem system(7, file_, true, false);
    SetWindowSystem(&system);
    StatusDialog dialog;
    system.RunModal(dialog);
    SetWindowSystem(nullptr);
    const std::string out = Output();
    EXPECT_EQ(out.find("\r\033[KCommunicating with Printer\r\033[KFlash Update In Progress"), 0u);
    EXPECT_NE(out.find("Done.\nTwo paragraphs.\n"), std::string::npos);
    // The status line of the message is erased in favour of the box.
    EXPECT_NE(out.find("Done. Two paragraphs.\r\033[KDone.\nTwo paragraphs.\n"), std::string::npos);
}

class SilentDialog : public CDialog {
public:
    SilentDialog() : CDialog(1) {}
    int OnInitDialog() override
    {
        if (fill) {
            Window()->ComboAddString(3, "LPT1:");
            Window()->ComboAddString(3, "COM1:");
        }
        return 1;
    }
    bool fill = false;
    void OnClose() override
    {
        closed = true;
        CDialog::OnClose();
    }
    bool closed = false;
};

TEST_F(HeadlessLog, ADialogThatIsNotEndedIsClosedAsIfByTheUser)
{
    HeadlessWindowSystem system(7, file_, false, false);
    SilentDialog dialog;
    dialog.fill = true;
    EXPECT_EQ(system.RunModal(dialog), IDCANCEL);
    EXPECT_TRUE(dialog.closed);
    const std::string out = Output();
    EXPECT_NE(out.find("window cannot be shown"), std::string::npos);
    EXPECT_NE(out.find("Offered in the selector: COM1:, LPT1:\n"), std::string::npos);
}

} // namespace
} // namespace marlet
