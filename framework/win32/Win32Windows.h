// The window layer on the Win32 dialog manager: dialogs run modally from the
// templates compiled into the program, their messages dispatched to the
// dialog's handlers; message boxes, the file-open dialog and the message pump.
#pragma once

#include "framework/Afx.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace marlet {

class Win32WindowSystem;

// A dialog on screen, addressed through its window handle.
class Win32DialogWindow : public DialogWindow {
public:
    Win32DialogWindow(Win32WindowSystem& system, CDialog& dialog, WindowHandle hwnd);
    ~Win32DialogWindow() override;
    Win32DialogWindow(const Win32DialogWindow&) = delete;
    Win32DialogWindow& operator=(const Win32DialogWindow&) = delete;

    WindowHandle Handle() override { return hwnd_; }
    std::string GetItemText(int id) override;
    void SetItemText(int id, const std::string& text) override;
    void EnableItem(int id, bool enable) override;
    bool IsItemEnabled(int id) override;
    void RedrawNow() override;
    void Invalidate() override;
    // The list is kept unsorted by the control: entries go in at the place the
    // shared rule gives, so every back end orders and selects alike.
    void ComboAddString(int id, const std::string& text) override;
    int ComboGetCount(int id) override;
    std::string ComboGetItem(int id, int index) override;
    int ComboSelectString(int id, const std::string& text) override;
    void ComboSetCurSel(int id, int index) override;
    int ComboGetCurSel(int id) override;
    void SliderSetRange(int id, int minimum, int maximum, bool redraw) override;
    void SliderSetPos(int id, int position, bool redraw) override;
    int SliderGetPos(int id) override;
    void EditCaretToEnd(int id) override;
    bool HasSysMenu() override;
    void AppendSysMenu(int command, const std::string& text) override;
    void CheckSysMenu(int command, bool checked) override;
    bool IsSysMenuChecked(int command) override;
    void SetIcon(int iconResource) override;
    bool IsIconic() override;
    // The dialog manager ends the modal run once the running handler has returned.
    void EndDialog(int result) override;

    CDialog& Dialog() { return dialog_; }
    int IconResource() const { return iconResource_; }
    // Whether a system command is one the dialog appended to its system menu.
    bool IsOwnSysCommand(uint32_t command) const;
    // Runs action after a pause, from the dialog's own message loop.
    void After(uint32_t milliseconds, std::function<void()> action);
    // Runs the action of a timer set with After; false for other timers.
    bool RunTimer(uintptr_t timerId);

private:
    std::vector<std::string> ComboEntries(int id);

    Win32WindowSystem& system_;
    CDialog& dialog_;
    WindowHandle hwnd_;
    int iconResource_ = 0;
    std::set<uint32_t> sysCommands_;
    std::map<uintptr_t, std::function<void()>> timers_;
    uintptr_t nextTimer_ = 1;
};

class Win32WindowSystem : public WindowSystem {
public:
    Win32WindowSystem();
    ~Win32WindowSystem() override;

    int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                   MessageButtons buttons) override;
    // DialogBoxParam of the dialog's template from the program's resources;
    // -1 when the dialog cannot be created.
    int RunModal(CDialog& dialog) override;
    void PumpMessages() override;
    bool FileOpenDialog(WindowHandle owner, const std::string& filter, const std::string& initialFolder,
                        std::string& path) override;
    // Windows delivers no interrupt signal to a program with a window: nothing to catch.
    void CatchInterrupts(bool) override {}

    // Called once a dialog is on screen (a self-grab, a test acting as the user).
    using ShownHook = std::function<void(Win32DialogWindow&)>;
    void SetShownHook(ShownHook hook) { shownHook_ = std::move(hook); }

    // The innermost dialog running, or nullptr.
    Win32DialogWindow* ActiveWindow() const { return open_.empty() ? nullptr : open_.back(); }

    // The dialog class library's filter ("name|patterns|...||") with its bars
    // turned into the zero bytes the platform's file dialog separates with.
    static std::string NativeFilter(const std::string& filter);

    // For the dialog procedure.
    void Opened(Win32DialogWindow& window) { open_.push_back(&window); }
    void Closed(Win32DialogWindow& window);
    void Shown(Win32DialogWindow& window);

private:
    std::vector<Win32DialogWindow*> open_;
    ShownHook shownHook_;
};

} // namespace marlet
