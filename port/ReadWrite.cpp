// Reading and writing on every kind of port: time-outs, partial writes,
// reconnects, byte substitution, the device read cache and the readiness and
// transmit-queue queries.
#include "port/IOComm.h"

#include "port/PortText.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace marlet {

namespace {

constexpr int kSubstitutionLimit = 580; // blocks this long or longer are sent unchanged
constexpr int kMaxReplacements = 100;
constexpr uint32_t kPartialWritePauseMs = 2000;
constexpr int kPartialWriteRounds = 10;
constexpr uint32_t kDeviceWriteBoundMs = 30000;
constexpr uint32_t kDeviceReadBoundMs = 200;
constexpr uint32_t kDeviceTransferUnit = 64;
constexpr int kCachedReadFailures = 4;
constexpr uint32_t kCachedReadPauseMs = 50;
constexpr auto kLockWait = std::chrono::milliseconds(10000);

using Lock = std::unique_lock<std::recursive_timed_mutex>;

// Length of a byte string read as zero-terminated text.
size_t TextLength(const ByteString& s)
{
    const size_t zero = s.find('\0');
    return zero == std::string::npos ? s.size() : zero;
}

// The substitution, with an optional map from positions in the result back to
// the source: sent[k] is how many source bytes are fully represented by the
// first k result bytes.
int Replace(ByteString& text, const ByteString& pattern, const ByteString& replacement,
            std::vector<size_t>* sent)
{
    if (text.size() == pattern.size()) {
        if (text.substr(0, TextLength(text)) != pattern.substr(0, TextLength(pattern)))
            return 0;
        if (sent) {
            const size_t whole = sent->back();
            sent->assign(replacement.size() + 1, 0);
            sent->back() = whole;
        }
        text = replacement;
        return int(text.size());
    }
    const ByteString needle = pattern.substr(0, TextLength(pattern));
    if (needle.empty())
        return 0;
    size_t from = 0;
    int replaced = 0;
    while (replaced < kMaxReplacements) {
        const size_t end = TextLength(text); // the search stops at the first zero byte
        const size_t at = text.find(needle, from);
        if (at == std::string::npos || at + needle.size() > end)
            break;
        text.replace(at, needle.size(), replacement);
        if (sent) {
            // The caller's bytes of the pattern count as sent once the last
            // byte of their replacement is.
            std::vector<size_t>& map = *sent;
            const size_t before = map[at];
            const size_t after = map[at + needle.size()];
            std::vector<size_t> middle(replacement.size(), before);
            if (!middle.empty())
                middle.back() = after;
            map.erase(map.begin() + std::ptrdiff_t(at + 1),
                      map.begin() + std::ptrdiff_t(at + needle.size() + 1));
            map.insert(map.begin() + std::ptrdiff_t(at + 1), middle.begin(), middle.end());
            if (middle.empty())
                map[at] = after;
        }
        from = at + replacement.size();
        ++replaced;
    }
    return replaced == 0 ? 0 : int(text.size());
}

} // namespace

int IOComm::ReplacePattern(ByteString& text, const ByteString& pattern, const ByteString& replacement)
{
    return Replace(text, pattern, replacement, nullptr);
}

uint32_t IOComm::PlatformError()
{
    return PortType == PortTypeNetwork ? platform_.sockets.LastError() : platform_.comm.LastError();
}

int IOComm::WritePort(const uint8_t* data, uint32_t length, uint32_t& count)
{
    count = 0;
    if (PortType == PortTypeNetwork) {
        ISockets& sockets = platform_.sockets;
        if (sockets.Select(Socket, true, Timeouts.WriteTotalTimeoutConstant) <= 0)
            return 0;
        const int sent = sockets.Send(Socket, data, int(length));
        LastSendTime = platform_.clock.TickCount();
        if (sent < 0)
            return 0;
        count = uint32_t(sent);
        return 1;
    }
    if (PortType == PortTypeDevice)
        return platform_.comm.WriteDevice(Handle, data, length, kDeviceWriteBoundMs, count) ==
               DeviceIoResult::Completed;
    return platform_.comm.WriteFile(Handle, data, length, count) ? 1 : 0;
}

int IOComm::ReadPort(uint8_t* buffer, uint32_t size, uint32_t& count)
{
    count = 0;
    if (size == 0)
        return 0;
    if (PortType == PortTypeNetwork) {
        ISockets& sockets = platform_.sockets;
        if (sockets.Select(Socket, false, Timeouts.ReadTotalTimeoutConstant) <= 0)
            return 0;
        const int received = sockets.Recv(Socket, buffer, int(size));
        if (received <= 0)
            return 0;
        count = uint32_t(received);
        return 1;
    }
    if (PortType == PortTypeDevice) {
        // A device moves whole transfer units; never more than the buffer holds.
        const uint32_t unit = std::min(size, kDeviceTransferUnit);
        return platform_.comm.ReadDevice(Handle, buffer, unit, kDeviceReadBoundMs, count) ==
               DeviceIoResult::Completed;
    }
    return platform_.comm.ReadFile(Handle, buffer, size, count) ? 1 : 0;
}

int IOComm::Output(const uint8_t* data, int length)
{
    Lock lock(IoLock, kLockWait);
    if (!lock.owns_lock())
        return 0;
    BytesWritten = 0;
    if (!IsOpen())
        return 0;
    if (LastWasInput)
        ReopenParallel();
    LastWasInput = false;
    if (!IsReady())
        return 0;
    if (length <= 0)
        return 1;

    // Substitute once per call and send the result, however long it grows.
    // sent[k] maps k bytes of the result back to the caller's bytes, so that
    // BytesWritten always counts the caller's block.
    ByteString wire(reinterpret_cast<const char*>(data), size_t(length));
    std::vector<size_t> sent;
    const bool substitute = DoExtra != 0 && length < kSubstitutionLimit;
    if (substitute) {
        sent.resize(wire.size() + 1);
        for (size_t i = 0; i < sent.size(); ++i)
            sent[i] = i;
        const std::pair<const ByteString*, const ByteString*> pairs[] = {{&Pattern1, &Conversion1},
                                                                         {&Pattern2, &Conversion2},
                                                                         {&Pattern3, &Conversion3},
                                                                         {&Pattern4, &Conversion4}};
        for (const auto& [pattern, conversion] : pairs) {
            if (pattern->empty())
                continue;
            ByteString work = wire;
            std::vector<size_t> map = sent;
            if (Replace(work, *pattern, *conversion, &map) != 0) {
                wire = std::move(work);
                sent = std::move(map);
            }
        }
    }
    auto callerBytes = [&](size_t wireBytes) {
        return int32_t(substitute ? sent[std::min(wireBytes, wire.size())]
                                  : std::min(wireBytes, wire.size()));
    };

    const auto* bytes = reinterpret_cast<const uint8_t*>(wire.data());
    uint32_t remaining = uint32_t(wire.size());
    uint32_t offset = 0;
    int rounds = 0;
    int result = 1;
    while (rounds < kPartialWriteRounds) {
        uint32_t count = 0;
        result = WritePort(bytes + offset, remaining, count);
        if (!result) {
            result = Reconnect(WriteReconnect, [&] { return WritePort(bytes + offset, remaining, count); });
            if (!result && PortType == PortTypeDevice)
                break;
        }
        if (count == 0 || count >= remaining) {
            BytesWritten = callerBytes(offset + count);
            break;
        }
        offset += count;
        BytesWritten = callerBytes(offset);
        platform_.clock.Sleep(kPartialWritePauseMs);
        ++rounds;
        remaining -= count;
        if (!result)
            break;
    }
    if (result)
        return 1;
    ErrorFlag = true;
    LastError = FailureText("IOComm::Output()", PlatformError());
    ShowMessageBox(LastError);
    return 0;
}

int IOComm::OutputString(const ByteString& bytes)
{
    return Output(reinterpret_cast<const uint8_t*>(bytes.data()), int(bytes.size()));
}

int IOComm::ReadDeviceCached(uint8_t* buffer, int size)
{
    // Every device read moves a 64-byte transfer unit into ReadCache; the
    // caller is served from there and the surplus waits for the next Input.
    uint32_t wanted = uint32_t(size);
    const uint32_t k = std::min(wanted, CacheCount);
    std::memcpy(buffer, ReadCache.data() + CachePos, k);
    CachePos += k;
    CacheCount -= k;
    wanted -= k;
    uint32_t total = k;

    int failures = 0;
    while (wanted > CacheCount) {
        ReadCache.fill(0);
        CachePos = 0;
        CacheCount = 0;
        uint32_t count = 0;
        int ok = ReadPort(ReadCache.data(), kDeviceTransferUnit, count);
        if (!ok && !IsUsbPrinter)
            ok = Reconnect(ReadReconnect,
                           [&] { return ReadPort(ReadCache.data(), kDeviceTransferUnit, count); });
        if (ok && count > 0) {
            CacheCount = std::min(count, kDeviceTransferUnit);
            const uint32_t n = std::min(CacheCount, wanted);
            std::memcpy(buffer + total, ReadCache.data(), n);
            CachePos = n;
            CacheCount -= n;
            wanted -= n;
            total += n;
            failures = 0;
            if (!IsUsbPrinter)
                break; // one read per Input, as on the other kinds of port
            continue;
        }
        // A failed read, or one that keeps bringing nothing, ends the loop
        // after a few tries.
        if (!IsUsbPrinter || failures >= kCachedReadFailures)
            break;
        ++failures;
        platform_.clock.Sleep(kCachedReadPauseMs);
    }
    return int(total);
}

int IOComm::Input(uint8_t* buffer, int size)
{
    Lock lock(IoLock, kLockWait);
    if (!lock.owns_lock())
        return 0;
    LastWasInput = true;
    if (!IsOpen())
        return 0;
    if (!IsReady())
        return 0;
    if (size < 0)
        size = 0;
    if (PortType == PortTypeDevice) {
        BytesRead = uint32_t(ReadDeviceCached(buffer, size));
    } else {
        uint32_t count = 0;
        int ok = ReadPort(buffer, uint32_t(size), count);
        if (!ok)
            ok = Reconnect(ReadReconnect, [&] { return ReadPort(buffer, uint32_t(size), count); });
        BytesRead = count;
    }
    if (BytesRead == 0) {
        ErrorFlag = true;
        LastError = FailureText("IOComm::Input()", PlatformError());
    }
    return int(BytesRead);
}

int IOComm::IsReady()
{
    ICommDevice& comm = platform_.comm;
    switch (PortType) {
    case PortTypeDevice: {
        if (IsUsbPrinter)
            return 1;
        uint8_t answer[2] = {};
        uint32_t returned = 0;
        comm.DeviceIoControl(Handle, IoctlPortStatus, answer, sizeof answer, returned);
        if (returned == 0) {
            Close();
            return 0;
        }
        return returned % 2 == 0 ? 1 : 0;
    }
    case PortTypeNetwork:
        return Socket != InvalidSocket ? 1 : 0;
    case PortTypeSerial: {
        if (Handshake == HandshakeHardware) {
            uint32_t modem = 0;
            int ok = comm.GetCommModemStatus(Handle, modem) ? 1 : 0;
            if (!ok)
                ok =
                    Reconnect(ReadyReconnect, [&] { return comm.GetCommModemStatus(Handle, modem) ? 1 : 0; });
            return ok && (modem & MS_DSR_ON) ? 1 : 0;
        }
        if (Handshake == HandshakeXonXoff) {
            uint32_t errors = 0;
            CommStatus status;
            if (!comm.ClearCommError(Handle, errors, status))
                return 0;
            return status.fXoffHold || status.fXoffSent ? 0 : 1;
        }
        return 1;
    }
    case PortTypeParallel:
        return IsNtFamily() ? ParallelReady() : ParallelReady95();
    default:
        return 1;
    }
}

int IOComm::ParallelReady()
{
    ICommDevice& comm = platform_.comm;
    auto query = [&](uint8_t& status) {
        uint32_t returned = 0;
        status = 0;
        return comm.DeviceIoControl(Handle, IoctlParQueryInformation, &status, 1, returned) && returned >= 1;
    };
    uint8_t status = 0;
    if (!query(status))
        return 1;
    if (Version.majorVersion == 5 && (status == 0 || status == 0x04 || status == 0x44))
        return 1;
    if (status & (ParPaperEmpty | ParOffLine | ParPowerOff | ParNotConnected))
        return 0;
    if (!(status & ParSelected))
        return 0;
    if (status & ParBusy) {
        for (int poll = 0; poll < 10; ++poll) {
            platform_.clock.Sleep(30);
            if (!query(status) || !(status & ParBusy))
                return 1;
        }
        return 0;
    }
    return 1;
}

int IOComm::ParallelReady95()
{
    uint32_t errors = 0;
    CommStatus status;
    if (platform_.comm.ClearCommError(Handle, errors, status) && (errors & (CE_OOP | CE_DNS)))
        return 0;
    return 1;
}

int IOComm::InputPending()
{
    if (PortType == PortTypeNetwork && Socket == InvalidSocket)
        return 0;
    if (PortType != PortTypeNetwork && Handle == InvalidDevice)
        return 0;
    if (PortType == PortTypeParallel && IsNtFamily())
        return -1;
    if (PortType == PortTypeDevice)
        return IsReady() ? 0 : -2;
    if (PortType == PortTypeNetwork)
        return -2;
    uint32_t errors = 0;
    CommStatus status;
    if (!platform_.comm.ClearCommError(Handle, errors, status)) {
        ShowMessageBox("IOComm::InputPending(): ClearCommError() failed");
        return (DebugMode & 2) ? 0 : 200;
    }
    if (PortType == PortTypeSerial || PortType == PortTypeParallel)
        return int(status.cbOutQue);
    return 200;
}

int IOComm::WaitUntilSent(int budgetMs)
{
    IClock& clock = platform_.clock;
    const int budget = std::max(budgetMs, 0);
    int steps = budget / 500;
    if (PortType == PortTypeDevice)
        clock.Sleep(uint32_t(budget / 100));
    if (PortType == PortTypeNetwork) {
        clock.Sleep(uint32_t(std::min(budget, 300)));
        return 1;
    }
    if (PortType == PortTypeParallel && IsNtFamily())
        steps /= 50;
    if (InputPending() != 0) {
        while (steps > 0) {
            clock.Sleep(10);
            --steps;
            if (InputPending() == 0)
                break;
        }
    }
    return InputPending();
}

int IOComm::ReopenParallel()
{
    if (PortType != PortTypeParallel)
        return 0;
    Close();
    return OpenPort() != 0 ? 1 : 0;
}

} // namespace marlet
