#include "platform/posix/PosixSockets.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace marlet {
namespace {

using Clock = std::chrono::steady_clock;

int64_t MsLeft(Clock::time_point deadline)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

// The result of a name look-up, shared with the thread that makes it so that
// a look-up which outlasts the bound can finish on its own.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool found = false;
    in_addr address{};
};

// Resolves a host name to an IPv4 address, giving up at the deadline.
bool ResolveIpv4(const std::string& host, Clock::time_point deadline, in_addr& address, int& error)
{
    if (::inet_pton(AF_INET, host.c_str(), &address) == 1)
        return true;
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host] {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* result = nullptr;
        const bool ok = ::getaddrinfo(host.c_str(), nullptr, &hints, &result) == 0 && result != nullptr;
        std::lock_guard<std::mutex> lock(lookup->mutex);
        if (ok) {
            lookup->address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr;
            lookup->found = true;
        }
        if (result != nullptr)
            ::freeaddrinfo(result);
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();

    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) {
        error = ETIMEDOUT;
        return false;
    }
    if (!lookup->found) {
        error = EHOSTUNREACH;
        return false;
    }
    address = lookup->address;
    return true;
}

} // namespace

int PosixSockets::Fail(int error)
{
    lastError_ = uint32_t(error);
    return -1;
}

SocketHandle PosixSockets::Socket()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        Fail(errno);
        return InvalidSocket;
    }
    return fd;
}

bool PosixSockets::Connect(SocketHandle s, const std::string& address, uint16_t port, uint32_t timeoutMs)
{
    const int fd = int(s);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    int error = 0;
    if (!ResolveIpv4(address, deadline, peer.sin_addr, error)) {
        Fail(error);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        Fail(errno);
        return false;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0)
        return true;
    if (errno != EINPROGRESS && errno != EINTR) {
        Fail(errno);
        return false;
    }
    while (true) {
        const int64_t left = MsLeft(deadline);
        if (left <= 0) {
            Fail(ETIMEDOUT);
            return false;
        }
        pollfd p{fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, int(std::min<int64_t>(left, INT_MAX)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            Fail(errno);
            return false;
        }
        if (ready > 0)
            break;
    }
    int result = 0;
    socklen_t size = sizeof result;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &size) != 0)
        result = errno;
    if (result != 0) {
        Fail(result);
        return false;
    }
    return true;
}

int PosixSockets::Select(SocketHandle s, bool forWrite, uint32_t timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        pollfd p{int(s), short(forWrite ? POLLOUT : POLLIN), 0};
        const int64_t left = std::max<int64_t>(MsLeft(deadline), 0);
        const int ready = ::poll(&p, 1, int(std::min<int64_t>(left, INT_MAX)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Fail(errno);
        if (ready > 0 && (p.revents & POLLNVAL))
            return Fail(EBADF);
        // An error or a closed peer counts as ready: the send or recv that follows reports it.
        return ready > 0 ? 1 : 0;
    }
}

int PosixSockets::Send(SocketHandle s, const uint8_t* data, int length)
{
    while (true) {
        const ssize_t n = ::send(int(s), data, size_t(std::max(length, 0)), MSG_NOSIGNAL);
        if (n >= 0)
            return int(n);
        if (errno != EINTR)
            return Fail(errno);
    }
}

int PosixSockets::Recv(SocketHandle s, uint8_t* data, int length)
{
    while (true) {
        const ssize_t n = ::recv(int(s), data, size_t(std::max(length, 0)), 0);
        if (n >= 0)
            return int(n);
        if (errno != EINTR)
            return Fail(errno);
    }
}

void PosixSockets::Shutdown(SocketHandle s, int how)
{
    const int mode = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
    if (::shutdown(int(s), mode) != 0)
        Fail(errno);
}

void PosixSockets::CloseSocket(SocketHandle s)
{
    if (s != InvalidSocket && ::close(int(s)) != 0)
        Fail(errno);
}

} // namespace marlet
