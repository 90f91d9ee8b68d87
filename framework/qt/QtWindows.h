// The window layer on Qt Widgets: dialogs built from the resource script's
// templates, message boxes, the file-open and port configuration dialogs and
// the message pump.
#pragma once

#include "framework/Afx.h"
#include "framework/MemoryWindow.h"
#include "framework/qt/RcTemplate.h"
#include "platform/CommConfig.h"

#include <QFont>
#include <QIcon>
#include <QPoint>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QApplication;
class QEventLoop;
class QMenu;
class QRect;
class QWidget;

namespace marlet {

class QtWindowSystem;

namespace qtui {
class DialogWidget;
class PaintWatcher;
struct ControlView;
} // namespace qtui

// System command of the platform's own "Close" entry.
constexpr uint32_t SC_CLOSE = 0xF060;

// A dialog on screen. The controls' state lives in the memory window it
// derives from, which stays the truth: every change made by the program is
// mirrored onto the widgets, and the user's input reaches it before the
// dialog's handler runs.
class QtDialogWindow : public MemoryDialogWindow {
public:
    QtDialogWindow(QtWindowSystem& system, CDialog& dialog, const rc::Dialog& layout, QWidget* owner);
    ~QtDialogWindow() override;
    QtDialogWindow(const QtDialogWindow&) = delete;
    QtDialogWindow& operator=(const QtDialogWindow&) = delete;

    void SetItemText(int id, const std::string& text) override;
    void EnableItem(int id, bool enable) override;
    void RedrawNow() override;
    void Invalidate() override;
    void ComboAddString(int id, const std::string& text) override;
    void ComboSetCurSel(int id, int index) override;
    void SliderSetRange(int id, int minimum, int maximum, bool redraw) override;
    void SliderSetPos(int id, int position, bool redraw) override;
    void EditCaretToEnd(int id) override;
    bool HasSysMenu() override;
    void CheckSysMenu(int command, bool checked) override;
    void SetIcon(int iconResource) override;
    bool IsIconic() override;
    void EndDialog(int result) override;

    // OnInitDialog, then the window shown until the dialog ends; the result.
    int Run();
    // Runs a handler. A dialog ended meanwhile (Enter, Escape, a close
    // request) stays on screen until the outermost handler has returned.
    void Dispatch(const std::function<void()>& handler);

    CDialog& Dialog() { return dialog_; }
    QWidget* Widget() const;
    // The widget of a control, or nullptr.
    QWidget* ControlWidget(int id) const;
    bool InHandler() const { return depth_ > 0; }

    // User input: the model first, then the handler.
    void UserEditedText(int id, const std::string& text);
    void UserSelected(int id, int index);
    void UserScrolled(int id, int code, int position);
    void UserCommand(int id);
    void UserClose();
    void UserSysCommand(uint32_t command);

    // The dialog's own system menu: the platform's Close, then the appended
    // entries with their check marks. Each action's data is its command.
    std::unique_ptr<QMenu> BuildSystemMenu();
    void ShowSystemMenu(const QPoint& globalPosition);
    // Pressed Enter: the focused push button, else the default one, else OK.
    int EnterCommand() const;

private:
    void Build(QWidget* owner);
    // The widget of one control; rect may be adjusted to the control's kind.
    QWidget* CreateControl(qtui::ControlView& control, const QFont& font, QRect& rect, bool& focusable);
    qtui::ControlView* View(int id);
    const qtui::ControlView* View(int id) const;

    QtWindowSystem& system_;
    CDialog& dialog_;
    const rc::Dialog& layout_;
    std::unique_ptr<qtui::DialogWidget> widget_;
    std::map<int, std::unique_ptr<qtui::ControlView>> views_; // by id
    std::vector<std::unique_ptr<qtui::ControlView>> unnamed_; // static texts and frames without an id
    std::map<QObject*, qtui::ControlView*> byWidget_;
    std::unique_ptr<qtui::PaintWatcher> paintWatcher_;
    std::set<int> checkableCommands_; // system-menu commands that carry a check mark
    int depth_ = 0;                   // handlers running
    QEventLoop* loop_ = nullptr;
};

class QtWindowSystem : public WindowSystem {
public:
    // The templates and icons of the resource script built into the program.
    // app, when given, lives until the process ends: the window layer is a
    // static object, and by the time static objects are destroyed Qt's own
    // globals are gone, so destroying the application then would crash.
    explicit QtWindowSystem(std::unique_ptr<QApplication> app = nullptr);
    // Given templates, and the icon files they name (name and contents).
    QtWindowSystem(rc::Resources resources, std::map<std::string, std::string> files,
                   std::unique_ptr<QApplication> app = nullptr);
    ~QtWindowSystem() override;

    int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                   MessageButtons buttons) override;
    int RunModal(CDialog& dialog) override;
    void PumpMessages() override;
    bool FileOpenDialog(WindowHandle owner, const std::string& filter, const std::string& initialFolder,
                        std::string& path) override;
    void CatchInterrupts(bool on) override;

    // The port configuration dialog: speed, parity, data bits, stop bits and
    // flow control, pre-filled from config; false, config unchanged, when cancelled.
    bool CommConfigDialog(const std::string& device, WindowHandle owner, CommConfig& config);

    // Called once a dialog is on screen (a self-grab, for example).
    void SetShownHook(std::function<void(CDialog&, QWidget&)> hook) { shownHook_ = std::move(hook); }
    // Called at every message pump once the pending events are dispatched
    // (a test acting as the user during a transfer).
    void SetPumpHook(std::function<void()> hook) { pumpHook_ = std::move(hook); }

    const rc::Resources& Resources() const { return resources_; }
    // The window of a handle, or nullptr.
    QWidget* WidgetOf(WindowHandle handle) const;
    // The innermost dialog running, or nullptr.
    QtDialogWindow* ActiveWindow() const { return open_.empty() ? nullptr : open_.back(); }
    // An icon resource, or an empty icon.
    QIcon Icon(int resource);
    // The font of a template: its face where installed, else Liberation Sans, else DejaVu Sans.
    static QFont DialogFont(const std::string& name, int points);
    // Dialog units in pixels for a font: the horizontal and vertical base units.
    static void BaseUnits(const QFont& font, int& baseWidth, int& baseHeight);

    // Turns the dialog class library's filter ("name|patterns|...||") into Qt's.
    static std::string QtFilter(const std::string& filter);

private:
    friend class QtDialogWindow;
    void Shown(CDialog& dialog, QWidget& widget);
    void Init();

    QApplication* app_ = nullptr; // never deleted, see above
    rc::Resources resources_;
    std::map<std::string, std::string> files_;
    std::map<int, QIcon> icons_;
    std::vector<QtDialogWindow*> open_;
    std::function<void(CDialog&, QWidget&)> shownHook_;
    std::function<void()> pumpHook_;
    bool catching_ = false;
};

} // namespace marlet
