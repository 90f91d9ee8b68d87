// Stream sockets to printers through BSD sockets.
#pragma once

#include "platform/Sockets.h"

namespace marlet {

class PosixSockets : public ISockets {
public:
    int Startup() override { return 0; }
    SocketHandle Socket() override;
    // The address may be a dotted IPv4 address or a host name (resolved to
    // IPv4 within the same bound).
    bool Connect(SocketHandle s, const std::string& address, uint16_t port, uint32_t timeoutMs) override;
    int Select(SocketHandle s, bool forWrite, uint32_t timeoutMs) override;
    // Never raises SIGPIPE; sends what the socket takes now (the socket is
    // non-blocking once connected, so a slow reader gives partial counts).
    int Send(SocketHandle s, const uint8_t* data, int length) override;
    int Recv(SocketHandle s, uint8_t* data, int length) override;
    void Shutdown(SocketHandle s, int how) override;
    void CloseSocket(SocketHandle s) override;
    uint32_t LastError() override { return lastError_; }

private:
    int Fail(int error);
    uint32_t lastError_ = 0;
};

} // namespace marlet
