// A port object over in-memory platform services, with helpers that record
// the registry layouts the port discovery reads.
#pragma once

#include "platform/Platform.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeCommDevice.h"
#include "platform/fake/FakeFiles.h"
#include "platform/fake/FakeRegistry.h"
#include "platform/fake/FakeSockets.h"
#include "platform/fake/FakeSystem.h"
#include "port/IOComm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace marlet::testing {

inline const std::string NtInterfaceKey = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0613&Pid_2000&Mi_00";
inline const std::string NtCompositeKey = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0613&Pid_2000";
inline const std::string NinexInterfaceKey = "Enum\\USB\\VID_0613&Pid_2000&Mi_00";
inline const std::string PrinterClassKey =
    "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
inline const std::string MonitorPortsKey =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports";
inline const std::string ParametersKey = "SOFTWARE\\Varden\\IOCommDL";

class DiscoveryTest : public ::testing::Test {
protected:
    FakeRegistry registry;
    FakeClock clock;
    FakeCommDevice comm{clock};
    FakeSockets sockets{clock};
    FakeSystem system;
    FakeFiles files;
    Platform platform{registry, comm, sockets, system, clock, files};
    IOComm io{platform};

    // What the port selector's start-up asks for: positions until the first empty answer.
    std::vector<std::string> List()
    {
        std::vector<std::string> entries;
        for (int i = 0; i < 50; ++i) {
            std::string name = io.GetPortName(i);
            if (name.empty())
                break;
            entries.push_back(name);
        }
        return entries;
    }

    // An interface-0 instance of the USB serial interface in the NT layout.
    void AddNtInstance(const std::string& instance, uint32_t comNumber)
    {
        registry.SetDword(NtInterfaceKey + "\\" + instance + "\\Device Parameters", "COMPortForInterface0000",
                          comNumber);
        registry.Ensure(NtCompositeKey);
    }

    // The history block as the open step writes it: the text, then zero bytes up to 1000.
    void SetHistory(const std::string& text)
    {
        std::string block = text;
        block.resize(1000, '\0');
        registry.Set(ParametersKey, "TCP", RegBinary, block);
    }
};

} // namespace marlet::testing
