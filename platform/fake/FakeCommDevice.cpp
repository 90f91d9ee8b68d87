#include "platform/fake/FakeCommDevice.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

namespace marlet {
namespace {

constexpr uint32_t kSlice = 10; // virtual milliseconds between looks at a peer

std::string Lower(std::string s)
{
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool ParseNumber(const std::string& text, uint32_t& value)
{
    if (text.empty() || text.size() > 9)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + uint32_t(c - '0');
    }
    return true;
}

std::string TimeoutsText(const CommTimeouts& t)
{
    std::ostringstream out;
    out << t.ReadIntervalTimeout << '/' << t.ReadTotalTimeoutMultiplier << '/' << t.ReadTotalTimeoutConstant
        << '/' << t.WriteTotalTimeoutMultiplier << '/' << t.WriteTotalTimeoutConstant;
    return out.str();
}

bool PeerGone(FakeCommDevice::Port& port) { return port.peer != nullptr && port.peer->Gone(); }

} // namespace

FakeCommDevice::Port& FakeCommDevice::Add(const std::string& name, Kind kind)
{
    Port& port = ports_[name];
    port.kind = kind;
    return port;
}

FakeCommDevice::Port* FakeCommDevice::Find(const std::string& name)
{
    auto it = ports_.find(name);
    return it == ports_.end() ? nullptr : &it->second;
}

int FakeCommDevice::OpenHandles() const { return int(handles_.size()); }

std::string FakeCommDevice::NameOf(DeviceHandle handle) const
{
    auto it = handles_.find(handle);
    return it == handles_.end() ? std::string() : it->second.name;
}

std::vector<std::string> FakeCommDevice::CallsStartingWith(const std::string& prefix) const
{
    std::vector<std::string> found;
    for (const std::string& call : calls)
        if (call.compare(0, prefix.size(), prefix) == 0)
            found.push_back(call);
    return found;
}

FakeCommDevice::Port* FakeCommDevice::PortOf(DeviceHandle handle, const char* call)
{
    auto it = handles_.find(handle);
    if (it == handles_.end()) {
        calls.push_back(std::string(call) + " <invalid handle>");
        lastError_ = ErrorInvalidHandle;
        return nullptr;
    }
    calls.push_back(std::string(call) + " " + it->second.name);
    return Find(it->second.name);
}

DeviceHandle FakeCommDevice::Open(const std::string& name, OpenMode mode)
{
    const bool exclusive = mode == OpenMode::Exclusive;
    calls.push_back("Open " + name + (exclusive ? " exclusive" : " shared"));
    Port* port = Find(name);
    if (port == nullptr || !port->exists) {
        lastError_ = ErrorFileNotFound;
        return InvalidDevice;
    }
    if (port->openError != 0) {
        lastError_ = port->openError;
        return InvalidDevice;
    }
    for (const auto& [handle, open] : handles_) {
        if (open.name == name && (exclusive || open.mode == OpenMode::Exclusive)) {
            lastError_ = ErrorAccessDenied;
            return InvalidDevice;
        }
    }
    const DeviceHandle handle = next_++;
    handles_[handle] = {name, mode};
    ++port->openHandles;
    ++port->opens;
    if (port->peer)
        port->peer->Opened(clock_.now);
    return handle;
}

bool FakeCommDevice::Close(DeviceHandle handle)
{
    Port* port = PortOf(handle, "Close");
    if (port == nullptr)
        return false;
    if (failCloses > 0) {
        --failCloses;
        return Fail(ErrorGenFailure);
    }
    handles_.erase(handle);
    --port->openHandles;
    if (port->peer)
        port->peer->Closed(clock_.now);
    return true;
}

bool FakeCommDevice::GetCommConfig(DeviceHandle handle, CommConfig& config)
{
    Port* port = PortOf(handle, "GetCommConfig");
    if (port == nullptr)
        return false;
    if (port->kind != Kind::Serial)
        return Fail(ErrorInvalidFunction);
    config = port->config;
    return true;
}

bool FakeCommDevice::SetCommConfig(DeviceHandle handle, const CommConfig& config)
{
    Port* port = PortOf(handle, "SetCommConfig");
    if (port == nullptr)
        return false;
    if (port->kind != Kind::Serial || port->refuseConfig)
        return Fail(port->refuseError);
    port->config = config;
    port->configsApplied.push_back(config);
    if (port->peer)
        port->peer->Configured(config, clock_.now);
    return true;
}

bool FakeCommDevice::SetCommTimeouts(DeviceHandle handle, const CommTimeouts& timeouts)
{
    auto it = handles_.find(handle);
    calls.push_back("SetCommTimeouts " +
                    (it == handles_.end() ? std::string("<invalid handle>") : it->second.name) + " " +
                    TimeoutsText(timeouts));
    if (it == handles_.end())
        return Fail(ErrorInvalidHandle);
    Port& port = *Find(it->second.name);
    if (port.kind == Kind::Device || port.refuseTimeouts)
        return Fail(port.refuseError);
    port.timeouts = timeouts;
    port.timeoutsApplied.push_back(timeouts);
    return true;
}

bool FakeCommDevice::ParseSetup(const std::string& setup, Dcb& dcb)
{
    Dcb result = dcb;
    std::istringstream in(setup);
    std::string token;
    bool any = false;
    while (in >> token) {
        const size_t eq = token.find('=');
        if (eq == std::string::npos)
            return false;
        const std::string key = Lower(token.substr(0, eq));
        const std::string value = Lower(token.substr(eq + 1));
        uint32_t number = 0;
        if (key == "baud") {
            if (!ParseNumber(value, number) || number == 0)
                return false;
            result.BaudRate = number;
        } else if (key == "parity") {
            static const std::string kParities = "noems"; // index = the DCB's parity code
            if (value.size() != 1 || kParities.find(value[0]) == std::string::npos)
                return false;
            result.Parity = uint8_t(kParities.find(value[0]));
            result.fParity = result.Parity != NoParity ? 1 : 0;
        } else if (key == "data") {
            if (!ParseNumber(value, number) || number < 5 || number > 8)
                return false;
            result.ByteSize = uint8_t(number);
        } else if (key == "stop") {
            if (value == "1")
                result.StopBits = OneStopBit;
            else if (value == "1.5")
                result.StopBits = One5StopBits;
            else if (value == "2")
                result.StopBits = TwoStopBits;
            else
                return false;
        } else {
            return false;
        }
        any = true;
    }
    if (!any)
        return false;
    result.fBinary = 1;
    dcb = result;
    return true;
}

bool FakeCommDevice::BuildCommDcb(const std::string& setup, Dcb& dcb)
{
    calls.push_back("BuildCommDcb " + setup);
    if (!ParseSetup(setup, dcb))
        return Fail(87);
    return true;
}

bool FakeCommDevice::GetDefaultCommConfig(const std::string& device, CommConfig& config)
{
    calls.push_back("GetDefaultCommConfig " + device);
    auto it = defaultConfigs.find(device);
    if (it == defaultConfigs.end())
        return Fail(87);
    config = it->second;
    return true;
}

bool FakeCommDevice::CommConfigDialog(const std::string& device, WindowHandle, CommConfig& config)
{
    calls.push_back("CommConfigDialog " + device);
    if (!dialog || !dialog(device, config))
        return Fail(1223); // cancelled by the user
    return true;
}

bool FakeCommDevice::ClearCommError(DeviceHandle handle, uint32_t& errors, CommStatus& status)
{
    Port* port = PortOf(handle, "ClearCommError");
    if (port == nullptr)
        return false;
    if (port->clearCommErrorFails || port->kind == Kind::Device || PeerGone(*port))
        return Fail(port->kind == Kind::Device ? ErrorInvalidFunction : ErrorGenFailure);
    errors = port->commErrors;
    status = port->status;
    if (!port->outQueue.empty()) {
        status.cbOutQue = port->outQueue.front();
        if (port->outQueue.size() > 1)
            port->outQueue.pop_front();
    }
    if (port->peer && port->peer->XoffHeld())
        status.fXoffHold = true;
    return true;
}

bool FakeCommDevice::GetCommModemStatus(DeviceHandle handle, uint32_t& modemStatus)
{
    Port* port = PortOf(handle, "GetCommModemStatus");
    if (port == nullptr)
        return false;
    if (port->modemStatusFails || port->kind != Kind::Serial || PeerGone(*port))
        return Fail(ErrorGenFailure);
    modemStatus = port->modemStatus;
    return true;
}

std::optional<uint32_t> FakeCommDevice::Take(Port& port, const uint8_t* data, uint32_t length,
                                             uint32_t& failedAfter)
{
    failedAfter = 0;
    if (!port.writes.empty()) {
        const WriteStep step = port.writes.front();
        port.writes.pop_front();
        const uint32_t n = step.accept < 0 ? length : std::min<uint32_t>(uint32_t(step.accept), length);
        port.written.append(reinterpret_cast<const char*>(data), n);
        if (step.fail) {
            failedAfter = n;
            lastError_ = step.error;
            return std::nullopt;
        }
        return n;
    }
    if (PeerGone(port)) {
        lastError_ = ErrorDeviceNotConnected;
        return std::nullopt;
    }
    uint32_t n = length;
    if (port.peer)
        n = uint32_t(std::min<size_t>(port.peer->Receive(data, length, clock_.now), length));
    port.written.append(reinterpret_cast<const char*>(data), n);
    return n;
}

bool FakeCommDevice::WriteFile(DeviceHandle handle, const uint8_t* data, uint32_t length, uint32_t& written)
{
    written = 0;
    auto it = handles_.find(handle);
    calls.push_back("WriteFile " +
                    (it == handles_.end() ? std::string("<invalid handle>") : it->second.name) + " " +
                    std::to_string(length));
    if (it == handles_.end())
        return Fail(ErrorInvalidHandle);
    Port& port = *Find(it->second.name);
    port.writeSizes.push_back(length);
    const bool scripted = !port.writes.empty();
    uint32_t failedAfter = 0;
    const std::optional<uint32_t> taken = Take(port, data, length, failedAfter);
    if (!taken) {
        written = failedAfter;
        return false;
    }
    written = *taken;
    if (written == length)
        return true;
    // The write waits for the rest until its total time-out has passed, and,
    // as the real devices do, gives up once no byte was taken for the stall limit.
    const CommTimeouts& t = port.timeouts;
    uint32_t budget = t.WriteTotalTimeoutMultiplier * length + t.WriteTotalTimeoutConstant;
    if (scripted || port.peer == nullptr) {
        clock_.Advance(std::min(budget, stallLimitMs));
        return true;
    }
    uint32_t idle = 0;
    while (budget > 0 && written < length && idle < stallLimitMs && !PeerGone(port)) {
        const uint32_t step = std::min({budget, kSlice, stallLimitMs - idle});
        clock_.Advance(step);
        budget -= step;
        const size_t n = std::min<size_t>(port.peer->Receive(data + written, length - written, clock_.now),
                                          length - written);
        port.written.append(reinterpret_cast<const char*>(data + written), n);
        written += uint32_t(n);
        idle = n > 0 ? 0 : idle + step;
    }
    return true;
}

std::optional<std::string> FakeCommDevice::Offer(Port& port, uint32_t length, bool& scripted)
{
    scripted = !port.reads.empty();
    if (scripted) {
        ReadStep step = std::move(port.reads.front());
        port.reads.pop_front();
        if (step.fail) {
            lastError_ = step.error;
            return std::nullopt;
        }
        if (step.data.size() > length) {
            port.reads.push_front(Data(step.data.substr(length)));
            step.data.resize(length);
        }
        return step.data;
    }
    std::string bytes;
    if (port.peer) {
        bytes.resize(length);
        const size_t n = port.peer->Send(reinterpret_cast<uint8_t*>(bytes.data()), length, clock_.now);
        bytes.resize(std::min<size_t>(n, length));
        if (bytes.empty() && port.peer->Gone()) {
            lastError_ = ErrorDeviceNotConnected;
            return std::nullopt;
        }
    }
    return bytes;
}

bool FakeCommDevice::ReadFile(DeviceHandle handle, uint8_t* data, uint32_t length, uint32_t& read)
{
    read = 0;
    auto it = handles_.find(handle);
    calls.push_back("ReadFile " + (it == handles_.end() ? std::string("<invalid handle>") : it->second.name) +
                    " " + std::to_string(length));
    if (it == handles_.end())
        return Fail(ErrorInvalidHandle);
    Port& port = *Find(it->second.name);
    if (length == 0)
        return true;
    const CommTimeouts& t = port.timeouts;
    const uint32_t total = t.ReadTotalTimeoutMultiplier * length + t.ReadTotalTimeoutConstant;
    bool scripted = false;
    std::optional<std::string> got = Offer(port, length, scripted);
    if (!got)
        return false;
    std::memcpy(data, got->data(), got->size());
    read = uint32_t(got->size());
    if (scripted) {
        if (read == 0)
            clock_.Advance(total); // a scripted empty answer is a read that timed out
        return true;
    }
    if (port.peer == nullptr) {
        clock_.Advance(total);
        return true;
    }
    // Serial time-out rules: the total time-out bounds the whole read; once a
    // byte has come, a gap longer than the interval time-out ends it.
    uint32_t elapsed = 0;
    uint32_t gap = 0;
    const bool returnAtOnce = t.ReadIntervalTimeout == 0xFFFFFFFFu && t.ReadTotalTimeoutMultiplier == 0 &&
                              t.ReadTotalTimeoutConstant == 0;
    const bool useTotal = t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0;
    const bool useInterval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != 0xFFFFFFFFu;
    while (read < length && !returnAtOnce) {
        if (useTotal && elapsed >= total)
            break;
        if (read > 0 && useInterval && gap >= t.ReadIntervalTimeout)
            break;
        if (!useTotal && !useInterval && elapsed >= 60000)
            break; // a read without time-outs would wait for ever; a test does not
        uint32_t step = kSlice;
        if (useTotal)
            step = std::min(step, total - elapsed);
        clock_.Advance(step);
        elapsed += step;
        gap += step;
        const size_t n = port.peer->Send(data + read, length - read, clock_.now);
        if (n > 0) {
            read += uint32_t(std::min<size_t>(n, length - read));
            gap = 0;
        } else if (port.peer->Gone()) {
            break;
        }
    }
    return true;
}

DeviceIoResult FakeCommDevice::WriteDevice(DeviceHandle handle, const uint8_t* data, uint32_t length,
                                           uint32_t timeoutMs, uint32_t& written)
{
    written = 0;
    auto it = handles_.find(handle);
    calls.push_back("WriteDevice " +
                    (it == handles_.end() ? std::string("<invalid handle>") : it->second.name) + " " +
                    std::to_string(length));
    if (it == handles_.end()) {
        lastError_ = ErrorInvalidHandle;
        return DeviceIoResult::Failed;
    }
    Port& port = *Find(it->second.name);
    port.writeSizes.push_back(length);
    const bool scripted = !port.writes.empty();
    uint32_t failedAfter = 0;
    const std::optional<uint32_t> taken = Take(port, data, length, failedAfter);
    if (!taken) {
        written = failedAfter;
        return DeviceIoResult::Failed;
    }
    written = *taken;
    if (written == length)
        return DeviceIoResult::Completed;
    if (scripted || port.peer == nullptr) {
        clock_.Advance(timeoutMs);
        return DeviceIoResult::TimedOut;
    }
    uint32_t elapsed = 0;
    while (elapsed < timeoutMs && written < length && !PeerGone(port)) {
        const uint32_t step = std::min(kSlice, timeoutMs - elapsed);
        clock_.Advance(step);
        elapsed += step;
        const size_t n = std::min<size_t>(port.peer->Receive(data + written, length - written, clock_.now),
                                          length - written);
        port.written.append(reinterpret_cast<const char*>(data + written), n);
        written += uint32_t(n);
    }
    return written == length ? DeviceIoResult::Completed : DeviceIoResult::TimedOut;
}

DeviceIoResult FakeCommDevice::ReadDevice(DeviceHandle handle, uint8_t* data, uint32_t length,
                                          uint32_t timeoutMs, uint32_t& read)
{
    read = 0;
    auto it = handles_.find(handle);
    calls.push_back("ReadDevice " +
                    (it == handles_.end() ? std::string("<invalid handle>") : it->second.name) + " " +
                    std::to_string(length));
    if (it == handles_.end()) {
        lastError_ = ErrorInvalidHandle;
        return DeviceIoResult::Failed;
    }
    Port& port = *Find(it->second.name);
    bool scripted = false;
    std::optional<std::string> got = Offer(port, length, scripted);
    if (!got)
        return DeviceIoResult::Failed;
    std::memcpy(data, got->data(), got->size());
    read = uint32_t(got->size());
    if (scripted || read > 0)
        return DeviceIoResult::Completed;
    if (port.peer == nullptr) {
        clock_.Advance(timeoutMs);
        return DeviceIoResult::TimedOut;
    }
    uint32_t elapsed = 0;
    while (elapsed < timeoutMs) {
        const uint32_t step = std::min(kSlice, timeoutMs - elapsed);
        clock_.Advance(step);
        elapsed += step;
        const size_t n = port.peer->Send(data, length, clock_.now);
        if (n > 0) {
            read = uint32_t(std::min<size_t>(n, length));
            return DeviceIoResult::Completed;
        }
        if (port.peer->Gone()) {
            lastError_ = ErrorDeviceNotConnected;
            return DeviceIoResult::Failed;
        }
    }
    return DeviceIoResult::TimedOut;
}

bool FakeCommDevice::DeviceIoControl(DeviceHandle handle, uint32_t code, void* out, uint32_t outLength,
                                     uint32_t& returned)
{
    returned = 0;
    auto it = handles_.find(handle);
    std::ostringstream text;
    text << "DeviceIoControl " << (it == handles_.end() ? std::string("<invalid handle>") : it->second.name)
         << " 0x" << std::hex << code;
    calls.push_back(text.str());
    if (it == handles_.end())
        return Fail(ErrorInvalidHandle);
    Port& port = *Find(it->second.name);
    if (port.ioctlFails)
        return Fail(ErrorGenFailure);
    if (code == IoctlParQueryInformation) {
        if (port.kind != Kind::Parallel || outLength < 1 || port.parallelStatus.empty())
            return Fail(ErrorInvalidFunction);
        static_cast<uint8_t*>(out)[0] = port.parallelStatus.front();
        if (port.parallelStatus.size() > 1)
            port.parallelStatus.pop_front();
        returned = 1;
        return true;
    }
    if (code == IoctlPortStatus) {
        uint32_t count = 0;
        if (!port.deviceStatusBytes.empty() && !PeerGone(port)) {
            count = port.deviceStatusBytes.front();
            if (port.deviceStatusBytes.size() > 1)
                port.deviceStatusBytes.pop_front();
        }
        returned = std::min(count, outLength);
        std::memset(out, 0, returned);
        return true;
    }
    return Fail(ErrorInvalidFunction);
}

} // namespace marlet
