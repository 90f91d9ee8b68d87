// The Qt window layer on a small template of its own: the slider's movement
// codes, the deferred end of a dialog whose handler is running, interrupts,
// and the choice between the window and the headless layer.
#include "GuiSupport.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <csignal>
#include <cstdio>
#include <sys/wait.h>

namespace marlet::test {
namespace {

constexpr int kEdit = 10;
constexpr int kSlider = 11;
constexpr int kWork = 12;

rc::Resources TestResources()
{
    const std::string script = R"(
1 DIALOGEX 0, 0, 200, 100
STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION "Test"
FONT 8, "MS Sans Serif"
BEGIN
    EDITTEXT 10, 5, 5, 100, 12, ES_AUTOHSCROLL
    CONTROL "", 11, "msctls_trackbar32", TBS_AUTOTICKS | WS_TABSTOP, 5, 25, 100, 15
    PUSHBUTTON "Work", 12, 5, 50, 50, 14
END
)";
    rc::Resources resources;
    std::string error;
    EXPECT_TRUE(rc::Parse(script, {}, resources, error)) << error;
    return resources;
}

// Notes what the window layer delivers.
class Recorder : public CDialog {
public:
    Recorder() : CDialog(1) {}
    int OnInitDialog() override
    {
        Window()->SliderSetRange(kSlider, 0, 5, true);
        Window()->SliderSetPos(kSlider, 2, true);
        return 1;
    }
    void OnHScroll(int code, int, int controlId) override
    {
        scrolls.push_back({code, Window()->SliderGetPos(controlId)});
    }
    void OnCommand(int id) override
    {
        if (id == kWork && work)
            work();
        else
            CDialog::OnCommand(id);
    }
    bool OnInterrupt() override
    {
        ++interrupts;
        return true;
    }
    std::vector<std::pair<int, int>> scrolls; // code, position seen by the handler
    std::function<void()> work;
    int interrupts = 0;
};

struct Fixture {
    Fixture() : windows((App(), TestResources()), {}) { SetWindowSystem(&windows); }
    ~Fixture() { SetWindowSystem(nullptr); }
    // Runs the dialog; the script acts once it is shown, then it is closed.
    int Run(std::function<void(QtDialogWindow&)> script)
    {
        windows.SetShownHook([&](CDialog&, QWidget& widget) {
            QTimer::singleShot(0, &widget, [&] {
                QtDialogWindow& window = *windows.ActiveWindow();
                script(window);
                if (!window.Ended())
                    window.Dispatch([&] { dialog.EndDialog(IDCANCEL); });
            });
        });
        return dialog.DoModal();
    }
    QtWindowSystem windows;
    Recorder dialog;
};

using Scrolls = std::vector<std::pair<int, int>>;

TEST(QtWindow, SliderKeysAndWheelReportTheirCodes)
{
    Fixture f;
    f.Run([&](QtDialogWindow& win) {
        auto* slider = Find<QSlider>(win, kSlider);
        EXPECT_EQ(slider->tickPosition(), QSlider::TicksBelow);
        const struct {
            Qt::Key key;
            Scrolls expected;
        } steps[] = {
            {Qt::Key_Right, {{SB_LINERIGHT, 3}, {SB_ENDSCROLL, 3}}},
            {Qt::Key_Left, {{SB_LINELEFT, 2}, {SB_ENDSCROLL, 2}}},
            {Qt::Key_PageDown, {{SB_PAGERIGHT, 3}, {SB_ENDSCROLL, 3}}},
            {Qt::Key_PageUp, {{SB_PAGELEFT, 2}, {SB_ENDSCROLL, 2}}},
            {Qt::Key_Home, {{SB_LEFT, 0}, {SB_ENDSCROLL, 0}}},
            {Qt::Key_Home, {{SB_ENDSCROLL, 0}}}, // already there: nothing moves
            {Qt::Key_End, {{SB_RIGHT, 5}, {SB_ENDSCROLL, 5}}},
            {Qt::Key_Right, {{SB_ENDSCROLL, 5}}},
        };
        for (const auto& step : steps) {
            f.dialog.scrolls.clear();
            QTest::keyClick(slider, step.key);
            EXPECT_EQ(f.dialog.scrolls, step.expected) << QTest::toString(step.key);
        }
        f.dialog.scrolls.clear();
        QWheelEvent wheel(QPointF(5, 5), slider->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(slider, &wheel);
        EXPECT_EQ(f.dialog.scrolls, (Scrolls{{SB_LINELEFT, 4}}));
    });
}

TEST(QtWindow, SliderMouseReportsTrackPositionAndPages)
{
    Fixture f;
    f.Run([&](QtDialogWindow& win) {
        auto* slider = Find<QSlider>(win, kSlider);
        QStyleOptionSlider option;
        option.initFrom(slider);
        option.orientation = slider->orientation();
        option.minimum = slider->minimum();
        option.maximum = slider->maximum();
        option.sliderPosition = slider->sliderPosition();
        option.sliderValue = slider->value();
        option.tickPosition = slider->tickPosition();
        const QRect handle =
            slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider);

        // Dragging the thumb to the right end.
        QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, handle.center());
        QTest::mouseMove(slider, QPoint(slider->width() - 1, handle.center().y()));
        QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier,
                            QPoint(slider->width() - 1, handle.center().y()));
        ASSERT_GE(f.dialog.scrolls.size(), 3u);
        for (size_t i = 0; i + 2 < f.dialog.scrolls.size(); ++i)
            EXPECT_EQ(f.dialog.scrolls[i].first, SB_THUMBTRACK);
        EXPECT_EQ(f.dialog.scrolls[f.dialog.scrolls.size() - 3].second, 5);
        EXPECT_EQ((Scrolls(f.dialog.scrolls.end() - 2, f.dialog.scrolls.end())),
                  (Scrolls{{SB_THUMBPOSITION, 5}, {SB_ENDSCROLL, 5}}));

        // A click left of the thumb pages toward it.
        f.dialog.scrolls.clear();
        QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(2, handle.center().y()));
        EXPECT_EQ(f.dialog.scrolls, (Scrolls{{SB_PAGELEFT, 4}, {SB_ENDSCROLL, 4}}));
    });
}

TEST(QtWindow, FocusStartsOnTheFirstTabStop)
{
    Fixture f;
    f.Run([&](QtDialogWindow& win) { EXPECT_EQ(win.Widget()->focusWidget(), win.ControlWidget(kEdit)); });
}

// Enter, Escape or a close request while a handler runs (pumping messages,
// as a transfer does) ends the dialog only once that handler has returned.
TEST(QtWindow, EndWaitsForTheRunningHandler)
{
    enum class Action { Escape, Enter, Close };
    const struct {
        Action action;
        int result;
    } cases[] = {{Action::Escape, IDCANCEL}, {Action::Enter, IDOK}, {Action::Close, IDCANCEL}};
    for (const auto& c : cases) {
        Fixture f;
        std::vector<bool> visible;
        bool endedAtOnce = false;
        int pumps = 0;
        f.dialog.work = [&] {
            for (pumps = 0; pumps < 10; ++pumps) {
                if (pumps == 3) {
                    QtDialogWindow& win = *f.windows.ActiveWindow();
                    QWidget* edit = win.ControlWidget(kEdit);
                    edit->setFocus();
                    if (c.action == Action::Escape)
                        QTest::keyClick(edit, Qt::Key_Escape);
                    else if (c.action == Action::Enter)
                        QTest::keyClick(edit, Qt::Key_Return);
                    else
                        win.Widget()->close();
                    endedAtOnce = win.Ended();
                }
                f.windows.PumpMessages();
                visible.push_back(f.windows.ActiveWindow()->Widget()->isVisible());
            }
        };
        const int result =
            f.Run([&](QtDialogWindow& win) { QTest::mouseClick(win.ControlWidget(kWork), Qt::LeftButton); });
        EXPECT_EQ(result, c.result);
        EXPECT_TRUE(endedAtOnce);
        EXPECT_EQ(pumps, 10);
        EXPECT_EQ(visible, std::vector<bool>(10, true));
    }
}

TEST(QtWindow, InterruptDuringAPumpReachesTheDialog)
{
    Fixture f;
    f.dialog.work = [&] {
        f.windows.CatchInterrupts(true);
        std::raise(SIGINT);
        f.windows.PumpMessages();
        f.windows.PumpMessages();
        f.windows.CatchInterrupts(false);
    };
    f.Run([&](QtDialogWindow& win) { QTest::mouseClick(win.ControlWidget(kWork), Qt::LeftButton); });
    EXPECT_EQ(f.dialog.interrupts, 1);
}

TEST(QtWindow, FilterOfTheDialogClassLibraryInQtForm)
{
    EXPECT_EQ(QtWindowSystem::QtFilter("Boot files    (*.bot;*.cbt;*.cbf;*.cbl)|*.bot;*.cbt;*.cbf;*.cbl||"),
              "Boot files    (*.bot *.cbt *.cbf *.cbl)");
    EXPECT_EQ(QtWindowSystem::QtFilter("Text|*.txt|All files (*.*)|*.*||"), "Text (*.txt);;All files (*.*)");
}

// The program itself, where no window can be shown: the headless layer
// takes over, and nothing aborts for want of a display.
TEST(WindowChoice, NoDisplayMeansHeadless)
{
    QTemporaryDir home;
    const std::string program = std::string(MARLET_BIN_DIR) + "/marlet-download";
    for (const char* display : {"", "DISPLAY=:199"}) {
        const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME='" +
                                    qtui::FromQt(home.path()) + "' " + display + " '" + program +
                                    "' -port:nowhere </dev/null 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe) != nullptr)
            output += buffer;
        const int status = pclose(pipe);
        ASSERT_TRUE(WIFEXITED(status)) << display << ": " << output;
        EXPECT_EQ(WEXITSTATUS(status), 0) << display;
        EXPECT_NE(output.find("No display: the window cannot be shown"), std::string::npos) << output;
    }
}

} // namespace
} // namespace marlet::test
