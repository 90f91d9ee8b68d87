// The sockets back end over loopback with Windows Sockets 1.1.
#include "platform/win32/Win32Sockets.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include <winsock.h>

namespace marlet::testing {
namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A listening socket on a free loopback port: the printer's side.
class Listener {
public:
    Listener()
    {
        socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::inet_addr("127.0.0.1");
        ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(socket_, 1);
        int size = sizeof address;
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ::ntohs(address.sin_port);
    }
    ~Listener()
    {
        if (peer_ != INVALID_SOCKET)
            ::closesocket(peer_);
        ::closesocket(socket_);
    }
    uint16_t Port() const { return port_; }
    SOCKET Accept()
    {
        peer_ = ::accept(socket_, nullptr, nullptr);
        return peer_;
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
    SOCKET peer_ = INVALID_SOCKET;
    uint16_t port_ = 0;
};

class Win32SocketsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WSADATA data{};
        ASSERT_EQ(::WSAStartup(0x0101, &data), 0);
        ASSERT_EQ(sockets.Startup(), 0);
    }
    void TearDown() override { ::WSACleanup(); }

    Win32Sockets sockets;
};

TEST_F(Win32SocketsTest, ConnectsSendsReceivesAndShutsDown)
{
    Listener printer;
    const SocketHandle s = sockets.Socket();
    ASSERT_NE(s, InvalidSocket);
    ASSERT_TRUE(sockets.Connect(s, "127.0.0.1", printer.Port(), 10000));
    const SOCKET peer = printer.Accept();
    ASSERT_NE(peer, INVALID_SOCKET);

    EXPECT_EQ(sockets.Select(s, true, 1000), 1);
    const std::string command("\x1b\x01\x00?", 4);
    EXPECT_EQ(sockets.Send(s, reinterpret_cast<const uint8_t*>(command.data()), int(command.size())), 4);
    char got[16] = {};
    EXPECT_EQ(::recv(peer, got, sizeof got, 0), 4);
    EXPECT_EQ(std::string(got, 4), command);

    // Nothing to read yet: the wait runs out.
    EXPECT_EQ(sockets.Select(s, false, 50), 0);
    ::send(peer, "REV:2.18", 8, 0);
    EXPECT_EQ(sockets.Select(s, false, 1000), 1);
    uint8_t reply[16] = {};
    EXPECT_EQ(sockets.Recv(s, reply, sizeof reply), 8);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), 8), "REV:2.18");

    // The sending side shut down: the printer reads the end of the stream.
    sockets.Shutdown(s, 1);
    EXPECT_EQ(::recv(peer, got, sizeof got, 0), 0);
    ::closesocket(peer);
    EXPECT_EQ(sockets.Select(s, false, 1000), 1);
    EXPECT_EQ(sockets.Recv(s, reply, sizeof reply), 0);
    sockets.CloseSocket(s);
}

TEST_F(Win32SocketsTest, AHostNameIsResolved)
{
    Listener printer;
    const SocketHandle s = sockets.Socket();
    ASSERT_TRUE(sockets.Connect(s, "localhost", printer.Port(), 10000));
    sockets.CloseSocket(s);
}

TEST_F(Win32SocketsTest, ARefusedConnectionFailsWithTheErrorCode)
{
    uint16_t port = 0;
    {
        Listener closed;
        port = closed.Port();
    }
    const SocketHandle s = sockets.Socket();
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(sockets.Connect(s, "127.0.0.1", port, 10000));
    EXPECT_LT(MsSince(start), 5000);
    EXPECT_EQ(sockets.LastError(), uint32_t(WSAECONNREFUSED));
    sockets.CloseSocket(s);
}

TEST_F(Win32SocketsTest, AConnectionThatCannotBeMadeEndsWithinTheBound)
{
    // An address that nobody answers (TEST-NET-1): the attempt ends by the bound
    // or at once when no route exists.
    const SocketHandle s = sockets.Socket();
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(sockets.Connect(s, "192.0.2.1", 9100, 300));
    EXPECT_LT(MsSince(start), 3000);
    sockets.CloseSocket(s);
}

} // namespace
} // namespace marlet::testing
