#include "platform/win32/Win32System.h"

#include <cstddef>

#include <windows.h>

#include <setupapi.h>
#include <winspool.h>
#undef EnumPorts

namespace marlet {

namespace {

// The device-interface class of USB printers.
const GUID kUsbPrinterClass = {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

// A device-information list, freed on every way out.
class DeviceList {
public:
    explicit DeviceList(HDEVINFO list) : list_(list) {}
    ~DeviceList()
    {
        if (list_ != INVALID_HANDLE_VALUE)
            ::SetupDiDestroyDeviceInfoList(list_);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    HDEVINFO Get() const { return list_; }
    bool Valid() const { return list_ != INVALID_HANDLE_VALUE; }

private:
    HDEVINFO list_;
};

} // namespace

bool Win32System::EnumPorts(std::vector<std::string>& names)
{
    // Asked first for the size it needs, then with an area of that size; the
    // list may grow in between, so a too-small area is asked again.
    std::vector<BYTE> area;
    DWORD needed = 0;
    DWORD returned = 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (::EnumPortsA(nullptr, 1, area.empty() ? nullptr : area.data(), DWORD(area.size()), &needed,
                         &returned)) {
            names.clear();
            const auto* ports = reinterpret_cast<const PORT_INFO_1A*>(area.data());
            for (DWORD i = 0; i < returned; ++i) {
                if (ports[i].pName != nullptr)
                    names.emplace_back(ports[i].pName);
            }
            return true;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= area.size())
            return false;
        area.assign(needed, 0);
    }
    return false;
}

bool Win32System::UsbPrinterInterfaces(std::vector<UsbPrinterInterface>& interfaces)
{
    DeviceList list(
        ::SetupDiGetClassDevsA(&kUsbPrinterClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!list.Valid())
        return false;
    interfaces.clear();
    for (DWORD member = 0;; ++member) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!::SetupDiEnumDeviceInterfaces(list.Get(), nullptr, &kUsbPrinterClass, member, &data))
            break;
        UsbPrinterInterface entry;
        DWORD size = 0;
        ::SetupDiGetDeviceInterfaceDetailA(list.Get(), &data, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            entry.sizeReported = false;
            interfaces.push_back(entry);
            continue;
        }
        std::vector<BYTE> block(size, 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!::SetupDiGetDeviceInterfaceDetailA(list.Get(), &data, detail, size, nullptr, &device)) {
            // The search ends here: what follows is not examined.
            entry.detailFails = true;
            interfaces.push_back(entry);
            break;
        }
        // The path is zero-terminated within the block.
        const size_t offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        const auto* path = reinterpret_cast<const char*>(block.data() + offset);
        size_t length = 0;
        while (offset + length < block.size() && path[length] != '\0')
            ++length;
        entry.devicePath.assign(path, length);
        interfaces.push_back(entry);
    }
    return true;
}

OsVersion Win32System::GetVersion()
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!::GetVersionExA(&info))
        return {};
    return {info.dwPlatformId, info.dwMajorVersion};
}

} // namespace marlet
