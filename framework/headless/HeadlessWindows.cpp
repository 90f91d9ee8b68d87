#include "framework/headless/HeadlessWindows.h"

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace marlet {

namespace {

volatile std::sig_atomic_t g_interrupts = 0;

extern "C" void OnInterruptSignal(int signal)
{
    if (g_interrupts >= 1) {
        // A second interrupt ends the program at once.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_interrupts = 1;
}

} // namespace

std::string StatusLine(const std::string& text)
{
    std::string line;
    for (char c : text) {
        if (c == '\r')
            continue;
        line += c == '\n' ? ' ' : c;
    }
    return line;
}

class HeadlessWindowSystem::Window : public MemoryDialogWindow {
public:
    Window(HeadlessWindowSystem& system) : system_(system) {}
    void RedrawNow() override
    {
        MemoryDialogWindow::RedrawNow();
        system_.StatusShown(GetItemText(system_.statusControlId_));
    }

private:
    HeadlessWindowSystem& system_;
};

HeadlessWindowSystem::HeadlessWindowSystem(int statusControlId, std::FILE* out, bool errorIsTerminal,
                                           bool inputIsTerminal, std::FILE* in)
    : statusControlId_(statusControlId), out_(out), errorIsTerminal_(errorIsTerminal),
      inputIsTerminal_(inputIsTerminal), in_(in)
{
}

std::unique_ptr<HeadlessWindowSystem> HeadlessWindowSystem::ForProcess(int statusControlId)
{
    return std::make_unique<HeadlessWindowSystem>(statusControlId, stderr, isatty(STDERR_FILENO) == 1,
                                                  isatty(STDIN_FILENO) == 1);
}

HeadlessWindowSystem::~HeadlessWindowSystem()
{
    Flush();
    CatchInterrupts(false);
}

void HeadlessWindowSystem::EndInPlaceLine()
{
    if (inPlaceLine_) {
        std::fputc('\n', out_);
        inPlaceLine_ = false;
    }
}

void HeadlessWindowSystem::Flush()
{
    if (hasPending_) {
        std::fprintf(out_, "%s\n", pendingStatus_.c_str());
        hasPending_ = false;
    }
    EndInPlaceLine();
    std::fflush(out_);
}

void HeadlessWindowSystem::StatusShown(const std::string& text)
{
    const std::string line = StatusLine(text);
    if (line == lastStatus_)
        return;
    lastStatus_ = line;
    if (errorIsTerminal_) {
        std::fprintf(out_, "\r\033[K%s", line.c_str());
        inPlaceLine_ = !line.empty();
        std::fflush(out_);
        return;
    }
    // A log: held back until the next event, so that a box with the same text
    // (which follows its status write) is printed once.
    if (hasPending_)
        std::fprintf(out_, "%s\n", pendingStatus_.c_str());
    hasPending_ = !line.empty();
    pendingStatus_ = line;
    std::fflush(out_);
}

int HeadlessWindowSystem::MessageBox(WindowHandle, const std::string& text, const std::string&,
                                     MessageButtons buttons)
{
    const bool sameAsStatus = StatusLine(text) == lastStatus_;
    if (sameAsStatus && hasPending_)
        hasPending_ = false;
    if (sameAsStatus && inPlaceLine_) {
        std::fputs("\r\033[K", out_);
        inPlaceLine_ = false;
    }
    Flush();
    std::fprintf(out_, "%s\n", text.c_str());
    if (buttons == MessageButtons::Ok) {
        std::fflush(out_);
        return IDOK;
    }
    int answer = IDNO;
    if (inputIsTerminal_) {
        std::fputs("[y/N] ", out_);
        std::fflush(out_);
        char line[64] = {};
        if (std::fgets(line, sizeof line, in_) != nullptr && (line[0] == 'y' || line[0] == 'Y'))
            answer = IDYES;
    }
    std::fprintf(out_, "-> %s\n", answer == IDYES ? "Yes" : "No");
    std::fflush(out_);
    return answer;
}

int HeadlessWindowSystem::RunModal(CDialog& dialog)
{
    Window window(*this);
    dialog.AttachWindow(&window);
    CDialog* outer = modal_;
    modal_ = &dialog;
    dialog.OnInitDialog();
    if (!window.Ended()) {
        Flush();
        std::fputs("No display: the window cannot be shown; ending as if it were closed.\n", out_);
        // What the window's selector would have offered, for a person to see.
        for (const auto& [id, control] : window.controls) {
            if (control.entries.empty())
                continue;
            std::string list;
            for (const std::string& entry : control.entries)
                list += (list.empty() ? "" : ", ") + entry;
            std::fprintf(out_, "Offered in the selector: %s\n", list.c_str());
        }
        dialog.OnClose();
        if (!window.Ended())
            window.EndDialog(IDCANCEL);
    }
    Flush();
    modal_ = outer;
    dialog.AttachWindow(nullptr);
    return window.Result();
}

void HeadlessWindowSystem::PumpMessages()
{
    if (g_interrupts == 1 && modal_ != nullptr) {
        g_interrupts = 2; // handled; a further one still ends the program at once
        Flush();
        std::fputs("Interrupted: aborting the download.\n", out_);
        modal_->OnInterrupt();
    }
}

bool HeadlessWindowSystem::FileOpenDialog(WindowHandle, const std::string&, const std::string&, std::string&)
{
    return false;
}

void HeadlessWindowSystem::CatchInterrupts(bool on)
{
    struct sigaction action {};
    action.sa_handler = on ? OnInterruptSignal : SIG_DFL;
    sigemptyset(&action.sa_mask);
    g_interrupts = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace marlet
