// Flow control, time-outs and the serial port set-up.
#include "PortFixture.h"

namespace marlet::test {
namespace {

using Strings = std::vector<std::string>;

// A DCB whose flow-control members all hold values no mode leaves behind.
Dcb Cluttered()
{
    Dcb dcb;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 1;
    dcb.fDtrControl = 2;
    dcb.fDsrSensitivity = 1;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 1;
    dcb.fInX = 1;
    dcb.fRtsControl = 3;
    dcb.XonLim = dcb.XoffLim = 7;
    dcb.XonChar = dcb.XoffChar = 7;
    dcb.BaudRate = 19200;
    return dcb;
}

TEST_F(PortTest, SetHandshakeGivesTheFlowControlOfEachMode)
{
    struct Flags {
        uint32_t cts, dsr, dtr, dsrSensitivity, txContinue, outX, inX, rts;
        uint16_t xonLim, xoffLim;
        uint8_t xonChar, xoffChar;
    };
    const struct {
        int mode;
        Flags expected;
    } cases[] = {
        {HandshakeNone, {0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}},
        {HandshakeXonXoff, {0, 1, 0, 1, 1, 1, 1, 0, 256, 100, 17, 19}},
        {HandshakeHardware, {1, 1, 1, 1, 0, 0, 0, 2, 0, 0, 0, 0}},
    };
    IOComm& io = Io();
    for (const auto& c : cases) {
        io.CommConfig.dcb = Cluttered();
        EXPECT_EQ(io.SetHandshake(c.mode), 1);
        const Dcb& d = io.CommConfig.dcb;
        const Flags got{d.fOutxCtsFlow, d.fOutxDsrFlow, d.fDtrControl, d.fDsrSensitivity, d.fTXContinueOnXoff,
                        d.fOutX,        d.fInX,         d.fRtsControl, d.XonLim,          d.XoffLim,
                        d.XonChar,      d.XoffChar};
        const Flags& e = c.expected;
        EXPECT_EQ(std::tie(got.cts, got.dsr, got.dtr, got.dsrSensitivity, got.txContinue, got.outX, got.inX,
                           got.rts, got.xonLim, got.xoffLim, got.xonChar, got.xoffChar),
                  std::tie(e.cts, e.dsr, e.dtr, e.dsrSensitivity, e.txContinue, e.outX, e.inX, e.rts,
                           e.xonLim, e.xoffLim, e.xonChar, e.xoffChar))
            << "mode " << c.mode;
        EXPECT_EQ(d.fBinary, 1u);
        EXPECT_EQ(d.DCBlength, 28u);
        EXPECT_EQ(d.BaudRate, 19200u);
        EXPECT_EQ(io.Handshake, c.mode);
    }
    // Nothing is applied while the port is closed.
    EXPECT_TRUE(w.comm.CallsStartingWith("SetCommConfig").empty());
}

TEST_F(PortTest, UnknownHandshakeModeIsStoredButRefused)
{
    IOComm& io = Io();
    io.CommConfig.dcb = Cluttered();
    io.CommConfig.dcb.fOutX = 0; // hardware flow control stays
    EXPECT_EQ(io.SetHandshake(5), 0);
    EXPECT_EQ(io.Handshake, 5);
    EXPECT_EQ(io.CommConfig.dcb.fOutxCtsFlow, 1u);
    EXPECT_EQ(io.CommConfig.dcb.fRtsControl, 3u);
}

TEST_F(PortTest, SetHandshakeAppliesAtOnceToAnOpenSerialPort)
{
    FakeCommDevice::Port& com1 = OpenDeclared("COM1", kCom1, Kind::Serial);
    IOComm& io = Io();
    com1.configsApplied.clear();
    EXPECT_EQ(io.SetHandshake(HandshakeHardware), 1);
    ASSERT_EQ(com1.configsApplied.size(), 1u);
    const Dcb& applied = com1.configsApplied[0].dcb;
    EXPECT_EQ(applied.fRtsControl, 2u);
    EXPECT_EQ(applied.fOutxCtsFlow, 1u);
    EXPECT_EQ(applied.fOutxDsrFlow, 1u);
    EXPECT_EQ(applied.fDtrControl, 1u);
}

TEST_F(PortTest, SetTimeoutsPerKind)
{
    IOComm& io = Io();
    io.PortType = PortTypeNetwork;
    EXPECT_EQ(io.SetTimeouts(50, 0), 1);
    EXPECT_EQ(io.Timeouts, (CommTimeouts{500, 40, 100, 30, 100}));
    EXPECT_EQ(io.SetTimeouts(3500, 50), 1);
    EXPECT_EQ(io.Timeouts, (CommTimeouts{500, 40, 3500, 30, 3500}));

    io.PortType = PortTypeSerial;
    EXPECT_EQ(io.SetTimeouts(3500, 50), 1);
    EXPECT_EQ(io.Timeouts, (CommTimeouts{50, 50, 3500, 50, 3500}));
    EXPECT_EQ(io.SetTimeouts(5, 0), 1); // no floor here
    EXPECT_EQ(io.Timeouts, (CommTimeouts{0, 0, 5, 0, 5}));
    EXPECT_TRUE(w.comm.CallsStartingWith("SetCommTimeouts").empty());
}

TEST_F(PortTest, SetTimeoutsAppliesToAnOpenPortAndReportsRefusal)
{
    OpenDeclared("COM1", kCom1, Kind::Serial);
    IOComm& io = Io();
    EXPECT_EQ(io.SetTimeouts(10000, 130), 1);
    EXPECT_EQ(w.comm.calls.back(), "SetCommTimeouts \\\\.\\COM1 130/130/10000/130/10000");
    io.Close();

    w.comm.Add("FILE", Kind::Device);
    io.Open("FILE", "", 0);
    EXPECT_EQ(io.SetTimeouts(500, 10), 0);
    EXPECT_EQ(io.Timeouts, (CommTimeouts{10, 10, 500, 10, 500}));
}

class PortSetupTest : public PortTest {
protected:
    FakeCommDevice::Port* com1 = nullptr;
    void SetUp() override
    {
        com1 = &w.comm.Add(kCom1);
        CommConfig standard;
        standard.dwSize = 52;
        standard.dcb.BaudRate = 9600;
        standard.dcb.ByteSize = 8;
        w.comm.defaultConfigs["COM1"] = standard;
        IOComm& io = Io();
        io.PortName = kCom1;
        io.ParametersLoaded = true;
    }
    bool Stored(CommConfig& config)
    {
        RegValue value;
        if (!w.registry.Get(kKey, "Comm data", value))
            return false;
        EXPECT_EQ(value.type, uint32_t(RegBinary));
        EXPECT_EQ(value.data.size(), 52u);
        config = CommConfig::FromBytes(reinterpret_cast<const uint8_t*>(value.data.data()));
        return true;
    }
};

TEST_F(PortSetupTest, SetupStringBecomesTheStoredConfiguration)
{
    IOComm& io = Io();
    io.SetupString = "baud=9600 parity=N data=8 stop=1";
    io.SaveConfig = 1;
    EXPECT_EQ(io.PortSetup(0, nullptr), 1);

    CommConfig stored;
    ASSERT_TRUE(Stored(stored));
    EXPECT_EQ(stored.dcb.BaudRate, 9600u);
    EXPECT_EQ(stored.dcb.Parity, NoParity);
    EXPECT_EQ(stored.dcb.ByteSize, 8);
    EXPECT_EQ(stored.dcb.StopBits, OneStopBit);
    EXPECT_EQ(io.CommConfig, stored);
    EXPECT_EQ(com1->configsApplied.back(), stored);
    EXPECT_EQ(io.Handshake, HandshakeNone);
    // The port was opened for the set-up and closed again.
    EXPECT_FALSE(io.IsOpen());
    EXPECT_EQ(com1->openHandles, 0);
}

TEST_F(PortSetupTest, FirstOpenWithASetupStringStoresItWhenAsked)
{
    IOComm& io = Io();
    io.ParametersLoaded = false;
    ASSERT_NE(io.Open("COM1", "baud=9600 parity=N data=8 stop=1", 1), 0);
    CommConfig stored;
    ASSERT_TRUE(Stored(stored));
    EXPECT_EQ(stored.dcb.BaudRate, 9600u);
    EXPECT_EQ(stored.dcb.StopBits, OneStopBit);
}

TEST_F(PortSetupTest, WithoutSetupStringTheDialogAsks)
{
    IOComm& io = Io();
    io.SaveConfig = 1;
    int marker = 0;
    w.comm.dialog = [](const std::string&, CommConfig& config) {
        config.dcb.BaudRate = 57600;
        return true;
    };
    EXPECT_EQ(io.PortSetup(0, &marker), 1);
    EXPECT_EQ(w.comm.CallsStartingWith("CommConfigDialog"), Strings{"CommConfigDialog COM1"});
    CommConfig stored;
    ASSERT_TRUE(Stored(stored));
    EXPECT_EQ(stored.dcb.BaudRate, 57600u);
}

TEST_F(PortSetupTest, FailedSetUpStoresNothingButStillApplies)
{
    const struct {
        const char* name;
        std::string setup;
        bool knownPort;
    } cases[] = {
        {"dialog cancelled", "", true},
        {"malformed setup string", "baud=fast", true},
        {"port the platform does not know", "baud=9600 parity=N data=8 stop=1", false},
    };
    for (const auto& c : cases) {
        World world;
        FakeCommDevice::Port& port = world.comm.Add(kCom1);
        if (c.knownPort) {
            CommConfig standard;
            standard.dcb.BaudRate = 4800;
            world.comm.defaultConfigs["COM1"] = standard;
        }
        IOComm io(world.platform);
        io.PortName = kCom1;
        io.ParametersLoaded = true;
        io.SetupString = c.setup;
        io.SaveConfig = 1;
        EXPECT_EQ(io.PortSetup(0, nullptr), 1) << c.name;
        RegValue value;
        EXPECT_FALSE(world.registry.Get(kKey, "Comm data", value)) << c.name;
        EXPECT_EQ(io.SaveConfig, 0);
        ASSERT_FALSE(port.configsApplied.empty());
        EXPECT_EQ(port.configsApplied.back(), io.CommConfig);
        if (c.knownPort) {
            EXPECT_EQ(io.CommConfig.dcb.BaudRate, 4800u) << c.name;
        }
    }
}

TEST_F(PortSetupTest, StoredConfigurationWithBothFlowControlsMeansHardware)
{
    CommConfig stored;
    stored.dcb.BaudRate = 38400;
    stored.dcb.fOutX = 1;
    stored.dcb.fOutxCtsFlow = 1;
    StoreCommData(stored);
    IOComm& io = Io();
    io.SetupString = "baud=38400";
    EXPECT_EQ(io.PortSetup(0, nullptr), 1);
    EXPECT_EQ(io.Handshake, HandshakeHardware);
}

TEST_F(PortSetupTest, OnlySerialPortsAreSetUp)
{
    IOComm& io = Io();
    io.PortName = "LPT1";
    io.SetPortTypeFromName();
    const CommConfig before = io.CommConfig;
    EXPECT_EQ(io.PortSetup(0, nullptr), 0);
    EXPECT_EQ(io.CommConfig, before);
    EXPECT_TRUE(w.comm.CallsStartingWith("GetDefaultCommConfig").empty());
}

} // namespace
} // namespace marlet::test
