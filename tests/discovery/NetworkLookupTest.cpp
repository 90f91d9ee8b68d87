#include "DiscoveryFixture.h"

namespace marlet::testing {
namespace {

struct MonitorPort {
    std::string name;
    std::string address; // empty: no "IPAddress"
    int64_t portNumber;  // -1: no "PortNumber"
};

struct ResolveCase {
    const char* what;
    std::string name;
    std::vector<MonitorPort> ports;
    std::string expected;
};

class ResolveNetwork : public DiscoveryTest, public ::testing::WithParamInterface<ResolveCase> {};

TEST_P(ResolveNetwork, NameToAddressAndPort)
{
    const ResolveCase& c = GetParam();
    for (const MonitorPort& p : c.ports) {
        const std::string key = MonitorPortsKey + "\\" + p.name;
        registry.Ensure(key);
        if (!p.address.empty())
            registry.SetString(key, "IPAddress", p.address);
        if (p.portNumber >= 0)
            registry.SetDword(key, "PortNumber", uint32_t(p.portNumber));
    }
    EXPECT_EQ(io.ResolveNetworkPort(c.name), c.expected) << c.what;
    EXPECT_EQ(registry.openKeys(), 0) << c.what << ": a key was left open";
}

const MonitorPort Port10{"IP_192.0.2.10", "192.0.2.10", 9100};

INSTANTIATE_TEST_SUITE_P(
    Discovery, ResolveNetwork,
    ::testing::Values(
        ResolveCase{"address and port given directly", "192.0.2.10:9100", {Port10}, "192.0.2.10:9100"},
        ResolveCase{"a digit first, no colon", "192.0.2.10", {}, "192.0.2.10"},
        ResolveCase{"monitor port", "IP_192.0.2.10", {Port10}, "192.0.2.10:9100"},
        ResolveCase{"low 16 bits of the port number",
                    "IP_192.0.2.10",
                    {{"IP_192.0.2.10", "192.0.2.10", 0x10000 + 9100}},
                    "192.0.2.10:9100"},
        ResolveCase{"the first port the name begins with is taken",
                    "IP_192.0.2.10",
                    {{"IP_192.0.2.1", "192.0.2.1", 515}, Port10},
                    "192.0.2.1:515"},
        ResolveCase{"letter case counts", "ip_192.0.2.10", {Port10}, ""},
        ResolveCase{"a port name longer than the name does not match", "IP_192", {Port10}, ""},
        ResolveCase{"a host name is passed on",
                    "IP_printer",
                    {{"IP_printer", "printer.example.org", 9100}},
                    "printer.example.org:9100"},
        ResolveCase{"no IPAddress", "IP_192.0.2.10", {{"IP_192.0.2.10", "", 9100}}, ""},
        ResolveCase{"no PortNumber", "IP_192.0.2.10", {{"IP_192.0.2.10", "192.0.2.10", -1}}, ""},
        ResolveCase{"empty name", "", {Port10}, ""},
        ResolveCase{"299 characters of address fit",
                    "IP_long",
                    {{"IP_long", std::string(299, 'a'), 1}},
                    std::string(299, 'a') + ":1"},
        ResolveCase{"300 characters do not", "IP_long", {{"IP_long", std::string(300, 'a'), 1}}, ""},
        ResolveCase{"a port name over 199 characters is compared whole",
                    "IP_" + std::string(250, 'h') + "_x",
                    {{"IP_" + std::string(250, 'h'), "10.1.1.1", 9101}},
                    "10.1.1.1:9101"}));

TEST_F(DiscoveryTest, DirectAddressReadsNoRegistry)
{
    EXPECT_EQ(io.ResolveNetworkPort("192.0.2.10:9100"), "192.0.2.10:9100");
    EXPECT_TRUE(registry.calls.empty());
}

TEST_F(DiscoveryTest, NoMonitorKeyResolvesNothing) { EXPECT_EQ(io.ResolveNetworkPort("IP_192.0.2.10"), ""); }

TEST_F(DiscoveryTest, OnlyTheFirst500MonitorPortsAreExamined)
{
    for (int i = 0; i < 500; ++i)
        registry.Ensure(MonitorPortsKey + "\\P" + std::to_string(i));
    registry.SetString(MonitorPortsKey + "\\IP_late", "IPAddress", "10.0.0.1");
    registry.SetDword(MonitorPortsKey + "\\IP_late", "PortNumber", 9100);
    EXPECT_EQ(io.ResolveNetworkPort("IP_late"), "");
    registry.calls.clear();

    // One fewer in front: the port at position 499 is still examined.
    registry.Find(MonitorPortsKey)->subkeys.erase(registry.Find(MonitorPortsKey)->subkeys.begin());
    EXPECT_EQ(io.ResolveNetworkPort("IP_late"), "10.0.0.1:9100");
}

} // namespace
} // namespace marlet::testing
