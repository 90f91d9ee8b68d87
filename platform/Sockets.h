// Sockets seam: one stream socket to a printer.
#pragma once

#include <cstdint>
#include <string>

namespace marlet {

using SocketHandle = intptr_t;
constexpr SocketHandle InvalidSocket = -1;

class ISockets {
public:
    virtual ~ISockets() = default;
    // Starts the sockets library (version 1.1); 0 on success.
    virtual int Startup() = 0;
    virtual SocketHandle Socket() = 0;
    // Connects to a dotted IPv4 address or a host name, giving up after timeoutMs.
    virtual bool Connect(SocketHandle s, const std::string& address, uint16_t port, uint32_t timeoutMs) = 0;
    // Waits until the socket can be written (forWrite) or read: 1 ready, 0 time-out, -1 error.
    virtual int Select(SocketHandle s, bool forWrite, uint32_t timeoutMs) = 0;
    // Counts, -1 on error; Recv gives 0 when the peer closed.
    virtual int Send(SocketHandle s, const uint8_t* data, int length) = 0;
    virtual int Recv(SocketHandle s, uint8_t* data, int length) = 0;
    virtual void Shutdown(SocketHandle s, int how) = 0; // 0 receive, 1 send, 2 both
    virtual void CloseSocket(SocketHandle s) = 0;
    virtual uint32_t LastError() = 0;
};

} // namespace marlet
