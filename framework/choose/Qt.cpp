#include "framework/choose/Choose.h"
#include "framework/headless/HeadlessWindows.h"
#include "framework/qt/QtWindows.h"
#include "ui/Resource.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdlib>
#include <string>

namespace marlet {

namespace {

bool IsSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Qt reports on standard error why a display could not be opened; a run that
// goes on without a window has nothing to hear about it.
void QuietPlatformMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QString category = QString::fromLatin1(context.category ? context.category : "");
    if (category.startsWith(QStringLiteral("qt.qpa")) || message.contains(QStringLiteral("platform plugin")))
        return;
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

// A self-grab for the documentation (MARLET_SCREENSHOT=folder): the main
// window and the About box are saved as main-window.png and about-box.png,
// then both are closed.
void InstallSelfGrab(QtWindowSystem& system, const QString& folder)
{
    system.SetShownHook([&system, folder](CDialog& dialog, QWidget& widget) {
        QTimer::singleShot(200, &widget, [&system, &dialog, &widget, folder] {
            const bool main = dialog.TemplateId() == IDD_DOWNLOAD_DIALOG;
            widget.grab().save(
                folder + (main ? QStringLiteral("/main-window.png") : QStringLiteral("/about-box.png")));
            QtDialogWindow* window = system.ActiveWindow();
            if (window == nullptr)
                return;
            if (main)
                window->UserSysCommand(IDM_ABOUTBOX);
            window->Dispatch([&] { dialog.EndDialog(main ? IDCANCEL : IDOK); });
        });
    });
}

} // namespace

std::unique_ptr<WindowSystem> CreateWindowSystem(int& argc, char** argv, int statusControlId)
{
    const std::string requested = IsSet("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "";
    const bool offscreen = requested.substr(0, requested.find(';')) == "offscreen";
    if (!offscreen && !IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY"))
        return HeadlessWindowSystem::ForProcess(statusControlId);

    // Qt ends the process when no platform of its list opens: end the list
    // with one that always does, and take landing there as "no display".
    if (!offscreen) {
        std::string platforms =
            requested.empty() ? (IsSet("WAYLAND_DISPLAY") ? "wayland;xcb" : "xcb") : requested;
        setenv("QT_QPA_PLATFORM", (platforms + ";offscreen").c_str(), 1);
    }
    // Qt sees only the program's name: the arguments are the program's own options.
    static int qtArgc = 1;
    static char* qtArgv[] = {argc > 0 ? argv[0] : const_cast<char*>("marlet-download"), nullptr};
    const QtMessageHandler previous = qInstallMessageHandler(QuietPlatformMessages);
    auto app = std::make_unique<QApplication>(qtArgc, qtArgv);
    qInstallMessageHandler(previous);
    if (requested.empty())
        unsetenv("QT_QPA_PLATFORM");
    else
        setenv("QT_QPA_PLATFORM", requested.c_str(), 1);
    if (!offscreen && QGuiApplication::platformName() == QStringLiteral("offscreen")) {
        app.reset();
        return HeadlessWindowSystem::ForProcess(statusControlId);
    }

    auto system = std::make_unique<QtWindowSystem>(std::move(app));
    if (IsSet("MARLET_SCREENSHOT"))
        InstallSelfGrab(*system, QString::fromLocal8Bit(std::getenv("MARLET_SCREENSHOT")));
    return system;
}

CommConfigDialogFunction CommConfigDialogOf(WindowSystem& windows)
{
    auto* qt = dynamic_cast<QtWindowSystem*>(&windows);
    if (qt == nullptr)
        return {};
    return [qt](const std::string& device, WindowHandle owner, CommConfig& config) {
        return qt->CommConfigDialog(device, owner, config);
    };
}

} // namespace marlet
