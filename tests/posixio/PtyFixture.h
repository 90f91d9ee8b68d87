// A pseudo-terminal mapped as a COM port through the store's Ports key: the
// program opens the slave by its COM name, the test plays the printer on the master.
#pragma once

#include "platform/fake/FakeRegistry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace marlet {

class Pty {
public:
    Pty()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
            slave_ = ::ptsname(master_);
    }
    ~Pty() { CloseMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int master() const { return master_; }
    const std::string& slavePath() const { return slave_; }
    void CloseMaster()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

    void Send(const std::vector<uint8_t>& bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += size_t(n);
            else
                Wait(POLLOUT, 100);
        }
    }

    // Everything the program wrote that arrives within quietMs of the last byte.
    std::vector<uint8_t> Receive(int quietMs = 50)
    {
        std::vector<uint8_t> out;
        uint8_t buffer[65536];
        while (Wait(POLLIN, quietMs)) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }

private:
    bool Wait(short events, int ms)
    {
        pollfd p{master_, events, 0};
        return ::poll(&p, 1, ms) > 0;
    }

    int master_ = -1;
    std::string slave_;
};

// Milliseconds a call took.
template <typename F> int64_t TimedMs(F&& f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

inline std::vector<uint8_t> EveryByteValue(size_t length)
{
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = uint8_t(i * 7 + i / 256);
    return bytes;
}

} // namespace marlet
