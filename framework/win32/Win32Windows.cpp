#include "framework/win32/Win32Windows.h"

#include "framework/MemoryWindow.h"

#include <cstdio>
#include <memory>

#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#undef MessageBox

namespace marlet {

namespace {

// Posted to a dialog at its creation; it arrives once the dialog manager has
// shown the window and runs its own message loop.
constexpr UINT kShownMessage = WM_APP + 0x51;
constexpr uint32_t kShownRetryMs = 50;

HWND ToHwnd(WindowHandle handle) { return static_cast<HWND>(handle); }

bool HasClass(HWND control, const char* name)
{
    char className[32] = {};
    return ::GetClassNameA(control, className, sizeof className) > 0 && ::lstrcmpiA(className, name) == 0;
}

std::string WindowText(HWND window)
{
    if (window == nullptr)
        return std::string();
    const int length = ::GetWindowTextLengthA(window);
    if (length <= 0)
        return std::string();
    std::string text(size_t(length) + 1, '\0');
    const int copied = ::GetWindowTextA(window, text.data(), length + 1);
    text.resize(size_t(copied > 0 ? copied : 0));
    return text;
}

std::string ComboItemText(HWND combo, int index)
{
    const LRESULT length = ::SendMessageA(combo, CB_GETLBTEXTLEN, WPARAM(index), 0);
    if (length == CB_ERR)
        return std::string();
    std::string text(size_t(length) + 1, '\0');
    const LRESULT copied =
        ::SendMessageA(combo, CB_GETLBTEXT, WPARAM(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == CB_ERR ? 0 : size_t(copied));
    return text;
}

HICON LoadIconResource(int resource, bool small)
{
    const int cx = ::GetSystemMetrics(small ? SM_CXSMICON : SM_CXICON);
    const int cy = ::GetSystemMetrics(small ? SM_CYSMICON : SM_CYICON);
    return static_cast<HICON>(
        ::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resource), IMAGE_ICON, cx, cy, LR_SHARED));
}

// What one modal run shares with its dialog procedure.
struct ModalRun {
    Win32WindowSystem& system;
    CDialog& dialog;
    std::unique_ptr<Win32DialogWindow> window;
};

INT_PTR CommandMessage(Win32DialogWindow& window, WPARAM wParam, LPARAM lParam)
{
    const int id = LOWORD(wParam);
    const int code = HIWORD(wParam);
    const HWND control = reinterpret_cast<HWND>(lParam);
    CDialog& dialog = window.Dialog();
    // Menu entries, accelerators, and Enter and Escape (IDOK, IDCANCEL) come without a control.
    if (control == nullptr || (code == BN_CLICKED && HasClass(control, "Button"))) {
        dialog.OnCommand(id);
        return TRUE;
    }
    if (code == CBN_SELCHANGE && HasClass(control, "ComboBox")) {
        // The edit part takes the chosen entry only after this notification;
        // the handler reads the selector's text, so it is put there first.
        const LRESULT index = ::SendMessageA(control, CB_GETCURSEL, 0, 0);
        if (index != CB_ERR)
            ::SetWindowTextA(control, ComboItemText(control, int(index)).c_str());
        dialog.OnComboSelChange(id);
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK DialogProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* run = reinterpret_cast<ModalRun*>(lParam);
        ::SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        run->window = std::make_unique<Win32DialogWindow>(run->system, run->dialog, hwnd);
        run->system.Opened(*run->window);
        run->dialog.AttachWindow(run->window.get());
        ::PostMessageA(hwnd, kShownMessage, 0, 0);
        return run->dialog.OnInitDialog() ? TRUE : FALSE;
    }
    auto* run = reinterpret_cast<ModalRun*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    if (run == nullptr || !run->window)
        return FALSE;
    Win32DialogWindow& window = *run->window;
    CDialog& dialog = run->dialog;
    switch (message) {
    case WM_COMMAND:
        return CommandMessage(window, wParam, lParam);
    case WM_SYSCOMMAND:
        // The appended entries and Close go to the dialog; moving, sizing and
        // the rest get the platform's own handling.
        if (window.IsOwnSysCommand(uint32_t(wParam)) || (wParam & 0xFFF0) == SC_CLOSE) {
            dialog.OnSysCommand(uint32_t(wParam), intptr_t(lParam));
            return TRUE;
        }
        return FALSE;
    case WM_HSCROLL: {
        const HWND control = reinterpret_cast<HWND>(lParam);
        dialog.OnHScroll(LOWORD(wParam), short(HIWORD(wParam)), control ? ::GetDlgCtrlID(control) : 0);
        return TRUE;
    }
    case WM_CLOSE:
        dialog.OnClose();
        return TRUE;
    case WM_PAINT:
        dialog.OnPaint();
        return FALSE; // the dialog manager paints the window
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(LoadIconResource(window.IconResource(), false));
    case WM_TIMER:
        return window.RunTimer(uintptr_t(wParam)) ? TRUE : FALSE;
    case kShownMessage:
        run->system.Shown(window);
        return TRUE;
    case WM_NCDESTROY:
        ::SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Win32DialogWindow

Win32DialogWindow::Win32DialogWindow(Win32WindowSystem& system, CDialog& dialog, WindowHandle hwnd)
    : system_(system), dialog_(dialog), hwnd_(hwnd)
{
}

Win32DialogWindow::~Win32DialogWindow() = default;

std::string Win32DialogWindow::GetItemText(int id) { return WindowText(::GetDlgItem(ToHwnd(hwnd_), id)); }

void Win32DialogWindow::SetItemText(int id, const std::string& text)
{
    ::SetDlgItemTextA(ToHwnd(hwnd_), id, text.c_str());
}

void Win32DialogWindow::EnableItem(int id, bool enable)
{
    ::EnableWindow(::GetDlgItem(ToHwnd(hwnd_), id), enable ? TRUE : FALSE);
}

bool Win32DialogWindow::IsItemEnabled(int id)
{
    return ::IsWindowEnabled(::GetDlgItem(ToHwnd(hwnd_), id)) != 0;
}

void Win32DialogWindow::RedrawNow()
{
    ::RedrawWindow(ToHwnd(hwnd_), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void Win32DialogWindow::Invalidate() { ::InvalidateRect(ToHwnd(hwnd_), nullptr, TRUE); }

std::vector<std::string> Win32DialogWindow::ComboEntries(int id)
{
    const HWND combo = ::GetDlgItem(ToHwnd(hwnd_), id);
    std::vector<std::string> entries;
    const LRESULT count = ::SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count && count != CB_ERR; ++i)
        entries.push_back(ComboItemText(combo, int(i)));
    return entries;
}

void Win32DialogWindow::ComboAddString(int id, const std::string& text)
{
    const size_t position = combo::InsertPosition(ComboEntries(id), text);
    // Inserting at a position never sorts, whatever the control's style.
    ::SendDlgItemMessageA(ToHwnd(hwnd_), id, CB_INSERTSTRING, WPARAM(position),
                          reinterpret_cast<LPARAM>(text.c_str()));
}

int Win32DialogWindow::ComboGetCount(int id)
{
    const LRESULT count = ::SendDlgItemMessageA(ToHwnd(hwnd_), id, CB_GETCOUNT, 0, 0);
    return count == CB_ERR ? 0 : int(count);
}

std::string Win32DialogWindow::ComboGetItem(int id, int index)
{
    return ComboItemText(::GetDlgItem(ToHwnd(hwnd_), id), index);
}

int Win32DialogWindow::ComboSelectString(int id, const std::string& text)
{
    const int index = combo::FindFirstBeginningWith(ComboEntries(id), text);
    if (index >= 0)
        ComboSetCurSel(id, index);
    return index;
}

void Win32DialogWindow::ComboSetCurSel(int id, int index)
{
    ::SendDlgItemMessageA(ToHwnd(hwnd_), id, CB_SETCURSEL, WPARAM(index), 0);
}

int Win32DialogWindow::ComboGetCurSel(int id)
{
    const LRESULT index = ::SendDlgItemMessageA(ToHwnd(hwnd_), id, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : int(index);
}

void Win32DialogWindow::SliderSetRange(int id, int minimum, int maximum, bool redraw)
{
    ::SendDlgItemMessageA(ToHwnd(hwnd_), id, TBM_SETRANGE, redraw ? TRUE : FALSE,
                          MAKELPARAM(minimum, maximum));
}

void Win32DialogWindow::SliderSetPos(int id, int position, bool redraw)
{
    ::SendDlgItemMessageA(ToHwnd(hwnd_), id, TBM_SETPOS, redraw ? TRUE : FALSE, LPARAM(position));
}

int Win32DialogWindow::SliderGetPos(int id)
{
    return int(::SendDlgItemMessageA(ToHwnd(hwnd_), id, TBM_GETPOS, 0, 0));
}

void Win32DialogWindow::EditCaretToEnd(int id)
{
    const HWND edit = ::GetDlgItem(ToHwnd(hwnd_), id);
    const int length = ::GetWindowTextLengthA(edit);
    ::SendMessageA(edit, EM_SETSEL, WPARAM(length), LPARAM(length));
    ::SendMessageA(edit, EM_SCROLLCARET, 0, 0);
}

bool Win32DialogWindow::HasSysMenu() { return ::GetSystemMenu(ToHwnd(hwnd_), FALSE) != nullptr; }

void Win32DialogWindow::AppendSysMenu(int command, const std::string& text)
{
    const HMENU menu = ::GetSystemMenu(ToHwnd(hwnd_), FALSE);
    if (menu == nullptr)
        return;
    if (command == 0 && text.empty()) {
        ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        return;
    }
    ::AppendMenuA(menu, MF_STRING, UINT_PTR(command), text.c_str());
    sysCommands_.insert(uint32_t(command));
}

void Win32DialogWindow::CheckSysMenu(int command, bool checked)
{
    if (const HMENU menu = ::GetSystemMenu(ToHwnd(hwnd_), FALSE))
        ::CheckMenuItem(menu, UINT(command), MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

bool Win32DialogWindow::IsSysMenuChecked(int command)
{
    const HMENU menu = ::GetSystemMenu(ToHwnd(hwnd_), FALSE);
    if (menu == nullptr)
        return false;
    const UINT state = ::GetMenuState(menu, UINT(command), MF_BYCOMMAND);
    return state != UINT(-1) && (state & MF_CHECKED) != 0;
}

bool Win32DialogWindow::IsOwnSysCommand(uint32_t command) const
{
    return sysCommands_.count(command) != 0 || sysCommands_.count(command & 0xFFF0u) != 0;
}

void Win32DialogWindow::SetIcon(int iconResource)
{
    iconResource_ = iconResource;
    ::SendMessageA(ToHwnd(hwnd_), WM_SETICON, ICON_BIG,
                   reinterpret_cast<LPARAM>(LoadIconResource(iconResource, false)));
    ::SendMessageA(ToHwnd(hwnd_), WM_SETICON, ICON_SMALL,
                   reinterpret_cast<LPARAM>(LoadIconResource(iconResource, true)));
}

bool Win32DialogWindow::IsIconic() { return ::IsIconic(ToHwnd(hwnd_)) != 0; }

void Win32DialogWindow::EndDialog(int result) { ::EndDialog(ToHwnd(hwnd_), INT_PTR(result)); }

void Win32DialogWindow::After(uint32_t milliseconds, std::function<void()> action)
{
    const uintptr_t id = nextTimer_++;
    timers_[id] = std::move(action);
    ::SetTimer(ToHwnd(hwnd_), id, milliseconds, nullptr);
}

bool Win32DialogWindow::RunTimer(uintptr_t timerId)
{
    auto found = timers_.find(timerId);
    if (found == timers_.end())
        return false;
    ::KillTimer(ToHwnd(hwnd_), timerId);
    const std::function<void()> action = std::move(found->second);
    timers_.erase(found);
    action();
    return true;
}

// ---------------------------------------------------------------------------
// Win32WindowSystem

Win32WindowSystem::Win32WindowSystem()
{
    // The trackbar is a common control.
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_BAR_CLASSES | ICC_STANDARD_CLASSES;
    ::InitCommonControlsEx(&classes);
}

Win32WindowSystem::~Win32WindowSystem() = default;

int Win32WindowSystem::MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                                  MessageButtons buttons)
{
    const UINT style = buttons == MessageButtons::YesNo ? MB_YESNO | MB_ICONWARNING : MB_OK;
    return ::MessageBoxA(ToHwnd(owner), text.c_str(), caption.c_str(), style);
}

int Win32WindowSystem::RunModal(CDialog& dialog)
{
    // Owned by the parent given, else by the dialog running now (the About box by the main window).
    HWND owner = nullptr;
    if (dialog.Parent() != nullptr && dialog.Parent()->GetSafeHwnd() != nullptr)
        owner = ToHwnd(dialog.Parent()->GetSafeHwnd());
    else if (!open_.empty())
        owner = ToHwnd(open_.back()->Handle());
    ModalRun run{*this, dialog, nullptr};
    const INT_PTR result =
        ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(dialog.TemplateId()), owner,
                          DialogProcedure, reinterpret_cast<LPARAM>(&run));
    if (run.window)
        Closed(*run.window);
    dialog.AttachWindow(nullptr);
    if (result == -1) {
        // No window to report in: said where a console or Wine's terminal shows it.
        std::fprintf(stderr, "The dialog window (template %d) could not be created, error %lu.\n",
                     dialog.TemplateId(), static_cast<unsigned long>(::GetLastError()));
    }
    return int(result);
}

void Win32WindowSystem::Closed(Win32DialogWindow& window)
{
    for (auto it = open_.begin(); it != open_.end(); ++it) {
        if (*it == &window) {
            open_.erase(it);
            return;
        }
    }
}

void Win32WindowSystem::Shown(Win32DialogWindow& window)
{
    if (!shownHook_)
        return;
    // A dialog whose initialisation is still running (a transfer started from
    // the command line pumps messages) is not on screen yet: ask again later.
    if (!::IsWindowVisible(ToHwnd(window.Handle()))) {
        window.After(kShownRetryMs, [this, &window] { Shown(window); });
        return;
    }
    shownHook_(window);
}

void Win32WindowSystem::PumpMessages()
{
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Left for the loop that owns the quit request.
            ::PostQuitMessage(int(message.wParam));
            return;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

std::string Win32WindowSystem::NativeFilter(const std::string& filter)
{
    std::string native = filter;
    for (char& c : native) {
        if (c == '|')
            c = '\0';
    }
    // The list ends with an empty name.
    while (native.size() < 2 || native[native.size() - 1] != '\0' || native[native.size() - 2] != '\0')
        native.push_back('\0');
    return native;
}

bool Win32WindowSystem::FileOpenDialog(WindowHandle owner, const std::string& filter,
                                       const std::string& initialFolder, std::string& path)
{
    const std::string nativeFilter = NativeFilter(filter);
    std::vector<char> file(32768, '\0');
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = ToHwnd(owner);
    dialog.lpstrFilter = nativeFilter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = DWORD(file.size());
    dialog.lpstrInitialDir = initialFolder.empty() ? nullptr : initialFolder.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_ENABLESIZING;
    if (!::GetOpenFileNameA(&dialog))
        return false;
    path = file.data();
    return true;
}

} // namespace marlet
