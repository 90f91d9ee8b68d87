// The window layer of this build: the Qt window where a display can be
// opened, otherwise the headless layer.
#pragma once

#include "framework/Window.h"
#include "platform/CommConfig.h"

#include <functional>
#include <memory>
#include <string>

namespace marlet {

std::unique_ptr<WindowSystem> CreateWindowSystem(int& argc, char** argv, int statusControlId);

// The port configuration dialog of a window layer, for the comm device's
// hook; empty where the layer has none (the terminal is asked instead).
using CommConfigDialogFunction =
    std::function<bool(const std::string& device, WindowHandle owner, CommConfig& config)>;
CommConfigDialogFunction CommConfigDialogOf(WindowSystem& windows);

} // namespace marlet
