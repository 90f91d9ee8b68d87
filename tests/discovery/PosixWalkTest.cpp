// The walks of the port list and the look-ups, unchanged, over the keys and
// ports that the POSIX back end makes from a fake machine.
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeCommDevice.h"
#include "platform/fake/FakeFiles.h"
#include "platform/fake/FakeSockets.h"
#include "platform/posix/PosixRegistry.h"
#include "platform/posix/PosixSystem.h"
#include "platform/posix/SystemKeys.h"
#include "port/IOComm.h"
#include "support/DeviceTree.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace marlet::testing {
namespace {

TEST(PosixDiscovery, WalksFindTheMachinesPorts)
{
    DeviceTree tree;
    tree.AddUart(0, true);
    tree.AddUsbTty("ttyUSB0", "1-1", 0x0403, 0x6001, 0, "A10K");
    tree.AddUsbTty("ttyACM0", "1-2", 0x0613, 0x2000, 0, "P1");
    tree.AddParallel(0);
    tree.AddUsbPrinter(0);
    tree.AddUsbPrinter(1);
    const std::string lpstat = "device for Near: socket://192.0.2.1\n"
                               "device for Far: socket://192.0.2.10:9101\n";

    // The store file holds the COM names and the history; the system keys come from the tree.
    const std::string storePath = tree.Root() + "/home/registry.reg";
    PosixRegistry store(storePath);
    PosixSystem system(store, tree.Root(), [&] { return lpstat; });
    SystemKeys keys(system);
    PosixRegistry registry(storePath, &keys);

    FakeClock clock;
    FakeCommDevice comm{clock};
    FakeSockets sockets{clock};
    FakeFiles files;
    Platform platform{registry, comm, sockets, system, clock, files};
    IOComm io(platform);

    std::vector<std::string> list;
    for (int i = 0; i < 50; ++i) {
        const std::string name = io.GetPortName(i);
        if (name.empty())
            break;
        list.push_back(name);
    }
    // ttyS0 is COM1; the family's USB serial interface (ttyACM0) is COM3, listed
    // by the spooler and again by the USB stage; the adapter is COM4.
    EXPECT_EQ(list, (std::vector<std::string>{"COM1:", "COM3:", "COM4:", "LPT1:", "USB001", "USB002",
                                              "IP_192.0.2.1", "IP_192.0.2.10", "COM3:"}));

    io.PortName = "USB002";
    EXPECT_EQ(io.FindUsbPrinterPath(), 1);
    EXPECT_EQ(io.UsbDevicePath, "/dev/usb/lp1");
    io.PortName = "USB003";
    EXPECT_EQ(io.FindUsbPrinterPath(), 0);

    EXPECT_EQ(io.ResolveNetworkPort("IP_192.0.2.10"), "192.0.2.10:9101");
    EXPECT_EQ(io.ResolveNetworkPort("IP_192.0.2.1"), "192.0.2.1:9100");
}

} // namespace
} // namespace marlet::testing
