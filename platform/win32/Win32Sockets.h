// Stream sockets to printers through Windows Sockets 1.1 (wsock32).
#pragma once

#include "platform/Sockets.h"

namespace marlet {

class Win32Sockets : public ISockets {
public:
    Win32Sockets() = default;
    ~Win32Sockets() override;
    Win32Sockets(const Win32Sockets&) = delete;
    Win32Sockets& operator=(const Win32Sockets&) = delete;

    // Starts the library once per object; later calls report the first result.
    int Startup() override;
    SocketHandle Socket() override;
    // The address may be a dotted IPv4 address or a host name, resolved within
    // the same bound; the socket stays non-blocking once connected, so a send
    // takes what the socket accepts now.
    bool Connect(SocketHandle s, const std::string& address, uint16_t port, uint32_t timeoutMs) override;
    int Select(SocketHandle s, bool forWrite, uint32_t timeoutMs) override;
    int Send(SocketHandle s, const uint8_t* data, int length) override;
    int Recv(SocketHandle s, uint8_t* data, int length) override;
    void Shutdown(SocketHandle s, int how) override;
    void CloseSocket(SocketHandle s) override;
    uint32_t LastError() override { return lastError_; }

private:
    int Fail();
    int Fail(uint32_t error);
    bool started_ = false;
    int startResult_ = -1;
    uint32_t lastError_ = 0;
};

} // namespace marlet
