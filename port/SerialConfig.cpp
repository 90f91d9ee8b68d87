// Serial configuration: flow control, time-outs and the port set-up with its
// stored configuration.
#include "port/IOComm.h"

#include "port/PortText.h"

#include <algorithm>

namespace marlet {

void NormaliseFlowControl(Dcb& dcb, bool opening)
{
    dcb.fBinary = 1;
    dcb.DCBlength = Dcb::StoredSize;
    if (dcb.fOutX) {
        dcb.XonLim = 256;
        dcb.XoffLim = 100;
        dcb.XonChar = 17;
        dcb.XoffChar = 19;
        dcb.fOutxCtsFlow = 0;
        dcb.fDtrControl = 0;
        dcb.fTXContinueOnXoff = 1;
        dcb.fInX = 1;
        if (opening) {
            dcb.fOutxDsrFlow = 0;
            dcb.fDsrSensitivity = 0;
        }
    }
    if (dcb.fOutxCtsFlow) {
        dcb.XonLim = dcb.XoffLim = 0;
        dcb.XonChar = dcb.XoffChar = 0;
        dcb.fDtrControl = (dcb.fDtrControl & ~2u) | 1u; // DTR enabled
        dcb.fTXContinueOnXoff = 0;
        dcb.fOutX = 0;
        dcb.fInX = 0;
        dcb.fOutxDsrFlow = 1;
    }
    if (!dcb.fOutxCtsFlow && !dcb.fOutX) {
        dcb.XonLim = dcb.XoffLim = 0;
        dcb.XonChar = dcb.XoffChar = 0;
        dcb.fOutxDsrFlow = 0;
        dcb.fDtrControl = 0;
        dcb.fTXContinueOnXoff = 0;
        dcb.fOutX = 0;
        dcb.fInX = 0;
    }
}

int IOComm::SetHandshake(int mode)
{
    Handshake = mode;
    Dcb& dcb = CommConfig.dcb;
    switch (mode) {
    case HandshakeNone:
        dcb.fOutxCtsFlow = 0;
        dcb.fDtrControl = 0;
        dcb.fOutX = 0;
        dcb.fInX = 0;
        dcb.fRtsControl = 0;
        break;
    case HandshakeXonXoff:
        dcb.fDtrControl = 0;
        dcb.fRtsControl = 0;
        dcb.fOutX = 1;
        break;
    case HandshakeHardware:
        dcb.fOutX = 0;
        dcb.fInX = 0;
        dcb.fRtsControl = (dcb.fRtsControl & ~1u) | 2u; // RTS handshake
        dcb.fOutxCtsFlow = 1;
        break;
    default:
        break;
    }
    NormaliseFlowControl(dcb, false);
    if (PortType == PortTypeSerial && !dcb.fOutxCtsFlow)
        dcb.fDtrControl = 0;
    if (PortType == PortTypeSerial && Handle != InvalidDevice)
        platform_.comm.SetCommConfig(Handle, CommConfig);
    return mode >= HandshakeNone && mode <= HandshakeHardware ? 1 : 0;
}

int IOComm::SetTimeouts(int constant, int multiplier)
{
    if (PortType == PortTypeNetwork) {
        const uint32_t c = uint32_t(std::max(constant, 100));
        Timeouts.ReadTotalTimeoutConstant = c;
        Timeouts.WriteTotalTimeoutConstant = c;
        return 1;
    }
    Timeouts.ReadTotalTimeoutConstant = uint32_t(constant);
    Timeouts.WriteTotalTimeoutConstant = uint32_t(constant);
    Timeouts.ReadTotalTimeoutMultiplier = uint32_t(multiplier);
    Timeouts.WriteTotalTimeoutMultiplier = uint32_t(multiplier);
    Timeouts.ReadIntervalTimeout = uint32_t(multiplier);
    if (Handle != InvalidDevice)
        return platform_.comm.SetCommTimeouts(Handle, Timeouts) ? 1 : 0;
    return 1;
}

int IOComm::PortSetup(RegKey key, WindowHandle parent)
{
    if (PortType != PortTypeSerial)
        return 0;
    RegistryKey own;
    if (key == 0) {
        own = OpenRegistryKey();
        key = own.Get();
    }
    if (!ParametersLoaded)
        LoadParameters(key);
    bool openedHere = false;
    if (Handle == InvalidDevice) {
        OpenPort();
        openedHere = true;
    }

    std::string device = PortName;
    if (!device.empty() && device[0] == '\\')
        device.erase(0, std::min<size_t>(4, device.size()));
    if (EndsWith(device, ':'))
        device.pop_back();

    ICommDevice& comm = platform_.comm;
    IRegistry& registry = platform_.registry;
    if (!comm.GetDefaultCommConfig(device, CommConfig))
        SaveConfig = 0;
    ReadCommConfig(registry, key, CommConfig);
    if (PortType == PortTypeSerial) {
        const bool ok = SetupString.empty() ? comm.CommConfigDialog(device, parent, CommConfig)
                                            : comm.BuildCommDcb(SetupString, CommConfig.dcb);
        if (!ok)
            SaveConfig = 0;
    }
    if (SaveConfig && key != 0) {
        const auto bytes = CommConfig.ToBytes();
        registry.SetValue(key, "Comm data", RegBinary, std::string(bytes.begin(), bytes.end()));
    }
    if (Handle != InvalidDevice)
        comm.SetCommConfig(Handle, CommConfig);
    Handshake = HandshakeFromConfig(CommConfig);
    if (openedHere)
        Close();
    return 1;
}

} // namespace marlet
