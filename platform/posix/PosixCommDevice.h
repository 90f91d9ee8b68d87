// Comm devices on Linux: serial ttys, lp parallel ports and other device
// files (usblp printers), reached through the port naming function.
#pragma once

#include "platform/CommDevice.h"
#include "platform/posix/PortNaming.h"

#include <functional>
#include <iosfwd>
#include <map>
#include <memory>

namespace marlet {

// Asks for speed, parity, data bits, stop bits and flow control on a text
// terminal, each with the record's value as default (an empty answer keeps
// it). False, and config unchanged, when the input ends.
bool AskCommConfig(std::istream& in, std::ostream& out, const std::string& device, CommConfig& config);

class PosixCommDevice : public ICommDevice {
public:
    using ConfigDialogHook =
        std::function<bool(const std::string& device, WindowHandle owner, CommConfig& config)>;

    explicit PosixCommDevice(PortNaming& naming);
    explicit PosixCommDevice(IRegistry& store, std::string root = "/");
    ~PosixCommDevice() override;
    PosixCommDevice(const PosixCommDevice&) = delete;
    PosixCommDevice& operator=(const PosixCommDevice&) = delete;

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

    // The port configuration dialog of a window layer; without one the
    // terminal is asked when standard input is one.
    void SetConfigDialogHook(ConfigDialogHook hook) { dialogHook_ = std::move(hook); }
    // A write that gets no byte accepted for this long gives up, whatever its time-outs.
    void SetStallLimit(uint32_t milliseconds) { stallLimitMs_ = milliseconds; }

    // The configuration every known serial port starts from: 9600 8N1, no flow control.
    static CommConfig DefaultConfig();

private:
    struct Port {
        int fd = -1;
        PortNaming::Kind kind = PortNaming::Kind::Other;
        bool isTty = false;
        bool exclusive = false;
        std::string path;
        CommTimeouts timeouts;
        bool haveDcb = false;
        Dcb dcb; // the last configuration applied, for what termios cannot hold
    };
    Port* Find(DeviceHandle handle);
    bool Fail(int error);
    // Waits until the port can be read or written, at most timeoutMs (-1: no bound).
    int WaitReady(const Port& port, bool forWrite, int timeoutMs);
    bool Healthy(const Port& port);

    std::unique_ptr<PortNaming> ownNaming_;
    PortNaming& naming_;
    std::map<DeviceHandle, Port> ports_;
    uint32_t lastError_ = 0;
    uint32_t stallLimitMs_ = 60000;
    ConfigDialogHook dialogHook_;
};

} // namespace marlet
