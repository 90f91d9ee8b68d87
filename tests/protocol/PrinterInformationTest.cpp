// The printer information query, the revision check and the reset against the
// simulated printer, seeing the wire and the virtual clock.
#include "ProtocolFixture.h"

#include "app/DownloadApp.h"
#include "app/ProcessValues.h"

#include <algorithm>

namespace marlet::test {
namespace {

using sim::SimConfig;

const std::string kInformationQueries("\x00\x02\x42\x02\x45\x02\x4B", 7);

size_t CountCalls(const std::vector<std::string>& calls, const std::string& text)
{
    return size_t(std::count(calls.begin(), calls.end(), text));
}

// A reply of exactly these bytes: no lead, no trail.
sim::ReplyShape Bare(const std::string& text)
{
    sim::ReplyShape shape(text);
    shape.trail.clear();
    return shape;
}

class PrinterInformationTest : public ProtocolTest {};

TEST_F(PrinterInformationTest, ReadsTheThreeTextsIntoTheFields)
{
    GatedPrinter& p = SerialPrinter();
    CDownloadDlg& dlg = Dialog("COM1");

    ASSERT_EQ(dlg.GetPrinterInformation(), 1);

    EXPECT_EQ(AsText(p.Sim().Received()), kInformationQueries);
    EXPECT_EQ(dlg.PortName, "COM1");
    EXPECT_EQ(dlg.BootLoaderRev, "1.07");
    EXPECT_EQ(dlg.FlashId, "29F160");
    EXPECT_EQ(dlg.FirmwareRev, "2.17");
    EXPECT_EQ(window.GetItemText(IDC_BOOT_LOADER_REV), "1.07");
    EXPECT_EQ(window.GetItemText(IDC_FLASH_ID), "29F160");
    EXPECT_EQ(window.GetItemText(IDC_FIRMWARE_REV), "2.17");
    ASSERT_FALSE(window.statuses.empty());
    EXPECT_EQ(window.statuses.front(), "Communicating with Printer");
    EXPECT_EQ(window.statuses.back(), "Printer information read out of printer");
    EXPECT_TRUE(windows.boxes.empty());
    EXPECT_EQ(world.comm.OpenHandles(), 0);

    // Opened at 19200 8N2 with the information time-outs and hardware flow control.
    ASSERT_FALSE(p.configs.empty());
    EXPECT_EQ(p.configs.back().dcb.BaudRate, 19200u);
    EXPECT_EQ(p.configs.back().dcb.StopBits, TwoStopBits);
    EXPECT_EQ(CountCalls(world.comm.calls, "SetCommTimeouts " + kCom1 + " 50/50/3500/50/3500"), 1u);
    EXPECT_EQ(dlg.Comm.GetHandshake(), HandshakeHardware);
    EXPECT_EQ(SleepsOf(100), 3u); // one pause after each query

    XonXoff = 1;
    ASSERT_EQ(dlg.GetPrinterInformation(), 1);
    EXPECT_EQ(dlg.Comm.GetHandshake(), HandshakeXonXoff);
}

struct ShapeCase {
    const char* name;
    std::function<void(SimConfig&)> configure;
    int result;
    const char* boot;
    const char* flash;
    const char* firmware;
};

class ReplyShapes : public ProtocolTest, public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(ReplyShapes, TextsTakenFromTheReplies)
{
    const ShapeCase& c = GetParam();
    SimConfig config;
    c.configure(config);
    SerialPrinter(config);
    CDownloadDlg& dlg = Dialog("COM1");

    EXPECT_EQ(dlg.GetPrinterInformation(), c.result);
    EXPECT_EQ(dlg.BootLoaderRev, c.boot);
    EXPECT_EQ(dlg.FlashId, c.flash);
    EXPECT_EQ(dlg.FirmwareRev, c.firmware);
    if (c.result == 0) {
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{kCloseOnError});
    }
    EXPECT_EQ(world.comm.OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, ReplyShapes,
    ::testing::Values(ShapeCase{"LeadingControlByte", [](SimConfig& c) { c.bootRev.lead = "\x02"; }, 1, "",
                                "29F160", "2.17"},
                      ShapeCase{"TwentyCharacters",
                                [](SimConfig& c) { c.flashId = Bare("ABCDEFGHIJKLMNOPQRST"); }, 1, "1.07",
                                "ABCDEFGHIJKLMNOPQRST", "2.17"},
                      ShapeCase{"PrintableAfterControlIgnored",
                                [](SimConfig& c) { c.firmwareRev.trail = "\x03XY"; }, 1, "1.07", "29F160",
                                "2.17"},
                      ShapeCase{"FirmwareReplySplitAcrossReads",
                                [](SimConfig& c) {
                                    c.firmwareRev = Bare("2.17abc");
                                    c.firmwareRev.splitAt = 3;
                                    c.firmwareRev.splitGapMs = 300;
                                },
                                1, "1.07", "29F160", "2.17abc"},
                      ShapeCase{"ShortFirmwareReplyThenSilence",
                                [](SimConfig& c) { c.firmwareRev = Bare("2.1"); }, 0, "", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
    const char* name;
    bool portExists;
    bool queryNotWritten;
    std::function<void(SimConfig&)> configure;
    std::string message;
};

class InformationFailureRows : public ProtocolTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(InformationFailureRows, ReportedWithTheFieldsEmptyAndThePortClosed)
{
    const FailureCase& c = GetParam();
    SimConfig config;
    c.configure(config);
    if (c.portExists)
        SerialPrinter(config);
    if (c.queryNotWritten)
        world.comm[kCom1].writes.push_back(FakeCommDevice::FailWrite(FakeCommDevice::ErrorGenFailure));
    CDownloadDlg& dlg = Dialog("COM1");
    dlg.BootLoaderRev = dlg.FlashId = dlg.FirmwareRev = "old";

    EXPECT_EQ(dlg.GetPrinterInformation(), 0);

    ASSERT_FALSE(windows.boxes.empty());
    EXPECT_EQ(windows.boxes.back().text, c.message);
    EXPECT_EQ(windows.boxes.back().caption, "Message");
    EXPECT_EQ(window.statuses.back(), Flattened(c.message));
    EXPECT_EQ(dlg.BootLoaderRev, "");
    EXPECT_EQ(dlg.FlashId, "");
    EXPECT_EQ(dlg.FirmwareRev, "");
    EXPECT_EQ(window.GetItemText(IDC_BOOT_LOADER_REV), "");
    EXPECT_EQ(window.GetItemText(IDC_FLASH_ID), "");
    EXPECT_EQ(window.GetItemText(IDC_FIRMWARE_REV), "");
    EXPECT_EQ(world.comm.OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, InformationFailureRows,
    ::testing::Values(FailureCase{"PortDoesNotOpen", false, false, [](SimConfig&) {}, kCloseOnError},
                      FailureCase{"QueryNotWritten", true, true, [](SimConfig&) {}, kCloseOnError},
                      FailureCase{"NotInBootLoadMode", true, false, [](SimConfig& c) { c.noReply = true; },
                                  kNotInBootMode},
                      FailureCase{"NoFlashIdReply", true, false,
                                  [](SimConfig& c) { c.flashId.silent = true; }, kCloseOnError},
                      FailureCase{"NoFirmwareRevisionReply", true, false,
                                  [](SimConfig& c) { c.firmwareRev.silent = true; }, kCloseOnError}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PrinterInformationTest, RefusedWhileADownloadRuns)
{
    SerialPrinter();
    CDownloadDlg& dlg = Dialog("COM1");
    dlg.BootLoaderRev = "1.07";
    dlg.DownloadInProgress = 1;

    EXPECT_EQ(dlg.GetPrinterInformation(), 0);

    EXPECT_EQ(BoxTexts(),
              std::vector<std::string>{
                  "Firmware download is in progress. You must wait for the Firmware download to complete "
                  "or click on \"Abort Download\". \n\nIn the mean time don't be messing about by clicking "
                  "on things."});
    EXPECT_EQ(dlg.BootLoaderRev, "1.07");
    EXPECT_EQ(world.comm[kCom1].opens, 0);
}

TEST_F(PrinterInformationTest, NoTransmitWaitOnDevicePorts)
{
    // A network port waits 300 ms for the transmit queue after each query; a
    // USB printer port (device kind) does not wait and reads with 500/10.
    GatedPrinter& net = NetworkPrinter();
    CDownloadDlg& dlg = Dialog(kNetName);
    ASSERT_EQ(dlg.GetPrinterInformation(), 1);
    EXPECT_EQ(AsText(net.Sim().Received()), kInformationQueries);
    EXPECT_EQ(SleepsOf(300), 3u);
    EXPECT_EQ(dlg.Comm.Timeouts.ReadTotalTimeoutConstant, 3500u);

    world.clock.sleeps.clear();
    GatedPrinter& usb = UsbPrinter();
    window.SetItemText(IDC_PORT, "USB001");
    ASSERT_EQ(dlg.GetPrinterInformation(), 1);
    EXPECT_EQ(AsText(usb.Sim().Received()), kInformationQueries);
    EXPECT_EQ(dlg.FirmwareRev, "2.17");
    EXPECT_EQ(SleepsOf(20), 0u); // the device kind's wait would be budget / 100
    EXPECT_EQ(CountCalls(world.comm.calls, "SetCommTimeouts " + kUsbPath + " 10/10/500/10/500"), 1u);
}

// Stale input is drained before the queries, but a printer that keeps
// talking cannot hold the operation: the drain ends at 64 KiB or after 10 s.
TEST_F(PrinterInformationTest, DrainingStopsAt64KiB)
{
    SerialPrinter();
    CDownloadDlg& dlg = Dialog("COM1");
    FakeCommDevice::Port& port = world.comm[kCom1];
    for (int i = 0; i < 20000; ++i)
        port.reads.push_back(FakeCommDevice::Data("stale")); // all there at once

    dlg.GetPrinterInformation();

    const auto firstWrite =
        std::find_if(world.comm.calls.begin(), world.comm.calls.end(),
                     [](const std::string& call) { return call.rfind("WriteFile", 0) == 0; });
    ASSERT_NE(firstWrite, world.comm.calls.end());
    EXPECT_EQ(std::count(world.comm.calls.begin(), firstWrite, "ReadFile " + kCom1 + " 5"), (65536 + 4) / 5);
}

TEST_F(PrinterInformationTest, DrainingStopsAfterTenSeconds)
{
    GatedPrinter& p = SerialPrinter();
    p.chatter = true;
    CDownloadDlg& dlg = Dialog("COM1");

    dlg.GetPrinterInformation();

    ASSERT_FALSE(p.Sim().Record().empty());
    ASSERT_FALSE(p.opens.empty());
    const uint64_t drained = p.Sim().Record().front().timeMs - p.opens.front();
    EXPECT_GE(drained, 10000u);
    EXPECT_LT(drained, 10200u);
}

struct VerifyCase {
    const char* name;
    std::function<void(SimConfig&)> configure;
    std::string expected;
    int result;
};

class VerifyRows : public ProtocolTest, public ::testing::WithParamInterface<VerifyCase> {};

TEST_P(VerifyRows, RevisionComparedWithTheStatusReply)
{
    const VerifyCase& c = GetParam();
    SimConfig config;
    config.mode = sim::Mode::Firmware;
    config.defaultRev = "2.18";
    c.configure(config);
    GatedPrinter& p = SerialPrinter(config);
    CDownloadDlg& dlg = Dialog("COM1");
    dlg.PortName = "COM1";

    EXPECT_EQ(CDownloadApp::VerifyRevision(dlg, c.expected), c.result);

    EXPECT_EQ(AsText(p.Sim().Received()), "\x05\x15");
    EXPECT_TRUE(windows.boxes.empty());
    EXPECT_EQ(world.comm.OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, VerifyRows,
    ::testing::Values(
        VerifyCase{"Match", [](SimConfig&) {}, "2.18", 1},
        VerifyCase{"OtherRevision", [](SimConfig&) {}, "2.17", 0},
        VerifyCase{"FiveCharactersMatchOnFour", [](SimConfig&) {}, "2.185", 1},
        VerifyCase{"ThreeCharactersAgainstFour", [](SimConfig&) {}, "2.1", 0},
        VerifyCase{"ThreeCharactersEndingTheReply",
                   [](SimConfig& c) {
                       c.status = Bare("ONLINE;REV:{model}-{rev}");
                       c.defaultRev = "2.1";
                   },
                   "2.1", 1},
        VerifyCase{"NoRevMarker", [](SimConfig& c) { c.status.text = "ONLINE;READY;{rev}"; }, "2.18", 0},
        VerifyCase{"NoDash", [](SimConfig& c) { c.status.text = "ONLINE;REV:{model} {rev}"; }, "2.18", 0},
        VerifyCase{"NoReply", [](SimConfig& c) { c.status.silent = true; }, "2.18", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PrinterInformationTest, VerifyDrainsByteByByteThenAsksOnce)
{
    SimConfig config;
    config.mode = sim::Mode::Firmware;
    SerialPrinter(config);
    CDownloadDlg& dlg = Dialog("COM1");
    dlg.PortName = "COM1";
    XonXoff = 1;

    CDownloadApp::VerifyRevision(dlg, "2.17");

    const std::vector<std::string> io = [&] {
        std::vector<std::string> found;
        for (const std::string& call : world.comm.calls)
            if (call.rfind("ReadFile", 0) == 0 || call.rfind("WriteFile", 0) == 0)
                found.push_back(call);
        return found;
    }();
    const std::vector<std::string> expected = {"ReadFile " + kCom1 + " 1", "WriteFile " + kCom1 + " 2",
                                               "ReadFile " + kCom1 + " 320"};
    EXPECT_EQ(io, expected);
    EXPECT_EQ(CountCalls(world.comm.calls, "SetCommTimeouts " + kCom1 + " 50/50/3500/50/3500"), 1u);
    EXPECT_EQ(dlg.Comm.GetHandshake(), HandshakeXonXoff);
    EXPECT_EQ(dlg.Comm.SetupString, "");
}

TEST_F(PrinterInformationTest, ResetSendsTheSequenceAndPauses)
{
    SimConfig config;
    config.mode = sim::Mode::Firmware;
    GatedPrinter& p = SerialPrinter(config);
    // A stored serial configuration: the open then keeps the save flag it is given.
    CommConfig stored;
    stored.dcb.BaudRate = 9600;
    stored.dcb.ByteSize = 8;
    const auto bytes = stored.ToBytes();
    world.registry.Set(kKey, "Comm data", RegBinary, std::string(bytes.begin(), bytes.end()));
    CDownloadDlg& dlg = Dialog("COM1");
    dlg.PortName = "COM1";

    EXPECT_EQ(CDownloadApp::ResetPrinter(dlg), 1);

    EXPECT_EQ(AsText(p.Sim().Received()), "\x1B\x79\x02\x1B\x79\x08"
                                          "\x1B\x7E\x7E\x01"
                                          "\x1B\x7E\x78\xFF");
    EXPECT_EQ(p.Sim().ResetsSeen(), 1);
    EXPECT_EQ(dlg.Comm.SaveConfig, 1);
    EXPECT_EQ(dlg.Comm.SetupString, "");
    EXPECT_EQ(world.comm.OpenHandles(), 0);
    ASSERT_FALSE(p.closes.empty());
    EXPECT_EQ(world.clock.sleeps.back(), 1000u);
    EXPECT_EQ(world.clock.now, p.closes.back() + 1000);
    EXPECT_TRUE(world.comm.CallsStartingWith("ReadFile").empty());
}

TEST_F(PrinterInformationTest, EmptyPortName)
{
    SerialPrinter();
    CDownloadDlg& dlg = Dialog("");
    dlg.PortName = "";

    const size_t opensBefore = world.comm.CallsStartingWith("Open").size();
    EXPECT_EQ(CDownloadApp::ResetPrinter(dlg), 0);
    EXPECT_EQ(BoxTexts(),
              std::vector<std::string>{
                  "I/O Port not specified, or I/O Port not specified before Reset printer request."});
    EXPECT_EQ(world.comm.CallsStartingWith("Open").size(), opensBefore);

    windows.boxes.clear();
    EXPECT_EQ(CDownloadApp::VerifyRevision(dlg, "2.18"), 0);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{kCloseOnError});
}

} // namespace
} // namespace marlet::test
