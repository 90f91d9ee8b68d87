#include "framework/qt/QtWindows.h"

#include "EmbeddedResources.h"
#include "framework/qt/QtControls.h"

#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace marlet {

using qtui::ControlView;
using qtui::FromQt;
using qtui::ToQt;

namespace {

volatile std::sig_atomic_t g_interrupts = 0;

extern "C" void OnWindowInterruptSignal(int signal)
{
    if (g_interrupts >= 1) {
        // A second interrupt ends the program at once.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_interrupts = 1;
}

std::string Embedded(const unsigned char* data, size_t size)
{
    return std::string(reinterpret_cast<const char*>(data), size);
}

// Where Debian's fonts-wine puts the face that gives dialogs their Windows size.
const char* const kWineSansSerif = "/usr/share/wine/fonts/ms_sans_serif.ttf";

} // namespace

// ---------------------------------------------------------------------------
// QtDialogWindow

QtDialogWindow::QtDialogWindow(QtWindowSystem& system, CDialog& dialog, const rc::Dialog& layout,
                               QWidget* owner)
    : system_(system), dialog_(dialog), layout_(layout)
{
    Build(owner);
}

QtDialogWindow::~QtDialogWindow()
{
    // The widgets go before the watcher that knows them.
    widget_.reset();
}

QWidget* QtDialogWindow::Widget() const { return widget_.get(); }

QWidget* QtDialogWindow::ControlWidget(int id) const
{
    const ControlView* view = View(id);
    return view ? view->widget : nullptr;
}

ControlView* QtDialogWindow::View(int id)
{
    auto found = views_.find(id);
    return found == views_.end() ? nullptr : found->second.get();
}

const ControlView* QtDialogWindow::View(int id) const
{
    auto found = views_.find(id);
    return found == views_.end() ? nullptr : found->second.get();
}

void QtDialogWindow::Build(QWidget* owner)
{
    using namespace rc;
    widget_ = std::make_unique<qtui::DialogWidget>(*this, owner);
    widget_->setWindowTitle(ToQt(layout_.caption));
    const QFont font = QtWindowSystem::DialogFont(layout_.fontName, layout_.fontPoints);
    widget_->setFont(font);
    int baseWidth = 0;
    int baseHeight = 0;
    QtWindowSystem::BaseUnits(font, baseWidth, baseHeight);
    // Dialog units to pixels, rounded as the platform's dialog manager does.
    auto px = [&](int units) { return (units * baseWidth + 2) / 4; };
    auto py = [&](int units) { return (units * baseHeight + 4) / 8; };

    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if ((layout_.style & WS_SYSMENU) != 0)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    widget_->setWindowFlags(flags);
    widget_->setWindowModality(Qt::ApplicationModal);
    widget_->setFixedSize(px(layout_.cx), py(layout_.cy));

    // The system menu from the keyboard, where the window manager leaves Alt+Space to us.
    if ((layout_.style & WS_SYSMENU) != 0) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), widget_.get());
        QObject::connect(shortcut, &QShortcut::activated, widget_.get(),
                         [this] { ShowSystemMenu(widget_->mapToGlobal(QPoint(0, 0))); });
    }

    paintWatcher_ = std::make_unique<qtui::PaintWatcher>([this](QObject* painted) {
        auto found = byWidget_.find(painted);
        if (found != byWidget_.end())
            found->second->changed = false;
    });
    for (const rc::Control& c : layout_.controls) {
        auto view = std::make_unique<ControlView>();
        view->layout = c;
        QRect rect(px(c.x), py(c.y), px(c.cx), py(c.cy));
        bool focusable = false;
        QWidget* w = CreateControl(*view, font, rect, focusable);
        w->setGeometry(rect);
        w->setProperty("controlId", c.id);
        if ((c.style & WS_TABSTOP) != 0)
            w->setFocusPolicy(Qt::StrongFocus);
        else
            w->setFocusPolicy(focusable ? Qt::ClickFocus : Qt::NoFocus);
        if ((c.style & WS_DISABLED) != 0)
            w->setEnabled(false);
        if ((c.style & WS_VISIBLE) == 0)
            w->hide();
        view->widget = w;
        byWidget_[w] = view.get();
        w->installEventFilter(paintWatcher_.get());
        if (c.id != -1 && views_.count(c.id) == 0) {
            Control& model = controls[c.id];
            model.text = c.text;
            model.enabled = (c.style & WS_DISABLED) == 0;
            views_[c.id] = std::move(view);
        } else {
            unnamed_.push_back(std::move(view)); // static texts and frames: not addressed by id
        }
    }
    // Group boxes lie under the controls they frame, so those take the clicks.
    for (const auto& view : unnamed_) {
        if (view->group)
            view->group->lower();
    }
    for (const auto& [id, view] : views_) {
        if (view->group)
            view->group->lower();
    }
}

QWidget* QtDialogWindow::CreateControl(ControlView& control, const QFont& font, QRect& rect, bool& focusable)
{
    using namespace rc;
    const rc::Control& c = control.layout;
    const int id = c.id;
    const QString text = ToQt(c.text);
    QWidget* w = nullptr;
    switch (c.kind) {
    case Kind::Static: {
        auto* label = new QLabel(widget_.get());
        label->setTextFormat(Qt::PlainText);
        label->setText((c.style & SS_NOPREFIX) != 0 ? text : qtui::WithoutPrefix(text));
        const uint32_t type = c.style & SS_TYPEMASK;
        const Qt::Alignment align = type == SS_CENTER  ? Qt::AlignHCenter
                                    : type == SS_RIGHT ? Qt::AlignRight
                                                       : Qt::AlignLeft;
        label->setAlignment(align | Qt::AlignTop);
        label->setWordWrap(type != SS_LEFTNOWORDWRAP);
        control.label = label;
        w = label;
        break;
    }
    case Kind::Icon: {
        // An icon control takes the size of the platform's icons.
        auto* label = new QLabel(widget_.get());
        label->setPixmap(system_.Icon(std::atoi(c.text.c_str())).pixmap(32, 32));
        rect.setSize(QSize(32, 32));
        control.label = label;
        w = label;
        break;
    }
    case Kind::Button: {
        auto* button = new QPushButton(text, widget_.get());
        button->setAutoDefault(false);
        button->setDefault((c.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
        QObject::connect(button, &QPushButton::clicked, widget_.get(), [this, id] { UserCommand(id); });
        control.button = button;
        w = button;
        focusable = true;
        break;
    }
    case Kind::GroupBox: {
        auto* group = new qtui::GroupFrame(text, widget_.get());
        control.group = group;
        w = group;
        break;
    }
    case Kind::Edit: {
        const uint32_t align = c.style & (ES_CENTER | ES_RIGHT);
        const Qt::Alignment horizontal = align == ES_CENTER  ? Qt::AlignHCenter
                                         : align == ES_RIGHT ? Qt::AlignRight
                                                             : Qt::AlignLeft;
        if ((c.style & ES_MULTILINE) != 0 && (c.style & ES_READONLY) != 0 && align != 0) {
            // The status box: centred lines, repainted at every write.
            auto* box = new qtui::AlignedTextBox(horizontal, widget_.get());
            control.aligned = box;
            w = box;
        } else if ((c.style & ES_MULTILINE) != 0) {
            auto* edit = new QPlainTextEdit(widget_.get());
            edit->setReadOnly((c.style & ES_READONLY) != 0);
            if ((c.style & ES_READONLY) != 0)
                edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
            edit->setLineWrapMode((c.style & ES_AUTOHSCROLL) != 0 ? QPlainTextEdit::NoWrap
                                                                  : QPlainTextEdit::WidgetWidth);
            edit->setHorizontalScrollBarPolicy((c.style & WS_HSCROLL) != 0 ? Qt::ScrollBarAsNeeded
                                                                           : Qt::ScrollBarAlwaysOff);
            edit->setVerticalScrollBarPolicy((c.style & WS_VSCROLL) != 0 ? Qt::ScrollBarAsNeeded
                                                                         : Qt::ScrollBarAlwaysOff);
            if ((c.style & WS_BORDER) == 0)
                edit->setFrameStyle(QFrame::NoFrame);
            QObject::connect(edit, &QPlainTextEdit::textChanged, widget_.get(), [this, id, edit] {
                if (!edit->signalsBlocked())
                    UserEditedText(id, FromQt(edit->toPlainText()));
            });
            control.text = edit;
            w = edit;
        } else {
            auto* edit = new QLineEdit(widget_.get());
            edit->setAlignment(horizontal | Qt::AlignVCenter);
            edit->setReadOnly((c.style & ES_READONLY) != 0);
            edit->setFrame((c.style & WS_BORDER) != 0);
            QObject::connect(edit, &QLineEdit::textEdited, widget_.get(),
                             [this, id](const QString& typed) { UserEditedText(id, FromQt(typed)); });
            control.line = edit;
            w = edit;
        }
        focusable = true;
        break;
    }
    case Kind::ComboBox: {
        auto* combo = new QComboBox(widget_.get());
        combo->setEditable((c.style & CBS_DROPDOWNLIST) != CBS_DROPDOWNLIST);
        combo->setInsertPolicy(QComboBox::NoInsert);
        if (combo->isEditable())
            combo->setCompleter(nullptr); // the platform's combo box does not complete as one types
        // In a template a combo box's height is that of its dropped list.
        const int listHeight = rect.height();
        rect.setHeight(std::min(combo->sizeHint().height(), listHeight));
        const int itemHeight = std::max(1, QFontMetrics(font).height());
        combo->setMaxVisibleItems(std::max(1, (listHeight - rect.height()) / itemHeight));
        QObject::connect(combo, &QComboBox::editTextChanged, widget_.get(),
                         [this, id](const QString& typed) { UserEditedText(id, FromQt(typed)); });
        QObject::connect(combo, &QComboBox::activated, widget_.get(),
                         [this, id](int index) { UserSelected(id, index); });
        control.combo = combo;
        w = combo;
        focusable = true;
        break;
    }
    case Kind::Slider: {
        const Qt::Orientation orientation = (c.style & TBS_VERT) != 0 ? Qt::Vertical : Qt::Horizontal;
        auto* slider = new qtui::TrackBar(orientation, widget_.get(), [this, id](int code, int position) {
            UserScrolled(id, code, position);
        });
        slider->setTickPosition((c.style & TBS_NOTICKS) != 0 ? QSlider::NoTicks : QSlider::TicksBelow);
        slider->setRange(0, 100);
        slider->setPageStep(20);
        slider->setTickInterval((c.style & TBS_AUTOTICKS) != 0 ? 1 : 100);
        control.slider = slider;
        w = slider;
        focusable = true;
        break;
    }
    case Kind::Other:
        w = new QWidget(widget_.get());
        break;
    }
    return w;
}

void QtDialogWindow::SetItemText(int id, const std::string& text)
{
    MemoryDialogWindow::SetItemText(id, text);
    ControlView* view = View(id);
    if (view == nullptr)
        return;
    const QString shown = ToQt(text);
    if (view->aligned) {
        view->aligned->SetText(shown);
    } else if (view->line) {
        const QSignalBlocker blocker(view->line);
        view->line->setText(shown);
    } else if (view->text) {
        const QSignalBlocker blocker(view->text);
        QString plain = shown;
        plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        view->text->setPlainText(plain);
    } else if (view->combo) {
        const QSignalBlocker blocker(view->combo);
        view->combo->setEditText(shown);
    } else if (view->button) {
        view->button->setText(shown);
    } else if (view->group) {
        view->group->SetTitle(shown);
    } else if (view->label && view->layout.kind == rc::Kind::Static) {
        view->label->setText((view->layout.style & rc::SS_NOPREFIX) != 0 ? shown
                                                                         : qtui::WithoutPrefix(shown));
    }
    view->changed = true;
}

void QtDialogWindow::EnableItem(int id, bool enable)
{
    MemoryDialogWindow::EnableItem(id, enable);
    if (ControlView* view = View(id)) {
        view->widget->setEnabled(enable);
        view->changed = true;
    }
}

void QtDialogWindow::RedrawNow()
{
    MemoryDialogWindow::RedrawNow();
    // Painted now: only the controls whose content changed since they were
    // last painted, so a status write costs one small repaint.
    if (!widget_->isVisible())
        return;
    for (const auto& [id, view] : views_) {
        if (view->changed)
            view->widget->repaint();
    }
}

void QtDialogWindow::Invalidate() { widget_->update(); }

namespace {
void ShowComboState(QComboBox* combo, const MemoryDialogWindow::Control& model)
{
    const QSignalBlocker blocker(combo);
    combo->setCurrentIndex(model.selection);
    if (combo->isEditable())
        combo->setEditText(ToQt(model.text));
}
} // namespace

void QtDialogWindow::ComboAddString(int id, const std::string& text)
{
    const size_t position = combo::InsertPosition(controls[id].entries, text);
    MemoryDialogWindow::ComboAddString(id, text);
    if (ControlView* view = View(id); view != nullptr && view->combo) {
        {
            const QSignalBlocker blocker(view->combo);
            view->combo->insertItem(int(position), ToQt(text));
        }
        ShowComboState(view->combo, controls[id]);
        view->changed = true;
    }
}

void QtDialogWindow::ComboSetCurSel(int id, int index)
{
    MemoryDialogWindow::ComboSetCurSel(id, index);
    if (ControlView* view = View(id); view != nullptr && view->combo) {
        ShowComboState(view->combo, controls[id]);
        view->changed = true;
    }
}

void QtDialogWindow::SliderSetRange(int id, int minimum, int maximum, bool redraw)
{
    MemoryDialogWindow::SliderSetRange(id, minimum, maximum, redraw);
    if (ControlView* view = View(id); view != nullptr && view->slider) {
        const Control& model = controls[id];
        const QSignalBlocker blocker(view->slider);
        view->slider->setRange(model.minimum, model.maximum);
        // The platform's trackbar pages by a fifth of its range.
        view->slider->setPageStep(std::max(1, (model.maximum - model.minimum) / 5));
        if (view->slider->tickInterval() > 1)
            view->slider->setTickInterval(model.maximum - model.minimum);
        view->slider->setValue(model.position);
    }
}

void QtDialogWindow::SliderSetPos(int id, int position, bool redraw)
{
    MemoryDialogWindow::SliderSetPos(id, position, redraw);
    if (ControlView* view = View(id); view != nullptr && view->slider) {
        const QSignalBlocker blocker(view->slider);
        view->slider->setValue(controls[id].position);
    }
}

void QtDialogWindow::EditCaretToEnd(int id)
{
    ControlView* view = View(id);
    if (view == nullptr)
        return;
    if (view->line)
        view->line->setCursorPosition(int(view->line->text().size()));
    else if (view->text)
        view->text->moveCursor(QTextCursor::End);
}

bool QtDialogWindow::HasSysMenu() { return (layout_.style & rc::WS_SYSMENU) != 0; }

void QtDialogWindow::CheckSysMenu(int command, bool checked)
{
    MemoryDialogWindow::CheckSysMenu(command, checked);
    checkableCommands_.insert(command);
}

void QtDialogWindow::SetIcon(int iconResource)
{
    MemoryDialogWindow::SetIcon(iconResource);
    widget_->setWindowIcon(system_.Icon(iconResource));
}

bool QtDialogWindow::IsIconic() { return widget_->isMinimized(); }

void QtDialogWindow::EndDialog(int result)
{
    MemoryDialogWindow::EndDialog(result);
    if (depth_ == 0 && loop_ != nullptr)
        loop_->quit();
}

void QtDialogWindow::Dispatch(const std::function<void()>& handler)
{
    struct Depth {
        int& depth;
        ~Depth() { --depth; }
    };
    {
        ++depth_;
        const Depth running{depth_};
        handler();
    }
    if (depth_ == 0 && Ended() && loop_ != nullptr)
        loop_->quit();
}

int QtDialogWindow::Run()
{
    bool focusFirst = false;
    Dispatch([&] { focusFirst = dialog_.OnInitDialog() != 0; });
    if (!Ended()) {
        if (focusFirst) {
            // The first control of the tab order.
            for (const rc::Control& c : layout_.controls) {
                QWidget* w = ControlWidget(c.id);
                if ((c.style & rc::WS_TABSTOP) != 0 && w != nullptr && w->isEnabled() && !w->isHidden()) {
                    w->setFocus(Qt::OtherFocusReason);
                    break;
                }
            }
        }
        widget_->show();
        system_.Shown(dialog_, *widget_);
        if (!Ended()) {
            QEventLoop loop;
            loop_ = &loop;
            loop.exec(QEventLoop::DialogExec);
            loop_ = nullptr;
        }
    }
    widget_->hide();
    return Result();
}

void QtDialogWindow::UserEditedText(int id, const std::string& text) { controls[id].text = text; }

void QtDialogWindow::UserSelected(int id, int index)
{
    MemoryDialogWindow::ComboSetCurSel(id, index);
    Dispatch([&] { dialog_.OnComboSelChange(id); });
}

void QtDialogWindow::UserScrolled(int id, int code, int position)
{
    Control& model = controls[id];
    model.position = std::clamp(position, model.minimum, model.maximum);
    Dispatch([&] { dialog_.OnHScroll(code, position, id); });
}

void QtDialogWindow::UserCommand(int id)
{
    Dispatch([&] { dialog_.OnCommand(id); });
}

void QtDialogWindow::UserClose()
{
    Dispatch([&] { dialog_.OnClose(); });
}

void QtDialogWindow::UserSysCommand(uint32_t command)
{
    Dispatch([&] { dialog_.OnSysCommand(command, 0); });
}

std::unique_ptr<QMenu> QtDialogWindow::BuildSystemMenu()
{
    auto menu = std::make_unique<QMenu>(widget_.get());
    QAction* close = menu->addAction(QStringLiteral("&Close\tAlt+F4"));
    close->setData(uint(SC_CLOSE));
    for (const MenuEntry& entry : sysMenu) {
        if (entry.command == 0 && entry.text.empty()) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(ToQt(entry.text));
        action->setData(uint(entry.command));
        if (entry.checked || checkableCommands_.count(entry.command) != 0) {
            action->setCheckable(true);
            action->setChecked(entry.checked);
        }
    }
    return menu;
}

void QtDialogWindow::ShowSystemMenu(const QPoint& globalPosition)
{
    std::unique_ptr<QMenu> menu = BuildSystemMenu();
    QAction* chosen = menu->exec(globalPosition);
    if (chosen == nullptr)
        return;
    const uint32_t command = chosen->data().toUInt();
    menu.reset();
    UserSysCommand(command);
}

int QtDialogWindow::EnterCommand() const
{
    QWidget* focus = widget_->focusWidget();
    for (const auto& [id, view] : views_) {
        if (view->button != nullptr && view->button == focus)
            return id;
    }
    for (const auto& [id, view] : views_) {
        if (view->button != nullptr && (view->layout.style & rc::BS_TYPEMASK) == rc::BS_DEFPUSHBUTTON)
            return id;
    }
    return IDOK;
}

// ---------------------------------------------------------------------------
// QtWindowSystem

QtWindowSystem::QtWindowSystem(std::unique_ptr<QApplication> app) : app_(app.release())
{
    std::string error;
    const std::map<std::string, std::string> includes = {
        {"Resource.h", Embedded(embedded::kResourceH, embedded::kResourceHSize)}};
    if (!rc::Parse(Embedded(embedded::kDownloadRc, embedded::kDownloadRcSize), includes, resources_, error))
        std::fprintf(stderr, "The dialog templates cannot be read: %s\n", error.c_str());
    files_["marlet.ico"] = Embedded(embedded::kMarletIco, embedded::kMarletIcoSize);
    Init();
}

QtWindowSystem::QtWindowSystem(rc::Resources resources, std::map<std::string, std::string> files,
                               std::unique_ptr<QApplication> app)
    : app_(app.release()), resources_(std::move(resources)), files_(std::move(files))
{
    Init();
}

QtWindowSystem::~QtWindowSystem()
{
    if (catching_)
        CatchInterrupts(false);
}

void QtWindowSystem::Init()
{
    // Dialogs end by their own rules, not when the last window closes.
    QApplication::setQuitOnLastWindowClosed(false);
    // The first icon resource is the program's icon, as on Windows.
    if (!resources_.iconFiles.empty())
        QApplication::setWindowIcon(Icon(resources_.iconFiles.begin()->first));
}

QIcon QtWindowSystem::Icon(int resource)
{
    auto cached = icons_.find(resource);
    if (cached != icons_.end())
        return cached->second;
    QIcon icon;
    auto name = resources_.iconFiles.find(resource);
    if (name != resources_.iconFiles.end()) {
        auto file = files_.find(name->second);
        if (file != files_.end()) {
            QByteArray data(file->second.data(), qsizetype(file->second.size()));
            QBuffer buffer(&data);
            buffer.open(QIODevice::ReadOnly);
            QImageReader reader(&buffer, "ico");
            for (int i = 0; i < std::max(1, reader.imageCount()); ++i) {
                if (!reader.jumpToImage(i) && i > 0)
                    break;
                const QImage image = reader.read();
                if (!image.isNull())
                    icon.addPixmap(QPixmap::fromImage(image));
            }
        }
    }
    icons_[resource] = icon;
    return icon;
}

QFont QtWindowSystem::DialogFont(const std::string& name, int points)
{
    static const bool registered = [] {
        if (!QFontDatabase::hasFamily(QStringLiteral("MS Sans Serif")))
            QFontDatabase::addApplicationFont(QString::fromLatin1(kWineSansSerif));
        return true;
    }();
    (void)registered;
    const QString candidates[] = {ToQt(name), QStringLiteral("Liberation Sans"),
                                  QStringLiteral("DejaVu Sans")};
    QFont font = QApplication::font();
    for (const QString& family : candidates) {
        if (!family.isEmpty() && QFontDatabase::hasFamily(family)) {
            font = QFont(family);
            break;
        }
    }
    font.setPointSize(points > 0 ? points : 8);
    return font;
}

void QtWindowSystem::BaseUnits(const QFont& font, int& baseWidth, int& baseHeight)
{
    const QFontMetrics metrics(font);
    const int advance =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseWidth = (advance / 26 + 1) / 2;
    baseHeight = metrics.height();
}

std::string QtWindowSystem::QtFilter(const std::string& filter)
{
    // "name|patterns|name|patterns||": Qt takes the patterns from the name's
    // parentheses and separates them with blanks.
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= filter.size()) {
        const size_t bar = filter.find('|', start);
        const size_t end = bar == std::string::npos ? filter.size() : bar;
        parts.push_back(filter.substr(start, end - start));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    std::string result;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        std::string name = parts[i];
        std::string patterns = parts[i + 1];
        if (name.empty())
            break;
        std::replace(patterns.begin(), patterns.end(), ';', ' ');
        const size_t open = name.rfind('(');
        if (open != std::string::npos && name.back() == ')')
            name.erase(open);
        else
            name += ' ';
        if (!result.empty())
            result += ";;";
        result += name + "(" + patterns + ")";
    }
    return result;
}

QWidget* QtWindowSystem::WidgetOf(WindowHandle handle) const
{
    if (handle == nullptr)
        return nullptr;
    for (QtDialogWindow* window : open_) {
        if (window->Handle() == handle)
            return window->Widget();
    }
    return nullptr;
}

void QtWindowSystem::Shown(CDialog& dialog, QWidget& widget)
{
    if (shownHook_)
        shownHook_(dialog, widget);
}

int QtWindowSystem::MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                               MessageButtons buttons)
{
    const bool question = buttons == MessageButtons::YesNo;
    QMessageBox box(QMessageBox::NoIcon, ToQt(caption), ToQt(text),
                    question ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, WidgetOf(owner));
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    if (question) {
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    }
    const int answer = box.exec();
    if (!question)
        return IDOK;
    return answer == QMessageBox::Yes ? IDYES : IDNO;
}

int QtWindowSystem::RunModal(CDialog& dialog)
{
    auto layout = resources_.dialogs.find(dialog.TemplateId());
    if (layout == resources_.dialogs.end()) {
        std::fprintf(stderr, "Dialog template %d is missing.\n", dialog.TemplateId());
        return -1;
    }
    QWidget* owner = open_.empty() ? nullptr : open_.back()->Widget();
    QtDialogWindow window(*this, dialog, layout->second, owner);
    // Detached however the run ends (a test's exit handler may unwind through it).
    struct Attached {
        QtWindowSystem& system;
        CDialog& dialog;
        ~Attached()
        {
            system.open_.pop_back();
            dialog.AttachWindow(nullptr);
        }
    };
    dialog.AttachWindow(&window);
    open_.push_back(&window);
    const Attached attached{*this, dialog};
    return window.Run();
}

void QtWindowSystem::PumpMessages()
{
    QCoreApplication::processEvents();
    if (pumpHook_)
        pumpHook_();
    if (g_interrupts == 1 && !open_.empty()) {
        g_interrupts = 2; // handled; a further one still ends the program at once
        std::fputs("Interrupted: aborting the download.\n", stderr);
        for (auto window = open_.rbegin(); window != open_.rend(); ++window) {
            bool handled = false;
            (*window)->Dispatch([&] { handled = (*window)->Dialog().OnInterrupt(); });
            if (handled)
                break;
        }
    }
}

bool QtWindowSystem::FileOpenDialog(WindowHandle owner, const std::string& filter,
                                    const std::string& initialFolder, std::string& path)
{
    QWidget* parent = WidgetOf(owner);
    if (parent == nullptr && !open_.empty())
        parent = open_.back()->Widget(); // no explicit parent: the dialog running
    QFileDialog dialog(parent, QStringLiteral("Open"), ToQt(initialFolder), ToQt(QtFilter(filter)));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    path = FromQt(dialog.selectedFiles().front());
    return true;
}

void QtWindowSystem::CatchInterrupts(bool on)
{
    struct sigaction action {};
    action.sa_handler = on ? OnWindowInterruptSignal : SIG_DFL;
    sigemptyset(&action.sa_mask);
    g_interrupts = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    catching_ = on;
}

} // namespace marlet
