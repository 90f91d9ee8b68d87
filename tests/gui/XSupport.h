// A virtual X display of the test's own (Xvfb), the real program run on it,
// and the X tools that look at its windows and type into them.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace marlet::test {

inline bool HaveTool(const std::string& name)
{
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Xvfb on a free display number, stopped at the end.
class XServer {
public:
    XServer()
    {
        int fds[2];
        if (!HaveTool("Xvfb") || ::pipe(fds) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            const int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, STDERR_FILENO);
            ::dup2(devnull, STDOUT_FILENO);
            std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-dpi", "96",
                     "-nolisten", "tcp", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        // Xvfb writes the display number once it accepts clients.
        pollfd p{fds[0], POLLIN, 0};
        std::string number;
        char c = 0;
        while (::poll(&p, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        if (!number.empty())
            display_ = ":" + number;
    }
    ~XServer()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool Running() const { return !display_.empty(); }
    const std::string& Display() const { return display_; }

    // Runs a shell command on this display; its standard output.
    std::string Shell(const std::string& command) const
    {
        FILE* pipe = ::popen(("DISPLAY=" + display_ + " " + command + " 2>/dev/null").c_str(), "r");
        if (pipe == nullptr)
            return {};
        std::string output;
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
            output += buffer;
        ::pclose(pipe);
        return output;
    }

    // The id of the first visible window with this exact title, or empty.
    std::string FindWindow(const std::string& title) const
    {
        std::string id = Shell("xdotool search --onlyvisible --name '^" + title + "$'");
        const size_t end = id.find('\n');
        return end == std::string::npos ? id : id.substr(0, end);
    }

    // Waits for a visible window with this title; its id, or empty at a time-out.
    std::string WaitForWindow(const std::string& title, int timeoutMs = 15000) const
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < until) {
            const std::string id = FindWindow(title);
            if (!id.empty())
                return id;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return {};
    }

    // Gives a window the keyboard and presses a key on it.
    void Key(const std::string& window, const std::string& key) const
    {
        Shell("xdotool windowfocus --sync " + window + " key " + key);
    }

    void Click(const std::string& window, int x, int y) const
    {
        Shell("xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
              " click 1");
    }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// The real program on a display, in the background.
class GuiProgram {
public:
    GuiProgram(const XServer& x, const std::filesystem::path& home, const std::vector<std::string>& args,
               const std::vector<std::string>& environment = {})
    {
        errors_ = home / "stderr.txt";
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("DISPLAY", x.Display().c_str(), 1);
            ::unsetenv("XDG_CONFIG_HOME");
            ::unsetenv("WAYLAND_DISPLAY");
            ::unsetenv("QT_QPA_PLATFORM");
            for (const std::string& assignment : environment)
                ::putenv(const_cast<char*>(assignment.c_str()));
            const int in = ::open("/dev/null", O_RDONLY);
            ::dup2(in, STDIN_FILENO);
            const int err = ::open(errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(err, STDERR_FILENO);
            ::dup2(err, STDOUT_FILENO);
            std::string program = MARLET_BIN_DIR "/marlet-download";
            std::vector<std::string> copy = args;
            std::vector<char*> argv{program.data()};
            for (std::string& arg : copy)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
    }
    ~GuiProgram()
    {
        if (pid_ > 0 && status_ == kRunning) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    GuiProgram(const GuiProgram&) = delete;
    GuiProgram& operator=(const GuiProgram&) = delete;

    bool Running()
    {
        Poll();
        return status_ == kRunning;
    }
    // Its exit status once it ends; -1 when it had to be killed at the time-out.
    int Wait(int timeoutMs = 60000)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Running() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (status_ == kRunning) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            status_ = -1;
        }
        return status_;
    }
    std::string Errors() const
    {
        FILE* in = std::fopen(errors_.c_str(), "rb");
        if (in == nullptr)
            return {};
        std::string text;
        char buffer[512];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
            text.append(buffer, n);
        std::fclose(in);
        return text;
    }

private:
    static constexpr int kRunning = -2;
    void Poll()
    {
        if (pid_ <= 0 || status_ != kRunning)
            return;
        int wstatus = 0;
        if (::waitpid(pid_, &wstatus, WNOHANG) == pid_)
            status_ = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    }

    pid_t pid_ = -1;
    int status_ = kRunning;
    std::filesystem::path errors_;
};

} // namespace marlet::test
