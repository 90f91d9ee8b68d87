// The port object: construction, the parameters key, name classification and
// the registry parameters.
#include "port/IOComm.h"

#include "port/PortText.h"

namespace marlet {

uint32_t IOComm::LastSendTime = 0;
IOComm::ReconnectPolicy IOComm::WriteReconnect;
IOComm::ReconnectPolicy IOComm::ReadReconnect;
IOComm::ReconnectPolicy IOComm::ReadyReconnect;

namespace {

constexpr uint32_t kTimeoutFloor = 10;
constexpr size_t kMaxExtraString = 100;

// A 32-bit value as the registry returns it into a 4-byte buffer: a longer
// value does not fit and fails to read.
bool ReadDword(IRegistry& registry, RegKey key, const std::string& name, uint32_t& value)
{
    RegValue stored;
    if (key == 0 || !registry.QueryValue(key, name, stored))
        return false;
    if (stored.data.empty() || stored.data.size() > 4)
        return false;
    value = DwordFromBytes(stored.data);
    return true;
}

// Exactly the bytes of a value of at most maxBytes bytes (a REG_SZ brings its
// zero byte); a longer value fails to read, as into a buffer too small for it.
bool ReadBytes(IRegistry& registry, RegKey key, const std::string& name, size_t maxBytes, ByteString& bytes)
{
    RegValue stored;
    if (key == 0 || !registry.QueryValue(key, name, stored))
        return false;
    if (stored.data.size() > maxBytes)
        return false;
    bytes = stored.data;
    return true;
}

} // namespace

bool ReadCommConfig(IRegistry& registry, RegKey key, CommConfig& config)
{
    RegValue stored;
    if (key == 0 || !registry.QueryValue(key, "Comm Data", stored))
        return false;
    if (stored.data.size() != size_t(CommConfig::StoredSize))
        return false;
    config = CommConfig::FromBytes(reinterpret_cast<const uint8_t*>(stored.data.data()));
    return true;
}

int32_t HandshakeFromConfig(const CommConfig& config)
{
    if (config.dcb.fOutxCtsFlow)
        return HandshakeHardware;
    if (config.dcb.fOutX)
        return HandshakeXonXoff;
    return HandshakeNone;
}

IOComm::IOComm(Platform& platform) : platform_(platform)
{
    // The configuration of COM2 is the starting serial configuration; when the
    // port is missing the record stays zero-filled.
    ICommDevice& comm = platform_.comm;
    const DeviceHandle com2 = comm.Open("\\\\.\\COM2", ICommDevice::OpenMode::Exclusive);
    if (com2 != InvalidDevice) {
        marlet::CommConfig config;
        if (comm.GetCommConfig(com2, config))
            CommConfig = config;
        comm.Close(com2);
    }
    Version = platform_.system.GetVersion();
    LastSendTime = 0;
}

IOComm::~IOComm()
{
    if (Handle != InvalidDevice)
        platform_.comm.Close(Handle);
}

void IOComm::ResetClassState()
{
    LastSendTime = 0;
    WriteReconnect = {};
    ReadReconnect = {};
    ReadyReconnect = {};
}

RegistryKey IOComm::OpenRegistryKey()
{
    IRegistry& registry = platform_.registry;
    RegKey key = registry.OpenKey(HKeyLocalMachine, RegistryPath, IRegistry::Access::All);
    if (key == 0)
        key = registry.OpenKey(HKeyLocalMachine, RegistryPath, IRegistry::Access::Read);
    if (key == 0)
        key = registry.CreateKey(HKeyLocalMachine, RegistryPath);
    if (key == 0)
        return {};
    return RegistryKey(registry, key);
}

void IOComm::SetPortTypeFromName()
{
    const std::string& name = PortName;
    int32_t type = PortTypeDevice;
    if (StartsWithNoCase(name, "COM"))
        type = PortTypeSerial;
    if (StartsWithNoCase(name, "\\\\.\\C"))
        type = PortTypeSerial;
    if (StartsWithNoCase(name, "LPT") && name.size() <= 5)
        type = PortTypeParallel;
    if (name.find('.') != std::string::npos && name.size() > 10)
        type = PortTypeNetwork;
    if (name.find(':') != std::string::npos && name.size() > 10)
        type = PortTypeNetwork;
    PortType = type;
}

int IOComm::LoadParameters(RegKey key)
{
    RegistryKey own;
    if (key == 0) {
        own = OpenRegistryKey();
        key = own.Get();
    }
    IRegistry& registry = platform_.registry;

    SetPortTypeFromName();
    ParametersLoaded = true;

    uint32_t value = 0;
    if (ReadDword(registry, key, "IOTimeOutFactor", value))
        Timeouts = {value, value, value, value, value};
    ReadDword(registry, key, "ReadIntervalTimeout", Timeouts.ReadIntervalTimeout);
    ReadDword(registry, key, "ReadTotalTimeoutMultiplier", Timeouts.ReadTotalTimeoutMultiplier);
    ReadDword(registry, key, "ReadTotalTimeoutConstant", Timeouts.ReadTotalTimeoutConstant);
    ReadDword(registry, key, "WriteTotalTimeoutMultiplier", Timeouts.WriteTotalTimeoutMultiplier);
    ReadDword(registry, key, "WriteTotalTimeoutConstant", Timeouts.WriteTotalTimeoutConstant);
    if (ReadDword(registry, key, "PortType", value))
        PortType = int32_t(value);
    ReadDword(registry, key, "DebugMode", DebugMode);

    for (uint32_t* timeout : {&Timeouts.ReadIntervalTimeout, &Timeouts.ReadTotalTimeoutMultiplier,
                              &Timeouts.ReadTotalTimeoutConstant, &Timeouts.WriteTotalTimeoutMultiplier,
                              &Timeouts.WriteTotalTimeoutConstant})
        if (*timeout < kTimeoutFloor)
            *timeout = kTimeoutFloor;

    if (ReadDword(registry, key, "DoExtra", value)) {
        DoExtra = value;
        if (DoExtra != 0) {
            const std::pair<const char*, ByteString*> strings[] = {
                {"Start", &Start},       {"End", &End},
                {"Pattern1", &Pattern1}, {"Conversion1", &Conversion1},
                {"Pattern2", &Pattern2}, {"Conversion2", &Conversion2},
                {"Pattern3", &Pattern3}, {"Conversion3", &Conversion3},
                {"Pattern4", &Pattern4}, {"Conversion4", &Conversion4},
            };
            for (const auto& [name, member] : strings)
                ReadBytes(registry, key, name, kMaxExtraString, *member);
        }
    }

    if (!ReadCommConfig(registry, key, CommConfig) && PortType == PortTypeSerial)
        PortSetup(key, nullptr);
    Handshake = HandshakeFromConfig(CommConfig);
    return 1;
}

int IOComm::Reconnect(ReconnectPolicy& policy, const std::function<int()>& retry)
{
    ++policy.counter;
    if (policy.counter < 4)
        return 0;
    Close();
    platform_.clock.Sleep(policy.delay);
    policy.delay += 1000;
    OpenPort();
    if (policy.delay > 8000)
        policy.delay = 8000;
    const int result = retry();
    if (result != 0) {
        policy.delay = 200;
        policy.counter = 0;
    }
    return result;
}

} // namespace marlet
