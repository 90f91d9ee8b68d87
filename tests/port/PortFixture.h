// A port object over the fake machine, with helpers for the ports, registry
// values and byte strings the port tests use.
#pragma once

#include "support/World.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace marlet::test {

inline const std::string kCom1 = "\\\\.\\COM1";
inline const std::string kPrinterClassKey =
    "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

using Kind = FakeCommDevice::Kind;

inline std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += char(uint8_t(v));
    return s;
}

class PortTest : public ::testing::Test {
protected:
    World w;
    std::unique_ptr<IOComm> port;

    // The port object, built on first use so that a test can declare COM2 first.
    IOComm& Io()
    {
        if (!port)
            port = std::make_unique<IOComm>(w.platform);
        return *port;
    }

    // A stored serial configuration, so that the first open runs no port set-up.
    void StoreCommData(const CommConfig& config = {})
    {
        const auto bytes = config.ToBytes();
        w.registry.Set(kKey, "Comm data", RegBinary, std::string(bytes.begin(), bytes.end()));
    }
    void SetDword(const std::string& name, uint32_t value) { w.registry.SetDword(kKey, name, value); }

    // A present USB printer interface with its port number.
    std::string AddUsbPrinter(uint32_t portNumber)
    {
        const std::string path = "\\\\?\\usb#vid_0613&pid_2000#" + std::to_string(portNumber) +
                                 "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
        std::string keyName = path;
        for (char& c : keyName)
            if (c == '\\')
                c = '#';
        w.registry.SetDword(kPrinterClassKey + "\\" + keyName + "\\#\\Device Parameters", "Port Number",
                            portNumber);
        w.system.usbPrinters.push_back({path});
        return path;
    }

    // Opens a port declared with the fake device; the stored configuration
    // keeps the port set-up out of the way.
    FakeCommDevice::Port& OpenDeclared(const std::string& openName, const std::string& deviceName, Kind kind)
    {
        FakeCommDevice::Port& device = w.comm.Add(deviceName, kind);
        StoreCommData();
        Io().Open(openName, "", 0);
        return device;
    }

    std::vector<std::string> Boxes() const { return w.BoxTexts(); }
    std::vector<uint32_t>& Sleeps() { return w.clock.sleeps; }
    std::string Written(const std::string& name) { return w.comm[name].written; }
};

} // namespace marlet::test
