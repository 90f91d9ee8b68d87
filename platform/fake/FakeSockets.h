// Sockets in memory for tests: endpoints (address text and port) that a test
// declares, each a FakePeer or a scripted printer, reached in virtual time.
// Every call is recorded.
#pragma once

#include "platform/Sockets.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakePeer.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace marlet {

class FakeSockets : public ISockets {
public:
    enum : uint32_t {
        WsaWouldBlock = 10035,
        WsaNotSock = 10038,
        WsaConnReset = 10054,
        WsaNotConn = 10057,
        WsaTimedOut = 10060,
        WsaConnRefused = 10061,
    };

    struct Endpoint {
        FakePeer* peer = nullptr;     // takes the bytes sent and supplies the replies
        bool refuse = false;          // Connect fails at once with WsaConnRefused
        uint32_t connectDelayMs = 0;  // a connect takes this long (fails when above the bound)
        int64_t acceptLimit = -1;     // takes this many bytes in all, then holds (Select for write times out)
        int64_t closeAfter = -1;      // closes its side once it has taken this many bytes
        bool closesOnShutdown = true; // closes its side once the program shut its sending side down
        std::deque<std::string> replies; // scripted bytes, released one piece per Recv

        // What the test inspects.
        std::string received;    // every byte the endpoint took, in order
        int connects = 0;        // successful connects
        int resets = 0;          // closes that reset the connection
        size_t lostOnReset = 0;  // bytes sent but not taken that a reset threw away
        size_t leftInFlight = 0; // bytes still queued at a graceful close (the system goes on sending them)
        bool closed = false;     // the endpoint closed its side
    };

    explicit FakeSockets(FakeClock& clock) : clock_(clock) {}

    // Declares a reachable endpoint ("192.168.1.20", 9100; a host name works too).
    Endpoint& Add(const std::string& address, uint16_t port);
    Endpoint* Find(const std::string& address, uint16_t port);
    // Sockets created and not yet closed.
    int OpenSockets() const;

    // Failure switches and counters.
    int startupResult = 0; // non-zero: Startup fails with it
    bool failSocket = false;
    int startups = 0;
    size_t sendBufferSize = 65536;  // bytes a socket holds that the endpoint has not taken yet
    std::vector<std::string> calls; // "Startup", "Socket 7", "Connect 192.168.1.20:9100 10000", ...
    std::vector<std::string> CallsStartingWith(const std::string& prefix) const;

    // ISockets
    int Startup() override;
    SocketHandle Socket() override;
    bool Connect(SocketHandle s, const std::string& address, uint16_t port, uint32_t timeoutMs) override;
    int Select(SocketHandle s, bool forWrite, uint32_t timeoutMs) override;
    int Send(SocketHandle s, const uint8_t* data, int length) override;
    int Recv(SocketHandle s, uint8_t* data, int length) override;
    void Shutdown(SocketHandle s, int how) override;
    void CloseSocket(SocketHandle s) override;
    uint32_t LastError() override { return lastError_; }

private:
    struct State {
        Endpoint* endpoint = nullptr;
        bool sendShut = false;
        bool recvShut = false;
        std::string pending; // sent, not yet taken by the endpoint
        std::string inbox;   // from the endpoint, not yet received
    };
    State* StateOf(SocketHandle s);
    // Moves bytes between the socket and its endpoint at the current time.
    void Exchange(State& state);
    bool Writable(State& state);
    bool Readable(State& state);

    FakeClock& clock_;
    std::map<std::string, Endpoint> endpoints_;
    std::map<SocketHandle, State> sockets_;
    SocketHandle next_ = 7;
    uint32_t lastError_ = 0;
};

} // namespace marlet
