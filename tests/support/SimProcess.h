// The simulator program as a child process: its standard output read line by
// line, its standard error kept in a log file, stopped with SIGTERM.
#pragma once

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace marlet::test {

class SimProcess {
public:
    SimProcess(std::vector<std::string> args, const std::filesystem::path& log)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            const int err = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (err >= 0)
                ::dup2(err, STDERR_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            std::string program = MARLET_BIN_DIR "/marlet-printer-sim";
            std::vector<char*> argv{program.data()};
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~SimProcess()
    {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            ::close(out_);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The next line of standard output; empty at a time-out or the end.
    std::string ReadLine(int timeoutMs = 5000)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (buffered_.find('\n') == std::string::npos && Fill(until)) {
        }
        const size_t end = buffered_.find('\n');
        if (end == std::string::npos)
            return {};
        std::string line = buffered_.substr(0, end);
        buffered_.erase(0, end + 1);
        return line;
    }

    // Stops the simulator and returns the rest of its output (its summary).
    std::string Stop(int timeoutMs = 5000)
    {
        if (pid_ <= 0)
            return {};
        ::kill(pid_, SIGTERM);
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Fill(until)) {
        }
        ::waitpid(pid_, nullptr, 0);
        reaped_ = true;
        return std::exchange(buffered_, std::string());
    }

private:
    bool Fill(std::chrono::steady_clock::time_point until)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())
                .count();
        if (out_ < 0 || left <= 0)
            return false;
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, int(left)) <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = ::read(out_, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        buffered_.append(chunk, size_t(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    bool reaped_ = false;
    std::string buffered_;
};

} // namespace marlet::test
