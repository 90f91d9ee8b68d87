#include "DiscoveryFixture.h"

namespace marlet::testing {
namespace {

using Names = std::vector<std::string>;

Names Numbered(const std::string& prefix, int count)
{
    Names names;
    for (int i = 1; i <= count; ++i)
        names.push_back(prefix + std::to_string(i) + ":");
    return names;
}

TEST_F(DiscoveryTest, ListTakesSpoolerThenUsbSerialThenHistory)
{
    system.spoolerPorts = {"FILE:", "COM1:", "LPT1:"};
    AddNtInstance("6&2b1c&0&0000", 7);
    SetHistory(" 192.0.2.10:9100");

    EXPECT_EQ(List(), (Names{"COM1:", "LPT1:", "COM7:", "192.0.2.10:9100"}));
    EXPECT_EQ(io.GetPortName(4), "");
    EXPECT_EQ(io.GetPortName(-1), "");
}

struct SlotCase {
    const char* what;
    Names spooler;
    int usbInstances; // numbered COM20, COM21, ...
    std::string history;
    Names expected;
};

Names Concat(Names a, const Names& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class SlotRules : public DiscoveryTest, public ::testing::WithParamInterface<SlotCase> {};

TEST_P(SlotRules, FiftySlotsSharedInOrder)
{
    const SlotCase& c = GetParam();
    system.spoolerPorts = c.spooler;
    for (int i = 0; i < c.usbInstances; ++i)
        AddNtInstance("inst" + std::to_string(i), uint32_t(20 + i));
    if (!c.history.empty())
        SetHistory(c.history);

    EXPECT_EQ(List(), c.expected) << c.what;
    for (int i : {int(c.expected.size()), 50, 51, 1000})
        EXPECT_EQ(io.GetPortName(i), "") << c.what << " position " << i;
}

INSTANTIATE_TEST_SUITE_P(
    PortList, SlotRules,
    ::testing::Values(SlotCase{"nothing anywhere", {}, 0, "", {}},
                      // 49 spooler slots (one FILE) leave one slot: the first USB port.
                      SlotCase{"49 spooler ports and two USB instances",
                               Concat(Numbered("COM", 48), {"FILE:"}), 2, " 192.0.2.10:9100",
                               Concat(Numbered("COM", 48), {"COM20:"})},
                      SlotCase{"50 spooler ports leave no slot", Concat({"FILE:"}, Numbered("LPT", 49)), 1,
                               " 192.0.2.10:9100", Numbered("LPT", 49)},
                      SlotCase{"only the first 50 spooler ports are walked",
                               Concat(Numbered("COM", 55), {"FILE:"}), 1, "", Numbered("COM", 50)},
                      SlotCase{"history fills the slots left", Numbered("COM", 47), 1,
                               " 10.0.0.1:1 10.0.0.2:2 10.0.0.3:3",
                               Concat(Numbered("COM", 47), {"COM20:", "10.0.0.1:1", "10.0.0.2:2"})},
                      SlotCase{"FILE matched without regard to case, on its first four letters",
                               {"file:", "Files", "FIL:", "COM1:"},
                               0,
                               "",
                               {"FIL:", "COM1:"}},
                      // The selector shows a name once; the list itself reports both.
                      SlotCase{"a COM port from both the spooler and the USB interface",
                               {"COM20:"},
                               1,
                               "",
                               {"COM20:", "COM20:"}}));

TEST_F(DiscoveryTest, SpoolerFailureLeavesTheOtherSources)
{
    system.spoolerAnswers = false;
    AddNtInstance("a", 3);
    SetHistory(" 192.0.2.7:9100");
    EXPECT_EQ(List(), (Names{"COM3:", "192.0.2.7:9100"}));
}

TEST_F(DiscoveryTest, EachPositionAsksTheSourcesAgain)
{
    system.spoolerPorts = {"COM1:"};
    EXPECT_EQ(io.GetPortName(0), "COM1:");
    system.spoolerPorts = {"LPT1:"};
    EXPECT_EQ(io.GetPortName(0), "LPT1:");
}

// --- The USB serial interface's COM ports, both registry layouts ---

struct UsbLayoutCase {
    const char* what;
    uint32_t platformId;
    std::function<void(FakeRegistry&)> setup;
    Names expected; // GetUsbComPortName(0), (1), ...
};

class UsbLayouts : public DiscoveryTest, public ::testing::WithParamInterface<UsbLayoutCase> {};

TEST_P(UsbLayouts, ComNumbersOfInterfaceZeroInstances)
{
    const UsbLayoutCase& c = GetParam();
    io.Version = {c.platformId, 5};
    c.setup(registry);
    Names answers;
    for (int k = 0; k < 4; ++k) {
        std::string name = io.GetUsbComPortName(k);
        if (name.empty())
            break;
        answers.push_back(name);
    }
    EXPECT_EQ(answers, c.expected) << c.what;
    EXPECT_EQ(registry.openKeys(), 0) << c.what << ": a key was left open";
}

const std::string NtParams = NtInterfaceKey + "\\inst0\\Device Parameters";
const std::string NtParams1 = NtInterfaceKey + "\\inst1\\Device Parameters";
const std::string NinexInst = NinexInterfaceKey + "\\inst0";

INSTANTIATE_TEST_SUITE_P(
    PortList, UsbLayouts,
    ::testing::Values(
        UsbLayoutCase{"NT layout",
                      2,
                      [](FakeRegistry& r) {
                          r.SetDword(NtParams, "COMPortForInterface0000", 12);
                          r.SetDword(NtParams1, "COMPortForInterface0000", 4);
                          r.Ensure(NtCompositeKey);
                      },
                      {"COM12", "COM4"}},
        UsbLayoutCase{"NT layout without the composite device key",
                      2,
                      [](FakeRegistry& r) { r.SetDword(NtParams, "COMPortForInterface0000", 12); },
                      {}},
        UsbLayoutCase{"NT layout with the value in the instance key itself",
                      2,
                      [](FakeRegistry& r) {
                          r.SetDword(NtInterfaceKey + "\\inst0", "COMPortForInterface0000", 12);
                          r.Ensure(NtCompositeKey);
                      },
                      {}},
        UsbLayoutCase{"first instance lacks the value: the later one is not reached",
                      2,
                      [](FakeRegistry& r) {
                          r.Ensure(NtParams);
                          r.SetDword(NtParams1, "COMPortForInterface0000", 4);
                          r.Ensure(NtCompositeKey);
                      },
                      {}},
        UsbLayoutCase{"a value larger than a DWORD does not fit",
                      2,
                      [](FakeRegistry& r) {
                          r.Set(NtParams, "COMPortForInterface0000", RegBinary, std::string(8, '\1'));
                          r.Ensure(NtCompositeKey);
                      },
                      {}},
        UsbLayoutCase{"9x layout",
                      1,
                      [](FakeRegistry& r) { r.SetDword(NinexInst, "COMPortForInterface0000", 12); },
                      {"COM12"}},
        UsbLayoutCase{"9x layout with the value only under Device Parameters",
                      1,
                      [](FakeRegistry& r) {
                          r.SetDword(NinexInst + "\\Device Parameters", "COMPortForInterface0000", 12);
                      },
                      {}},
        UsbLayoutCase{"9x reads its own key, not the NT one",
                      1,
                      [](FakeRegistry& r) {
                          r.SetDword(NtParams, "COMPortForInterface0000", 12);
                          r.Ensure(NtCompositeKey);
                      },
                      {}},
        UsbLayoutCase{"no interface-0 key", 2, [](FakeRegistry& r) { r.Ensure(NtCompositeKey); }, {}}));

TEST_F(DiscoveryTest, PlatformFamilyIsAskedWhenNotYetKnown)
{
    io.Version = {};
    system.version = {1, 4};
    registry.SetDword(NinexInst, "COMPortForInterface0000", 9);
    EXPECT_EQ(io.GetUsbComPortName(0), "COM9");
    EXPECT_EQ(io.Version.platformId, 1u);
}

// --- The history of network ports ---

struct HistoryCase {
    const char* what;
    uint32_t type;
    std::string data;
    Names expected;
};

class HistorySplit : public DiscoveryTest, public ::testing::WithParamInterface<HistoryCase> {};

TEST_P(HistorySplit, PiecesOfTheTcpValue)
{
    const HistoryCase& c = GetParam();
    registry.Set(ParametersKey, "TCP", c.type, c.data);
    Names pieces;
    for (int k = 0; k < 40; ++k) {
        std::string piece = io.GetRecentNetworkPort(k);
        if (piece.empty())
            break;
        pieces.push_back(piece);
    }
    EXPECT_EQ(pieces, c.expected) << c.what;
}

std::string Block(const std::string& text)
{
    std::string block = text;
    block.resize(1000, '\0');
    return block;
}

// 82 entries " 10.0.0.NN:1" of 12 bytes each: 984 bytes.
std::string ManyEntries()
{
    std::string text;
    for (int i = 10; i < 92; ++i)
        text += " 10.0.0." + std::to_string(i) + ":1";
    return text;
}

const std::string Long49 = "printer-with-a-rather-long-name.example.org:09100"; // 49 characters

INSTANTIATE_TEST_SUITE_P(
    PortList, HistorySplit,
    ::testing::Values(
        HistoryCase{"as the open step writes it",
                    RegBinary,
                    Block(" 192.0.2.10:9100 192.0.2.11:9100"),
                    {"192.0.2.10:9100", "192.0.2.11:9100"}},
        HistoryCase{
            "runs of spaces and a trailing space", RegSz, "   a:1    b:2  c:3   ", {"a:1", "b:2", "c:3"}},
        HistoryCase{"only spaces", RegBinary, Block("     "), {}},
        HistoryCase{"the text ends at the first zero byte", RegBinary, std::string(" a:1\0 b:2", 9), {"a:1"}},
        HistoryCase{"49 characters are kept, 50 are passed over",
                    RegSz,
                    " " + Long49 + " x" + Long49 + " c:3",
                    {Long49, "c:3"}}));

TEST_F(DiscoveryTest, LongHistoryKeepsTheEntriesBeforeTheCut)
{
    // 984 bytes of whole entries, then one crossing byte 1000 and more behind it.
    const std::string whole = ManyEntries();
    ASSERT_EQ(whole.size(), 984u);
    registry.Set(ParametersKey, "TCP", RegBinary, whole + " 192.0.2.200:9100 192.0.2.201:9100");
    EXPECT_EQ(io.GetRecentNetworkPort(81), "10.0.0.91:1");
    EXPECT_EQ(io.GetRecentNetworkPort(82), "");

    // A cut that falls on a space keeps the entry before it whole.
    registry.Set(ParametersKey, "TCP", RegBinary, whole + " 1.2.3.4:9999999 " + std::string(500, 'x'));
    EXPECT_EQ(io.GetRecentNetworkPort(82), "1.2.3.4:9999999");
    EXPECT_EQ(io.GetRecentNetworkPort(83), "");
}

TEST_F(DiscoveryTest, MissingHistoryGivesNoEntries) { EXPECT_EQ(io.GetRecentNetworkPort(0), ""); }

} // namespace
} // namespace marlet::testing
