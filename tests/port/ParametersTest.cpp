// Construction, name classification and the registry parameters.
#include "PortFixture.h"

namespace marlet::test {
namespace {

using Strings = std::vector<std::string>;

TEST_F(PortTest, NewObjectWithoutCom2HasTheDefaults)
{
    IOComm& io = Io();
    EXPECT_EQ(io.Timeouts, (CommTimeouts{500, 40, 300, 30, 300}));
    EXPECT_EQ(io.CommConfig, CommConfig{});
    EXPECT_EQ(io.PortType, PortTypeSerial);
    EXPECT_EQ(io.Handshake, HandshakeNone);
    EXPECT_EQ(io.PortName, "COM2");
    EXPECT_FALSE(io.IsOpen());
    EXPECT_EQ(w.comm.calls, Strings{"Open \\\\.\\COM2 exclusive"});
}

TEST_F(PortTest, ConstructionStartsFromTheConfigurationOfCom2)
{
    FakeCommDevice::Port& com2 = w.comm.Add("\\\\.\\COM2");
    com2.config.dcb.BaudRate = 9600;
    com2.config.dcb.ByteSize = 7;
    w.system.version = {1, 4};

    IOComm& io = Io();

    EXPECT_EQ(io.CommConfig, com2.config);
    EXPECT_EQ(io.Version.platformId, 1u);
    EXPECT_EQ(io.Version.majorVersion, 4u);
    EXPECT_EQ(w.comm.calls,
              (Strings{"Open \\\\.\\COM2 exclusive", "GetCommConfig \\\\.\\COM2", "Close \\\\.\\COM2"}));
    EXPECT_EQ(w.comm.OpenHandles(), 0);
}

TEST_F(PortTest, NamesAreClassifiedByTheRulesInOrder)
{
    const struct {
        const char* name;
        int32_t type;
    } cases[] = {
        {"COM1", PortTypeSerial},
        {"com12:", PortTypeSerial},
        {"\\\\.\\COM3", PortTypeSerial},
        {"\\\\.\\c", PortTypeSerial},
        {"LPT1", PortTypeParallel},
        {"lpt1:", PortTypeParallel},
        {"LPT12:", PortTypeDevice},
        {"LPT1.PRN", PortTypeDevice},
        {"192.168.1.20:9100", PortTypeNetwork},
        {"IP_192.168.1.20", PortTypeNetwork},
        {"10.0.0.5:91", PortTypeNetwork},
        {"10.0.0.5:9", PortTypeDevice},
        {"USB001", PortTypeDevice},
        {"FILE", PortTypeDevice},
        {"", PortTypeDevice},
    };
    IOComm& io = Io();
    for (const auto& c : cases) {
        io.PortName = c.name;
        io.SetPortTypeFromName();
        EXPECT_EQ(io.PortType, c.type) << c.name;
    }
}

TEST_F(PortTest, ParametersKeyIsOpenedForAllAccessThenReadingThenCreated)
{
    IOComm& io = Io();
    w.registry.failOpenAll = true;
    w.registry.Ensure(kKey);
    EXPECT_TRUE(io.OpenRegistryKey());
    EXPECT_EQ(w.registry.calls, (Strings{"OpenAll " + std::string(kKey), "OpenRead " + std::string(kKey)}));

    w.registry.calls.clear();
    w.registry.failOpenRead = true;
    EXPECT_TRUE(io.OpenRegistryKey());
    EXPECT_EQ(w.registry.calls.back(), "Create " + std::string(kKey));

    w.registry.failCreate = true;
    EXPECT_FALSE(io.OpenRegistryKey());
    EXPECT_EQ(w.registry.openKeys(), 0);
}

TEST_F(PortTest, WithoutAParametersKeyLoadingKeepsTheDefaults)
{
    w.registry.failOpenAll = w.registry.failOpenRead = w.registry.failCreate = true;
    IOComm& io = Io();
    io.PortName = "LPT1";
    EXPECT_EQ(io.LoadParameters(0), 1);
    EXPECT_TRUE(io.ParametersLoaded);
    EXPECT_EQ(io.Timeouts, (CommTimeouts{500, 40, 300, 30, 300}));
    EXPECT_EQ(io.PortType, PortTypeParallel);
}

TEST_F(PortTest, TimeoutFactorIndividualValuesAndFloor)
{
    const struct {
        std::vector<std::pair<const char*, uint32_t>> values;
        CommTimeouts expected;
    } cases[] = {
        {{{"IOTimeOutFactor", 5}}, {10, 10, 10, 10, 10}},
        {{{"IOTimeOutFactor", 1000}, {"ReadIntervalTimeout", 20}}, {20, 1000, 1000, 1000, 1000}},
        {{{"ReadTotalTimeoutConstant", 0}, {"WriteTotalTimeoutMultiplier", 9}}, {500, 40, 10, 10, 300}},
        {{{"WriteTotalTimeoutConstant", 0xFFFFFFFFu}}, {500, 40, 300, 30, 0xFFFFFFFFu}},
    };
    for (const auto& c : cases) {
        FakeRegistry registry;
        for (const auto& [name, value] : c.values)
            registry.SetDword(kKey, name, value);
        Platform platform{registry, w.comm, w.sockets, w.system, w.clock, w.files};
        IOComm io(platform);
        io.PortName = "FILE";
        io.LoadParameters(0);
        EXPECT_EQ(io.Timeouts, c.expected) << c.values.front().first;
    }
}

TEST_F(PortTest, StoredPortTypeAndDebugModeAreRead)
{
    SetDword("PortType", PortTypeParallel);
    SetDword("DebugMode", 3);
    IOComm& io = Io();
    io.PortName = "COM1";
    io.LoadParameters(0);
    EXPECT_EQ(io.PortType, PortTypeParallel);
    EXPECT_EQ(io.DebugMode, 3u);
    // A parallel kind runs no serial port set-up.
    EXPECT_TRUE(w.comm.CallsStartingWith("GetDefaultCommConfig").empty());
}

TEST_F(PortTest, DoExtraStringsTakeExactlyTheStoredBytes)
{
    SetDword("DoExtra", 1);
    w.registry.SetString(kKey, "Start", "AB");                         // REG_SZ brings its zero byte
    w.registry.Set(kKey, "End", RegBinary, Bytes({0x1B, 0x00, 0x40})); // binary keeps inner zeros
    w.registry.Set(kKey, "Pattern1", RegBinary, std::string(100, 'p'));
    w.registry.Set(kKey, "Conversion1", RegBinary, std::string(101, 'c')); // too long to read
    w.registry.Set(kKey, "Pattern4", RegBinary, "x");
    IOComm& io = Io();
    io.PortName = "FILE";
    io.LoadParameters(0);
    EXPECT_EQ(io.DoExtra, 1u);
    EXPECT_EQ(io.Start, Bytes({0x41, 0x42, 0x00}));
    EXPECT_EQ(io.End, Bytes({0x1B, 0x00, 0x40}));
    EXPECT_EQ(io.Pattern1, std::string(100, 'p'));
    EXPECT_EQ(io.Conversion1, "");
    EXPECT_EQ(io.Pattern4, "x");
}

TEST_F(PortTest, DoExtraStringsAreNotReadWhenSwitchedOff)
{
    SetDword("DoExtra", 0);
    w.registry.SetString(kKey, "Start", "AB");
    IOComm& io = Io();
    io.PortName = "FILE";
    io.LoadParameters(0);
    EXPECT_EQ(io.DoExtra, 0u);
    EXPECT_EQ(io.Start, "");
}

TEST_F(PortTest, StoredConfigurationRoundTripsAndGivesTheHandshake)
{
    const struct {
        uint32_t outX, cts;
        int32_t handshake;
    } cases[] = {{0, 0, HandshakeNone},
                 {1, 0, HandshakeXonXoff},
                 {0, 1, HandshakeHardware},
                 {1, 1, HandshakeHardware}};
    for (const auto& c : cases) {
        CommConfig stored;
        stored.dwSize = 52;
        stored.dcb.BaudRate = 115200;
        stored.dcb.ByteSize = 8;
        stored.dcb.StopBits = TwoStopBits;
        stored.dcb.fOutX = c.outX;
        stored.dcb.fOutxCtsFlow = c.cts;
        stored.dcb.XonChar = 17;
        stored.wcProviderData = {1, 2, 3, 4};
        FakeRegistry registry;
        const auto bytes = stored.ToBytes();
        registry.Set(kKey, "Comm data", RegBinary, std::string(bytes.begin(), bytes.end()));
        Platform platform{registry, w.comm, w.sockets, w.system, w.clock, w.files};
        IOComm io(platform);
        io.PortName = "\\\\.\\COM1";
        io.LoadParameters(0);
        EXPECT_EQ(io.CommConfig, stored);
        EXPECT_EQ(io.Handshake, c.handshake) << c.outX << c.cts;
    }
}

TEST_F(PortTest, SerialPortWithoutStoredConfigurationRunsThePortSetUp)
{
    w.comm.Add(kCom1);
    CommConfig standard;
    standard.dcb.BaudRate = 9600;
    w.comm.defaultConfigs["COM1"] = standard;
    IOComm& io = Io();
    io.PortName = kCom1;
    io.SetupString = "baud=19200 parity=N data=8 stop=2";
    io.LoadParameters(0);

    RegValue value;
    ASSERT_TRUE(w.registry.Get(kKey, "Comm data", value));
    EXPECT_EQ(value.type, uint32_t(RegBinary));
    ASSERT_EQ(value.data.size(), 52u);
    const CommConfig saved = CommConfig::FromBytes(reinterpret_cast<const uint8_t*>(value.data.data()));
    EXPECT_EQ(saved.dcb.BaudRate, 19200u);
    EXPECT_EQ(saved.dcb.StopBits, TwoStopBits);
    EXPECT_EQ(io.CommConfig, saved);
    EXPECT_FALSE(io.IsOpen());
    EXPECT_EQ(w.comm.OpenHandles(), 0);
}

} // namespace
} // namespace marlet::test
