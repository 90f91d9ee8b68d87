// Flashes a large firmware file over loopback TCP to the simulator program and
// reports what the tool itself costs, apart from the waits the protocol
// prescribes (every Sleep) and the time spent in the socket calls (the bytes
// on the wire and the reply time-outs).
//
// usage: bench_flash_bench [FILE] [--sim PATH]
//   FILE defaults to samples/FW_4M_218.bot (looked up from the working folder,
//   then from the source tree above the build folder); the simulator defaults
//   to marlet-printer-sim next to this program.
#include "app/ProcessValues.h"
#include "framework/MemoryWindow.h"
#include "framework/scripted/ScriptedWindows.h"
#include "platform/posix/PosixPlatform.h"
#include "ui/DownloadDlg.h"
#include "ui/Resource.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace marlet {
namespace {

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Sums every pause the program takes.
class CountingClock : public IClock {
public:
    explicit CountingClock(IClock& inner) : inner_(inner) {}
    void Sleep(uint32_t milliseconds) override
    {
        const auto start = Clock::now();
        inner_.Sleep(milliseconds);
        slept += Clock::now() - start;
        prescribedMs += milliseconds;
    }
    uint32_t TickCount() override { return inner_.TickCount(); }

    Clock::duration slept{};
    uint64_t prescribedMs = 0;

private:
    IClock& inner_;
};

// Times every socket call: the wire and the waits for the printer.
class TimedSockets : public ISockets {
public:
    explicit TimedSockets(ISockets& inner) : inner_(inner) {}

    Clock::duration inside{};
    uint64_t sends = 0;

    template <typename F> auto Timed(F&& call)
    {
        const auto start = Clock::now();
        auto result = call();
        inside += Clock::now() - start;
        return result;
    }

    int Startup() override { return inner_.Startup(); }
    SocketHandle Socket() override { return inner_.Socket(); }
    bool Connect(SocketHandle s, const std::string& address, uint16_t port, uint32_t timeoutMs) override
    {
        return Timed([&] { return inner_.Connect(s, address, port, timeoutMs); });
    }
    int Select(SocketHandle s, bool forWrite, uint32_t timeoutMs) override
    {
        return Timed([&] { return inner_.Select(s, forWrite, timeoutMs); });
    }
    int Send(SocketHandle s, const uint8_t* data, int length) override
    {
        ++sends;
        return Timed([&] { return inner_.Send(s, data, length); });
    }
    int Recv(SocketHandle s, uint8_t* data, int length) override
    {
        return Timed([&] { return inner_.Recv(s, data, length); });
    }
    void Shutdown(SocketHandle s, int how) override { inner_.Shutdown(s, how); }
    void CloseSocket(SocketHandle s) override { inner_.CloseSocket(s); }
    uint32_t LastError() override { return inner_.LastError(); }

private:
    ISockets& inner_;
};

// The simulator program on a free loopback port.
class Simulator {
public:
    explicit Simulator(const std::string& program)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDERR_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            std::vector<std::string> args{program, "--tcp", "127.0.0.1:0"};
            std::vector<char*> argv;
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~Simulator()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            ::close(out_);
    }
    // Everything the simulator printed within the time given.
    std::string Read(int timeoutMs, bool untilEnd)
    {
        std::string text;
        char chunk[4096];
        pollfd p{out_, POLLIN, 0};
        while (::poll(&p, 1, timeoutMs) > 0) {
            const ssize_t n = ::read(out_, chunk, sizeof chunk);
            if (n <= 0)
                break;
            text.append(chunk, size_t(n));
            if (!untilEnd && text.find('\n') != std::string::npos)
                break;
        }
        return text;
    }
    std::string Stop()
    {
        ::kill(pid_, SIGTERM);
        std::string summary = Read(5000, true);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return summary;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

std::string FindSample(const std::string& given, const fs::path& exeDir)
{
    if (!given.empty())
        return given;
    for (const fs::path& candidate :
         {fs::path("samples/FW_4M_218.bot"), exeDir / "../../../samples/FW_4M_218.bot",
          exeDir / "../../samples/FW_4M_218.bot"})
        if (fs::exists(candidate))
            return fs::canonical(candidate).string();
    return {};
}

double CpuSeconds(const rusage& u)
{
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int Run(int argc, char** argv)
{
    const fs::path exeDir = fs::canonical("/proc/self/exe").parent_path();
    std::string file, simPath = (exeDir / "marlet-printer-sim").string();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--sim" && i + 1 < argc)
            simPath = argv[++i];
        else
            file = arg;
    }
    file = FindSample(file, exeDir);
    if (file.empty() || !fs::exists(simPath)) {
        std::fprintf(stderr, "flash_bench: sample or simulator not found\n");
        return 2;
    }
    const uint64_t size = fs::file_size(file);

    Simulator sim(simPath);
    const std::string listening = sim.Read(5000, false);
    if (listening.rfind("listening ", 0) != 0) {
        std::fprintf(stderr, "flash_bench: the simulator did not start\n");
        return 2;
    }
    std::string port = listening.substr(10);
    port.erase(port.find_last_not_of("\r\n") + 1);

    char pattern[] = "/tmp/marlet-bench-XXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    int status = 0;
    {
        PosixPlatform posix((dir / "registry.reg").string());
        CountingClock clock(posix.clock);
        TimedSockets sockets(posix.sockets);
        Platform platform{posix.registry, posix.comm, sockets, posix.system, clock, posix.files};
        ScriptedWindowSystem windows;
        SetWindowSystem(&windows);
        SetCommandLine({"bench"});
        ResetProcessValues();
        IOComm::ResetClassState();

        MemoryDialogWindow window;
        CDownloadDlg dialog(platform);
        dialog.AttachWindow(&window);
        window.SetItemText(IDC_PORT, port);
        window.SetItemText(IDC_FILE_NAME, file);

        rusage before{}, after{};
        ::getrusage(RUSAGE_SELF, &before);
        const auto start = Clock::now();
        const int result = dialog.DownloadFirmware();
        const auto wall = Clock::now() - start;
        ::getrusage(RUSAGE_SELF, &after);
        dialog.AttachWindow(nullptr);

        const std::string summary = sim.Stop();
        const bool done = result == 1 && !windows.boxes.empty() &&
                          windows.boxes.back().text.rfind("Flash Update DONE.", 0) == 0;

        const uint64_t blocks = (size + 999) / 1000;
        const double wallS = Seconds(wall);
        const double sleptS = Seconds(clock.slept);
        const double ioS = Seconds(sockets.inside);
        const double ownS = wallS - sleptS - ioS;
        const double cpuS = CpuSeconds(after) - CpuSeconds(before);
        std::printf("file                      %s (%llu bytes, %llu blocks of 1000)\n", file.c_str(),
                    (unsigned long long)size, (unsigned long long)blocks);
        std::printf("outcome                   %s\n", done ? "Flash Update DONE." : "FAILED");
        std::printf("wall time                 %.3f s\n", wallS);
        std::printf("prescribed waits (Sleep)  %.3f s (%llu ms asked)\n", sleptS,
                    (unsigned long long)clock.prescribedMs);
        std::printf("socket calls (I/O waits)  %.3f s (%llu sends)\n", ioS,
                    (unsigned long long)sockets.sends);
        std::printf("tool's own wall time      %.3f s, %.2f us per block\n", ownS,
                    ownS * 1e6 / double(blocks));
        std::printf("tool's CPU time           %.3f s (user+sys), %.2f us per block\n", cpuS,
                    cpuS * 1e6 / double(blocks));
        std::printf("own cost / (waits + wire) %.3f %% (wall), %.3f %% (CPU)\n",
                    100.0 * ownS / (sleptS + ioS), 100.0 * cpuS / (sleptS + ioS));
        std::printf("peak memory (ru_maxrss)   %.1f MB\n", double(after.ru_maxrss) / 1024.0);
        std::printf("simulator                 %s", summary.c_str());
        status = done ? 0 : 1;
        SetWindowSystem(nullptr);
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return status;
}

} // namespace
} // namespace marlet

int main(int argc, char** argv) { return marlet::Run(argc, argv); }
