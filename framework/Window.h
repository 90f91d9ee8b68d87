// The window layer the dialog classes stand on: message boxes, the modal run,
// the message pump, the file-open dialog and the controls of a dialog window.
// Each back end (headless, scripted for tests, Qt, Win32) implements it.
#pragma once

#include "platform/CommDevice.h" // WindowHandle

#include <string>

namespace marlet {

class CDialog;

enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

enum class MessageButtons { Ok, YesNo };

// Slider notification codes.
enum : int {
    SB_LINELEFT = 0,
    SB_LINERIGHT = 1,
    SB_PAGELEFT = 2,
    SB_PAGERIGHT = 3,
    SB_THUMBPOSITION = 4,
    SB_THUMBTRACK = 5,
    SB_LEFT = 6,
    SB_RIGHT = 7,
    SB_ENDSCROLL = 8,
};

// One created dialog window: its controls, addressed by id.
class DialogWindow {
public:
    virtual ~DialogWindow() = default;
    virtual WindowHandle Handle() = 0;

    virtual std::string GetItemText(int id) = 0;
    virtual void SetItemText(int id, const std::string& text) = 0;
    virtual void EnableItem(int id, bool enable) = 0;
    virtual bool IsItemEnabled(int id) = 0;
    // Repaints the window and its controls before returning.
    virtual void RedrawNow() = 0;
    // Marks the whole window for repainting.
    virtual void Invalidate() = 0;

    // Combo box: a list kept sorted without regard to case, and an editable text.
    virtual void ComboAddString(int id, const std::string& text) = 0;
    virtual int ComboGetCount(int id) = 0;
    virtual std::string ComboGetItem(int id, int index) = 0;
    // Selects the first entry that begins with text; -1 (selection unchanged) when none does.
    virtual int ComboSelectString(int id, const std::string& text) = 0;
    virtual void ComboSetCurSel(int id, int index) = 0;
    virtual int ComboGetCurSel(int id) = 0;

    // Slider.
    virtual void SliderSetRange(int id, int minimum, int maximum, bool redraw) = 0;
    virtual void SliderSetPos(int id, int position, bool redraw) = 0;
    virtual int SliderGetPos(int id) = 0;

    // Edit: caret after the last character, scrolled into view.
    virtual void EditCaretToEnd(int id) = 0;

    // System menu: a command of 0 with an empty text appends a separator.
    virtual bool HasSysMenu() = 0;
    virtual void AppendSysMenu(int command, const std::string& text) = 0;
    virtual void CheckSysMenu(int command, bool checked) = 0;
    virtual bool IsSysMenuChecked(int command) = 0;

    virtual void SetIcon(int iconResource) = 0;
    virtual bool IsIconic() = 0;
    // Ends the modal run with a result once the running handler returns.
    virtual void EndDialog(int result) = 0;
};

class WindowSystem {
public:
    virtual ~WindowSystem() = default;
    // A message box; IDOK, IDYES or IDNO.
    virtual int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                           MessageButtons buttons) = 0;
    // Creates the dialog's window from its template, calls OnInitDialog before
    // the window is first shown, dispatches messages to its handlers and returns
    // the result given to EndDialog.
    virtual int RunModal(CDialog& dialog) = 0;
    // Removes, translates and dispatches every message waiting for the thread.
    virtual void PumpMessages() = 0;
    // The file-open dialog; true with the chosen path when the user confirms.
    virtual bool FileOpenDialog(WindowHandle owner, const std::string& filter,
                                const std::string& initialFolder, std::string& path) = 0;
    // While on, an interrupt from outside (a signal) is delivered to the modal
    // dialog's OnInterrupt at the next message pump.
    virtual void CatchInterrupts(bool on) = 0;
};

// The process's window layer, chosen at start-up.
WindowSystem& Windows();
void SetWindowSystem(WindowSystem* system);

} // namespace marlet
