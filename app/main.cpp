// Process start: the platform back end, the window layer, then the two
// objects of static lifetime in their order (the main dialog first, then the
// application object). An orderly exit destroys them in reverse order, so the
// main dialog's destructor writes the settings on every ending.
#include "app/DownloadApp.h"
#include "app/NativeServices.h"
#include "framework/choose/Choose.h"
#include "ui/DownloadDlg.h"
#include "ui/Resource.h"

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    using namespace marlet;
    SetCommandLine(std::vector<std::string>(argv, argv + argc));

    static NativeServices services;
    static std::unique_ptr<WindowSystem> windows = CreateWindowSystem(argc, argv, IDC_STATUS);
    SetWindowSystem(windows.get());
    services.UseWindows(*windows);

    static CDownloadDlg dialog(services.platform);
    static CDownloadApp app(dialog);
    return app.Run();
}
