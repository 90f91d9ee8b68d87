#include "framework/scripted/ScriptedWindows.h"

namespace marlet {

int ScriptedWindowSystem::MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                                     MessageButtons buttons)
{
    boxes.push_back({owner, text, caption, buttons});
    if (buttons == MessageButtons::Ok)
        return IDOK;
    if (answers.empty())
        return IDYES;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}

int ScriptedWindowSystem::RunModal(CDialog& dialog)
{
    windows.push_back(std::make_unique<MemoryDialogWindow>());
    MemoryDialogWindow& created = *windows.back();
    if (window == nullptr)
        window = &created;
    dialog.AttachWindow(&created);
    CDialog* outer = modal;
    modal = &dialog;
    dialog.OnInitDialog();
    if (!created.Ended() && script && outer == nullptr) {
        ++scriptRuns;
        script(dialog, created);
    }
    if (!created.Ended())
        dialog.OnClose();
    modal = outer;
    dialog.AttachWindow(nullptr);
    return created.Result();
}

void ScriptedWindowSystem::PumpMessages()
{
    ++pumps;
    if (onPump)
        onPump();
}

bool ScriptedWindowSystem::FileOpenDialog(WindowHandle owner, const std::string& filter,
                                          const std::string& initialFolder, std::string& path)
{
    fileDialogs.push_back({owner, filter, initialFolder});
    if (fileAnswers.empty())
        return false;
    std::optional<std::string> answer = fileAnswers.front();
    fileAnswers.pop_front();
    if (!answer)
        return false;
    path = *answer;
    return true;
}

} // namespace marlet
