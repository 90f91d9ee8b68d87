#include "framework/choose/Choose.h"
#include "framework/headless/HeadlessWindows.h"

namespace marlet {

std::unique_ptr<WindowSystem> CreateWindowSystem(int&, char**, int statusControlId)
{
    return HeadlessWindowSystem::ForProcess(statusControlId);
}

CommConfigDialogFunction CommConfigDialogOf(WindowSystem&) { return {}; }

} // namespace marlet
