// The printer operations on the machine's own back ends against the simulator
// program: over loopback TCP and over a pseudo-terminal mapped as a COM port.
// These run in real time (the protocol's pauses included), so there are few.
#include "support/SimProcess.h"

#include "app/DownloadApp.h"
#include "app/ProcessValues.h"
#include "framework/MemoryWindow.h"
#include "framework/scripted/ScriptedWindows.h"
#include "platform/posix/PosixPlatform.h"
#include "ui/DownloadDlg.h"
#include "ui/Resource.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace marlet::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

std::string ReadWhole(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class RealSimulator : public ::testing::Test {
protected:
    RealSimulator()
    {
        char pattern[] = "/tmp/marlet-protocol-XXXXXX";
        dir = ::mkdtemp(pattern);
        ResetProcessValues();
        IOComm::ResetClassState();
        SetCommandLine({"marlet-download"});
        SetWindowSystem(&windows);
    }
    ~RealSimulator() override
    {
        if (dialog)
            dialog->AttachWindow(nullptr);
        dialog.reset();
        platform.reset();
        SetWindowSystem(nullptr);
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    // The machine's back ends over a store in the temporary folder, seeded with text.
    CDownloadDlg& Dialog(const std::string& port, const std::string& file, const std::string& store = "")
    {
        if (!store.empty())
            std::ofstream(dir / "registry.reg") << store;
        platform = std::make_unique<PosixPlatform>((dir / "registry.reg").string());
        dialog = std::make_unique<CDownloadDlg>(platform->platform);
        dialog->AttachWindow(&window);
        window.SetItemText(IDC_PORT, port);
        window.SetItemText(IDC_FILE_NAME, file);
        return *dialog;
    }

    static std::string Sample(const char* name) { return std::string(MARLET_SOURCE_DIR "/samples/") + name; }

    fs::path dir;
    ScriptedWindowSystem windows;
    MemoryDialogWindow window;
    std::unique_ptr<PosixPlatform> platform;
    std::unique_ptr<CDownloadDlg> dialog;
};

TEST_F(RealSimulator, FlashAndVerifyOverLoopbackTcp)
{
    SimProcess sim({"--tcp", "127.0.0.1:0", "--image-out", (dir / "image.bin").string()}, dir / "sim.log");
    const std::string listening = sim.ReadLine();
    ASSERT_EQ(listening.rfind("listening ", 0), 0u) << listening;
    const std::string port = listening.substr(10);
    const std::string file = Sample("FW_small_218.bot");
    CDownloadDlg& dlg = Dialog(port, file);

    ASSERT_EQ(dlg.DownloadFirmware(), 1);
    EXPECT_EQ(dlg.BootLoaderRev, "1.07");
    EXPECT_EQ(dlg.FlashId, "29F160");
    EXPECT_EQ(dlg.FirmwareRev, "2.17");
    ASSERT_FALSE(windows.boxes.empty());
    EXPECT_EQ(windows.boxes.back().text.rfind("Flash Update DONE. \n\nFile Downloaded: " + file, 0), 0u);

    // The end pause let the printer program the image; its firmware now reports the sample's revision.
    EXPECT_EQ(CDownloadApp::VerifyRevision(dlg, "2.18"), 1);

    const std::string summary = sim.Stop();
    EXPECT_THAT(summary, HasSubstr("image crc32: 2a4431ee"));
    EXPECT_THAT(summary, HasSubstr("final revision: 2.18"));
    EXPECT_TRUE(ReadWhole(dir / "image.bin") == ReadWhole(file));
}

TEST_F(RealSimulator, FlashWithSpeedChangeOverAPtyMappedAsCom7)
{
    const fs::path link = dir / "ttySIM";
    SimProcess sim({"--pty", link.string(), "--image-out", (dir / "image.bin").string()}, dir / "sim.log");
    const std::string announced = sim.ReadLine();
    ASSERT_EQ(announced.rfind("pty ", 0), 0u) << announced;
    const std::string file = Sample("FW2207_218.bot");
    CDownloadDlg& dlg =
        Dialog("COM7", file,
               "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varden\\IOCommDL\\Ports]\n\"COM7\"=\"" +
                   link.string() + "\"\n");
    XonXoff = 1;
    dlg.DLSpeed = 3;

    ASSERT_EQ(dlg.DownloadFirmware(), 1);
    EXPECT_EQ(dlg.BootLoaderRev, "1.07");
    ASSERT_FALSE(windows.boxes.empty());
    EXPECT_EQ(windows.boxes.back().text.rfind("Flash Update DONE.", 0), 0u);
    EXPECT_EQ(CDownloadApp::VerifyRevision(dlg, "2.18"), 1);

    const std::string summary = sim.Stop();
    // The boot loader changed speed, the line followed, and no byte came at the wrong speed.
    const std::string log = ReadWhole(dir / "sim.log");
    EXPECT_THAT(log, HasSubstr("speed change to 115200"));
    EXPECT_THAT(log, HasSubstr("line settings 115200"));
    EXPECT_THAT(log, Not(HasSubstr("bytes lost")));
    EXPECT_THAT(summary, HasSubstr("image crc32: 2e914ee3"));
    EXPECT_THAT(summary, HasSubstr("final revision: 2.18"));
    EXPECT_TRUE(ReadWhole(dir / "image.bin") == ReadWhole(file));
}

} // namespace
} // namespace marlet::test
