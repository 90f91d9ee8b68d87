// The dialog layer on the Win32 dialog manager, with the program's own
// templates: controls, the shared combo rules, the system menu, and the
// messages that reach the dialog's handlers.
#include "framework/Afx.h"
#include "framework/MemoryWindow.h"
#include "framework/win32/Win32Windows.h"
#include "ui/Resource.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <windows.h>

#include <commctrl.h>

namespace marlet::testing {
namespace {

// A dialog whose hooks a test fills in; every handler call is recorded.
class ProbeDialog : public CDialog {
public:
    explicit ProbeDialog(int templateId) : CDialog(templateId) {}

    std::function<void(DialogWindow&)> init;
    std::function<void(int)> command;
    std::vector<std::string> calls;

    int OnInitDialog() override
    {
        if (init)
            init(*Window());
        return 1;
    }
    void OnCommand(int id) override
    {
        calls.push_back("command " + std::to_string(id));
        if (command)
            command(id);
        else
            CDialog::OnCommand(id);
    }
    void OnOK() override { calls.push_back("ok"); }
    void OnComboSelChange(int id) override
    {
        calls.push_back("selchange " + std::to_string(id) + " " + Window()->GetItemText(id));
    }
    void OnHScroll(int code, int position, int id) override
    {
        calls.push_back("hscroll " + std::to_string(code) + " " + std::to_string(position) + " " +
                        std::to_string(id));
    }
    void OnSysCommand(uint32_t command, intptr_t position) override
    {
        calls.push_back("syscommand " + std::to_string(command));
        CDialog::OnSysCommand(command, position);
    }
    void OnClose() override
    {
        calls.push_back("close");
        CDialog::OnClose();
    }
};

HWND Hwnd(DialogWindow& window) { return static_cast<HWND>(window.Handle()); }
HWND Item(DialogWindow& window, int id) { return ::GetDlgItem(Hwnd(window), id); }

const std::vector<std::string> kPorts = {"COM10:", "lpt1:", "COM1:", "IP_192.0.2.1:9100", "com2:", "FILE:"};

TEST(Win32Dialogs, ThePortSelectorOrdersAndSelectsLikeEveryOtherBackEnd)
{
    Win32WindowSystem system;
    ProbeDialog dialog(IDD_DOWNLOAD_DIALOG);
    std::vector<std::string> shown;
    std::vector<std::string> expected;
    dialog.init = [&](DialogWindow& window) {
        MemoryDialogWindow model;
        for (const std::string& port : kPorts) {
            window.ComboAddString(IDC_PORT, port);
            model.ComboAddString(IDC_PORT, port);
        }
        for (int i = 0; i < window.ComboGetCount(IDC_PORT); ++i)
            shown.push_back(window.ComboGetItem(IDC_PORT, i));
        for (int i = 0; i < model.ComboGetCount(IDC_PORT); ++i)
            expected.push_back(model.ComboGetItem(IDC_PORT, i));

        // COM1 is COM1:, never COM10:.
        const int com1 = window.ComboSelectString(IDC_PORT, "COM1");
        EXPECT_EQ(window.ComboGetItem(IDC_PORT, com1), "COM1:");
        EXPECT_EQ(window.GetItemText(IDC_PORT), "COM1:");
        EXPECT_EQ(window.ComboGetCurSel(IDC_PORT), com1);
        EXPECT_EQ(window.ComboGetItem(IDC_PORT, window.ComboSelectString(IDC_PORT, "com10")), "COM10:");
        // A name no entry begins with changes nothing.
        const int before = window.ComboGetCurSel(IDC_PORT);
        EXPECT_EQ(window.ComboSelectString(IDC_PORT, "COM3"), -1);
        EXPECT_EQ(window.ComboGetCurSel(IDC_PORT), before);
        EXPECT_EQ(window.ComboSelectString(IDC_PORT, ""), 0);
        window.EndDialog(IDOK);
    };
    EXPECT_EQ(system.RunModal(dialog), IDOK);
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(shown.size(), kPorts.size());
    EXPECT_EQ(dialog.Window(), nullptr);
}

TEST(Win32Dialogs, ControlsAndSystemMenuKeepWhatTheProgramSets)
{
    Win32WindowSystem system;
    ProbeDialog dialog(IDD_DOWNLOAD_DIALOG);
    dialog.init = [&](DialogWindow& window) {
        const std::string longText(400, 'x');
        window.SetItemText(IDC_STATUS, longText);
        EXPECT_EQ(window.GetItemText(IDC_STATUS), longText);
        window.SetItemText(IDC_FILE_NAME, "C:\\firmware\\FW2207_218.bot");
        window.EditCaretToEnd(IDC_FILE_NAME);
        DWORD start = 0;
        DWORD end = 0;
        ::SendMessageA(Item(window, IDC_FILE_NAME), EM_GETSEL, WPARAM(&start), LPARAM(&end));
        EXPECT_EQ(start, 26u);
        EXPECT_EQ(end, 26u);

        window.EnableItem(IDC_SPEED, false);
        EXPECT_FALSE(window.IsItemEnabled(IDC_SPEED));
        window.EnableItem(IDC_SPEED, true);
        EXPECT_TRUE(window.IsItemEnabled(IDC_SPEED));
        window.SliderSetRange(IDC_SPEED, 0, 5, true);
        window.SliderSetPos(IDC_SPEED, 3, true);
        EXPECT_EQ(window.SliderGetPos(IDC_SPEED), 3);
        window.SliderSetPos(IDC_SPEED, 9, true);
        EXPECT_EQ(window.SliderGetPos(IDC_SPEED), 5);

        ASSERT_TRUE(window.HasSysMenu());
        const HMENU menu = ::GetSystemMenu(Hwnd(window), FALSE);
        const int items = ::GetMenuItemCount(menu);
        window.AppendSysMenu(0, "");
        window.AppendSysMenu(IDM_NO_MESSAGES, "No Messages");
        EXPECT_EQ(::GetMenuItemCount(menu), items + 2);
        char text[32] = {};
        ::GetMenuStringA(menu, IDM_NO_MESSAGES, text, sizeof text, MF_BYCOMMAND);
        EXPECT_STREQ(text, "No Messages");
        window.CheckSysMenu(IDM_NO_MESSAGES, true);
        EXPECT_TRUE(window.IsSysMenuChecked(IDM_NO_MESSAGES));
        window.CheckSysMenu(IDM_NO_MESSAGES, false);
        EXPECT_FALSE(window.IsSysMenuChecked(IDM_NO_MESSAGES));

        window.SetIcon(IDR_MAINFRAME);
        EXPECT_NE(::SendMessageA(Hwnd(window), WM_GETICON, ICON_BIG, 0), 0);
        EXPECT_NE(::SendMessageA(Hwnd(window), WM_QUERYDRAGICON, 0, 0), 0);
        window.EndDialog(IDOK);
    };
    EXPECT_EQ(system.RunModal(dialog), IDOK);
}

TEST(Win32Dialogs, MessagesReachTheHandlersInOrder)
{
    Win32WindowSystem system;
    ProbeDialog dialog(IDD_DOWNLOAD_DIALOG);
    dialog.init = [&](DialogWindow& window) {
        const HWND hwnd = Hwnd(window);
        for (const std::string& port : kPorts)
            window.ComboAddString(IDC_PORT, port);
        window.SliderSetRange(IDC_SPEED, 0, 5, true);
        window.AppendSysMenu(IDM_XON_XOFF, "XOn/XOff (serial)");
        const HWND button = Item(window, IDC_GET_PRINTER_INFO);
        const HWND combo = Item(window, IDC_PORT);
        ::PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDC_GET_PRINTER_INFO, BN_CLICKED), LPARAM(button));
        // The user picks an entry in the list: the edit part still shows the old text
        // when the notification arrives.
        ::SendMessageA(combo, CB_SETCURSEL, 2, 0);
        ::SetWindowTextA(combo, "stale");
        ::PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDC_PORT, CBN_SELCHANGE), LPARAM(combo));
        ::PostMessageA(hwnd, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 4), LPARAM(Item(window, IDC_SPEED)));
        ::PostMessageA(hwnd, WM_SYSCOMMAND, IDM_XON_XOFF, 0);
        ::PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0); // Enter
        ::PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    };
    EXPECT_EQ(system.RunModal(dialog), IDCANCEL);
    const std::vector<std::string> expected = {
        "command " + std::to_string(IDC_GET_PRINTER_INFO),
        "selchange " + std::to_string(IDC_PORT) + " com2:", // the third entry in order
        "hscroll " + std::to_string(TB_THUMBTRACK) + " 4 " + std::to_string(IDC_SPEED),
        "syscommand " + std::to_string(IDM_XON_XOFF),
        "command " + std::to_string(IDOK),
        "ok",
        "syscommand " + std::to_string(SC_CLOSE),
        "close",
    };
    EXPECT_EQ(dialog.calls, expected);
}

TEST(Win32Dialogs, AnEndDuringAHandlerWaitsForItAndPumpingGoesOn)
{
    Win32WindowSystem system;
    ProbeDialog dialog(IDD_DOWNLOAD_DIALOG);
    bool stillThere = false;
    dialog.init = [&](DialogWindow& window) {
        ::PostMessageA(Hwnd(window), WM_COMMAND, MAKEWPARAM(IDC_DOWNLOAD_NOW, BN_CLICKED),
                       LPARAM(Item(window, IDC_DOWNLOAD_NOW)));
    };
    dialog.command = [&](int id) {
        if (id != IDC_DOWNLOAD_NOW)
            return;
        // A transfer: the dialog is ended from within, and later clicks are
        // dispatched by the transfer's own message pump.
        DialogWindow& window = *dialog.Window();
        dialog.EndDialog(IDCANCEL);
        ::PostMessageA(Hwnd(window), WM_COMMAND, MAKEWPARAM(IDC_ABORT_DOWNLOAD, BN_CLICKED),
                       LPARAM(Item(window, IDC_ABORT_DOWNLOAD)));
        system.PumpMessages();
        stillThere = ::IsWindow(Hwnd(window)) != 0 && dialog.Window() == &window;
    };
    EXPECT_EQ(system.RunModal(dialog), IDCANCEL);
    EXPECT_TRUE(stillThere);
    const std::vector<std::string> expected = {"command " + std::to_string(IDC_DOWNLOAD_NOW),
                                               "command " + std::to_string(IDC_ABORT_DOWNLOAD)};
    EXPECT_EQ(dialog.calls, expected);
}

TEST(Win32Dialogs, TheAboutBoxIsOwnedByTheMainWindowAndShownBeforeTheHook)
{
    Win32WindowSystem system;
    ProbeDialog main(IDD_DOWNLOAD_DIALOG);
    ProbeDialog about(IDD_ABOUTBOX);
    HWND mainHwnd = nullptr;
    HWND owner = nullptr;
    std::vector<int> shownTemplates;
    system.SetShownHook([&](Win32DialogWindow& window) {
        EXPECT_TRUE(::IsWindowVisible(static_cast<HWND>(window.Handle())));
        shownTemplates.push_back(window.Dialog().TemplateId());
        if (&window.Dialog() == &main) {
            EXPECT_EQ(system.RunModal(about), IDOK);
            main.EndDialog(IDCANCEL);
        } else {
            owner = ::GetWindow(static_cast<HWND>(window.Handle()), GW_OWNER);
            window.Dialog().EndDialog(IDOK);
        }
    });
    main.init = [&](DialogWindow& window) { mainHwnd = Hwnd(window); };
    about.init = [&](DialogWindow& window) {
        window.SetItemText(IDC_HELP_TEXT, "Command Line options:\r\n");
    };
    EXPECT_EQ(system.RunModal(main), IDCANCEL);
    EXPECT_EQ(owner, mainHwnd);
    EXPECT_EQ(shownTemplates, (std::vector<int>{IDD_DOWNLOAD_DIALOG, IDD_ABOUTBOX}));
    EXPECT_EQ(system.ActiveWindow(), nullptr);
}

TEST(Win32Dialogs, ATemplateThatIsNotThereRunsNothing)
{
    Win32WindowSystem system;
    ProbeDialog dialog(4242);
    bool initialised = false;
    dialog.init = [&](DialogWindow&) { initialised = true; };
    EXPECT_EQ(system.RunModal(dialog), -1);
    EXPECT_FALSE(initialised);
}

TEST(Win32Dialogs, TheFileFilterSeparatesWithZeroBytes)
{
    using namespace std::string_literals;
    EXPECT_EQ(Win32WindowSystem::NativeFilter("Boot files (*.bot;*.cbt)|*.bot;*.cbt||"),
              "Boot files (*.bot;*.cbt)\0*.bot;*.cbt\0\0"s);
    EXPECT_EQ(Win32WindowSystem::NativeFilter("All|*.*"), "All\0*.*\0\0"s);
}

} // namespace
} // namespace marlet::testing
