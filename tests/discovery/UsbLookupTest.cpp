#include "DiscoveryFixture.h"

namespace marlet::testing {
namespace {

// Device paths as the device installation interface reports them, and the
// interface keys recorded for them under the printer class.
const std::string PathA = "\\\\?\\usb#vid_04b8&pid_0005#a1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const std::string KeyA =
    PrinterClassKey + "\\##?#usb#vid_04b8&pid_0005#a1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const std::string PathB = "\\\\?\\usb#vid_04b8&pid_0005#b2#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const std::string KeyB =
    PrinterClassKey + "\\##?#usb#vid_04b8&pid_0005#b2#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

struct Interface {
    std::string path;
    std::string key; // empty: nothing recorded for it
    int portNumber;  // -1: "Device Parameters" without "Port Number"
    bool sizeReported = true;
    bool detailFails = false;
};

struct WalkCase {
    const char* what;
    std::string portName;
    std::vector<Interface> interfaces;
    int expected;
    std::string expectedPath; // checked when found
};

class UsbPrinterWalk : public DiscoveryTest, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(UsbPrinterWalk, FindsTheInterfaceWithThePortNumberOfTheName)
{
    const WalkCase& c = GetParam();
    io.PortName = c.portName;
    for (const Interface& i : c.interfaces) {
        system.usbPrinters.push_back({i.path, i.sizeReported, i.detailFails});
        if (i.key.empty())
            continue;
        if (i.portNumber >= 0)
            registry.SetDword(i.key + "\\#\\Device Parameters", "Port Number", uint32_t(i.portNumber));
        else
            registry.Ensure(i.key + "\\#\\Device Parameters");
    }

    EXPECT_EQ(io.FindUsbPrinterPath(), c.expected) << c.what;
    if (c.expected == 1) {
        EXPECT_EQ(io.UsbDevicePath, c.expectedPath) << c.what;
    }
    EXPECT_LE(io.UsbDevicePath.size(), 199u) << c.what;
    EXPECT_EQ(registry.openKeys(), 0) << c.what << ": a key was left open";
}

const std::string LongPath =
    "\\\\?\\usb#" + std::string(200, 'x') + "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const std::string LongKey =
    PrinterClassKey + "\\##?#usb#" + std::string(200, 'x') + "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

INSTANTIATE_TEST_SUITE_P(
    Discovery, UsbPrinterWalk,
    ::testing::Values(
        WalkCase{"one interface with port 1", "USB001", {{PathA, KeyA, 1}}, 1, PathA},
        WalkCase{"no interface with port 2", "USB002", {{PathA, KeyA, 1}}, 0, ""},
        WalkCase{"the second interface carries the number",
                 "USB001",
                 {{PathA, KeyA, 2}, {PathB, KeyB, 1}},
                 1,
                 PathB},
        WalkCase{"first match wins", "USB001", {{PathA, KeyA, 1}, {PathB, KeyB, 1}}, 1, PathA},
        WalkCase{"missing Port Number does not stop the walk",
                 "USB001",
                 {{PathA, KeyA, -1}, {PathB, KeyB, 1}},
                 1,
                 PathB},
        WalkCase{"missing interface key does not stop the walk",
                 "USB001",
                 {{PathA, "", 1}, {PathB, KeyB, 1}},
                 1,
                 PathB},
        WalkCase{"a path that begins with a brace never matches",
                 "USB001",
                 {{"{28d78fad-5a12-11d1-ae5b-0000f803a8c2}",
                   PrinterClassKey + "\\{28d78fad-5a12-11d1-ae5b-"
                                     "0000f803a8c2}",
                   1}},
                 0,
                 ""},
        WalkCase{
            "last three characters read as a number: USB is port 0", "USB", {{PathA, KeyA, 0}}, 1, PathA},
        WalkCase{"USB012 is port 12", "USB012", {{PathA, KeyA, 1}, {PathB, KeyB, 12}}, 1, PathB},
        WalkCase{"digits end at the first other character", "USB1x2", {{PathA, KeyA, 1}}, 1, PathA},
        WalkCase{
            "a lower-case path finds an upper-case key",
            "USB001",
            {{PathA,
              PrinterClassKey + "\\##?#USB#VID_04B8&PID_0005#A1#{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}", 1}},
            1,
            PathA},
        WalkCase{"no detail size: that interface is passed over",
                 "USB001",
                 {{PathA, KeyA, 1, false}, {PathB, KeyB, 1}},
                 1,
                 PathB},
        WalkCase{"a detail that cannot be fetched ends the walk",
                 "USB001",
                 {{PathA, KeyA, 2, true, true}, {PathB, KeyB, 1}},
                 0,
                 ""},
        WalkCase{"a path over 199 characters is passed over",
                 "USB001",
                 {{LongPath, LongKey, 1}, {PathB, KeyB, 1}},
                 1,
                 PathB},
        WalkCase{"no interfaces present", "USB001", {}, 0, ""}));

TEST_F(DiscoveryTest, NoInterfaceListFindsNothing)
{
    system.usbListAvailable = false;
    io.PortName = "USB001";
    EXPECT_EQ(io.FindUsbPrinterPath(), 0);
}

TEST_F(DiscoveryTest, MatchLeavesTheDevicePathMemberAlone)
{
    registry.SetDword(KeyA + "\\#\\Device Parameters", "Port Number", 3);
    io.PortName = "USB003";
    io.UsbDevicePath = "unchanged";
    EXPECT_EQ(io.MatchUsbPortNumber(PathA), 1);
    EXPECT_EQ(io.UsbDevicePath, "unchanged");
    io.PortName = "USB-03"; // a negative number never equals a port number
    registry.SetDword(KeyA + "\\#\\Device Parameters", "Port Number", 0xFFFFFFFDu);
    EXPECT_EQ(io.MatchUsbPortNumber(PathA), 0);
}

} // namespace
} // namespace marlet::testing
