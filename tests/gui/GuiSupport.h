// Running the program's dialogs in the real Qt window, on the offscreen
// platform, and acting on them as a user would: keys and clicks on the
// widgets, message boxes answered as they appear.
#pragma once

#include "framework/qt/QtControls.h"
#include "framework/qt/QtWindows.h"
#include "support/Program.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

// Qt's strings in test messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace marlet::test {

// The one application object of the test program.
inline QApplication& App()
{
    static int argc = 1;
    static char name[] = "test_gui";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Answers the message boxes that appear, in order, and notes each one.
class BoxAnswerer {
public:
    struct Seen {
        std::string caption;
        std::string text;
        QWidget* owner;
        bool ownerVisible;
    };

    explicit BoxAnswerer(QMessageBox::StandardButton otherwise = QMessageBox::Ok) : otherwise_(otherwise)
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start(2);
    }

    std::vector<Seen> seen;
    std::deque<QMessageBox::StandardButton> answers; // then `otherwise`
    std::function<void(QMessageBox&)> onBox;         // runs before the answer

    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const Seen& s : seen)
            texts.push_back(s.text);
        return texts;
    }

private:
    void Poll()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible())
            return;
        QWidget* owner = box->parentWidget();
        seen.push_back({qtui::FromQt(box->windowTitle()), qtui::FromQt(box->text()), owner,
                        owner != nullptr && owner->isVisible()});
        if (onBox)
            onBox(*box);
        QMessageBox::StandardButton answer = otherwise_;
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        if (QAbstractButton* button = box->button(answer))
            button->click();
        else
            box->reject();
    }

    QMessageBox::StandardButton otherwise_;
    bool appExists_ = (App(), true); // timers need the application
    QTimer timer_;
};

// Acts once on the next modal dialog of a kind that appears (a file dialog,
// the About box): the action answers it.
template <typename Dialog> class OnModal {
public:
    OnModal(std::function<bool(Dialog&)> matches, std::function<void(Dialog&)> act)
        : matches_(std::move(matches)), act_(std::move(act))
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || !dialog->isVisible() || !matches_(*dialog))
                return;
            timer_.stop();
            ++count;
            act_(*dialog);
        });
        timer_.start(2);
    }
    int count = 0;

private:
    std::function<bool(Dialog&)> matches_;
    std::function<void(Dialog&)> act_;
    bool appExists_ = (App(), true);
    QTimer timer_;
};

// Counts the paint events each widget receives.
class PaintCounter : public QObject {
public:
    std::map<QObject*, int> paints;
    void Watch(QWidget& root)
    {
        root.installEventFilter(this);
        for (QWidget* child : root.findChildren<QWidget*>())
            child->installEventFilter(this);
    }
    int Total() const
    {
        int total = 0;
        for (const auto& [widget, count] : paints)
            total += count;
        return total;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints[watched];
        return false;
    }
};

// The program on a World with the Qt window: the script runs as the user
// once the main window is shown; the window is closed afterwards (as by
// Escape) unless the script ended it.
struct QtProgram {
    explicit QtProgram(World& w) : world(w), program(w) { SetWindowSystem(&windows); }

    Program& Run(std::function<void(QtDialogWindow&)> script)
    {
        windows.SetShownHook([this, script](CDialog& dialog, QWidget& widget) {
            if (&dialog != program.dialog.get())
                return;
            shown = true;
            QTimer::singleShot(0, &widget, [this, script, &dialog] {
                QtDialogWindow& window = *windows.ActiveWindow();
                script(window);
                if (!window.Ended())
                    window.Dispatch([&] { dialog.EndDialog(IDCANCEL); });
            });
        });
        return program.Run();
    }

    World& world;
    bool appExists = (App(), true); // before the window layer
    QtWindowSystem windows;
    Program program;
    bool shown = false;
};

// Controls of a dialog by id, as their widgets.
template <typename Widget> Widget* Find(QtDialogWindow& window, int id)
{
    auto* widget = dynamic_cast<Widget*>(window.ControlWidget(id));
    EXPECT_NE(widget, nullptr) << "control " << id;
    return widget;
}

inline std::string StatusText(QtDialogWindow& window, int id)
{
    auto* box = Find<qtui::AlignedTextBox>(window, id);
    return box ? qtui::FromQt(box->Text()) : std::string();
}

} // namespace marlet::test
