#include "framework/qt/QtControls.h"

#include "framework/Window.h"
#include "framework/qt/QtWindows.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QWheelEvent>

#include <algorithm>

namespace marlet::qtui {

QString ToQt(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

std::string FromQt(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

QString WithoutPrefix(const QString& text)
{
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size())
            ++i; // "&&" keeps one "&"; "&x" shows "x"
        shown += text[i];
    }
    return shown;
}

DialogWidget::DialogWidget(QtDialogWindow& window, QWidget* owner) : QDialog(owner), window_(window) {}

void DialogWidget::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::NoModifier) {
        switch (event->key()) {
        case Qt::Key_Escape:
            event->accept();
            window_.UserCommand(IDCANCEL);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            window_.UserCommand(window_.EnterCommand());
            return;
        default:
            break;
        }
    }
    QDialog::keyPressEvent(event);
}

void DialogWidget::closeEvent(QCloseEvent* event)
{
    // The dialog decides: its close handler ends it, or refuses.
    event->ignore();
    window_.UserClose();
}

void DialogWidget::contextMenuEvent(QContextMenuEvent* event)
{
    if (!window_.HasSysMenu()) {
        event->ignore();
        return;
    }
    event->accept();
    window_.ShowSystemMenu(event->globalPos());
}

void DialogWidget::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    window_.Dialog().OnPaint();
}

TrackBar::TrackBar(Qt::Orientation orientation, QWidget* parent, Notify notify)
    : QSlider(orientation, parent), notify_(std::move(notify))
{
    // Mouse movements (paging by a click beside the thumb, dragging the thumb)
    // arrive as Qt's slider actions; keys and the wheel are handled below.
    connect(this, &QAbstractSlider::actionTriggered, this, [this](int action) {
        if (sending_)
            return;
        int code = -1;
        switch (action) {
        case SliderSingleStepAdd:
            code = SB_LINERIGHT;
            break;
        case SliderSingleStepSub:
            code = SB_LINELEFT;
            break;
        case SliderPageStepAdd:
            code = SB_PAGERIGHT;
            break;
        case SliderPageStepSub:
            code = SB_PAGELEFT;
            break;
        case SliderMove:
            code = SB_THUMBTRACK;
            break;
        case SliderToMinimum:
            code = SB_LEFT;
            break;
        case SliderToMaximum:
            code = SB_RIGHT;
            break;
        default:
            return;
        }
        // The position is already moved; the value follows once this returns.
        Send(code, sliderPosition());
    });
}

void TrackBar::Send(int code, int position)
{
    sending_ = true;
    notify_(code, position);
    sending_ = false;
    // A handler that showed a box took the mouse release with it: end the
    // press here so that paging does not repeat on its own.
    if (pressed_ && QGuiApplication::mouseButtons() == Qt::NoButton) {
        pressed_ = false;
        setRepeatAction(SliderNoAction);
        if (isSliderDown()) {
            const QSignalBlocker blocker(this);
            setSliderDown(false);
        }
        notify_(SB_ENDSCROLL, value());
    }
}

void TrackBar::Step(int code, int target)
{
    target = std::clamp(target, minimum(), maximum());
    if (target == value())
        return; // already at that end: nothing moves and nothing is reported
    {
        const QSignalBlocker blocker(this);
        setValue(target);
    }
    Send(code, target);
}

void TrackBar::keyPressEvent(QKeyEvent* event)
{
    const int line = singleStep();
    const int page = pageStep();
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        Step(SB_LINELEFT, value() - line);
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        Step(SB_LINERIGHT, value() + line);
        break;
    case Qt::Key_PageUp:
        Step(SB_PAGELEFT, value() - page);
        break;
    case Qt::Key_PageDown:
        Step(SB_PAGERIGHT, value() + page);
        break;
    case Qt::Key_Home:
        Step(SB_LEFT, minimum());
        break;
    case Qt::Key_End:
        Step(SB_RIGHT, maximum());
        break;
    default:
        event->ignore();
        return;
    }
    event->accept();
}

void TrackBar::keyReleaseEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        event->accept();
        if (!event->isAutoRepeat())
            Send(SB_ENDSCROLL, value());
        return;
    default:
        event->ignore();
    }
}

void TrackBar::mousePressEvent(QMouseEvent* event)
{
    pressed_ = event->button() == Qt::LeftButton && event->buttons() == Qt::LeftButton;
    QSlider::mousePressEvent(event);
    if (!event->isAccepted())
        pressed_ = false;
}

void TrackBar::mouseReleaseEvent(QMouseEvent* event)
{
    const bool dragging = isSliderDown();
    QSlider::mouseReleaseEvent(event);
    if (!pressed_ || event->buttons() != Qt::NoButton)
        return;
    pressed_ = false;
    if (dragging)
        Send(SB_THUMBPOSITION, value());
    Send(SB_ENDSCROLL, value());
}

void TrackBar::wheelEvent(QWheelEvent* event)
{
    event->accept();
    const QPoint delta = event->angleDelta();
    wheel_ += delta.y() != 0 ? delta.y() : delta.x();
    // Each notch a line: away from the user is toward the start, as the platform's trackbar does.
    while (wheel_ >= 120) {
        wheel_ -= 120;
        Step(SB_LINELEFT, value() - singleStep());
    }
    while (wheel_ <= -120) {
        wheel_ += 120;
        Step(SB_LINERIGHT, value() + singleStep());
    }
}

void TrackBar::timerEvent(QTimerEvent* event)
{
    // Paging repeats while the mouse is held; not while a handler (and the box it shows) runs.
    if (sending_)
        return;
    QSlider::timerEvent(event);
}

bool PaintWatcher::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Paint)
        painted_(watched);
    return false;
}

GroupFrame::GroupFrame(const QString& title, QWidget* parent) : QWidget(parent), title_(title)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void GroupFrame::SetTitle(const QString& title)
{
    title_ = title;
    update();
}

void GroupFrame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    const QString shown = WithoutPrefix(title_);
    const int top = metrics.height() / 2;
    const QRect frame = rect().adjusted(0, top, -1, -1);
    // Etched: a dark line with a light one just inside it.
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(frame.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(frame.adjusted(1, 1, 0, 0));
    if (shown.isEmpty())
        return;
    const int left = metrics.horizontalAdvance(QLatin1Char('x')) + 2;
    const QRect title(left, 0, std::min(metrics.horizontalAdvance(shown) + 4, width() - left - 2),
                      metrics.height());
    painter.fillRect(title, palette().color(QPalette::Window));
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(title.adjusted(2, 0, 0, 0), int(Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine),
                     shown);
}

AlignedTextBox::AlignedTextBox(Qt::Alignment alignment, QWidget* parent)
    : QWidget(parent), alignment_(alignment)
{
    // It paints its whole area itself, so a repaint need not paint the dialog beneath it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

void AlignedTextBox::SetText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    // A carriage return with a line feed starts a new line; so does either alone.
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    lines_ = lines.split(QLatin1Char('\n'));
    const QFontMetrics metrics = fontMetrics();
    widths_.clear();
    for (const QString& line : lines_)
        widths_.push_back(metrics.horizontalAdvance(line));
    update();
}

void AlignedTextBox::paintEvent(QPaintEvent*)
{
    // Drawn by hand rather than through the style and text layout: this box is
    // repainted at every status write and must stay cheap.
    QPainter painter(this);
    const QRect all = rect();
    const QPalette& colours = palette();
    painter.fillRect(all, colours.color(QPalette::Window));
    painter.setPen(colours.color(QPalette::Mid));
    painter.drawLine(all.topLeft(), all.topRight());
    painter.drawLine(all.topLeft(), all.bottomLeft());
    painter.setPen(colours.color(QPalette::Light));
    painter.drawLine(all.bottomLeft(), all.bottomRight());
    painter.drawLine(all.topRight(), all.bottomRight());

    const QRect area = all.adjusted(3, 2, -3, -2);
    painter.setClipRect(area);
    painter.setPen(colours.color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    const QFontMetrics metrics = fontMetrics();
    int top = area.top();
    for (qsizetype i = 0; i < lines_.size() && top <= area.bottom(); ++i) {
        const int width = widths_[i];
        int x = area.left(); // a line wider than the box shows its beginning
        if (width < area.width()) {
            if (alignment_ & Qt::AlignHCenter)
                x += (area.width() - width) / 2;
            else if (alignment_ & Qt::AlignRight)
                x += area.width() - width;
        }
        painter.drawText(QPoint(x, top + metrics.ascent()), lines_[i]);
        top += metrics.height();
    }
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = area;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void AlignedTextBox::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        QGuiApplication::clipboard()->setText(text_);
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void AlignedTextBox::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copy = menu.addAction(QStringLiteral("&Copy"));
    copy->setEnabled(!text_.isEmpty());
    if (menu.exec(event->globalPos()) == copy)
        QGuiApplication::clipboard()->setText(text_);
    event->accept();
}

} // namespace marlet::qtui
