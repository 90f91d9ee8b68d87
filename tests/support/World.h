// A whole fake machine for tests of the program's logic: every seam in memory,
// the virtual clock, and the scripted window layer installed.
#pragma once

#include "app/ProcessValues.h"
#include "framework/Afx.h"
#include "framework/scripted/ScriptedWindows.h"
#include "platform/Platform.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeCommDevice.h"
#include "platform/fake/FakeFiles.h"
#include "platform/fake/FakeRegistry.h"
#include "platform/fake/FakeSockets.h"
#include "platform/fake/FakeSystem.h"
#include "port/IOComm.h"

#include <string>
#include <vector>

namespace marlet::test {

inline const char* const kKey = "SOFTWARE\\Varden\\IOCommDL";

// Thrown by the exit handler in place of ending the process, so a test sees
// the status and the destructors run as they would at exit.
struct ProcessExited {
    int status;
};

struct World {
    FakeClock clock;
    FakeRegistry registry;
    FakeCommDevice comm{clock};
    FakeSockets sockets{clock};
    FakeSystem system;
    FakeFiles files;
    Platform platform{registry, comm, sockets, system, clock, files};
    ScriptedWindowSystem windows;

    explicit World(std::vector<std::string> arguments = {})
    {
        ResetProcessValues();
        IOComm::ResetClassState();
        arguments.insert(arguments.begin(), "marlet-download");
        SetCommandLine(std::move(arguments));
        SetWindowSystem(&windows);
        SetExitHandler([](int status) { throw ProcessExited{status}; });
    }
    ~World()
    {
        SetExitHandler(nullptr);
        SetWindowSystem(nullptr);
    }

    // The comm-device calls after construction (which reads the starting
    // configuration of COM2).
    std::vector<std::string> PortCalls() const
    {
        std::vector<std::string> calls;
        for (const auto& call : comm.calls) {
            if (call.find("COM2") == std::string::npos)
                calls.push_back(call);
        }
        return calls;
    }

    // Texts of the message boxes shown so far.
    std::vector<std::string> BoxTexts() const
    {
        std::vector<std::string> texts;
        for (const auto& box : windows.boxes)
            texts.push_back(box.text);
        return texts;
    }
};

} // namespace marlet::test
