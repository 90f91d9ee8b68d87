// The window layer used when no window can be shown: message boxes and the
// status box are reported on standard error, questions are asked on the
// terminal (or answered No), and an interrupt during a transfer aborts it.
#pragma once

#include "framework/Afx.h"
#include "framework/MemoryWindow.h"

#include <cstdio>
#include <memory>
#include <string>

namespace marlet {

class HeadlessWindowSystem : public WindowSystem {
public:
    // statusControlId: the control whose text is the status line.
    // errorIsTerminal / inputIsTerminal: how standard error and input behave.
    HeadlessWindowSystem(int statusControlId, std::FILE* out, bool errorIsTerminal, bool inputIsTerminal,
                         std::FILE* in = stdin);
    // Asks the process's own standard streams.
    static std::unique_ptr<HeadlessWindowSystem> ForProcess(int statusControlId);
    ~HeadlessWindowSystem() override;

    int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                   MessageButtons buttons) override;
    int RunModal(CDialog& dialog) override;
    void PumpMessages() override;
    bool FileOpenDialog(WindowHandle owner, const std::string& filter, const std::string& initialFolder,
                        std::string& path) override;
    void CatchInterrupts(bool on) override;

    // Called by the dialog window when its status text is repainted.
    void StatusShown(const std::string& text);
    // Puts out a status line that is still held back, and ends an in-place line.
    void Flush();

private:
    class Window;
    void EndInPlaceLine();

    int statusControlId_;
    std::FILE* out_;
    bool errorIsTerminal_;
    bool inputIsTerminal_;
    std::FILE* in_;
    std::string lastStatus_;    // the last status line put out or held back
    std::string pendingStatus_; // held back (log output) until the next event
    bool hasPending_ = false;
    bool inPlaceLine_ = false; // a terminal line that the next status replaces
    CDialog* modal_ = nullptr;
};

// The status text as one line: carriage returns dropped, line feeds as blanks.
std::string StatusLine(const std::string& text);

} // namespace marlet
