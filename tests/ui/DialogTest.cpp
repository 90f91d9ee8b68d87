#include "support/Program.h"
#include "ui/AboutDlg.h"
#include "ui/Resource.h"

#include <gtest/gtest.h>

namespace marlet::test {
namespace {

const std::string kBusy =
    "Firmware download is in progress. You must wait for the Firmware download to complete or "
    "click on \"Abort Download\". \n\nIn the mean time don't be messing about by clicking on "
    "things.";

std::vector<std::string> Entries(MemoryDialogWindow& window) { return window.controls[IDC_PORT].entries; }

TEST(MainDialog, InitialStateAfterSetUp)
{
    World w;
    w.system.spoolerPorts = {"FILE:", "LPT1:", "COM1:", "com1:", "USB001", "COM10:"};
    w.registry.SetString(kKey, "PortName", "COM1");
    w.registry.SetString(kKey, "DLFileName", "/fw/a.bot");
    w.registry.SetDword(kKey, "DLSpeed", 7);
    w.registry.SetDword(kKey, "XonXoff", 1);
    Program p(w);
    p.Run();
    MemoryDialogWindow& window = *w.windows.window;
    // Sorted without regard to case, without duplicates ignoring case, FILE: never listed.
    EXPECT_EQ(Entries(window), (std::vector<std::string>{"COM10:", "COM1:", "LPT1:", "USB001"}));
    EXPECT_EQ(window.GetItemText(IDC_PORT), "COM1:");
    EXPECT_EQ(p.dialog->PortName, "COM1:");
    EXPECT_TRUE(window.IsItemEnabled(IDC_SPEED));
    EXPECT_TRUE(window.IsItemEnabled(IDC_SPEED_LABEL));
    EXPECT_EQ(window.GetItemText(IDC_FILE_NAME), "/fw/a.bot");
    EXPECT_EQ(window.SliderGetPos(IDC_SPEED), 5); // the slider shows its end while the index stays 7
    EXPECT_EQ(p.dialog->DLSpeed, 7);
    EXPECT_EQ(window.GetItemText(IDC_STATUS), "");
    EXPECT_EQ(MessageOwner, window.Handle());
    ASSERT_EQ(window.sysMenu.size(), 5u);
    EXPECT_EQ(window.sysMenu[1].text, "&About Download...");
    EXPECT_EQ(window.sysMenu[3].text, "No Messages");
    EXPECT_EQ(window.sysMenu[4].text, "XOn/XOff (serial)");
    EXPECT_FALSE(window.IsSysMenuChecked(IDM_NO_MESSAGES));
    EXPECT_TRUE(window.IsSysMenuChecked(IDM_XON_XOFF));
}

TEST(MainDialog, StoredPortSelection)
{
    struct Case {
        std::string stored;
        std::string selected;
        bool sliderEnabled;
    };
    const Case cases[] = {
        {"", "COM10:", true},                        // empty: the first entry
        {"com1", "COM1:", true},                     // ignoring case
        {"COM1", "COM1:", true},                     // never COM10: for COM1
        {"COM10", "COM10:", true},                   //
        {"LPT", "LPT1:", false},                     //
        {"192.0.2.7:9100", "192.0.2.7:9100", false}, // no entry begins with it: kept as given
        {"COM9", "COM9", false},                     // kept, without a colon: not a serial entry
    };
    for (const Case& c : cases) {
        World w;
        w.system.spoolerPorts = {"COM1:", "COM10:", "LPT1:"};
        w.registry.SetString(kKey, "PortName", c.stored);
        Program p(w);
        p.Run();
        EXPECT_EQ(p.dialog->PortName, c.selected) << c.stored;
        EXPECT_EQ(w.windows.window->IsItemEnabled(IDC_SPEED), c.sliderEnabled) << c.stored;
    }
}

TEST(MainDialog, OnlyTheFirstFiftyPortNamesAreOffered)
{
    World w;
    for (int i = 1; i <= 60; ++i)
        w.system.spoolerPorts.push_back("COM" + std::to_string(i) + ":");
    Program p(w);
    p.Run();
    EXPECT_EQ(w.windows.window->ComboGetCount(IDC_PORT), 50);
}

TEST(MainDialog, SelectionChangeFollowsTheSerialRuleAndIsRefusedDuringATransfer)
{
    World w;
    w.system.spoolerPorts = {"COM1:", "LPT1:", "USB001"};
    w.windows.script = [&](CDialog& d, MemoryDialogWindow& window) {
        auto& dlg = static_cast<CDownloadDlg&>(d);
        window.ComboSetCurSel(IDC_PORT, 1);
        dlg.OnComboSelChange(IDC_PORT);
        EXPECT_EQ(dlg.PortName, "LPT1:");
        EXPECT_FALSE(window.IsItemEnabled(IDC_SPEED));
        EXPECT_FALSE(window.IsItemEnabled(IDC_SPEED_LABEL));

        dlg.DownloadInProgress = 1;
        window.ComboSetCurSel(IDC_PORT, 0);
        dlg.OnComboSelChange(IDC_PORT);
        EXPECT_EQ(dlg.PortName, "LPT1:");
        EXPECT_EQ(window.GetItemText(IDC_PORT), "LPT1:");
        EXPECT_EQ(w.BoxTexts(), std::vector<std::string>{kBusy});
        dlg.DownloadInProgress = 0;
    };
    Program(w).Run();
}

TEST(MainDialog, SpeedSlider)
{
    struct Case {
        int code;
        int position;
        int noMessages;
        int answer;
        int32_t speed;
        std::string status;
        bool asked;
    };
    const Case cases[] = {
        {SB_LINERIGHT, 1, 0, IDYES, 1, "Serial Speed: 38400 Baud", false},
        {SB_THUMBTRACK, 3, 0, IDNO, 2, "Serial Speed: 57600 Baud", true},
        {SB_PAGERIGHT, 3, 0, IDYES, 3, "Serial Speed: 115200 Baud", true},
        {SB_LINERIGHT, 5, 1, IDNO, 5, "Serial Speed: 460800 Baud", false},
        {SB_THUMBPOSITION, 5, 0, IDYES, 0, "", false}, // not handled: nothing changes
        {SB_LEFT, 0, 0, IDYES, 0, "", false},
        {SB_RIGHT, 5, 0, IDYES, 0, "", false},
        {SB_ENDSCROLL, 5, 0, IDYES, 0, "", false},
    };
    for (const Case& c : cases) {
        World w;
        w.windows.answers = {c.answer};
        w.windows.script = [&](CDialog& d, MemoryDialogWindow& window) {
            auto& dlg = static_cast<CDownloadDlg&>(d);
            NoMessages = c.noMessages;
            QuietMode = 1; // has no effect on this question
            window.SliderSetPos(IDC_SPEED, c.position, false);
            dlg.OnHScroll(c.code, c.position, IDC_SPEED);
            EXPECT_EQ(dlg.DLSpeed, c.speed) << c.code << " " << c.position;
            EXPECT_EQ(window.GetItemText(IDC_STATUS), c.status) << c.code << " " << c.position;
            EXPECT_EQ(w.windows.boxes.size(), c.asked ? 1u : 0u) << c.code << " " << c.position;
            if (c.asked) {
                EXPECT_EQ(w.windows.boxes[0].caption, "Warning");
                EXPECT_EQ(w.windows.boxes[0].buttons, MessageButtons::YesNo);
                EXPECT_EQ(w.windows.boxes[0].owner, window.Handle());
            }
            if (c.answer == IDNO && c.asked) {
                EXPECT_EQ(window.SliderGetPos(IDC_SPEED), 2);
            }
        };
        Program(w).Run();
    }
}

TEST(MainDialog, FileChooser)
{
    World w;
    w.registry.SetString(kKey, "DLFileName", "C:\\fw\\a.bot");
    w.windows.fileAnswers = {std::nullopt, std::string("/home/t/b.cbl")};
    w.windows.script = [&](CDialog& d, MemoryDialogWindow& window) {
        auto& dlg = static_cast<CDownloadDlg&>(d);
        dlg.AbortRequested = 1;
        dlg.OnCommand(IDC_SELECT_FILE); // cancelled
        EXPECT_EQ(dlg.DLFileName, "C:\\fw\\a.bot");
        EXPECT_EQ(dlg.AbortRequested, 0);
        EXPECT_EQ(window.GetItemText(IDC_STATUS), "");
        dlg.OnCommand(IDC_SELECT_FILE); // confirmed
        EXPECT_EQ(dlg.DLFileName, "/home/t/b.cbl");
        EXPECT_EQ(window.GetItemText(IDC_FILE_NAME), "/home/t/b.cbl");
        EXPECT_EQ(window.GetItemText(IDC_STATUS), "Download File: /home/t/b.cbl");
        dlg.OnCommand(IDC_SELECT_FILE); // starts in the new file's folder
        dlg.DownloadInProgress = 1;
        dlg.OnCommand(IDC_SELECT_FILE); // refused: no dialog
        dlg.DownloadInProgress = 0;
    };
    Program(w).Run();
    ASSERT_EQ(w.windows.fileDialogs.size(), 3u);
    EXPECT_EQ(w.windows.fileDialogs[0].initialFolder, "C:\\fw\\");
    EXPECT_EQ(w.windows.fileDialogs[0].filter,
              "Boot files    (*.bot;*.cbt;*.cbf;*.cbl)|*.bot;*.cbt;*.cbf;*.cbl||");
    EXPECT_EQ(w.windows.fileDialogs[2].initialFolder, "/home/t/");
}

TEST(MainDialog, CloseIsGuardedAndCopiesTheFileBoxButEnterAndEscapeDoNot)
{
    for (const int command : {0, int(IDOK), int(IDCANCEL)}) {
        World w;
        w.windows.script = [&](CDialog& d, MemoryDialogWindow& window) {
            auto& dlg = static_cast<CDownloadDlg&>(d);
            window.SetItemText(IDC_FILE_NAME, "typed.bot");
            dlg.DownloadInProgress = 1;
            dlg.OnClose();
            EXPECT_FALSE(window.Ended());
            dlg.DownloadInProgress = 0;
            if (command == 0)
                dlg.OnClose();
            else
                dlg.OnCommand(command);
            EXPECT_TRUE(window.Ended());
        };
        Program p(w);
        p.Run();
        EXPECT_EQ(p.dialog->DLFileName, command == 0 ? "typed.bot" : "") << command;
        EXPECT_EQ(w.BoxTexts(), std::vector<std::string>{kBusy});
    }
}

TEST(MainDialog, SystemMenuSwitchesAndAbout)
{
    World w;
    w.windows.script = [&](CDialog& d, MemoryDialogWindow& window) {
        auto& dlg = static_cast<CDownloadDlg&>(d);
        dlg.OnSysCommand(IDM_NO_MESSAGES, 0);
        EXPECT_EQ(NoMessages, 1);
        EXPECT_TRUE(window.IsSysMenuChecked(IDM_NO_MESSAGES));
        dlg.OnSysCommand(IDM_NO_MESSAGES, 0);
        EXPECT_EQ(NoMessages, 0);
        EXPECT_FALSE(window.IsSysMenuChecked(IDM_NO_MESSAGES));
        dlg.OnSysCommand(IDM_XON_XOFF, 0);
        EXPECT_EQ(XonXoff, 1);
        EXPECT_TRUE(window.IsSysMenuChecked(IDM_XON_XOFF));
        dlg.OnSysCommand(IDM_ABOUTBOX | 0x5, 0); // the four low bits do not matter
        ASSERT_EQ(w.windows.windows.size(), 2u);
        EXPECT_EQ(w.windows.windows[1]->GetItemText(IDC_HELP_TEXT), AboutHelpText());
    };
    Program(w).Run();
}

TEST(MainDialog, AbortWhileIdleClearsTheStatusAndLeavesTheFlagSet)
{
    World w;
    w.windows.script = [&](CDialog& d, MemoryDialogWindow& window) {
        auto& dlg = static_cast<CDownloadDlg&>(d);
        dlg.SetStatus("something");
        dlg.OnCommand(IDC_ABORT_DOWNLOAD);
        EXPECT_EQ(window.GetItemText(IDC_STATUS), "");
        EXPECT_EQ(dlg.AbortRequested, 1);
    };
    Program(w).Run();
}

TEST(AboutBox, HelpTextLines)
{
    const std::string text = AboutHelpText();
    EXPECT_EQ(text.substr(0, 25), "Command Line options:\r\n\r\n");
    EXPECT_NE(text.find("  -portsetup:\"baud=9600 parity=N data=8 stop=1\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("  -readfile:c:\\path\\filename.ext\r\n"), std::string::npos);
    EXPECT_NE(text.find("  -s\r\n\r\n\r\nEX: Download.exe -port:COM4 -readfile:\"N:\\FW2207_218.bot\" -flash "
                        "-delay:1500 -verify:2.18 -exit\r\n"),
              std::string::npos);
    EXPECT_EQ(text.find("-sa"), std::string::npos);
}

} // namespace
} // namespace marlet::test
