#include "platform/fake/FakeSockets.h"

#include <algorithm>
#include <cstring>

namespace marlet {
namespace {

constexpr uint32_t kSlice = 10;            // virtual milliseconds between looks at a peer
constexpr uint32_t kBlockingLimit = 60000; // a blocking call in a test gives up after this

std::string Key(const std::string& address, uint16_t port) { return address + ":" + std::to_string(port); }

} // namespace

FakeSockets::Endpoint& FakeSockets::Add(const std::string& address, uint16_t port)
{
    return endpoints_[Key(address, port)];
}

FakeSockets::Endpoint* FakeSockets::Find(const std::string& address, uint16_t port)
{
    auto it = endpoints_.find(Key(address, port));
    return it == endpoints_.end() ? nullptr : &it->second;
}

int FakeSockets::OpenSockets() const { return int(sockets_.size()); }

std::vector<std::string> FakeSockets::CallsStartingWith(const std::string& prefix) const
{
    std::vector<std::string> found;
    for (const std::string& call : calls)
        if (call.compare(0, prefix.size(), prefix) == 0)
            found.push_back(call);
    return found;
}

FakeSockets::State* FakeSockets::StateOf(SocketHandle s)
{
    auto it = sockets_.find(s);
    if (it == sockets_.end()) {
        lastError_ = WsaNotSock;
        return nullptr;
    }
    return &it->second;
}

int FakeSockets::Startup()
{
    calls.push_back("Startup");
    ++startups;
    return startupResult;
}

SocketHandle FakeSockets::Socket()
{
    if (failSocket) {
        calls.push_back("Socket failed");
        lastError_ = 10024;
        return InvalidSocket;
    }
    const SocketHandle s = next_++;
    sockets_[s] = State{};
    calls.push_back("Socket " + std::to_string(s));
    return s;
}

bool FakeSockets::Connect(SocketHandle s, const std::string& address, uint16_t port, uint32_t timeoutMs)
{
    calls.push_back("Connect " + Key(address, port) + " " + std::to_string(timeoutMs));
    State* state = StateOf(s);
    if (state == nullptr)
        return false;
    Endpoint* endpoint = Find(address, port);
    if (endpoint == nullptr) {
        clock_.Advance(timeoutMs); // nobody answers: the attempt runs into its bound
        lastError_ = WsaTimedOut;
        return false;
    }
    if (endpoint->refuse) {
        lastError_ = WsaConnRefused;
        return false;
    }
    if (endpoint->connectDelayMs > timeoutMs) {
        clock_.Advance(timeoutMs);
        lastError_ = WsaTimedOut;
        return false;
    }
    clock_.Advance(endpoint->connectDelayMs);
    state->endpoint = endpoint;
    endpoint->closed = false;
    ++endpoint->connects;
    if (endpoint->peer)
        endpoint->peer->Opened(clock_.now);
    return true;
}

void FakeSockets::Exchange(State& state)
{
    Endpoint* e = state.endpoint;
    if (e == nullptr)
        return;
    if (!e->closed && !state.pending.empty()) {
        size_t n = state.pending.size();
        if (e->acceptLimit >= 0)
            n = std::min<size_t>(n,
                                 size_t(std::max<int64_t>(0, e->acceptLimit - int64_t(e->received.size()))));
        if (e->closeAfter >= 0)
            n = std::min<size_t>(n,
                                 size_t(std::max<int64_t>(0, e->closeAfter - int64_t(e->received.size()))));
        if (e->peer && n > 0)
            n = std::min(
                n, e->peer->Receive(reinterpret_cast<const uint8_t*>(state.pending.data()), n, clock_.now));
        e->received.append(state.pending, 0, n);
        state.pending.erase(0, n);
        if (e->closeAfter >= 0 && int64_t(e->received.size()) >= e->closeAfter)
            e->closed = true;
    }
    if (!e->closed && e->peer) {
        uint8_t buffer[4096];
        while (state.inbox.size() < sendBufferSize) {
            const size_t n = e->peer->Send(buffer, sizeof buffer, clock_.now);
            if (n == 0)
                break;
            state.inbox.append(reinterpret_cast<const char*>(buffer), std::min(n, sizeof buffer));
        }
        if (e->peer->Gone())
            e->closed = true;
    }
    if (!e->closed && e->closesOnShutdown && state.sendShut && state.pending.empty())
        e->closed = true;
}

bool FakeSockets::Writable(State& state)
{
    const Endpoint* e = state.endpoint;
    if (e->closed)
        return true; // a send then reports the reset
    if (state.pending.size() >= sendBufferSize)
        return false;
    return e->acceptLimit < 0 || int64_t(e->received.size() + state.pending.size()) < e->acceptLimit;
}

bool FakeSockets::Readable(State& state)
{
    return !state.inbox.empty() || !state.endpoint->replies.empty() || state.endpoint->closed ||
           state.recvShut;
}

int FakeSockets::Select(SocketHandle s, bool forWrite, uint32_t timeoutMs)
{
    calls.push_back("Select " + std::to_string(s) + (forWrite ? " write " : " read ") +
                    std::to_string(timeoutMs));
    State* state = StateOf(s);
    if (state == nullptr)
        return -1;
    if (state->endpoint == nullptr) {
        lastError_ = WsaNotConn;
        return -1;
    }
    auto ready = [&] {
        Exchange(*state);
        return forWrite ? Writable(*state) : Readable(*state);
    };
    if (ready())
        return 1;
    if (state->endpoint->peer == nullptr) {
        clock_.Advance(timeoutMs);
        return ready() ? 1 : 0;
    }
    uint32_t elapsed = 0;
    while (elapsed < timeoutMs) {
        const uint32_t step = std::min(kSlice, timeoutMs - elapsed);
        clock_.Advance(step);
        elapsed += step;
        if (ready())
            return 1;
    }
    return 0;
}

int FakeSockets::Send(SocketHandle s, const uint8_t* data, int length)
{
    calls.push_back("Send " + std::to_string(s) + " " + std::to_string(length));
    State* state = StateOf(s);
    if (state == nullptr)
        return -1;
    if (state->endpoint == nullptr) {
        lastError_ = WsaNotConn;
        return -1;
    }
    if (state->sendShut) {
        lastError_ = 10058; // the sending side was shut down
        return -1;
    }
    Exchange(*state);
    Endpoint& e = *state->endpoint;
    if (e.closed) {
        lastError_ = WsaConnReset;
        return -1;
    }
    if (length <= 0)
        return 0;
    size_t room = sendBufferSize > state->pending.size() ? sendBufferSize - state->pending.size() : 0;
    if (e.acceptLimit >= 0)
        room = std::min<size_t>(
            room,
            size_t(std::max<int64_t>(0, e.acceptLimit - int64_t(e.received.size() + state->pending.size()))));
    if (room == 0) {
        lastError_ = WsaWouldBlock;
        return -1;
    }
    const size_t n = std::min(room, size_t(length));
    state->pending.append(reinterpret_cast<const char*>(data), n);
    Exchange(*state);
    return int(n);
}

int FakeSockets::Recv(SocketHandle s, uint8_t* data, int length)
{
    calls.push_back("Recv " + std::to_string(s) + " " + std::to_string(length));
    State* state = StateOf(s);
    if (state == nullptr)
        return -1;
    if (state->endpoint == nullptr) {
        lastError_ = WsaNotConn;
        return -1;
    }
    if (length <= 0)
        return 0;
    uint32_t waited = 0;
    for (;;) {
        Exchange(*state);
        Endpoint& e = *state->endpoint;
        if (!state->inbox.empty()) {
            const size_t n = std::min(state->inbox.size(), size_t(length));
            std::memcpy(data, state->inbox.data(), n);
            state->inbox.erase(0, n);
            return int(n);
        }
        if (!e.replies.empty()) {
            std::string& piece = e.replies.front();
            const size_t n = std::min(piece.size(), size_t(length));
            std::memcpy(data, piece.data(), n);
            piece.erase(0, n);
            if (piece.empty())
                e.replies.pop_front();
            return int(n);
        }
        if (e.closed || state->recvShut)
            return 0;
        if (waited >= kBlockingLimit) {
            lastError_ = WsaTimedOut;
            return -1;
        }
        clock_.Advance(kSlice); // a blocking receive waits for the printer
        waited += kSlice;
    }
}

void FakeSockets::Shutdown(SocketHandle s, int how)
{
    calls.push_back("Shutdown " + std::to_string(s) + " " + std::to_string(how));
    State* state = StateOf(s);
    if (state == nullptr)
        return;
    if (how == 1 || how == 2)
        state->sendShut = true;
    if (how == 0 || how == 2)
        state->recvShut = true;
    Exchange(*state);
}

void FakeSockets::CloseSocket(SocketHandle s)
{
    calls.push_back("Close " + std::to_string(s));
    State* state = StateOf(s);
    if (state == nullptr)
        return;
    if (Endpoint* e = state->endpoint) {
        Exchange(*state);
        // Closing while the printer's own bytes lie unread resets the
        // connection: whatever the printer has not taken yet is lost.
        const bool unread = !state->inbox.empty() || !e->replies.empty();
        if (unread) {
            ++e->resets;
            e->lostOnReset += state->pending.size();
        } else {
            e->leftInFlight += state->pending.size();
        }
        if (e->peer)
            e->peer->Closed(clock_.now);
    }
    sockets_.erase(s);
}

} // namespace marlet
