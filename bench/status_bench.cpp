// What one status write costs in the Qt window: the download's progress texts
// written 10000 times into the shown main window, each repainted at once, with
// the median, mean and 99th percentile printed, and a whole-window repaint for
// comparison. Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include "app/ProcessValues.h"
#include "framework/qt/QtControls.h"
#include "framework/qt/QtWindows.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeCommDevice.h"
#include "platform/fake/FakeFiles.h"
#include "platform/fake/FakeRegistry.h"
#include "platform/fake/FakeSockets.h"
#include "platform/fake/FakeSystem.h"
#include "ui/DownloadDlg.h"
#include "ui/Resource.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Figures {
    double median = 0, mean = 0, p99 = 0;
};

Figures Summarise(std::vector<double> micros)
{
    Figures f;
    std::sort(micros.begin(), micros.end());
    f.median = micros[micros.size() / 2];
    f.p99 = micros[micros.size() * 99 / 100];
    for (double m : micros)
        f.mean += m;
    f.mean /= double(micros.size());
    return f;
}

template <typename Write> std::vector<double> Time(int count, Write write)
{
    std::vector<double> micros;
    micros.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        write(i);
        const auto end = std::chrono::steady_clock::now();
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    return micros;
}

// The text the download shows after a block: the percentage and a bar of stars.
std::string ProgressText(int i, int count)
{
    const int percent = std::min(100, i * 100 / count + 1);
    return "Flash Update In Progress, " + std::to_string(percent) + "% Complete \r\n" +
           std::string(size_t(percent), '*');
}

} // namespace

int main(int argc, char** argv)
{
    using namespace marlet;
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    constexpr int kWrites = 10000;

    FakeClock clock;
    FakeRegistry registry;
    FakeCommDevice comm{clock};
    FakeSockets sockets{clock};
    FakeSystem system;
    FakeFiles files;
    Platform platform{registry, comm, sockets, system, clock, files};
    system.spoolerPorts = {"COM1:", "LPT1:"};
    SetCommandLine({"status_bench"});

    QtWindowSystem windows;
    SetWindowSystem(&windows);
    CDownloadDlg dialog(platform);

    Figures status, whole;
    int statusPaints = 0;
    windows.SetShownHook([&](CDialog& shown, QWidget& widget) {
        QTimer::singleShot(0, &widget, [&] {
            QtDialogWindow* window = windows.ActiveWindow();
            QCoreApplication::processEvents(); // the first paint of the window
            qtui::PaintWatcher watcher([&](QObject*) { ++statusPaints; });
            window->ControlWidget(IDC_STATUS)->installEventFilter(&watcher);
            status = Summarise(Time(kWrites, [&](int i) { dialog.SetStatusRaw(ProgressText(i, kWrites)); }));
            window->ControlWidget(IDC_STATUS)->removeEventFilter(&watcher);
            whole = Summarise(Time(kWrites / 10, [&](int) { widget.repaint(); }));
            window->Dispatch([&] { shown.EndDialog(IDCANCEL); });
        });
    });
    dialog.DoModal();

    std::printf("status write with immediate repaint, %d writes: median %.1f us, mean %.1f us, p99 %.1f us\n",
                kWrites, status.median, status.mean, status.p99);
    std::printf("status box painted %d times for %d writes\n", statusPaints, kWrites);
    std::printf("whole-window repaint, for comparison: median %.1f us\n", whole.median);
    std::printf("platform: %s\n", QGuiApplication::platformName().toLocal8Bit().constData());
    SetWindowSystem(nullptr);
    return 0;
}
