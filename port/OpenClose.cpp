// Opening and closing ports of the four kinds, the Start and End strings and
// the history of network ports reached.
#include "port/IOComm.h"

#include "port/PortText.h"

#include <cstring>

namespace marlet {

namespace {

constexpr uint32_t kConnectTimeoutMs = 10000;
constexpr uint32_t kLingerAfterSendMs = 700;
constexpr uint32_t kRecentSendMs = 500;
constexpr uint32_t kDrainBoundMs = 2000;
constexpr size_t kDrainBoundBytes = 65536;
constexpr size_t kHistorySize = 1000;

// The leading decimal digits of a text as a TCP port (none gives 0); only the
// low 16 bits count, as when the number is given to a 16-bit field.
uint16_t PortNumber(const std::string& text)
{
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = (value * 10 + uint32_t(c - '0')) & 0xFFFFu;
    }
    return uint16_t(value);
}

} // namespace

void IOComm::ResetConnectionState()
{
    LastWasInput = false;
    ReadCache.fill(0);
    CachePos = 0;
    CacheCount = 0;
    BytesWritten = 0;
    ErrorFlag = false;
    LastError.clear();
}

intptr_t IOComm::Open(const std::string& name, const std::string& setupString, int saveConfig)
{
    if (Handle != InvalidDevice)
        return Handle;
    SaveConfig = saveConfig;
    SetHandshake(Handshake);
    PortName = name;
    SetupString = setupString;
    SetPortTypeFromName();
    if (PortType == PortTypeSerial) {
        // Serial ports are reached under "\\.\COMn" with all their digits; a
        // name given in that form is taken as it is.
        if (PortName.empty() || PortName[0] != '\\')
            PortName = "\\\\.\\" + PortName;
        if (EndsWith(PortName, ':'))
            PortName.pop_back();
    }
    if (!ParametersLoaded)
        LoadParameters(0);
    return OpenPort();
}

int IOComm::CloseHandleWithRetry(uint32_t pauseMs)
{
    if (Handle == InvalidDevice)
        return 1;
    if (!platform_.comm.Close(Handle)) {
        platform_.clock.Sleep(pauseMs);
        if (!platform_.comm.Close(Handle))
            return 0;
    }
    Handle = InvalidDevice;
    return 1;
}

intptr_t IOComm::OpenPort()
{
    if (Handle != InvalidDevice)
        return Handle;
    ResetConnectionState();
    if (PortName.empty())
        return 0;
    SetPortTypeFromName();
    if (!ParametersLoaded)
        LoadParameters(0);

    if (PortType == PortTypeDevice && StartsWithNoCase(PortName, "USB")) {
        IsUsbPrinter = true;
        if (!FindUsbPrinterPath()) {
            IsUsbPrinter = false;
            return 0;
        }
    }

    ICommDevice& comm = platform_.comm;
    for (;;) {
        bool configRefused = false;
        NormaliseFlowControl(CommConfig.dcb, true);

        std::string working = PortName;
        std::string address;
        std::string portText;
        if (PortType == PortTypeNetwork) {
            working = ResolveNetworkPort(PortName);
            const size_t colon = working.rfind(':');
            if (colon == std::string::npos)
                return 0;
            address = working.substr(0, colon);
            portText = working.substr(colon + 1);
        }
        if (DebugMode != 0)
            ShowMessageBox("DebugMode: " + std::to_string(DebugMode));
        if ((PortType == PortTypeSerial || PortType == PortTypeParallel) && !EndsWith(working, ':') &&
            !(working.size() > 0 && working[0] == '\\'))
            working += ":";

        if (PortType == PortTypeNetwork)
            return ConnectNetwork(working, address, portText);

        if (PortType == PortTypeDevice) {
            if (IsUsbPrinter)
                working = UsbDevicePath;
            Handle = comm.Open(working, ICommDevice::OpenMode::SharedOverlapped);
        } else {
            Handle = comm.Open(working, ICommDevice::OpenMode::Exclusive);
        }
        if (Handle == InvalidDevice) {
            ErrorFlag = true;
            LastError = FailureText("IOComm::Open()", comm.LastError());
        }

        if (PortType == PortTypeDevice && !ErrorFlag) {
            comm.SetCommTimeouts(Handle, Timeouts);
        } else {
            if (PortType == PortTypeSerial) {
                if (!SetupString.empty())
                    comm.BuildCommDcb(SetupString, CommConfig.dcb);
                if (!ErrorFlag && !comm.SetCommConfig(Handle, CommConfig)) {
                    configRefused = true;
                    ErrorFlag = true;
                    LastError = FailureText("SetCommConfig(IOHandle, ....)", comm.LastError());
                    if (DebugMode & 1) {
                        ErrorFlag = false;
                        ShowMessageBox(LastError + " Ignoring Error");
                    }
                }
            }
            if (!ErrorFlag && (PortType == PortTypeSerial || PortType == PortTypeParallel) &&
                !comm.SetCommTimeouts(Handle, Timeouts)) {
                ErrorFlag = true;
                LastError = FailureText("SetCommTimeouts(IOHandle, ....)", comm.LastError());
                if ((DebugMode & 1) || (PortType == PortTypeParallel && IsNtFamily()))
                    ErrorFlag = false;
            }
            if (ErrorFlag && PortType == PortTypeSerial)
                CloseHandleWithRetry(100);
            if (configRefused && ErrorFlag) {
                // A driver that takes no serial configuration is a device:
                // open it again shared, under its "\\.\" name.
                ErrorFlag = false;
                PortType = PortTypeDevice;
                if (EndsWith(PortName, ':'))
                    PortName.pop_back();
                continue;
            }
        }

        if (ErrorFlag) {
            ShowMessageBox(LastError);
            CloseHandleWithRetry(100);
            // A port that failed to open is closed, even when its handle
            // could not be released: a later Open must not take it as open.
            Handle = InvalidDevice;
            return 0;
        }
        return SendStartString(Handle);
    }
}

intptr_t IOComm::ConnectNetwork(const std::string& working, const std::string& address,
                                const std::string& portText)
{
    if (Socket != InvalidSocket)
        return 1;
    ISockets& sockets = platform_.sockets;
    if (sockets.Startup() != 0)
        return 0;
    Socket = sockets.Socket();
    if (Socket == InvalidSocket)
        return 0;
    PeerAddress = address;
    PeerPort = PortNumber(portText);
    // The back end resolves a host name; the attempt is bounded so that an
    // unreachable printer cannot hold the program.
    if (!sockets.Connect(Socket, PeerAddress, PeerPort, kConnectTimeoutMs)) {
        sockets.CloseSocket(Socket);
        Socket = InvalidSocket;
        ErrorFlag = true;
        return 0;
    }
    LastSendTime = 0;
    RecordNetworkPort(working);
    SetTimeouts(100, 0);
    ErrorFlag = false;
    return 1;
}

void IOComm::RecordNetworkPort(const std::string& entry)
{
    RegistryKey key = OpenRegistryKey();
    if (!key)
        return;
    IRegistry& registry = platform_.registry;
    std::string block(kHistorySize, '\0');
    RegValue stored;
    if (registry.QueryValue(key.Get(), "TCP", stored))
        stored.data.copy(block.data(), kHistorySize);

    // The history is zero-terminated text in a 1000-byte block. A longer
    // stored value keeps only its complete entries that fit with the zero.
    std::string text = block.substr(0, block.find('\0'));
    if (text.size() >= kHistorySize) {
        const size_t lastSpace = text.rfind(' ', kHistorySize - 1);
        text.resize(lastSpace == std::string::npos ? 0 : lastSpace);
        block.assign(kHistorySize, '\0');
        text.copy(block.data(), text.size());
    }
    if (text.find(entry) != std::string::npos)
        return;
    if (text.size() + entry.size() < kHistorySize - 1) {
        text += " " + entry;
        text.copy(block.data(), text.size());
    }
    registry.SetValue(key.Get(), "TCP", RegBinary, block);
}

intptr_t IOComm::SendStartString(intptr_t handle)
{
    if (handle != InvalidDevice && DoExtra != 0) {
        const uint32_t saved = DoExtra;
        DoExtra = 0; // the Start string is sent as it is
        OutputString(Start);
        DoExtra = saved;
    }
    return handle;
}

void IOComm::CloseSocketGracefully()
{
    ISockets& sockets = platform_.sockets;
    IClock& clock = platform_.clock;
    // Closing a socket while the printer's own bytes lie unread resets the
    // connection and loses the image data still queued for the printer. So
    // the sending side is shut down first and whatever the printer still
    // sends is read and dropped until it closes its side or a bound (time or
    // bytes) is reached.
    sockets.Shutdown(Socket, 1);
    const uint32_t start = clock.TickCount();
    uint8_t discard[256];
    size_t drained = 0;
    for (;;) {
        const uint32_t elapsed = clock.TickCount() - start;
        if (elapsed >= kDrainBoundMs || drained >= kDrainBoundBytes)
            break;
        if (sockets.Select(Socket, false, kDrainBoundMs - elapsed) <= 0)
            break;
        const int received = sockets.Recv(Socket, discard, int(sizeof discard));
        if (received <= 0)
            break;
        drained += size_t(received);
    }
    sockets.CloseSocket(Socket);
    Socket = InvalidSocket;
}

int IOComm::Close()
{
    IClock& clock = platform_.clock;
    if (PortType == PortTypeNetwork) {
        if (Socket != InvalidSocket) {
            if (clock.TickCount() - LastSendTime < kRecentSendMs)
                clock.Sleep(kLingerAfterSendMs);
            CloseSocketGracefully();
        }
        Handle = InvalidDevice;
        LastWasInput = false;
        return 1;
    }
    if (Handle != InvalidDevice && DoExtra != 0) {
        const uint32_t saved = DoExtra;
        DoExtra = 0; // the End string is sent as it is
        OutputString(End);
        DoExtra = saved;
        clock.Sleep(500);
    }
    if (!CloseHandleWithRetry(300))
        return 0;
    LastWasInput = false;
    IsUsbPrinter = false;
    return 1;
}

} // namespace marlet
