// Runs the real marlet-download program as a user would from a script: its
// own HOME, no display, standard input not a terminal; standard error kept.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace marlet::test {

struct ProgramResult {
    int status = -1;    // exit status, or -1 when it had to be killed
    std::string errors; // what it wrote on standard error
};

// while runs in the test once the program has started (to signal it, say).
inline ProgramResult RunDownloader(const std::filesystem::path& home, const std::vector<std::string>& args,
                                   int timeoutMs = 120000, const std::filesystem::path& workDir = {},
                                   const std::function<void(pid_t)>& whileRunning = {})
{
    const std::filesystem::path errPath = home / "stderr.txt";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("HOME", home.c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        ::unsetenv("QT_QPA_PLATFORM");
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, STDIN_FILENO);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(err, STDERR_FILENO);
        ::dup2(err, STDOUT_FILENO);
        if (!workDir.empty() && ::chdir(workDir.c_str()) != 0)
            ::_exit(126);
        std::string program = MARLET_BIN_DIR "/marlet-download";
        std::vector<std::string> copy = args;
        std::vector<char*> argv{program.data()};
        for (std::string& arg : copy)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    if (whileRunning)
        whileRunning(pid);
    ProgramResult result;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &wstatus, 0);
            wstatus = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (wstatus != -1 && WIFEXITED(wstatus))
        result.status = WEXITSTATUS(wstatus);
    std::ifstream in(errPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    result.errors = text.str();
    return result;
}

// A fresh temporary folder, removed at the end.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "marlet-e2e-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path Store() const { return path_ / ".config" / "marlet-downloader" / "registry.reg"; }

private:
    std::filesystem::path path_;
};

inline std::string ReadFileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

} // namespace marlet::test
