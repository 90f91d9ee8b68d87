// Runs the program's start, both command-line passes and its end against a
// World, the way main does: the main dialog, then the application object.
#pragma once

#include "app/DownloadApp.h"
#include "support/World.h"
#include "ui/DownloadDlg.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace marlet::test {

struct Program {
    World& world;
    std::unique_ptr<CDownloadDlg> dialog;
    std::optional<int> exitStatus; // set when -exit ended the run

    explicit Program(World& w) : world(w) {}

    // Constructs the dialog (settings, first pass) and runs it modally. The
    // scripted window layer closes the window at the end unless a script ends it.
    Program& Run()
    {
        try {
            dialog = std::make_unique<CDownloadDlg>(world.platform);
            CDownloadApp app(*dialog);
            app.Run();
        } catch (const ProcessExited& exited) {
            exitStatus = exited.status;
        }
        // A test that acts as the user must have had its turn.
        if (world.windows.script) {
            EXPECT_EQ(world.windows.scriptRuns, 1);
        }
        return *this;
    }
    // Destroys the dialog, which writes the settings.
    void End() { dialog.reset(); }
    ~Program() { End(); }
};

} // namespace marlet::test
