// The real program with the Qt window on a virtual X display, against the
// simulator program on a pseudo-terminal mapped as COM4.
#include "XSupport.h"

#include "GuiSupport.h"
#include "platform/posix/PosixRegistry.h"
#include "support/ProgramProcess.h"
#include "support/SimProcess.h"

#include <gtest/gtest.h>

#include <sstream>

namespace marlet::test {
namespace {

const std::string kSample = MARLET_SOURCE_DIR "/samples/FW2207_218.bot";
const std::string kTitle = "Marlet Firmware Downloader";

std::string Stored(const TempDir& home, const char* name)
{
    PosixRegistry store(home.Store().string());
    const RegKey key = store.OpenKey(HKeyLocalMachine, "SOFTWARE\\Varden\\IOCommDL", IRegistry::Access::Read);
    RegValue value;
    const bool found = key != 0 && store.QueryValue(key, name, value);
    if (key != 0)
        store.CloseKey(key);
    return found ? value.data : std::string("<none>");
}

// "image bytes: 65536" and the like, from the simulator's summary.
std::string SummaryValue(const std::string& summary, const std::string& name)
{
    std::istringstream lines(summary);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(name + ": ", 0) == 0)
            return line.substr(name.size() + 2);
    }
    return {};
}

// A simulated printer on a pty, and a home whose store maps it as COM4.
struct Printer {
    explicit Printer(std::vector<std::string> extra = {})
        : link((dir.Path() / "ttySIM").string()),
          sim(
              [&] {
                  std::vector<std::string> args{"--pty", link, "--quiet-ms", "300"};
                  args.insert(args.end(), extra.begin(), extra.end());
                  return args;
              }(),
              dir.Path() / "sim.log")
    {
        ready = sim.ReadLine().rfind("pty ", 0) == 0;
    }
    void Seed(const TempDir& home, const std::string& values) const
    {
        WriteFileBytes(home.Store(),
                       "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varden\\IOCommDL]\n" + values +
                           "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varden\\IOCommDL\\Ports]\n\"COM4\"=\"" + link +
                           "\"\n");
    }
    TempDir dir;
    std::string link;
    SimProcess sim;
    bool ready = false;
};

#define REQUIRE_DISPLAY(x)                                                                                   \
    if (!(x).Running() || !HaveTool("xdotool") || !HaveTool("xprop") || !HaveTool("xwininfo"))               \
    GTEST_SKIP() << "needs Xvfb, xdotool, xprop and xwininfo"

TEST(OnADisplay, UnattendedExampleNeverShowsTheWindow)
{
    XServer x;
    REQUIRE_DISPLAY(x);
    Printer printer;
    ASSERT_TRUE(printer.ready);
    TempDir home;
    // The stored "No Messages" switch: no box waits for a person at the end.
    printer.Seed(home, "\"NoMessages\"=dword:00000001\n");
    const std::filesystem::path grabs = home.Path() / "grabs";
    std::filesystem::create_directories(grabs);
    // The help text's example, with the sample file and the simulator's port.
    GuiProgram run(x, home.Path(),
                   {"-port:COM4", "-readfile:" + kSample, "-flash", "-delay:1500", "-verify:2.18", "-exit"},
                   {"MARLET_SCREENSHOT=" + grabs.string()});
    EXPECT_EQ(run.Wait(), 1) << run.Errors();
    EXPECT_EQ(SummaryValue(printer.sim.Stop(), "image bytes"), "65536");
    EXPECT_EQ(Stored(home, "DLFileName"), kSample);
    EXPECT_EQ(Stored(home, "PortName").rfind("COM4", 0), 0u);
    // The window layer was Qt's (the headless one reports on standard error),
    // and its window never came on screen (the self-grab runs at every showing).
    const std::string errors = run.Errors();
    EXPECT_EQ(errors.find("No display"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("% Complete"), std::string::npos) << errors;
    EXPECT_TRUE(std::filesystem::is_empty(grabs));
}

TEST(OnADisplay, FirstPassBoxHasNoOwner)
{
    XServer x;
    REQUIRE_DISPLAY(x);
    TempDir home;
    GuiProgram run(x, home.Path(), {"-reset", "-port:"});
    const std::string box = x.WaitForWindow("Message");
    ASSERT_FALSE(box.empty()) << run.Errors();
    EXPECT_TRUE(x.FindWindow(kTitle).empty()); // the main window does not exist yet
    // Transient for no window: the property is missing, or names the
    // application's group leader (an unmapped window), as Qt writes it.
    const std::string transient = x.Shell("xprop -id " + box + " WM_TRANSIENT_FOR");
    const std::string leader = x.Shell("xprop -id " + box + " WM_CLIENT_LEADER");
    const auto target = [](const std::string& line) { return line.substr(line.rfind(' ') + 1); };
    if (transient.find("not found") == std::string::npos) {
        EXPECT_EQ(target(transient), target(leader)) << transient << leader;
        EXPECT_NE(x.Shell("xwininfo -id " + target(transient)).find("IsUnMapped"), std::string::npos);
    }
    x.Key(box, "Return");
    // Then the main window comes, and Escape ends the run.
    const std::string main = x.WaitForWindow(kTitle);
    ASSERT_FALSE(main.empty()) << run.Errors();
    x.Key(main, "Escape");
    EXPECT_EQ(run.Wait(), 0) << run.Errors();
}

TEST(OnADisplay, EscapeDuringATransferLeavesTheWindowUntilItsEnd)
{
    XServer x;
    REQUIRE_DISPLAY(x);
    Printer printer({"--slow", "20000"}); // about three seconds for the sample
    ASSERT_TRUE(printer.ready);
    TempDir home;
    printer.Seed(home, "\"PortName\"=\"COM4:\"\n\"DLFileName\"=\"" + kSample +
                           "\"\n\"NoMessages\"=dword:00000001\n");
    GuiProgram run(x, home.Path(), {});
    const std::string main = x.WaitForWindow(kTitle);
    ASSERT_FALSE(main.empty()) << run.Errors();

    // "Download Now", at the middle of its template rectangle (175, 62, 138, 29).
    App();
    int bw = 0, bh = 0;
    QtWindowSystem::BaseUnits(QtWindowSystem::DialogFont("MS Sans Serif", 8), bw, bh);
    x.Click(main, ((175 + 69) * bw + 2) / 4, ((62 + 14) * bh + 4) / 8);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(run.Running());
    x.Key(main, "Escape");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(run.Running());
    EXPECT_FALSE(x.FindWindow(kTitle).empty()); // still on screen while the transfer runs

    EXPECT_EQ(run.Wait(), 0) << run.Errors();
    EXPECT_EQ(SummaryValue(printer.sim.Stop(), "image bytes"), "65536"); // the transfer went to its end
    EXPECT_EQ(Stored(home, "DLFileName"), kSample);
}

} // namespace
} // namespace marlet::test
