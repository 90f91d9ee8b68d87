// The port object: every byte between the tool and a printer passes through
// it, whatever the kind of port (serial, parallel, device, network).
#pragma once

#include "platform/Platform.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace marlet {

enum PortType : int32_t {
    PortTypeSerial = 1,
    PortTypeDevice = 2,
    PortTypeParallel = 3,
    PortTypeNetwork = 4,
    PortTypeUsb = 5, // reported by GetInterfaceType only
};

enum Handshake : int32_t {
    HandshakeNone = 0,
    HandshakeXonXoff = 1,
    HandshakeHardware = 2,
};

// Counted byte strings; they may hold zero bytes.
using ByteString = std::string;

class IOComm {
public:
    explicit IOComm(Platform& platform);
    virtual ~IOComm();
    IOComm(const IOComm&) = delete;
    IOComm& operator=(const IOComm&) = delete;

    // Parameters and classification.
    RegistryKey OpenRegistryKey();
    void SetPortTypeFromName();
    int LoadParameters(RegKey key);
    int GetPortType() const { return PortType; }
    int GetInterfaceType() const { return IsUsbPrinter ? PortTypeUsb : PortType; }
    int GetHandshake() const { return Handshake; }

    // Opening and closing.
    intptr_t Open(const std::string& name, const std::string& setupString, int saveConfig);
    intptr_t OpenPort();
    int Close();
    intptr_t SendStartString(intptr_t handle);

    // Reading and writing.
    int Output(const uint8_t* data, int length);
    int OutputString(const ByteString& bytes);
    int Input(uint8_t* buffer, int size);
    int IsReady();
    int InputPending();
    int WaitUntilSent(int budgetMs);
    int ReopenParallel();

    // Serial configuration.
    int SetHandshake(int mode);
    int SetTimeouts(int constant, int multiplier);
    int PortSetup(RegKey key, WindowHandle parent);

    // Port discovery.
    std::string GetPortName(int index);
    std::string GetUsbComPortName(int index);
    std::string GetRecentNetworkPort(int index);
    int FindUsbPrinterPath();
    int MatchUsbPortNumber(std::string devicePath);
    std::string ResolveNetworkPort(std::string name);

    // One write attempt and one read attempt; the count goes to count.
    int WritePort(const uint8_t* data, uint32_t length, uint32_t& count);
    int ReadPort(uint8_t* buffer, uint32_t size, uint32_t& count);
    // Replaces pattern by replacement in text (at most 100 times); the new
    // length, or 0 when nothing was replaced.
    static int ReplacePattern(ByteString& text, const ByteString& pattern, const ByteString& replacement);

    bool IsOpen() const { return Handle != InvalidDevice || Socket != InvalidSocket; }

    // Members, with the values construction gives them.
    std::string PortName = "COM2";
    std::string SetupString;
    int SaveConfig = 1;
    int32_t PortType = PortTypeSerial;
    int32_t Handshake = HandshakeNone;
    marlet::CommConfig CommConfig;
    CommTimeouts Timeouts{500, 40, 300, 30, 300};
    DeviceHandle Handle = InvalidDevice;
    SocketHandle Socket = InvalidSocket;
    std::string PeerAddress; // address text of the connected printer
    uint16_t PeerPort = 0;
    bool IsUsbPrinter = false;
    std::string UsbDevicePath;
    std::array<uint8_t, 64> ReadCache{};
    uint32_t CachePos = 0;
    uint32_t CacheCount = 0;
    bool LastWasInput = false;
    uint32_t BytesRead = 0;
    int32_t BytesWritten = 0;
    bool ErrorFlag = false;
    std::string LastError;
    std::string RegistryPath = "SOFTWARE\\Varden\\IOCommDL";
    bool ParametersLoaded = false;
    uint32_t DebugMode = 0;
    uint32_t DoExtra = 0;
    ByteString Start, End;
    ByteString Pattern1, Pattern2, Pattern3, Pattern4;
    ByteString Conversion1, Conversion2, Conversion3, Conversion4;
    OsVersion Version;
    std::recursive_timed_mutex IoLock;

    // Class-wide state (process lifetime, shared by every port object).
    struct ReconnectPolicy {
        int counter = 0;
        uint32_t delay = 200;
    };
    static uint32_t LastSendTime;
    static ReconnectPolicy WriteReconnect;
    static ReconnectPolicy ReadReconnect;
    static ReconnectPolicy ReadyReconnect;
    // Back to the values of process start (for tests).
    static void ResetClassState();

    Platform& Services() { return platform_; }

private:
    // Applies one failure to a policy; when it reconnects, runs retry once and
    // returns its result, otherwise returns 0.
    int Reconnect(ReconnectPolicy& policy, const std::function<int()>& retry);
    void ResetConnectionState();
    int CloseHandleWithRetry(uint32_t pauseMs);
    void RecordNetworkPort(const std::string& entry);
    intptr_t ConnectNetwork(const std::string& working, const std::string& address,
                            const std::string& portText);
    void CloseSocketGracefully();
    uint32_t PlatformError();
    int ReadDeviceCached(uint8_t* buffer, int size);
    int ParallelReady();
    int ParallelReady95();
    bool IsNtFamily() const { return Version.platformId == 2; }

    Platform& platform_;
};

// The port layer's message box (process-wide; suppressed by QuietMode and NoMessages).
int ShowMessageBox(const std::string& text);

} // namespace marlet
