#include "platform/win32/Win32Sockets.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <winsock.h>

namespace marlet {

namespace {

using Clock = std::chrono::steady_clock;

SOCKET ToSocket(SocketHandle s) { return static_cast<SOCKET>(s); }

int64_t MsLeft(Clock::time_point deadline)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

timeval TimeValue(int64_t ms)
{
    if (ms < 0)
        ms = 0;
    timeval tv{};
    tv.tv_sec = long(ms / 1000);
    tv.tv_usec = long((ms % 1000) * 1000);
    return tv;
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
bool ResolveIpv4(const std::string& host, Clock::time_point deadline, in_addr& address, uint32_t& error)
{
    const unsigned long dotted = ::inet_addr(host.c_str());
    if (dotted != INADDR_NONE || host == "255.255.255.255") {
        address.s_addr = dotted;
        return true;
    }
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host] {
        // The host entry lives in storage of this thread: copied before the thread ends.
        const hostent* entry = ::gethostbyname(host.c_str());
        std::lock_guard<std::mutex> lock(lookup->mutex);
        if (entry != nullptr && entry->h_addrtype == AF_INET && entry->h_length == int(sizeof(in_addr)) &&
            entry->h_addr_list[0] != nullptr) {
            std::memcpy(&lookup->address, entry->h_addr_list[0], sizeof(in_addr));
            lookup->found = true;
        }
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();

    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) {
        error = WSAETIMEDOUT;
        return false;
    }
    if (!lookup->found) {
        error = WSAHOST_NOT_FOUND;
        return false;
    }
    address = lookup->address;
    return true;
}

} // namespace

Win32Sockets::~Win32Sockets()
{
    if (started_ && startResult_ == 0)
        ::WSACleanup();
}

int Win32Sockets::Fail() { return Fail(uint32_t(::WSAGetLastError())); }

int Win32Sockets::Fail(uint32_t error)
{
    lastError_ = error;
    return -1;
}

int Win32Sockets::Startup()
{
    if (!started_) {
        WSADATA data{};
        startResult_ = ::WSAStartup(0x0101, &data);
        started_ = true;
        if (startResult_ != 0)
            lastError_ = uint32_t(startResult_);
    }
    return startResult_;
}

SocketHandle Win32Sockets::Socket()
{
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        Fail();
        return InvalidSocket;
    }
    return static_cast<SocketHandle>(s);
}

bool Win32Sockets::Connect(SocketHandle s, const std::string& address, uint16_t port, uint32_t timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = ::htons(port);
    uint32_t error = 0;
    if (!ResolveIpv4(address, deadline, peer.sin_addr, error)) {
        Fail(error);
        return false;
    }
    u_long nonBlocking = 1;
    if (::ioctlsocket(ToSocket(s), FIONBIO, &nonBlocking) != 0) {
        Fail();
        return false;
    }
    if (::connect(ToSocket(s), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0)
        return true;
    if (::WSAGetLastError() != WSAEWOULDBLOCK) {
        Fail();
        return false;
    }
    // A refused connection shows in the exception set; a made one in the write set.
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(ToSocket(s), &writable);
    FD_SET(ToSocket(s), &failed);
    timeval wait = TimeValue(MsLeft(deadline));
    const int ready = ::select(0, nullptr, &writable, &failed, &wait);
    if (ready < 0) {
        Fail();
        return false;
    }
    if (ready == 0) {
        Fail(WSAETIMEDOUT);
        return false;
    }
    int result = 0;
    int size = sizeof result;
    if (::getsockopt(ToSocket(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result), &size) != 0)
        result = ::WSAGetLastError();
    if (result == 0 && FD_ISSET(ToSocket(s), &failed))
        result = WSAECONNREFUSED;
    if (result != 0) {
        Fail(uint32_t(result));
        return false;
    }
    return true;
}

int Win32Sockets::Select(SocketHandle s, bool forWrite, uint32_t timeoutMs)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(ToSocket(s), &set);
    timeval wait = TimeValue(timeoutMs);
    const int ready =
        forWrite ? ::select(0, nullptr, &set, nullptr, &wait) : ::select(0, &set, nullptr, nullptr, &wait);
    if (ready < 0)
        return Fail();
    return ready > 0 ? 1 : 0;
}

int Win32Sockets::Send(SocketHandle s, const uint8_t* data, int length)
{
    const int sent = ::send(ToSocket(s), reinterpret_cast<const char*>(data), length < 0 ? 0 : length, 0);
    if (sent == SOCKET_ERROR)
        return Fail();
    return sent;
}

int Win32Sockets::Recv(SocketHandle s, uint8_t* data, int length)
{
    const int received = ::recv(ToSocket(s), reinterpret_cast<char*>(data), length < 0 ? 0 : length, 0);
    if (received == SOCKET_ERROR)
        return Fail();
    return received;
}

void Win32Sockets::Shutdown(SocketHandle s, int how)
{
    if (::shutdown(ToSocket(s), how) != 0)
        Fail();
}

void Win32Sockets::CloseSocket(SocketHandle s)
{
    if (s != InvalidSocket && ::closesocket(ToSocket(s)) != 0)
        Fail();
}

} // namespace marlet
