// Comm device seam: serial, parallel and other device ports opened by name.
#pragma once

#include "platform/CommConfig.h"

#include <cstdint>
#include <string>

namespace marlet {

using DeviceHandle = intptr_t; // -1 means none
constexpr DeviceHandle InvalidDevice = -1;

using WindowHandle = void*; // an opaque window of the window layer; nullptr means none

// Device-control codes the readiness query uses.
enum : uint32_t {
    IoctlPortStatus = 0xFA1,             // device status: a 2-byte answer while healthy
    IoctlParQueryInformation = 0x160004, // parallel status byte
};

// Parallel status byte bits.
enum : uint8_t {
    ParPaperEmpty = 0x04,
    ParOffLine = 0x08,
    ParPowerOff = 0x10,
    ParNotConnected = 0x20,
    ParBusy = 0x40,
    ParSelected = 0x80,
};

// Outcome of a bounded device read or write.
enum class DeviceIoResult {
    Completed, // finished; the count is valid
    Failed,    // refused at once, or completion could not be fetched
    TimedOut,  // not finished within the bound; the operation was abandoned
};

class ICommDevice {
public:
    enum class OpenMode {
        Exclusive,       // serial and parallel ports: read/write, no sharing
        SharedOverlapped // device ports: read/write shared, bounded I/O
    };
    virtual ~ICommDevice() = default;

    virtual DeviceHandle Open(const std::string& name, OpenMode mode) = 0;
    virtual bool Close(DeviceHandle handle) = 0;
    // The platform's error code of the last failed call.
    virtual uint32_t LastError() = 0;

    virtual bool GetCommConfig(DeviceHandle handle, CommConfig& config) = 0;
    virtual bool SetCommConfig(DeviceHandle handle, const CommConfig& config) = 0;
    virtual bool SetCommTimeouts(DeviceHandle handle, const CommTimeouts& timeouts) = 0;
    // Applies a device-control string to the DCB; a malformed string changes nothing.
    virtual bool BuildCommDcb(const std::string& setup, Dcb& dcb) = 0;
    // The platform's default configuration of a port named without prefix or colon.
    virtual bool GetDefaultCommConfig(const std::string& device, CommConfig& config) = 0;
    // The port configuration dialog, pre-filled from config; false when cancelled.
    virtual bool CommConfigDialog(const std::string& device, WindowHandle owner, CommConfig& config) = 0;
    virtual bool ClearCommError(DeviceHandle handle, uint32_t& errors, CommStatus& status) = 0;
    virtual bool GetCommModemStatus(DeviceHandle handle, uint32_t& modemStatus) = 0;

    // Serial and parallel ports: I/O bounded by the time-outs set on the handle.
    virtual bool WriteFile(DeviceHandle handle, const uint8_t* data, uint32_t length, uint32_t& written) = 0;
    virtual bool ReadFile(DeviceHandle handle, uint8_t* data, uint32_t length, uint32_t& read) = 0;

    // Device ports: I/O abandoned after timeoutMs.
    virtual DeviceIoResult WriteDevice(DeviceHandle handle, const uint8_t* data, uint32_t length,
                                       uint32_t timeoutMs, uint32_t& written) = 0;
    virtual DeviceIoResult ReadDevice(DeviceHandle handle, uint8_t* data, uint32_t length, uint32_t timeoutMs,
                                      uint32_t& read) = 0;
    virtual bool DeviceIoControl(DeviceHandle handle, uint32_t code, void* out, uint32_t outLength,
                                 uint32_t& returned) = 0;
};

} // namespace marlet
