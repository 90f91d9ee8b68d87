#include "framework/Afx.h"

#include <cstdlib>
#include <utility>

namespace marlet {

namespace {
WindowSystem* g_windowSystem = nullptr;
std::vector<std::string> g_arguments;
std::function<void(int)> g_exitHandler;
} // namespace

WindowSystem& Windows() { return *g_windowSystem; }
void SetWindowSystem(WindowSystem* system) { g_windowSystem = system; }

CDialog::CDialog(int templateId, CDialog* parent) : templateId_(templateId), parent_(parent) {}
CDialog::~CDialog() = default;

int CDialog::DoModal() { return Windows().RunModal(*this); }

void CDialog::OnCommand(int id)
{
    if (id == IDOK)
        OnOK();
    else if (id == IDCANCEL)
        OnCancel();
}

void CDialog::OnSysCommand(uint32_t command, intptr_t)
{
    // SC_CLOSE: the platform's default handling turns it into a close request.
    if ((command & 0xFFF0u) == 0xF060u)
        OnClose();
}

void CDialog::OnClose() { EndDialog(IDCANCEL); }
void CDialog::OnHScroll(int, int, int) {}
void CDialog::OnComboSelChange(int) {}
void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(int result)
{
    if (window_ != nullptr)
        window_->EndDialog(result);
}

void CCommandLineInfo::ParseParam(const char*, int, int) {}

CWinApp::CWinApp(const char*) {}
CWinApp::~CWinApp() = default;

int CWinApp::Run()
{
    InitInstance();
    return 0;
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info)
{
    for (size_t i = 1; i < g_arguments.size(); ++i) {
        const std::string& argument = g_arguments[i];
        const bool flag = !argument.empty() && (argument[0] == '-' || argument[0] == '/');
        const std::string param = flag ? argument.substr(1) : argument;
        info.ParseParam(param.c_str(), flag ? 1 : 0, i + 1 == g_arguments.size() ? 1 : 0);
    }
}

void SetCommandLine(std::vector<std::string> arguments) { g_arguments = std::move(arguments); }
const std::vector<std::string>& CommandLine() { return g_arguments; }

void ExitProcess(int status)
{
    if (g_exitHandler)
        g_exitHandler(status);
    std::exit(status);
}

void SetExitHandler(std::function<void(int)> handler) { g_exitHandler = std::move(handler); }

} // namespace marlet
