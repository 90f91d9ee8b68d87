#include "platform/win32/Win32CommDevice.h"

#include <algorithm>
#include <cstring>

#include <windows.h>
#undef GetDefaultCommConfig
#undef CommConfigDialog

namespace marlet {

static_assert(sizeof(DCB) == Dcb::StoredSize, "the DCB has the layout of the stored record");
static_assert(sizeof(COMMCONFIG) == CommConfig::StoredSize, "COMMCONFIG has the layout of the stored record");

namespace {

// A device that does not answer a control request within this bound is taken as failing it.
constexpr DWORD kControlWaitMs = 1000;

COMMCONFIG ToNative(const CommConfig& config)
{
    const auto bytes = config.ToBytes();
    COMMCONFIG native;
    std::memcpy(&native, bytes.data(), sizeof native);
    return native;
}

CommConfig FromNative(const COMMCONFIG& native)
{
    uint8_t bytes[CommConfig::StoredSize];
    std::memcpy(bytes, &native, sizeof bytes);
    return CommConfig::FromBytes(bytes);
}

DCB ToNative(const Dcb& dcb)
{
    const auto bytes = dcb.ToBytes();
    DCB native;
    std::memcpy(&native, bytes.data(), sizeof native);
    return native;
}

Dcb FromNative(const DCB& native)
{
    uint8_t bytes[Dcb::StoredSize];
    std::memcpy(bytes, &native, sizeof bytes);
    return Dcb::FromBytes(bytes);
}

COMMTIMEOUTS ToNative(const CommTimeouts& t)
{
    COMMTIMEOUTS native{};
    native.ReadIntervalTimeout = t.ReadIntervalTimeout;
    native.ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
    native.ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
    native.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
    native.WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
    return native;
}

// CancelIo, looked up once: a system without it leaves an abandoned operation running.
using CancelIoFunction = BOOL(WINAPI*)(HANDLE);
CancelIoFunction CancelIoEntry()
{
    static const CancelIoFunction entry = [] {
        const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
        return kernel ? reinterpret_cast<CancelIoFunction>(
                            reinterpret_cast<void*>(::GetProcAddress(kernel, "CancelIo")))
                      : nullptr;
    }();
    return entry;
}

} // namespace

// One overlapped operation: its record, its event and the buffer the device
// reads into or writes from, all owned here so that an operation that could
// not be cancelled never reaches memory its caller has released.
struct Win32CommDevice::Overlap {
    OVERLAPPED record{};
    HANDLE event = nullptr;
    std::vector<uint8_t> buffer;
    bool pending = false;

    Overlap() { event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Overlap()
    {
        if (event != nullptr)
            ::CloseHandle(event);
    }
    Overlap(const Overlap&) = delete;
    Overlap& operator=(const Overlap&) = delete;

    // Prepares a new operation; false while an abandoned one is still running.
    bool Start(HANDLE handle)
    {
        if (pending) {
            DWORD ignored = 0;
            if (!::GetOverlappedResult(handle, &record, &ignored, FALSE) &&
                ::GetLastError() == ERROR_IO_INCOMPLETE)
                return false;
            pending = false;
        }
        record = OVERLAPPED{};
        record.hEvent = event;
        ::ResetEvent(event);
        return event != nullptr;
    }
};

struct Win32CommDevice::Port {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool overlapped = false;
    CommTimeouts timeouts;
    Overlap read, write, control;

    bool Pending() const { return read.pending || write.pending || control.pending; }
};

Win32CommDevice::Win32CommDevice() = default;

Win32CommDevice::~Win32CommDevice()
{
    for (auto& [handle, port] : ports_)
        ::CloseHandle(port->handle);
}

bool Win32CommDevice::Fail() { return Fail(::GetLastError()); }

bool Win32CommDevice::Fail(uint32_t error)
{
    lastError_ = error;
    return false;
}

Win32CommDevice::Port* Win32CommDevice::Find(DeviceHandle handle)
{
    auto found = ports_.find(handle);
    if (found == ports_.end()) {
        lastError_ = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    return found->second.get();
}

DeviceHandle Win32CommDevice::Open(const std::string& name, OpenMode mode)
{
    const bool shared = mode == OpenMode::SharedOverlapped;
    const HANDLE handle = ::CreateFileA(
        name.c_str(), GENERIC_READ | GENERIC_WRITE, shared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | (shared ? FILE_FLAG_OVERLAPPED : 0), nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        Fail();
        return InvalidDevice;
    }
    auto port = std::make_unique<Port>();
    port->handle = handle;
    port->overlapped = shared;
    COMMTIMEOUTS current{};
    if (!shared && ::GetCommTimeouts(handle, &current)) {
        port->timeouts = {current.ReadIntervalTimeout, current.ReadTotalTimeoutMultiplier,
                          current.ReadTotalTimeoutConstant, current.WriteTotalTimeoutMultiplier,
                          current.WriteTotalTimeoutConstant};
    }
    const DeviceHandle id = reinterpret_cast<DeviceHandle>(handle);
    ports_[id] = std::move(port);
    return id;
}

bool Win32CommDevice::Close(DeviceHandle handle)
{
    Port* port = Find(handle);
    if (port == nullptr)
        return false;
    const bool closed = ::CloseHandle(port->handle) != 0;
    const DWORD error = ::GetLastError();
    auto found = ports_.find(handle);
    if (port->Pending())
        retired_.push_back(std::move(found->second));
    ports_.erase(found);
    return closed ? true : Fail(error);
}

bool Win32CommDevice::GetCommConfig(DeviceHandle handle, CommConfig& config)
{
    Port* port = Find(handle);
    if (port == nullptr)
        return false;
    COMMCONFIG native{};
    DWORD size = sizeof native;
    if (!::GetCommConfig(port->handle, &native, &size))
        return Fail();
    config = FromNative(native);
    return true;
}

bool Win32CommDevice::SetCommConfig(DeviceHandle handle, const CommConfig& config)
{
    Port* port = Find(handle);
    if (port == nullptr)
        return false;
    COMMCONFIG native = ToNative(config);
    if (!::SetCommConfig(port->handle, &native, sizeof native))
        return Fail();
    return true;
}

bool Win32CommDevice::SetCommTimeouts(DeviceHandle handle, const CommTimeouts& timeouts)
{
    Port* port = Find(handle);
    if (port == nullptr)
        return false;
    COMMTIMEOUTS native = ToNative(timeouts);
    if (!::SetCommTimeouts(port->handle, &native))
        return Fail();
    port->timeouts = timeouts;
    return true;
}

bool Win32CommDevice::BuildCommDcb(const std::string& setup, Dcb& dcb)
{
    // Parsed into a copy: a malformed string changes nothing.
    DCB native = ToNative(dcb);
    if (!::BuildCommDCBA(setup.c_str(), &native))
        return Fail();
    dcb = FromNative(native);
    return true;
}

bool Win32CommDevice::GetDefaultCommConfig(const std::string& device, CommConfig& config)
{
    COMMCONFIG native = ToNative(config);
    DWORD size = sizeof native;
    if (!::GetDefaultCommConfigA(device.c_str(), &native, &size))
        return Fail();
    config = FromNative(native);
    return true;
}

bool Win32CommDevice::CommConfigDialog(const std::string& device, WindowHandle owner, CommConfig& config)
{
    COMMCONFIG native = ToNative(config);
    if (!::CommConfigDialogA(device.c_str(), static_cast<HWND>(owner), &native))
        return Fail();
    config = FromNative(native);
    return true;
}

bool Win32CommDevice::ClearCommError(DeviceHandle handle, uint32_t& errors, CommStatus& status)
{
    Port* port = Find(handle);
    if (port == nullptr)
        return false;
    DWORD nativeErrors = 0;
    COMSTAT native{};
    if (!::ClearCommError(port->handle, &nativeErrors, &native))
        return Fail();
    errors = nativeErrors;
    status.fCtsHold = native.fCtsHold;
    status.fDsrHold = native.fDsrHold;
    status.fRlsdHold = native.fRlsdHold;
    status.fXoffHold = native.fXoffHold;
    status.fXoffSent = native.fXoffSent;
    status.fEof = native.fEof;
    status.fTxim = native.fTxim;
    status.cbInQue = native.cbInQue;
    status.cbOutQue = native.cbOutQue;
    return true;
}

bool Win32CommDevice::GetCommModemStatus(DeviceHandle handle, uint32_t& modemStatus)
{
    Port* port = Find(handle);
    if (port == nullptr)
        return false;
    DWORD native = 0;
    if (!::GetCommModemStatus(port->handle, &native))
        return Fail();
    modemStatus = native;
    return true;
}

Win32CommDevice::WritePlan Win32CommDevice::PlanWrite(const CommTimeouts& timeouts, uint32_t length,
                                                      uint32_t stallLimitMs)
{
    uint32_t multiplier = timeouts.WriteTotalTimeoutMultiplier;
    uint32_t constant = timeouts.WriteTotalTimeoutConstant;
    if (stallLimitMs == 0)
        return {length, multiplier, constant};
    // Both zero means no bound at all.
    if (multiplier == 0 && constant == 0)
        constant = stallLimitMs;
    if (multiplier == 0)
        return {length, 0, std::min(constant, stallLimitMs)};
    // Each piece may wait multiplier x piece + constant, within the limit.
    constant = std::min(constant, stallLimitMs / 2);
    multiplier = std::min(multiplier, stallLimitMs - constant);
    const uint32_t piece = std::max<uint32_t>(1, (stallLimitMs - constant) / multiplier);
    return {std::min(length, piece), multiplier, constant};
}

bool Win32CommDevice::WriteFile(DeviceHandle handle, const uint8_t* data, uint32_t length, uint32_t& written)
{
    written = 0;
    Port* port = Find(handle);
    if (port == nullptr)
        return false;
    if (length == 0)
        return true;

    // The port's own time-outs would let a large block wait for many minutes
    // without a byte being accepted: the block goes in pieces whose time-outs
    // stay within the stall limit, and a piece cut short by its time-out ends
    // the write with the count accepted so far.
    const WritePlan plan = PlanWrite(port->timeouts, length, stallLimitMs_);
    const bool ownTimeouts = plan.multiplier != port->timeouts.WriteTotalTimeoutMultiplier ||
                             plan.constant != port->timeouts.WriteTotalTimeoutConstant;
    if (ownTimeouts) {
        CommTimeouts bounded = port->timeouts;
        bounded.WriteTotalTimeoutMultiplier = plan.multiplier;
        bounded.WriteTotalTimeoutConstant = plan.constant;
        COMMTIMEOUTS native = ToNative(bounded);
        ::SetCommTimeouts(port->handle, &native);
    }
    bool ok = true;
    DWORD error = 0;
    uint32_t done = 0;
    while (done < length) {
        const DWORD piece = std::min(plan.pieceLength, length - done);
        DWORD got = 0;
        if (!::WriteFile(port->handle, data + done, piece, &got, nullptr)) {
            error = ::GetLastError();
            done += got;
            ok = false;
            break;
        }
        done += got;
        if (got < piece)
            break;
    }
    if (ownTimeouts) {
        COMMTIMEOUTS native = ToNative(port->timeouts);
        ::SetCommTimeouts(port->handle, &native);
    }
    written = done;
    return ok ? true : Fail(error);
}

bool Win32CommDevice::ReadFile(DeviceHandle handle, uint8_t* data, uint32_t length, uint32_t& read)
{
    read = 0;
    Port* port = Find(handle);
    if (port == nullptr)
        return false;
    DWORD got = 0;
    const BOOL ok = ::ReadFile(port->handle, data, length, &got, nullptr);
    read = got;
    return ok ? true : Fail();
}

DeviceIoResult Win32CommDevice::Complete(Port& port, Overlap& op, bool started, uint32_t timeoutMs,
                                         uint32_t& count)
{
    DWORD got = 0;
    if (started) {
        if (!::GetOverlappedResult(port.handle, &op.record, &got, FALSE)) {
            Fail();
            return DeviceIoResult::Failed;
        }
        count = got;
        return DeviceIoResult::Completed;
    }
    if (::GetLastError() != ERROR_IO_PENDING) {
        Fail();
        return DeviceIoResult::Failed;
    }
    const DWORD waited = ::WaitForSingleObject(op.event, timeoutMs);
    if (waited == WAIT_OBJECT_0) {
        if (!::GetOverlappedResult(port.handle, &op.record, &got, FALSE)) {
            Fail();
            return DeviceIoResult::Failed;
        }
        count = got;
        return DeviceIoResult::Completed;
    }
    // Not finished in time: cancel and wait for the cancellation to land, so
    // that nothing completes into the buffer later. An operation that
    // finished meanwhile counts as finished.
    const CancelIoFunction cancel = CancelIoEntry();
    if (cancel != nullptr && cancel(port.handle)) {
        if (::GetOverlappedResult(port.handle, &op.record, &got, TRUE)) {
            count = got;
            return DeviceIoResult::Completed;
        }
    } else {
        op.pending = true;
    }
    Fail(waited == WAIT_TIMEOUT ? uint32_t(WAIT_TIMEOUT) : uint32_t(::GetLastError()));
    return waited == WAIT_TIMEOUT ? DeviceIoResult::TimedOut : DeviceIoResult::Failed;
}

DeviceIoResult Win32CommDevice::WriteDevice(DeviceHandle handle, const uint8_t* data, uint32_t length,
                                            uint32_t timeoutMs, uint32_t& written)
{
    written = 0;
    Port* port = Find(handle);
    if (port == nullptr)
        return DeviceIoResult::Failed;
    Overlap& op = port->write;
    if (!op.Start(port->handle)) {
        Fail(ERROR_IO_PENDING);
        return DeviceIoResult::Failed;
    }
    op.buffer.assign(data, data + length);
    const BOOL started = ::WriteFile(port->handle, op.buffer.data(), length, nullptr, &op.record);
    return Complete(*port, op, started != 0, timeoutMs, written);
}

DeviceIoResult Win32CommDevice::ReadDevice(DeviceHandle handle, uint8_t* data, uint32_t length,
                                           uint32_t timeoutMs, uint32_t& read)
{
    read = 0;
    Port* port = Find(handle);
    if (port == nullptr)
        return DeviceIoResult::Failed;
    Overlap& op = port->read;
    if (!op.Start(port->handle)) {
        Fail(ERROR_IO_PENDING);
        return DeviceIoResult::Failed;
    }
    op.buffer.assign(length, 0);
    const BOOL started = ::ReadFile(port->handle, op.buffer.data(), length, nullptr, &op.record);
    const DeviceIoResult result = Complete(*port, op, started != 0, timeoutMs, read);
    if (result == DeviceIoResult::Completed)
        std::memcpy(data, op.buffer.data(), std::min(read, length));
    return result;
}

bool Win32CommDevice::DeviceIoControl(DeviceHandle handle, uint32_t code, void* out, uint32_t outLength,
                                      uint32_t& returned)
{
    returned = 0;
    Port* port = Find(handle);
    if (port == nullptr)
        return false;
    if (!port->overlapped) {
        DWORD got = 0;
        const BOOL ok = ::DeviceIoControl(port->handle, code, nullptr, 0, out, outLength, &got, nullptr);
        returned = got;
        return ok ? true : Fail();
    }
    // A handle opened for overlapped I/O needs an overlapped request.
    Overlap& op = port->control;
    if (!op.Start(port->handle))
        return Fail(ERROR_IO_PENDING);
    op.buffer.assign(outLength, 0);
    const BOOL started =
        ::DeviceIoControl(port->handle, code, nullptr, 0, op.buffer.data(), outLength, nullptr, &op.record);
    uint32_t got = 0;
    if (Complete(*port, op, started != 0, kControlWaitMs, got) != DeviceIoResult::Completed)
        return false;
    returned = std::min(got, outLength);
    if (out != nullptr)
        std::memcpy(out, op.buffer.data(), returned);
    return true;
}

} // namespace marlet
