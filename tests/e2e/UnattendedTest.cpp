// The real program against the real simulator program, as a script runs it.
#include "platform/CommConfig.h"
#include "platform/posix/PosixRegistry.h"
#include "support/ProgramProcess.h"
#include "support/SimProcess.h"

#include <gtest/gtest.h>
#include <map>
#include <pty.h>
#include <sstream>
#include <termios.h>
#include <thread>

namespace marlet::test {
namespace {

const std::string kSamples = MARLET_SOURCE_DIR "/samples/";
const char* const kKey = "SOFTWARE\\Varden\\IOCommDL";

// The summary lines of the simulator ("key: value").
std::map<std::string, std::string> Summary(const std::string& text)
{
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t colon = line.find(": ");
        if (colon != std::string::npos)
            values[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return values;
}

// A stored value of the program's store, or nullopt.
std::optional<RegValue> Stored(const TempDir& home, const char* name)
{
    PosixRegistry store(home.Store().string());
    const RegKey key = store.OpenKey(HKeyLocalMachine, kKey, IRegistry::Access::Read);
    if (key == 0)
        return std::nullopt;
    RegValue value;
    const bool found = store.QueryValue(key, name, value);
    store.CloseKey(key);
    return found ? std::optional<RegValue>(value) : std::nullopt;
}

void Seed(const TempDir& home, const std::string& lines, const std::string& portsLines = {})
{
    std::string text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varden\\IOCommDL]\n" + lines;
    if (!portsLines.empty())
        text += "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varden\\IOCommDL\\Ports]\n" + portsLines;
    WriteFileBytes(home.Store(), text);
}

struct TcpSimulator {
    TempDir dir;
    SimProcess process;
    std::string port;
    explicit TcpSimulator(std::vector<std::string> extra = {})
        : process(
              [&] {
                  std::vector<std::string> args{"--tcp", "127.0.0.1:0", "--quiet-ms", "300", "--image-out"};
                  args.push_back((dir.Path() / "image.bin").string());
                  args.insert(args.end(), extra.begin(), extra.end());
                  return args;
              }(),
              dir.Path() / "sim.log")
    {
        const std::string line = process.ReadLine();
        port = line.rfind("listening ", 0) == 0 ? line.substr(10) : std::string();
    }
};

TEST(Unattended, HelpTextExampleOverTcpEndsWithTheVerifiedRevision)
{
    struct Case {
        const char* sample;
        const char* crc;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"FW2207_218.bot", "2e914ee3", 1, "Verify Successful."},
        {"FW_219.bot", "969e5e28", 0, "Verify Failed."},
    };
    for (const Case& c : cases) {
        TcpSimulator sim;
        ASSERT_FALSE(sim.port.empty());
        TempDir home;
        const ProgramResult run =
            RunDownloader(home.Path(), {"-port:" + sim.port, "-readfile:" + kSamples + c.sample, "-s",
                                        "-flash", "-delay:1500", "-verify:2.18", "-exit"});
        EXPECT_EQ(run.status, c.status) << run.errors;
        const auto summary = Summary(sim.process.Stop());
        EXPECT_EQ(summary.at("image crc32"), c.crc);
        EXPECT_EQ(ReadFileBytes(sim.dir.Path() / "image.bin"), ReadFileBytes(kSamples + c.sample));
        // Progress and the outcome on standard error, one plain line per change.
        EXPECT_NE(run.errors.find("Flash Update In Progress, 100% Complete"), std::string::npos)
            << run.errors;
        EXPECT_NE(run.errors.find(c.message), std::string::npos) << run.errors;
        EXPECT_EQ(run.errors.find('\r'), std::string::npos);

        const auto fileName = Stored(home, "DLFileName");
        ASSERT_TRUE(fileName);
        EXPECT_EQ(fileName->data, kSamples + c.sample);
        const auto history = Stored(home, "TCP");
        ASSERT_TRUE(history);
        EXPECT_EQ(history->type, uint32_t(RegBinary));
        ASSERT_EQ(history->data.size(), 1000u);
        EXPECT_EQ(history->data.substr(0, sim.port.size() + 2), " " + sim.port + std::string(1, '\0'));
    }
}

TEST(Unattended, OptionsRunInTheirPassesWhateverTheirPlaces)
{
    // -flash written before -port: and -readfile: still flashes that port with that file;
    // of two -verify: options the second decides.
    TcpSimulator sim;
    TempDir home;
    const ProgramResult run =
        RunDownloader(home.Path(), {"-flash", "-verify:9.99", "-verify:2.18", "-exit", "-s",
                                    "-readfile:" + kSamples + "FW_small_218.bot", "-port:" + sim.port});
    EXPECT_EQ(run.status, 1) << run.errors;
    EXPECT_EQ(Summary(sim.process.Stop()).at("image crc32"), "2a4431ee");

    // -exit before -flash: no image; resetall is -reset; -sa before it silences it.
    TcpSimulator firmware({"--mode", "firmware"});
    TempDir home2;
    const ProgramResult reset = RunDownloader(
        home2.Path(), {"-port:" + firmware.port, "resetall", "exitnow", "-flash", "-verify:2.18"});
    EXPECT_EQ(reset.status, 0) << reset.errors;
    const auto summary = Summary(firmware.process.Stop());
    EXPECT_EQ(summary.at("bytes received"), "14"); // exactly the reset sequence, then nothing
    EXPECT_EQ(summary.at("resets"), "1");
    EXPECT_EQ(summary.at("image bytes"), "0");
}

TEST(Unattended, FirstInterruptDuringATransferAbortsIt)
{
    // A printer on a serial line that reads slowly, so the transfer takes a while.
    TempDir simDir;
    const std::string link = (simDir.Path() / "ttySIM").string();
    SimProcess sim({"--pty", link, "--slow", "8000"}, simDir.Path() / "sim.log");
    ASSERT_EQ(sim.ReadLine().rfind("pty ", 0), 0u);
    TempDir home;
    Seed(home, "", "\"COM5\"=\"" + link + "\"\n");
    const ProgramResult run = RunDownloader(
        home.Path(), {"-port:COM5", "-readfile:" + kSamples + "FW2207_218.bot", "-s", "-flash", "-exit"},
        120000, {}, [&](pid_t pid) {
            // Wait until the transfer runs, then interrupt once.
            const auto errors = home.Path() / "stderr.txt";
            for (int i = 0; i < 400 && ReadFileBytes(errors).find("% Complete") == std::string::npos; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ::kill(pid, SIGINT);
        });
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(run.errors.find("Flash Update ABORTED."), std::string::npos) << run.errors;
    EXPECT_LT(std::stoul(Summary(sim.Stop()).at("image bytes")), 65536u);
    EXPECT_TRUE(Stored(home, "DLFileName")); // an orderly end: the settings are written
}

TEST(Unattended, MessagesOfFirstPassActionsAndQuietOptions)
{
    const std::string noPort =
        "I/O Port not specified, or I/O Port not specified before Reset printer request.";
    struct Case {
        std::vector<std::string> args;
        bool shown;
    };
    const Case cases[] = {
        {{"-port:", "-reset"}, true},
        {{"-port:", "-s", "-reset"}, true},
        {{"-port:", "-sa", "-reset"}, false},
        {{"-port:", "-reset", "-sa"}, true},
    };
    for (const Case& c : cases) {
        TempDir home;
        const ProgramResult run = RunDownloader(home.Path(), c.args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.errors.find(noPort) != std::string::npos, c.shown) << c.args[1] << "\n" << run.errors;
        EXPECT_NE(run.errors.find("window cannot be shown"), std::string::npos);
    }
}

// A pseudo-terminal of the test's own, mapped as COM5 in the store.
class OwnPty {
public:
    OwnPty(const TempDir& home, const std::string& settings)
    {
        char name[256] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0)
            Seed(home, settings, std::string("\"COM5\"=\"") + name + "\"\n");
    }
    ~OwnPty()
    {
        ::close(slave_);
        ::close(master_);
    }
    termios Settings() const
    {
        termios t{};
        ::tcgetattr(master_, &t);
        return t;
    }

private:
    int master_ = -1;
    int slave_ = -1;
};

TEST(Unattended, PortSetupAndHandshakeOnASerialPort)
{
    TempDir home;
    OwnPty pty(home, "");
    const ProgramResult setup =
        RunDownloader(home.Path(), {"-port:COM5", "-portsetup:baud=9600 parity=N data=8 stop=1", "-exit"});
    EXPECT_EQ(setup.status, 0) << setup.errors;
    const auto stored = Stored(home, "Comm data");
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->data.size(), 52u);
    const CommConfig config = CommConfig::FromBytes(reinterpret_cast<const uint8_t*>(stored->data.data()));
    EXPECT_EQ(config.dcb.BaudRate, 9600u);
    EXPECT_EQ(config.dcb.ByteSize, 8);
    EXPECT_EQ(config.dcb.Parity, NoParity);
    EXPECT_EQ(config.dcb.StopBits, OneStopBit);
    const termios applied = pty.Settings();
    EXPECT_EQ(cfgetospeed(&applied), speed_t(B9600));

    const ProgramResult handshake = RunDownloader(home.Path(), {"-port:COM5", "-handshake:XON", "-exit"});
    EXPECT_EQ(handshake.status, 0) << handshake.errors;
    EXPECT_TRUE(pty.Settings().c_iflag & IXON);
    EXPECT_TRUE(pty.Settings().c_iflag & IXOFF);
    EXPECT_FALSE(pty.Settings().c_cflag & CRTSCTS);
}

TEST(Unattended, WithoutAWindowThePortListIsShown)
{
    TempDir home;
    OwnPty pty(home, "\"TCP\"=hex:20,31,39,32,2e,30,2e,32,2e,31,30,3a,39,31,30,30,00\n");
    const ProgramResult run = RunDownloader(home.Path(), {});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.errors.find("Offered in the selector: 192.0.2.10:9100, COM5:"), std::string::npos)
        << run.errors;
    // The stored port is the selector's first entry.
    EXPECT_EQ(Stored(home, "PortName")->data, "192.0.2.10:9100");
}

TEST(Unattended, HandshakeOnANetworkPortIsRefused)
{
    TcpSimulator sim({"--mode", "firmware"});
    TempDir home;
    const ProgramResult run = RunDownloader(home.Path(), {"-port:" + sim.port, "-handshake", "-exit"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.errors.find("Setup is only done on standard serial ports."), std::string::npos)
        << run.errors;
}

TEST(Unattended, SpeedChangeAndLargeBlocksOverAPtyMappedAsCom5)
{
    TempDir simDir;
    const std::string link = (simDir.Path() / "ttySIM").string();
    const std::string record = (simDir.Path() / "record.txt").string();
    SimProcess sim({"--pty", link, "--quiet-ms", "300", "--record", record}, simDir.Path() / "sim.log");
    ASSERT_EQ(sim.ReadLine().rfind("pty ", 0), 0u);
    TempDir home;
    Seed(home, "\"DLSpeed\"=dword:00000003\n\"XonXoff\"=dword:00000001\n", "\"COM5\"=\"" + link + "\"\n");
    const ProgramResult run = RunDownloader(
        home.Path(), {"-port:COM5", "-readfile:" + kSamples + "FW2207_218.bot", "-s", "-flash", "-exit"});
    EXPECT_EQ(run.status, 0) << run.errors;
    const auto summary = Summary(sim.Stop());
    EXPECT_EQ(summary.at("image crc32"), "2e914ee3");
    // The line followed the speed change (the printer is back at 19200 after programming).
    EXPECT_NE(ReadFileBytes(simDir.Path() / "sim.log").find("pty line 115200 baud"), std::string::npos);

    // The image arrives in blocks of 20000 bytes, 150 ms apart: group the
    // received bytes by the pauses between them.
    std::ifstream in(record);
    std::vector<size_t> groups;
    std::string line;
    unsigned long long last = 0;
    size_t image = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        unsigned long long time = 0;
        fields >> time;
        size_t bytes = 0;
        std::string hex;
        while (fields >> hex)
            ++bytes;
        if (groups.empty() || time - last >= 100)
            groups.push_back(0);
        groups.back() += bytes;
        last = time;
        image += bytes;
    }
    ASSERT_GE(groups.size(), 4u);
    const std::vector<size_t> blocks(groups.end() - 4, groups.end());
    EXPECT_EQ(blocks, (std::vector<size_t>{20000, 20000, 20000, 5536}));
}

TEST(Unattended, AnyStoreRunsAndABrokenOneIsKept)
{
    std::string random(4096, '\0');
    uint32_t x = 12345;
    for (char& c : random) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x);
    }
    const std::string longPort =
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varden\\IOCommDL]\n\"PortName\"=\"" +
        std::string(5000, 'P') + "\"\n";
    for (const std::string& content : {random, std::string(), longPort}) {
        TempDir home;
        WriteFileBytes(home.Store(), content);
        const ProgramResult run = RunDownloader(home.Path(), {});
        EXPECT_EQ(run.status, 0) << run.errors;
        bool kept = content.empty() || content == longPort;
        for (const auto& entry : std::filesystem::directory_iterator(home.Store().parent_path())) {
            if (entry.path().filename().string().rfind("registry.reg.broken-", 0) == 0)
                kept = kept || ReadFileBytes(entry.path()) == content;
        }
        EXPECT_TRUE(kept);
        for (const char* name : {"PortName", "DLFileName", "DLSpeed", "NoMessages", "XonXoff"})
            EXPECT_TRUE(Stored(home, name)) << name;
    }
}

TEST(Unattended, SettingsReadBackAfterARunWithoutWindow)
{
    TempDir home;
    Seed(home, "\"DLSpeed\"=dword:00000007\n\"NoMessages\"=dword:00000001\n\"DLFileName\"=\"a.bot\"\n");
    const ProgramResult run = RunDownloader(home.Path(), {});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Stored(home, "DLSpeed")->data, DwordBytes(7));
    EXPECT_EQ(Stored(home, "NoMessages")->data, DwordBytes(1));
    EXPECT_EQ(Stored(home, "XonXoff")->data, DwordBytes(0));
    EXPECT_EQ(Stored(home, "XonXoff")->type, uint32_t(RegDword));
    EXPECT_EQ(Stored(home, "DLFileName")->data, "a.bot");
    EXPECT_EQ(Stored(home, "PortName")->type, uint32_t(RegSz));
}

} // namespace
} // namespace marlet::test
