// The small stand-in for the dialog class library: the application object,
// dialogs and the command-line walk.
#pragma once

#include "framework/Window.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace marlet {

class CDialog {
public:
    explicit CDialog(int templateId, CDialog* parent = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally through the window layer.
    int DoModal();
    int TemplateId() const { return templateId_; }
    CDialog* Parent() const { return parent_; }

    // The created window, or nullptr before creation and after the end.
    DialogWindow* Window() const { return window_; }
    WindowHandle GetSafeHwnd() const { return window_ ? window_->Handle() : nullptr; }
    void AttachWindow(DialogWindow* window) { window_ = window; }

    // Hooks and handlers the window layer calls.
    virtual int OnInitDialog() { return 1; }
    virtual void OnCommand(int id);
    virtual void OnSysCommand(uint32_t command, intptr_t position);
    virtual void OnClose();
    virtual void OnHScroll(int code, int position, int controlId);
    virtual void OnComboSelChange(int controlId);
    virtual void OnPaint() {}
    virtual void OnOK();
    virtual void OnCancel();
    // An interrupt delivered while CatchInterrupts is on; true when handled.
    virtual bool OnInterrupt() { return false; }

    void EndDialog(int result);

private:
    int templateId_;
    CDialog* parent_;
    DialogWindow* window_ = nullptr;
};

class CCommandLineInfo {
public:
    virtual ~CCommandLineInfo() = default;
    virtual void ParseParam(const char* param, int flag, int last);
};

class CWinApp {
public:
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual int InitInstance() { return 0; }
    // Calls InitInstance; returns the process's ordinary exit status.
    int Run();

    // For each argument after the program name, in order: one leading "-" or
    // "/" removed, then ParseParam with the rest.
    static void ParseCommandLine(CCommandLineInfo& info);

    CDialog* m_pMainWnd = nullptr;
};

// The arguments of the process, program name first.
void SetCommandLine(std::vector<std::string> arguments);
const std::vector<std::string>& CommandLine();

// Ends the process in an orderly way (the destructors of static objects run)
// with a status. Tests install a handler in place of the real exit.
[[noreturn]] void ExitProcess(int status);
void SetExitHandler(std::function<void(int)> handler);

} // namespace marlet
