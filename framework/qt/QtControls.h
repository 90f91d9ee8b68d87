// The widgets a dialog template is built from, where Qt's own do not behave
// as the template's controls do.
#pragma once

#include "framework/qt/RcTemplate.h"

#include <QDialog>
#include <QSlider>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace marlet {
class QtDialogWindow;
}

namespace marlet::qtui {

// The program's 8-bit texts are UTF-8 on this platform.
QString ToQt(const std::string& text);
std::string FromQt(const QString& text);
// A static text as the dialog manager shows it: "&&" is "&", a lone "&" marks a mnemonic.
QString WithoutPrefix(const QString& text);

// The dialog's own window: Enter, Escape, close requests and the system menu
// go to the dialog's handlers instead of Qt's defaults.
class DialogWidget : public QDialog {
public:
    DialogWidget(QtDialogWindow& window, QWidget* owner);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QtDialogWindow& window_;
};

// A horizontal or vertical slider reporting its movements with the scroll
// codes of the platform's trackbar: arrows line by line, Page Up/Down by a
// page, Home/End to the ends, dragging the thumb as thumb track and, on
// release, thumb position; every key or mouse release ends with end of tracking.
class TrackBar : public QSlider {
public:
    using Notify = std::function<void(int code, int position)>;
    TrackBar(Qt::Orientation orientation, QWidget* parent, Notify notify);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void Step(int code, int target);
    void Send(int code, int position);

    Notify notify_;
    bool pressed_ = false; // a mouse press on the slider is in progress
    bool sending_ = false; // a notification's handler is running
    int wheel_ = 0;        // wheel movement not yet turned into steps
};

// A read-only multi-line text whose lines are centred (or right-aligned);
// cheap to repaint, so that writing the status box costs little.
class AlignedTextBox : public QWidget {
public:
    AlignedTextBox(Qt::Alignment alignment, QWidget* parent);
    void SetText(const QString& text);
    QString Text() const { return text_; }
    // The lines shown, top to bottom.
    QStringList Lines() const { return lines_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    Qt::Alignment alignment_;
    QString text_;
    QStringList lines_;
    QList<int> widths_; // of each line, in pixels
};

// A group box as the platform's dialog manager draws it: an etched frame
// whose top line runs through the middle of the title, within the template's
// rectangle.
class GroupFrame : public QWidget {
public:
    GroupFrame(const QString& title, QWidget* parent);
    void SetTitle(const QString& title);
    QString Title() const { return title_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString title_;
};

// Tells of each paint event of the widgets it watches.
class PaintWatcher : public QObject {
public:
    explicit PaintWatcher(std::function<void(QObject*)> painted) : painted_(std::move(painted)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(QObject*)> painted_;
};

// One control of a dialog and its widget.
struct ControlView {
    rc::Control layout;
    QWidget* widget = nullptr;
    QLabel* label = nullptr;
    QPushButton* button = nullptr;
    GroupFrame* group = nullptr;
    QLineEdit* line = nullptr;
    QPlainTextEdit* text = nullptr;
    AlignedTextBox* aligned = nullptr;
    QComboBox* combo = nullptr;
    TrackBar* slider = nullptr;
    bool changed = false; // its content changed and it has not been painted since
};

} // namespace marlet::qtui
