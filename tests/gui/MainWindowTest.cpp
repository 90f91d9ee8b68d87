// The main window and the About box in the real Qt window, driven through
// their widgets as a user would, on a fake machine.
#include "GuiSupport.h"

#include "app/ProcessValues.h"
#include "sim/SimPeer.h"
#include "ui/AboutDlg.h"
#include "ui/Resource.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>

namespace marlet::test {
namespace {

const std::string kQuestion = "This is a special high speed setting, not all printers support this "
                              "speed.\n\nDo you wish to use this setting?";
const std::string kBusy =
    "Firmware download is in progress. You must wait for the Firmware download to complete or "
    "click on \"Abort Download\". \n\nIn the mean time don't be messing about by clicking on "
    "things.";

std::vector<std::string> Items(QComboBox* combo)
{
    std::vector<std::string> items;
    for (int i = 0; i < combo->count(); ++i)
        items.push_back(qtui::FromQt(combo->itemText(i)));
    return items;
}

// A world whose only port is COM1: with the stored speed index given.
void SerialWorld(World& w, int32_t speed)
{
    w.system.spoolerPorts = {"COM1:"};
    w.registry.SetString(kKey, "PortName", "COM1:");
    w.registry.SetDword(kKey, "DLSpeed", uint32_t(speed));
}

TEST(MainWindow, InitialStateAfterSetUp)
{
    World w;
    w.system.spoolerPorts = {"LPT1:", "COM3:", "USB001", "COM1:", "com3:"};
    w.registry.SetString(kKey, "PortName", "com3");
    w.registry.SetString(kKey, "DLFileName", "/srv/firmware/images/FW2207_218.bot");
    w.registry.SetDword(kKey, "DLSpeed", 7);
    QtProgram qt(w);
    qt.Run([&](QtDialogWindow& win) {
        EXPECT_TRUE(win.Widget()->isVisible());
        EXPECT_EQ(win.Widget()->windowTitle(), QStringLiteral("Marlet Firmware Downloader"));
        EXPECT_FALSE(win.Widget()->windowIcon().isNull());
        auto* combo = Find<QComboBox>(win, IDC_PORT);
        EXPECT_TRUE(combo->isEditable());
        EXPECT_EQ(Items(combo), (std::vector<std::string>{"COM1:", "COM3:", "LPT1:", "USB001"}));
        EXPECT_EQ(combo->currentText(), QStringLiteral("COM3:"));
        QWidget* focus = win.Widget()->focusWidget();
        EXPECT_TRUE(focus == combo || combo->isAncestorOf(focus));
        EXPECT_TRUE(Find<QSlider>(win, IDC_SPEED)->isEnabled());
        EXPECT_TRUE(Find<QLabel>(win, IDC_SPEED_LABEL)->isEnabled());
        // A stored index above the table: the slider shows its end, the index stays.
        EXPECT_EQ(Find<QSlider>(win, IDC_SPEED)->value(), 5);
        EXPECT_EQ(qt.program.dialog->DLSpeed, 7);
        auto* file = Find<QLineEdit>(win, IDC_FILE_NAME);
        EXPECT_EQ(file->text(), QStringLiteral("/srv/firmware/images/FW2207_218.bot"));
        EXPECT_EQ(file->cursorPosition(), file->text().size());
        for (int id : {IDC_BOOT_LOADER_REV, IDC_FIRMWARE_REV, IDC_FLASH_ID})
            EXPECT_TRUE(Find<QLineEdit>(win, id)->text().isEmpty());
        EXPECT_EQ(StatusText(win, IDC_STATUS), "");
    });
    EXPECT_TRUE(qt.shown);
}

TEST(MainWindow, SelectingAPortSetsTheSliderRule)
{
    World w;
    w.system.spoolerPorts = {"COM1:", "LPT1:", "COM7:"};
    w.registry.SetString(kKey, "PortName", "COM1:");
    QtProgram qt(w);
    qt.Run([&](QtDialogWindow& win) {
        auto* combo = Find<QComboBox>(win, IDC_PORT);
        auto* slider = Find<QSlider>(win, IDC_SPEED);
        auto* label = Find<QLabel>(win, IDC_SPEED_LABEL);
        const struct {
            Qt::Key key;
            std::string port;
            bool serial;
        } steps[] = {
            {Qt::Key_Down, "COM7:", true}, {Qt::Key_Down, "LPT1:", false}, {Qt::Key_Up, "COM7:", true}};
        for (const auto& step : steps) {
            QTest::keyClick(combo, step.key);
            EXPECT_EQ(qt.program.dialog->PortName, step.port);
            EXPECT_EQ(qtui::FromQt(combo->currentText()), step.port);
            EXPECT_EQ(slider->isEnabled(), step.serial) << step.port;
            EXPECT_EQ(label->isEnabled(), step.serial) << step.port;
        }
        // Typing a name is not a selection: the rule stays as it was.
        combo->lineEdit()->selectAll();
        QTest::keyClicks(combo->lineEdit(), "USB001");
        EXPECT_EQ(win.GetItemText(IDC_PORT), "USB001");
        EXPECT_TRUE(slider->isEnabled());
    });
}

TEST(MainWindow, HighSpeedQuestion)
{
    const struct {
        QMessageBox::StandardButton answer;
        int position;
        const char* status;
    } cases[] = {
        {QMessageBox::No, 2, "Serial Speed: 57600 Baud"},
        {QMessageBox::Yes, 3, "Serial Speed: 115200 Baud"},
    };
    for (const auto& c : cases) {
        World w;
        SerialWorld(w, 2);
        BoxAnswerer boxes;
        boxes.answers = {c.answer};
        QtProgram qt(w);
        qt.Run([&](QtDialogWindow& win) {
            auto* slider = Find<QSlider>(win, IDC_SPEED);
            slider->setFocus();
            QTest::keyClick(slider, Qt::Key_Right);
            ASSERT_EQ(boxes.seen.size(), 1u);
            EXPECT_EQ(boxes.seen[0].caption, "Warning");
            EXPECT_EQ(boxes.seen[0].text, kQuestion);
            EXPECT_EQ(boxes.seen[0].owner, win.Widget());
            EXPECT_EQ(slider->value(), c.position);
            EXPECT_EQ(qt.program.dialog->DLSpeed, c.position);
            EXPECT_EQ(StatusText(win, IDC_STATUS), c.status);
        });
    }
}

TEST(MainWindow, HomeAndEndMoveTheThumbButNotTheSpeed)
{
    World w;
    SerialWorld(w, 2);
    BoxAnswerer boxes;
    QtProgram qt(w);
    qt.Run([&](QtDialogWindow& win) {
        auto* slider = Find<QSlider>(win, IDC_SPEED);
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_Home);
        EXPECT_EQ(slider->value(), 0);
        QTest::keyClick(slider, Qt::Key_End);
        EXPECT_EQ(slider->value(), 5);
        EXPECT_EQ(qt.program.dialog->DLSpeed, 2);
        EXPECT_EQ(StatusText(win, IDC_STATUS), "");
        EXPECT_TRUE(boxes.seen.empty());
    });
}

TEST(MainWindow, SystemMenuSwitchesAndNoMessages)
{
    World w;
    SerialWorld(w, 2);
    w.registry.SetDword(kKey, "XonXoff", 1);
    BoxAnswerer boxes;
    QtProgram qt(w);
    qt.Run([&](QtDialogWindow& win) {
        struct Entry {
            std::string text;
            bool checkable, checked;
        };
        auto entries = [&] {
            std::vector<Entry> list;
            const std::unique_ptr<QMenu> menu = win.BuildSystemMenu();
            for (QAction* a : menu->actions())
                list.push_back({qtui::FromQt(a->text()), a->isCheckable(), a->isChecked()});
            return list;
        };
        auto command = [&](const std::string& text) {
            const std::unique_ptr<QMenu> menu = win.BuildSystemMenu();
            for (QAction* a : menu->actions()) {
                if (qtui::FromQt(a->text()) == text)
                    return a->data().toUInt();
            }
            ADD_FAILURE() << "no entry " << text;
            return 0u;
        };
        std::vector<Entry> menu = entries();
        ASSERT_EQ(menu.size(), 6u);
        EXPECT_EQ(menu[0].text, "&Close\tAlt+F4");
        EXPECT_EQ(menu[1].text, "");
        EXPECT_EQ(menu[2].text, "&About Download...");
        EXPECT_FALSE(menu[2].checkable);
        EXPECT_EQ(menu[3].text, "");
        EXPECT_EQ(menu[4].text, "No Messages");
        EXPECT_TRUE(menu[4].checkable);
        EXPECT_FALSE(menu[4].checked);
        EXPECT_EQ(menu[5].text, "XOn/XOff (serial)");
        EXPECT_TRUE(menu[5].checked);

        win.UserSysCommand(command("No Messages"));
        EXPECT_EQ(NoMessages, 1);
        EXPECT_TRUE(entries()[4].checked);

        // With messages off the slider goes to 5 without a question.
        auto* slider = Find<QSlider>(win, IDC_SPEED);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(slider, Qt::Key_Right);
        EXPECT_TRUE(boxes.seen.empty());
        EXPECT_EQ(qt.program.dialog->DLSpeed, 5);
        EXPECT_EQ(StatusText(win, IDC_STATUS), "Serial Speed: 460800 Baud");

        win.UserSysCommand(command("XOn/XOff (serial)"));
        EXPECT_EQ(XonXoff, 0);
        EXPECT_FALSE(entries()[5].checked);
        win.UserSysCommand(command("No Messages"));
        EXPECT_FALSE(entries()[4].checked);
        EXPECT_EQ(NoMessages, 0);
    });
}

TEST(MainWindow, FileChooser)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString folder = temp.path() + QStringLiteral("/fw");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString chosen = folder + QStringLiteral("/FW2207_218.cbl");
    QFile(chosen).open(QIODevice::WriteOnly);
    const std::string old = qtui::FromQt(folder) + "/old.bot";

    for (const bool confirm : {true, false}) {
        World w;
        SerialWorld(w, 0);
        w.registry.SetString(kKey, "DLFileName", old);
        QtProgram qt(w);
        QString startedIn;
        QStringList filters;
        OnModal<QFileDialog> answer([](QFileDialog&) { return true; },
                                    [&](QFileDialog& dialog) {
                                        startedIn = dialog.directory().absolutePath();
                                        filters = dialog.nameFilters();
                                        if (confirm) {
                                            dialog.selectFile(chosen);
                                            static_cast<QDialog&>(dialog).accept();
                                        } else {
                                            dialog.reject();
                                        }
                                    });
        qt.Run([&](QtDialogWindow& win) {
            win.SetItemText(IDC_STATUS, "something earlier");
            QTest::mouseClick(Find<QPushButton>(win, IDC_SELECT_FILE), Qt::LeftButton);
            EXPECT_EQ(answer.count, 1);
            EXPECT_EQ(startedIn, folder);
            // Qt's file dialog offers the entry with its blanks simplified.
            EXPECT_EQ(filters, QStringList{QStringLiteral("Boot files (*.bot *.cbt *.cbf *.cbl)")});
            auto* file = Find<QLineEdit>(win, IDC_FILE_NAME);
            if (confirm) {
                EXPECT_EQ(file->text(), chosen);
                EXPECT_EQ(file->cursorPosition(), chosen.size());
                EXPECT_EQ(qt.program.dialog->DLFileName, qtui::FromQt(chosen));
                EXPECT_EQ(StatusText(win, IDC_STATUS), "Download File: " + qtui::FromQt(chosen));
            } else {
                EXPECT_EQ(qtui::FromQt(file->text()), old);
                EXPECT_EQ(qt.program.dialog->DLFileName, old);
                EXPECT_EQ(StatusText(win, IDC_STATUS), "");
            }
        });
    }
}

TEST(MainWindow, AboutBox)
{
    World w;
    SerialWorld(w, 0);
    QtProgram qt(w);
    OnModal<QDialog> about([](QDialog& d) { return d.windowTitle() == QStringLiteral("About Download"); },
                           [&](QDialog& d) {
                               QtDialogWindow& box = *qt.windows.ActiveWindow();
                               EXPECT_EQ(box.GetItemText(IDC_HELP_TEXT), AboutHelpText());
                               auto* help = Find<QPlainTextEdit>(box, IDC_HELP_TEXT);
                               QString shown = qtui::ToQt(AboutHelpText());
                               shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
                               EXPECT_EQ(help->toPlainText(), shown);
                               EXPECT_TRUE(help->isReadOnly());
                               EXPECT_EQ(help->lineWrapMode(), QPlainTextEdit::NoWrap);
                               EXPECT_EQ(help->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
                               QStringList labels;
                               for (QLabel* label : d.findChildren<QLabel*>())
                                   labels << label->text();
                               EXPECT_TRUE(
                                   labels.contains(QStringLiteral("Firmware Downloader Version 2.18")));
                               auto* ok = Find<QPushButton>(box, IDOK);
                               EXPECT_EQ(d.focusWidget(), ok);
                               QTest::mouseClick(ok, Qt::LeftButton);
                           });
    qt.Run([&](QtDialogWindow& win) {
        win.UserSysCommand(IDM_ABOUTBOX);
        EXPECT_EQ(about.count, 1);
        EXPECT_TRUE(win.Widget()->isVisible());
    });
}

TEST(MainWindow, StatusWriteRepaintsOnlyTheStatusBox)
{
    World w;
    SerialWorld(w, 0);
    QtProgram qt(w);
    qt.Run([&](QtDialogWindow& win) {
        win.Widget()->repaint(); // whatever was still to be painted
        QCoreApplication::processEvents();
        PaintCounter counter;
        counter.Watch(*win.Widget());
        auto* status = Find<qtui::AlignedTextBox>(win, IDC_STATUS);
        qt.program.dialog->SetStatusRaw("Flash Update In Progress, 3% Complete \r\n***");
        // Painted before the write returned, and nothing else was.
        EXPECT_EQ(counter.paints[status], 1);
        EXPECT_EQ(counter.Total(), 1);
        EXPECT_EQ(status->Lines(), (QStringList{QStringLiteral("Flash Update In Progress, 3% Complete "),
                                                QStringLiteral("***")}));
        qt.program.dialog->SetStatus("one\ntwo");
        EXPECT_EQ(status->Lines(), QStringList{QStringLiteral("one two")});
    });
}

TEST(MainWindow, LayoutInPixels)
{
    App();
    const QFont font = QtWindowSystem::DialogFont("MS Sans Serif", 8);
    int bw = 0, bh = 0;
    QtWindowSystem::BaseUnits(font, bw, bh);
    World w;
    SerialWorld(w, 0);
    QtProgram qt(w);
    qt.Run([&](QtDialogWindow& win) {
        EXPECT_EQ(win.Widget()->size(), QSize((330 * bw + 2) / 4, (154 * bh + 4) / 8));
        EXPECT_EQ(Find<QWidget>(win, IDC_STATUS)->geometry(),
                  QRect((7 * bw + 2) / 4, (123 * bh + 4) / 8, (316 * bw + 2) / 4, (24 * bh + 4) / 8));
        // The combo box's template height is its dropped list's.
        auto* combo = Find<QComboBox>(win, IDC_PORT);
        const int list = (93 * bh + 4) / 8;
        EXPECT_LT(combo->height(), list);
        EXPECT_EQ(combo->maxVisibleItems(), (list - combo->height()) / QFontMetrics(font).height());
        if (QFontInfo(font).family() == QStringLiteral("MS Sans Serif")) {
            EXPECT_EQ(win.Widget()->size(), QSize(495, 250)); // the size on Windows at 96 dpi
        }
    });
}

// The simulated printer, telling the test of every write that reaches it.
class WatchedPrinter : public FakePeer {
public:
    size_t Receive(const uint8_t* data, size_t length, uint32_t now) override
    {
        if (onReceive)
            onReceive(length);
        return peer.Receive(data, length, now);
    }
    size_t Send(uint8_t* data, size_t length, uint32_t now) override { return peer.Send(data, length, now); }
    void Opened(uint32_t now) override { peer.Opened(now); }
    void Closed(uint32_t now) override { peer.Closed(now); }
    void Configured(const CommConfig& config, uint32_t now) override { peer.Configured(config, now); }
    bool RefusesConfig(const CommConfig& config, uint32_t now) override
    {
        return peer.RefusesConfig(config, now);
    }
    bool XoffHeld() override { return peer.XoffHeld(); }
    bool Gone() override { return peer.Gone(); }
    sim::PrinterSim& Sim() { return peer.Sim(); }

    sim::SimPeer peer;
    std::function<void(size_t length)> onReceive;
};

// A download against the simulated printer on COM1, clicking as a user would.
class Transfer {
public:
    explicit Transfer(size_t size)
    {
        SerialWorld(world, 0);
        world.registry.SetString(kKey, "DLFileName", "fw.bot");
        std::string image(size, '\0');
        for (size_t i = 0; i < size; ++i)
            image[i] = char((i * 7 + 0x55) & 0xFF);
        world.files.files["fw.bot"] = image;
        world.comm.Add("\\\\.\\COM1").peer = &printer;
    }
    World world;
    WatchedPrinter printer;
};

TEST(MainWindow, DownloadWithGuardsAndAbort)
{
    Transfer t(5000);
    BoxAnswerer boxes;
    QtProgram qt(t.world);
    qt.Run([&](QtDialogWindow& win) {
        auto* status = Find<qtui::AlignedTextBox>(win, IDC_STATUS);
        QStringList painted; // the status text at each of its paints
        struct Watch : QObject {
            qtui::AlignedTextBox* box;
            QStringList* painted;
            bool eventFilter(QObject*, QEvent* event) override
            {
                if (event->type() == QEvent::Paint)
                    painted->push_back(box->Text());
                return false;
            }
        } watch;
        watch.box = status;
        watch.painted = &painted;
        status->installEventFilter(&watch);

        // What the status box had last painted when each block reached the printer.
        QStringList paintedAtBlock;
        t.printer.onReceive = [&](size_t length) {
            if (length == 1000)
                paintedAtBlock << (painted.isEmpty() ? QString() : painted.back());
        };
        int pumps = 0;
        QStringList linesAtSecondPump;
        bool visibleAfterClose = false;
        qt.windows.SetPumpHook([&] {
            ++pumps;
            if (pumps == 1) {
                QTest::mouseClick(Find<QPushButton>(win, IDC_GET_PRINTER_INFO), Qt::LeftButton);
                win.Widget()->close();
                visibleAfterClose = win.Widget()->isVisible() && !win.Ended();
            } else if (pumps == 2) {
                linesAtSecondPump = status->Lines();
                QTest::mouseClick(Find<QPushButton>(win, IDC_ABORT_DOWNLOAD), Qt::LeftButton);
            }
        });
        QTest::mouseClick(Find<QPushButton>(win, IDC_DOWNLOAD_NOW), Qt::LeftButton);
        qt.windows.SetPumpHook(nullptr);

        EXPECT_EQ(pumps, 2);
        const QStringList progress = {QStringLiteral("Flash Update In Progress, 21% Complete "),
                                      QString(21, QLatin1Char('*'))};
        EXPECT_EQ(linesAtSecondPump, progress);
        // Each block's progress was on screen before the next block was written.
        ASSERT_EQ(paintedAtBlock.size(), 2);
        EXPECT_EQ(paintedAtBlock[1], progress.join(QStringLiteral("\r\n")));
        EXPECT_TRUE(visibleAfterClose);
        EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{kBusy, kBusy, "Flash Update ABORTED."}));
        EXPECT_EQ(t.printer.Sim().Image().size(), 2000u);
        EXPECT_EQ(qt.program.dialog->DownloadInProgress, 0);

        // Once the transfer has ended, closing works.
        win.Widget()->close();
        EXPECT_TRUE(win.Ended());
    });
    EXPECT_EQ(qt.program.dialog->DLFileName, "fw.bot");
}

TEST(MainWindow, EnterOrEscapeDuringATransferWaitsForItsEnd)
{
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        Transfer t(3000);
        BoxAnswerer boxes;
        QtProgram qt(t.world);
        qt.Run([&](QtDialogWindow& win) {
            std::vector<bool> visibleWhileRunning;
            bool endedAtOnce = false;
            int pumps = 0;
            qt.windows.SetPumpHook([&] {
                if (++pumps == 1) {
                    auto* file = Find<QLineEdit>(win, IDC_FILE_NAME);
                    file->setFocus();
                    QTest::keyClick(file, key);
                    endedAtOnce = win.Ended();
                }
                visibleWhileRunning.push_back(win.Widget()->isVisible());
            });
            QTest::mouseClick(Find<QPushButton>(win, IDC_DOWNLOAD_NOW), Qt::LeftButton);
            qt.windows.SetPumpHook(nullptr);
            EXPECT_TRUE(endedAtOnce);
            EXPECT_EQ(visibleWhileRunning, std::vector<bool>(3, true));
            ASSERT_FALSE(boxes.seen.empty());
            EXPECT_EQ(boxes.seen.back().text.rfind("Flash Update DONE.", 0), 0u);
            EXPECT_TRUE(boxes.seen.back().ownerVisible); // the outcome is shown over the window
            EXPECT_EQ(t.printer.Sim().Image().size(), 3000u);
        });
    }
}

TEST(MainWindow, FirstPassBoxesHaveNoOwnerAndExitShowsNoWindow)
{
    {
        World w({"-reset", "-port:"});
        BoxAnswerer boxes;
        QtProgram qt(w);
        bool shownAtFirstBox = true;
        boxes.onBox = [&](QMessageBox&) {
            if (boxes.seen.size() == 1)
                shownAtFirstBox = qt.shown;
        };
        qt.Run([](QtDialogWindow&) {});
        ASSERT_FALSE(boxes.seen.empty());
        EXPECT_FALSE(shownAtFirstBox);
        EXPECT_EQ(boxes.seen[0].owner, nullptr);
    }
    {
        World w({"-exit"});
        BoxAnswerer boxes;
        QtProgram qt(w);
        qt.Run([](QtDialogWindow&) {});
        EXPECT_TRUE(qt.program.exitStatus.has_value());
        EXPECT_FALSE(qt.shown);
        for (QWidget* top : QApplication::topLevelWidgets())
            EXPECT_FALSE(top->isVisible()) << qtui::FromQt(top->windowTitle());
    }
}

TEST(PortConfiguration, OkStoresTheChoicesCancelNothing)
{
    App();
    QtWindowSystem windows;
    CommConfig start;
    start.dcb.BaudRate = 9600;
    start.dcb.ByteSize = 8;
    start.dcb.Parity = NoParity;
    start.dcb.StopBits = OneStopBit;
    start.dcb.fDtrControl = 1;
    start.dcb.fRtsControl = 1;
    for (const bool confirm : {true, false}) {
        QStringList shown;
        OnModal<QDialog> answer(
            [](QDialog& d) { return d.windowTitle() == QStringLiteral("COM1 Properties"); },
            [&](QDialog& d) {
                const QList<QComboBox*> boxes = d.findChildren<QComboBox*>();
                ASSERT_EQ(boxes.size(), 5);
                for (QComboBox* box : boxes)
                    shown << box->currentText();
                boxes[0]->setEditText(QStringLiteral("57600"));
                boxes[1]->setCurrentText(QStringLiteral("7"));
                boxes[2]->setCurrentText(QStringLiteral("Even"));
                boxes[3]->setCurrentText(QStringLiteral("2"));
                boxes[4]->setCurrentText(QStringLiteral("Hardware"));
                auto* buttons = d.findChild<QDialogButtonBox*>();
                buttons->button(confirm ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
            });
        CommConfig config = start;
        EXPECT_EQ(windows.CommConfigDialog("COM1", nullptr, config), confirm);
        EXPECT_EQ(shown, (QStringList{"9600", "8", "None", "1", "None"}));
        if (!confirm) {
            EXPECT_EQ(config, start);
            continue;
        }
        EXPECT_EQ(config.dcb.BaudRate, 57600u);
        EXPECT_EQ(config.dcb.ByteSize, 7);
        EXPECT_EQ(config.dcb.Parity, EvenParity);
        EXPECT_EQ(config.dcb.fParity, 1u);
        EXPECT_EQ(config.dcb.StopBits, TwoStopBits);
        EXPECT_EQ(
            (std::vector<uint32_t>{config.dcb.fOutxCtsFlow, config.dcb.fOutxDsrFlow, config.dcb.fDtrControl,
                                   config.dcb.fRtsControl, config.dcb.fOutX, config.dcb.fInX}),
            (std::vector<uint32_t>{1, 1, 2, 2, 0, 0}));
    }
}

} // namespace
} // namespace marlet::test
