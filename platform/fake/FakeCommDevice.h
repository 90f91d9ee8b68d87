// A scripted comm device for tests: named ports that a test declares, each
// answering with scripted data or through an attached FakePeer, with the
// serial time-out rules emulated in virtual time. Every call is recorded.
#pragma once

#include "platform/CommDevice.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakePeer.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace marlet {

class FakeCommDevice : public ICommDevice {
public:
    // Error codes the fake reports.
    enum : uint32_t {
        ErrorFileNotFound = 2,
        ErrorAccessDenied = 5,
        ErrorInvalidHandle = 6,
        ErrorInvalidFunction = 1,
        ErrorGenFailure = 31,
        ErrorDeviceNotConnected = 1167,
    };

    // What kind of driver sits behind a name: a serial port takes a serial
    // configuration; parallel ports and other devices refuse it.
    enum class Kind { Serial, Parallel, Device };

    // One scripted answer to a write: accept so many bytes (-1: all), or fail
    // with an error code (after accepting `accept` bytes when it is above 0).
    struct WriteStep {
        int accept = -1;
        bool fail = false;
        uint32_t error = ErrorGenFailure;
    };
    static WriteStep Accept(int n) { return {n, false, 0}; }
    static WriteStep FailWrite(uint32_t error, int accepted = 0) { return {accepted, true, error}; }

    // One scripted answer to a read: these bytes (an empty text completes with
    // nothing read), or a failure with an error code.
    struct ReadStep {
        std::string data;
        bool fail = false;
        uint32_t error = ErrorGenFailure;
    };
    static ReadStep Data(std::string bytes) { return {std::move(bytes), false, 0}; }
    static ReadStep FailRead(uint32_t error) { return {{}, true, error}; }

    struct Port {
        Kind kind = Kind::Serial;
        bool exists = true;     // a missing port fails to open with ErrorFileNotFound
        uint32_t openError = 0; // non-zero: every open fails with this code

        // Serial configuration.
        CommConfig config;           // answered by GetCommConfig, replaced by SetCommConfig
        bool refuseConfig = false;   // SetCommConfig fails (always so for a non-serial kind)
        bool refuseTimeouts = false; // SetCommTimeouts fails (always so for the device kind)
        uint32_t refuseError = ErrorInvalidFunction;
        std::vector<CommConfig> configsApplied;
        std::vector<CommTimeouts> timeoutsApplied;
        CommTimeouts timeouts; // the time-outs in force

        // Writes and reads: scripted steps first, then the peer, else a write
        // takes everything and a read finds nothing.
        std::deque<WriteStep> writes;
        std::deque<ReadStep> reads;
        FakePeer* peer = nullptr;
        std::string written;              // every byte the port accepted, in order
        std::vector<uint32_t> writeSizes; // length of each write call

        // Status queries.
        bool modemStatusFails = false;
        uint32_t modemStatus = MS_DSR_ON;
        bool clearCommErrorFails = false;
        uint32_t commErrors = 0;
        CommStatus status;             // answered when outQueue is empty
        std::deque<uint32_t> outQueue; // successive cbOutQue answers (the last one repeats)
        bool ioctlFails = false;
        std::deque<uint8_t> parallelStatus{ParSelected}; // successive status bytes (the last one repeats)
        std::deque<uint32_t> deviceStatusBytes{2};       // successive byte counts of the 0xFA1 answer

        int openHandles = 0; // handles currently open on this port
        int opens = 0;       // successful opens so far
    };

    explicit FakeCommDevice(FakeClock& clock) : clock_(clock) {}

    // Declares a port under the exact name Open receives.
    Port& Add(const std::string& name, Kind kind = Kind::Serial);
    Port* Find(const std::string& name);
    Port& operator[](const std::string& name) { return *Find(name); }
    // Number of handles open on all ports together.
    int OpenHandles() const;
    // The port name behind an open handle ("" when it is not open).
    std::string NameOf(DeviceHandle handle) const;

    // Default configurations by device name without prefix or colon ("COM1").
    std::map<std::string, CommConfig> defaultConfigs;
    // The configuration dialog: answers true and may change the record; none
    // set means the user cancels.
    std::function<bool(const std::string& device, CommConfig& config)> dialog;
    // A serial or parallel write that gets no byte taken for this long gives
    // up with what it wrote (the transfer must never hang on one write).
    uint32_t stallLimitMs = 60000;
    // Failure switches for closing.
    int failCloses = 0; // this many Close calls fail first
    // Every call in order, as readable text ("Open \\.\COM1 exclusive",
    // "WriteFile \\.\COM1 1000", ...).
    std::vector<std::string> calls;
    // Calls whose text begins with prefix, in order.
    std::vector<std::string> CallsStartingWith(const std::string& prefix) const;

    // ICommDevice
    DeviceHandle Open(const std::string& name, OpenMode mode) override;
    bool Close(DeviceHandle handle) override;
    uint32_t LastError() override { return lastError_; }
    bool GetCommConfig(DeviceHandle handle, CommConfig& config) override;
    bool SetCommConfig(DeviceHandle handle, const CommConfig& config) override;
    bool SetCommTimeouts(DeviceHandle handle, const CommTimeouts& timeouts) override;
    bool BuildCommDcb(const std::string& setup, Dcb& dcb) override;
    bool GetDefaultCommConfig(const std::string& device, CommConfig& config) override;
    bool CommConfigDialog(const std::string& device, WindowHandle owner, CommConfig& config) override;
    bool ClearCommError(DeviceHandle handle, uint32_t& errors, CommStatus& status) override;
    bool GetCommModemStatus(DeviceHandle handle, uint32_t& modemStatus) override;
    bool WriteFile(DeviceHandle handle, const uint8_t* data, uint32_t length, uint32_t& written) override;
    bool ReadFile(DeviceHandle handle, uint8_t* data, uint32_t length, uint32_t& read) override;
    DeviceIoResult WriteDevice(DeviceHandle handle, const uint8_t* data, uint32_t length, uint32_t timeoutMs,
                               uint32_t& written) override;
    DeviceIoResult ReadDevice(DeviceHandle handle, uint8_t* data, uint32_t length, uint32_t timeoutMs,
                              uint32_t& read) override;
    bool DeviceIoControl(DeviceHandle handle, uint32_t code, void* out, uint32_t outLength,
                         uint32_t& returned) override;

    // The setup-string parser of the fake: blank-separated "baud=", "parity="
    // (n, e, o, m, s), "data=" (5 to 8), "stop=" (1, 1.5, 2), keys without
    // regard to case; anything else fails and changes nothing.
    static bool ParseSetup(const std::string& setup, Dcb& dcb);

private:
    struct OpenHandle {
        std::string name;
        OpenMode mode;
    };
    Port* PortOf(DeviceHandle handle, const char* call);
    bool Fail(uint32_t error)
    {
        lastError_ = error;
        return false;
    }
    // Offers bytes to the port; returns how many it takes (or nullopt with the
    // error set when the write step fails).
    std::optional<uint32_t> Take(Port& port, const uint8_t* data, uint32_t length, uint32_t& failedAfter);
    // Bytes the port has for a reader now (at most length); nullopt on a failure step.
    std::optional<std::string> Offer(Port& port, uint32_t length, bool& scripted);

    FakeClock& clock_;
    std::map<std::string, Port> ports_;
    std::map<DeviceHandle, OpenHandle> handles_;
    DeviceHandle next_ = 0x100;
    uint32_t lastError_ = 0;
};

} // namespace marlet
