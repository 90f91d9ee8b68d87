// The five settings that survive from one run to the next, read once when the
// main dialog is made and written once when it is destroyed.
#include "app/ProcessValues.h"
#include "ui/DownloadDlg.h"

namespace marlet {

namespace {

// A stored text: its bytes up to its stored length or its first zero byte.
std::string LoadText(IRegistry& registry, RegKey key, const char* name)
{
    RegValue value;
    if (key == 0 || !registry.QueryValue(key, name, value))
        return std::string();
    const size_t zero = value.data.find('\0');
    return zero == std::string::npos ? value.data : value.data.substr(0, zero);
}

// A stored number: four bytes, little-endian. A value that does not fit
// four bytes cannot be read and leaves 0.
int32_t LoadNumber(IRegistry& registry, RegKey key, const char* name)
{
    RegValue value;
    if (key == 0 || !registry.QueryValue(key, name, value) || value.data.size() > 4)
        return 0;
    return int32_t(DwordFromBytes(value.data));
}

} // namespace

void CDownloadDlg::LoadSettings()
{
    IRegistry& registry = platform_.registry;
    RegistryKey key = Comm.OpenRegistryKey();
    PortName = LoadText(registry, key.Get(), "PortName");
    DLFileName = LoadText(registry, key.Get(), "DLFileName");
    DLSpeed = LoadNumber(registry, key.Get(), "DLSpeed");
    NoMessages = LoadNumber(registry, key.Get(), "NoMessages");
    XonXoff = LoadNumber(registry, key.Get(), "XonXoff");
}

void CDownloadDlg::SaveSettings()
{
    IRegistry& registry = platform_.registry;
    RegistryKey key = Comm.OpenRegistryKey();
    if (!key)
        return;
    // Strings are stored with exactly their length, without a zero byte.
    registry.SetValue(key.Get(), "DLFileName", RegSz, DLFileName);
    registry.SetValue(key.Get(), "PortName", RegSz, PortName);
    registry.SetValue(key.Get(), "DLSpeed", RegDword, DwordBytes(uint32_t(DLSpeed)));
    registry.SetValue(key.Get(), "NoMessages", RegDword, DwordBytes(uint32_t(NoMessages)));
    registry.SetValue(key.Get(), "XonXoff", RegDword, DwordBytes(uint32_t(XonXoff)));
}

} // namespace marlet
