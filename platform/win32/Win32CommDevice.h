// Comm devices through kernel32: serial and parallel ports opened
// exclusively with synchronous I/O bounded by the port's time-outs, other
// devices opened shared with overlapped I/O bounded by a wait.
#pragma once

#include "platform/CommDevice.h"

#include <map>
#include <memory>
#include <vector>

namespace marlet {

class Win32CommDevice : public ICommDevice {
public:
    Win32CommDevice();
    ~Win32CommDevice() override;
    Win32CommDevice(const Win32CommDevice&) = delete;
    Win32CommDevice& operator=(const Win32CommDevice&) = delete;

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

    // A synchronous write that gets no byte accepted for this long gives up,
    // whatever time-outs the port carries.
    void SetStallLimit(uint32_t milliseconds) { stallLimitMs_ = milliseconds; }

    // The pieces a synchronous write of length bytes is split into, so that no
    // piece may wait longer than the stall limit: the piece length and the
    // write time-outs (multiplier, constant) each piece runs with.
    struct WritePlan {
        uint32_t pieceLength = 0;
        uint32_t multiplier = 0;
        uint32_t constant = 0;
    };
    static WritePlan PlanWrite(const CommTimeouts& timeouts, uint32_t length, uint32_t stallLimitMs);

private:
    struct Overlap; // one overlapped operation with its event and buffer
    struct Port;    // the handle with its time-outs and overlapped I/O state
    Port* Find(DeviceHandle handle);
    bool Fail();
    bool Fail(uint32_t error);
    // Waits for an overlapped operation; abandons it after timeoutMs.
    DeviceIoResult Complete(Port& port, Overlap& op, bool started, uint32_t timeoutMs, uint32_t& count);

    std::map<DeviceHandle, std::unique_ptr<Port>> ports_;
    // Ports closed while an abandoned operation could still complete into their buffers.
    std::vector<std::unique_ptr<Port>> retired_;
    uint32_t lastError_ = 0;
    uint32_t stallLimitMs_ = 60000;
};

} // namespace marlet
