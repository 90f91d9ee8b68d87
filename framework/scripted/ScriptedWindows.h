// A window layer for tests: records every message box, answers questions and
// file dialogs from queues the test fills, and runs a test script as the user.
#pragma once

#include "framework/Afx.h"
#include "framework/MemoryWindow.h"

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace marlet {

class ScriptedWindowSystem : public WindowSystem {
public:
    struct Box {
        WindowHandle owner;
        std::string text;
        std::string caption;
        MessageButtons buttons;
    };

    int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                   MessageButtons buttons) override;
    int RunModal(CDialog& dialog) override;
    void PumpMessages() override;
    bool FileOpenDialog(WindowHandle owner, const std::string& filter, const std::string& initialFolder,
                        std::string& path) override;
    void CatchInterrupts(bool on) override { catching = on; }

    // What the test sees and sets.
    std::vector<Box> boxes;
    std::deque<int> answers; // for Yes/No questions; IDYES when empty
    struct FileDialogCall {
        WindowHandle owner;
        std::string filter;
        std::string initialFolder;
    };
    std::vector<FileDialogCall> fileDialogs;
    std::deque<std::optional<std::string>> fileAnswers; // nullopt cancels; cancel when empty
    // Runs as the user once OnInitDialog has returned; the dialog is closed
    // afterwards when the script did not end it.
    std::function<void(CDialog&, MemoryDialogWindow&)> script;
    int scriptRuns = 0;
    // Runs at every message pump (a click during a transfer, for example).
    std::function<void()> onPump;
    int pumps = 0;
    bool catching = false;
    std::vector<std::unique_ptr<MemoryDialogWindow>> windows; // every window created, in order
    MemoryDialogWindow* window = nullptr;                     // the first (main) window
    CDialog* modal = nullptr;
};

} // namespace marlet
