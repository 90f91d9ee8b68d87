#include "PtyFixture.h"

#include "platform/posix/PosixSockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

namespace marlet {
namespace {

// A printer's TCP port on loopback that the test drives by hand.
class Listener {
public:
    explicit Listener(int backlog = 4)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, backlog);
        socklen_t size = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size);
        port_ = ntohs(a.sin_port);
    }
    ~Listener()
    {
        if (peer_ >= 0)
            ::close(peer_);
        ::close(fd_);
    }
    uint16_t port() const { return port_; }
    int Accept()
    {
        peer_ = ::accept(fd_, nullptr, nullptr);
        return peer_;
    }
    void ClosePeer()
    {
        ::close(peer_);
        peer_ = -1;
    }
    size_t Drain(size_t most)
    {
        std::vector<uint8_t> buffer(most);
        const ssize_t n = ::recv(peer_, buffer.data(), most, MSG_DONTWAIT);
        return n > 0 ? size_t(n) : 0;
    }

private:
    int fd_ = -1;
    int peer_ = -1;
    uint16_t port_ = 0;
};

// A loopback port that nobody listens on: bound once, then released.
uint16_t UnusedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t size = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    ::close(fd);
    return ntohs(a.sin_port);
}

class PosixSocketsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (s != InvalidSocket)
            sockets.CloseSocket(s);
    }
    PosixSockets sockets;
    Listener printer;
    SocketHandle s = InvalidSocket;
};

TEST_F(PosixSocketsTest, SlowReaderGivesPartialProgressAndSelectTimesOut)
{
    EXPECT_EQ(sockets.Startup(), 0);
    s = sockets.Socket();
    ASSERT_TRUE(sockets.Connect(s, "127.0.0.1", printer.port(), 1000));
    ASSERT_GE(printer.Accept(), 0);

    // The printer reads nothing: a block larger than the socket holds goes in part,
    // and select then times out.
    const std::vector<uint8_t> block = EveryByteValue(8 << 20);
    ASSERT_EQ(sockets.Select(s, true, 100), 1);
    const int first = sockets.Send(s, block.data(), int(block.size()));
    EXPECT_GT(first, 0);
    EXPECT_LT(first, int(block.size()));
    int ready = 1;
    const int64_t selectMs = TimedMs([&] { ready = sockets.Select(s, true, 100); });
    EXPECT_EQ(ready, 0);
    EXPECT_GE(selectMs, 90);
    EXPECT_LT(selectMs, 1000);

    // The printer reads slowly: the rest goes on in parts as room appears.
    size_t sent = size_t(first);
    int partials = 0;
    for (int round = 0; round < 5 && sent < block.size(); ++round) {
        for (int i = 0; i < 16; ++i)
            printer.Drain(64 << 10);
        if (sockets.Select(s, true, 100) != 1)
            continue;
        const int n = sockets.Send(s, block.data() + sent, int(block.size() - sent));
        ASSERT_GT(n, 0);
        partials += size_t(n) < block.size() - sent ? 1 : 0;
        sent += size_t(n);
    }
    EXPECT_GT(sent, size_t(first));
    EXPECT_GT(partials, 0);
}

TEST_F(PosixSocketsTest, PeerThatClosesReadsAsZeroAndNeverRaisesSigpipe)
{
    s = sockets.Socket();
    ASSERT_TRUE(sockets.Connect(s, "localhost", printer.port(), 2000)); // a host name is resolved
    ASSERT_GE(printer.Accept(), 0);
    printer.ClosePeer();

    EXPECT_EQ(sockets.Select(s, false, 1000), 1);
    uint8_t buffer[16];
    EXPECT_EQ(sockets.Recv(s, buffer, sizeof buffer), 0);

    // Sending into the closed connection fails with an error code, not a signal.
    int result = 0;
    for (int i = 0; i < 100 && result >= 0; ++i)
        result = sockets.Send(s, buffer, sizeof buffer);
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(sockets.LastError() == EPIPE || sockets.LastError() == ECONNRESET) << sockets.LastError();
}

TEST_F(PosixSocketsTest, DataAndShutdownReachThePrinter)
{
    s = sockets.Socket();
    ASSERT_TRUE(sockets.Connect(s, "127.0.0.1", printer.port(), 1000));
    const int peer = printer.Accept();
    ASSERT_GE(peer, 0);
    const uint8_t query[] = {0x00, 0x1b, 0x0d};
    EXPECT_EQ(sockets.Send(s, query, 3), 3);
    sockets.Shutdown(s, 1);
    uint8_t got[8];
    EXPECT_EQ(::recv(peer, got, sizeof got, MSG_WAITALL), 3); // three bytes, then end of stream
    EXPECT_EQ(got[1], 0x1b);

    const uint8_t reply[] = {'R', 'E', 'V'};
    ASSERT_EQ(::send(peer, reply, 3, 0), 3);
    EXPECT_EQ(sockets.Select(s, false, 1000), 1);
    EXPECT_EQ(sockets.Recv(s, got, sizeof got), 3);
}

TEST_F(PosixSocketsTest, ConnectFailuresAreBounded)
{
    s = sockets.Socket();
    EXPECT_FALSE(sockets.Connect(s, "127.0.0.1", UnusedPort(), 1000));
    EXPECT_EQ(sockets.LastError(), uint32_t(ECONNREFUSED));
    sockets.CloseSocket(s);

    // A printer whose connection queue is full drops the request: the connect
    // gives up at its bound.
    Listener full(0);
    std::vector<int> waiting;
    for (int i = 0; i < 4; ++i) {
        waiting.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(full.port());
        ::connect(waiting.back(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ::usleep(50000);
    s = sockets.Socket();
    bool connected = true;
    int64_t ms = TimedMs([&] { connected = sockets.Connect(s, "127.0.0.1", full.port(), 300); });
    EXPECT_FALSE(connected);
    EXPECT_EQ(sockets.LastError(), uint32_t(ETIMEDOUT));
    EXPECT_GE(ms, 290);
    EXPECT_LT(ms, 1000);
    sockets.CloseSocket(s);
    for (int fd : waiting)
        ::close(fd);

    // A name that does not resolve fails within the bound too.
    s = sockets.Socket();
    ms = TimedMs([&] { connected = sockets.Connect(s, "no-such-printer.invalid", 9100, 300); });
    EXPECT_FALSE(connected);
    EXPECT_LT(ms, 1000);
    EXPECT_NE(sockets.LastError(), 0u);
    sockets.CloseSocket(s);
    s = InvalidSocket;
}

} // namespace
} // namespace marlet
