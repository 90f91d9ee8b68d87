// The POSIX setup-string parser against the platform's own BuildCommDCBA:
// a probe built for Windows runs under Wine and reports what BuildCommDCBA
// makes of each string; every field of the DCB must come out the same.
#include "platform/CommConfig.h"
#include "platform/posix/SetupString.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace marlet::testing {
namespace {

namespace fs = std::filesystem;

// Strings both parsers accept. Not in the table: "dtr=hs", "rts=hs" and
// "rts=tg", which Wine refuses although Windows documents them, and MODE's
// abbreviated rates in the key form ("baud=96"), which Wine takes literally.
const std::vector<std::string> kAcceptedByBoth = {
    "baud=19200 parity=N data=8 stop=2",
    "baud=38400 parity=N data=8 stop=2",
    "baud=57600 parity=N data=8 stop=2",
    "baud=115200 parity=N data=8 stop=2",
    "baud=230400 parity=N data=8 stop=2",
    "baud=460800 parity=N data=8 stop=2",
    "baud=9600 parity=N data=8 stop=1",
    "baud=2400 parity=e data=7 stop=1",
    "BAUD=4800 PARITY=O DATA=7 STOP=2",
    "parity=m",
    "parity=s data=6",
    "data=5 stop=1.5",
    "xon=on",
    "xon=off",
    "odsr=on octs=on",
    "odsr=off octs=off",
    "idsr=on",
    "dtr=on",
    "dtr=off",
    "rts=on",
    "rts=off",
    "to=on",
    "baud=110 parity=n data=8",
    "baud=9600 data=7",
    "COM1: baud=9600 parity=N data=8 stop=1",
    "9600,n,8,1",
    "19200,e,7,2",
    "115200,n,8,1,x",
    "9600,n,8,1,p",
    "96,n,8,1",
    "COM3:9600,n,8,1",
};

// Strings both refuse, leaving the DCB as it was.
const std::vector<std::string> kRefusedByBoth = {
    "baud=fast", "parity=x", "data=9", "stop=3", "xon=maybe", "9600,n,8,1,q", "nonsense",
};

// Every member of the record, by name, for readable differences.
std::vector<std::pair<std::string, uint32_t>> Fields(const Dcb& d)
{
    return {
        {"DCBlength", d.DCBlength},
        {"BaudRate", d.BaudRate},
        {"fBinary", d.fBinary},
        {"fParity", d.fParity},
        {"fOutxCtsFlow", d.fOutxCtsFlow},
        {"fOutxDsrFlow", d.fOutxDsrFlow},
        {"fDtrControl", d.fDtrControl},
        {"fDsrSensitivity", d.fDsrSensitivity},
        {"fTXContinueOnXoff", d.fTXContinueOnXoff},
        {"fOutX", d.fOutX},
        {"fInX", d.fInX},
        {"fErrorChar", d.fErrorChar},
        {"fNull", d.fNull},
        {"fRtsControl", d.fRtsControl},
        {"fAbortOnError", d.fAbortOnError},
        {"fDummy2", d.fDummy2},
        {"wReserved", d.wReserved},
        {"XonLim", d.XonLim},
        {"XoffLim", d.XoffLim},
        {"ByteSize", d.ByteSize},
        {"Parity", d.Parity},
        {"StopBits", d.StopBits},
        {"XonChar", d.XonChar},
        {"XoffChar", d.XoffChar},
        {"ErrorChar", d.ErrorChar},
        {"EofChar", d.EofChar},
        {"EvtChar", d.EvtChar},
        {"wReserved1", d.wReserved1},
    };
}

std::string Differences(const Dcb& ours, const Dcb& platform)
{
    std::ostringstream out;
    const auto a = Fields(ours);
    const auto b = Fields(platform);
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].second != b[i].second)
            out << " " << a[i].first << ": ours " << a[i].second << ", platform's " << b[i].second << ";";
    }
    return out.str();
}

std::string Hex(const Dcb& dcb)
{
    std::string text;
    char digits[3];
    for (uint8_t byte : dcb.ToBytes()) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

bool FromHex(const std::string& text, Dcb& dcb)
{
    if (text.size() != 2 * Dcb::StoredSize)
        return false;
    uint8_t bytes[Dcb::StoredSize];
    for (int i = 0; i < Dcb::StoredSize; ++i)
        bytes[i] = uint8_t(std::stoul(text.substr(2 * size_t(i), 2), nullptr, 16));
    dcb = Dcb::FromBytes(bytes);
    return true;
}

// The record each string is applied to: one with every member set to
// something other than what a string would give, one all zero.
std::vector<Dcb> StartRecords()
{
    Dcb busy;
    busy.DCBlength = Dcb::StoredSize;
    busy.BaudRate = 1200;
    busy.fBinary = 1;
    busy.fParity = 1;
    busy.fOutxCtsFlow = 1;
    busy.fOutxDsrFlow = 1;
    busy.fDtrControl = 2;
    busy.fDsrSensitivity = 1;
    busy.fTXContinueOnXoff = 1;
    busy.fOutX = 1;
    busy.fInX = 1;
    busy.fRtsControl = 3;
    busy.XonLim = 256;
    busy.XoffLim = 100;
    busy.ByteSize = 7;
    busy.Parity = EvenParity;
    busy.StopBits = TwoStopBits;
    busy.XonChar = 17;
    busy.XoffChar = 19;
    Dcb zero;
    zero.DCBlength = Dcb::StoredSize;
    return {busy, zero};
}

struct ProbeResult {
    bool accepted = false;
    Dcb dcb;
};

class SetupStringAgreement : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* given = std::getenv("MARLET_DCB_PROBE");
        probe_ = given != nullptr ? fs::path(given)
                                  : fs::path(MARLET_SOURCE_DIR) / "build/mingw/bin/dcb-probe.exe";
        std::string missing;
        if (!fs::exists(probe_))
            missing = "the probe " + probe_.string() + " (build the mingw preset)";
        else if (std::system("command -v wine >/dev/null 2>&1") != 0)
            missing = "wine";
        else if (std::getenv("WINEPREFIX") == nullptr)
            missing = "a WINEPREFIX of its own";
        if (missing.empty())
            return;
        // The CI asks for the comparison; a developer's machine may lack Wine.
        if (std::getenv("MARLET_REQUIRE_WINE") != nullptr)
            FAIL() << "missing " << missing;
        GTEST_SKIP() << "missing " << missing;
    }

    // Runs the probe on the strings from one start record.
    std::vector<ProbeResult> Probe(const Dcb& start, const std::vector<std::string>& strings)
    {
        const fs::path input =
            fs::temp_directory_path() / ("dcb-probe-" + std::to_string(::getpid()) + ".txt");
        {
            std::ofstream out(input);
            for (const std::string& s : strings)
                out << s << "\n";
        }
        const std::string command = "WINEDEBUG=-all wine '" + probe_.string() + "' " + Hex(start) + " < '" +
                                    input.string() + "' 2>/dev/null";
        std::vector<ProbeResult> results;
        if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
            char line[256];
            while (std::fgets(line, sizeof line, pipe) != nullptr) {
                std::istringstream fields(line);
                int accepted = 0;
                std::string hex;
                ProbeResult result;
                if (fields >> accepted >> hex && FromHex(hex, result.dcb)) {
                    result.accepted = accepted == 1;
                    results.push_back(result);
                }
            }
            ::pclose(pipe);
        }
        fs::remove(input);
        return results;
    }

    fs::path probe_;
};

TEST_F(SetupStringAgreement, AcceptedStringsGiveTheSameRecordFieldByField)
{
    for (const Dcb& start : StartRecords()) {
        const std::vector<ProbeResult> platform = Probe(start, kAcceptedByBoth);
        ASSERT_EQ(platform.size(), kAcceptedByBoth.size()) << "the probe did not answer every string";
        for (size_t i = 0; i < kAcceptedByBoth.size(); ++i) {
            SCOPED_TRACE("\"" + kAcceptedByBoth[i] + "\" from " + Hex(start));
            Dcb ours = start;
            ASSERT_TRUE(platform[i].accepted) << "the platform refused it";
            ASSERT_TRUE(ParseSetupString(kAcceptedByBoth[i], ours)) << "our parser refused it";
            EXPECT_EQ(ours, platform[i].dcb) << Differences(ours, platform[i].dcb);
        }
    }
}

TEST_F(SetupStringAgreement, RefusedStringsLeaveTheRecordAsItWas)
{
    const Dcb start = StartRecords().front();
    const std::vector<ProbeResult> platform = Probe(start, kRefusedByBoth);
    ASSERT_EQ(platform.size(), kRefusedByBoth.size()) << "the probe did not answer every string";
    for (size_t i = 0; i < kRefusedByBoth.size(); ++i) {
        SCOPED_TRACE("\"" + kRefusedByBoth[i] + "\"");
        Dcb ours = start;
        EXPECT_FALSE(platform[i].accepted);
        EXPECT_FALSE(ParseSetupString(kRefusedByBoth[i], ours));
        EXPECT_EQ(ours, start);
        EXPECT_EQ(platform[i].dcb, start) << Differences(start, platform[i].dcb);
    }
}

} // namespace
} // namespace marlet::testing
