#include "platform/posix/SetupString.h"

#include <gtest/gtest.h>

namespace marlet {
namespace {

// A DCB whose every member differs from what the strings below set, so a
// member that changes by accident shows.
Dcb Marked()
{
    Dcb d;
    d.DCBlength = 28;
    d.BaudRate = 1234;
    d.fBinary = 1;
    d.fParity = 1;
    d.fOutxCtsFlow = 1;
    d.fOutxDsrFlow = 1;
    d.fDtrControl = 3;
    d.fDsrSensitivity = 1;
    d.fTXContinueOnXoff = 1;
    d.fOutX = 1;
    d.fInX = 1;
    d.fRtsControl = 3;
    d.XonLim = 256;
    d.XoffLim = 100;
    d.ByteSize = 6;
    d.Parity = MarkParity;
    d.StopBits = One5StopBits;
    d.XonChar = 17;
    d.XoffChar = 19;
    return d;
}

struct Accepted {
    const char* setup;
    void (*expect)(Dcb&); // turns Marked() into the expected result
};

const Accepted kAccepted[] = {
    {"baud=19200 parity=N data=8 stop=2",
     [](Dcb& d) {
         d.BaudRate = 19200;
         d.Parity = NoParity;
         d.ByteSize = 8;
         d.StopBits = TwoStopBits;
     }},
    {"BAUD=460800 Parity=e DATA=7 stop=1",
     [](Dcb& d) {
         d.BaudRate = 460800;
         d.Parity = EvenParity;
         d.ByteSize = 7;
         d.StopBits = OneStopBit;
     }},
    {"  baud=230400\tparity=o   stop=1.5 ",
     [](Dcb& d) {
         d.BaudRate = 230400;
         d.Parity = OddParity;
         d.StopBits = One5StopBits;
     }},
    // Without "stop=" the stop bits take their default: two at 110 baud, else one.
    {"baud=110 parity=s data=5",
     [](Dcb& d) { d.BaudRate = 110, d.Parity = SpaceParity, d.ByteSize = 5, d.StopBits = TwoStopBits; }},
    {"baud=96", [](Dcb& d) { d.BaudRate = 9600, d.StopBits = OneStopBit; }},       // MODE's abbreviation
    {"baud=19", [](Dcb& d) { d.BaudRate = 19200, d.StopBits = OneStopBit; }},      // MODE's abbreviation
    {"baud=250000", [](Dcb& d) { d.BaudRate = 250000, d.StopBits = OneStopBit; }}, // other rates as numbers
    {"COM5: baud=9600 parity=N data=8 stop=1",
     [](Dcb& d) {
         d.BaudRate = 9600;
         d.Parity = NoParity;
         d.ByteSize = 8;
         d.StopBits = OneStopBit;
     }},
    {"xon=off octs=off odsr=off idsr=off dtr=off rts=off to=on",
     [](Dcb& d) {
         d.fOutX = d.fInX = 0;
         d.fOutxCtsFlow = d.fOutxDsrFlow = d.fDsrSensitivity = 0;
         d.fDtrControl = 0;
         d.fRtsControl = 0;
         d.StopBits = OneStopBit;
     }},
    {"dtr=hs rts=hs", [](Dcb& d) { d.fDtrControl = 2, d.fRtsControl = 2, d.StopBits = OneStopBit; }},
    {"dtr=on rts=tg", [](Dcb& d) { d.fDtrControl = 1, d.fRtsControl = 3, d.StopBits = OneStopBit; }},
    {"9600,n,8,1",
     [](Dcb& d) {
         d.BaudRate = 9600;
         d.Parity = NoParity;
         d.ByteSize = 8;
         d.StopBits = OneStopBit;
         d.fOutX = d.fInX = 0;
         d.fOutxCtsFlow = d.fOutxDsrFlow = 0;
         d.fDtrControl = 1;
         d.fRtsControl = 1;
     }},
    {"96, E, 7, 2, x",
     [](Dcb& d) {
         d.BaudRate = 9600;
         d.Parity = EvenParity;
         d.ByteSize = 7;
         d.StopBits = TwoStopBits;
         d.fOutX = d.fInX = 1;
         d.fOutxCtsFlow = d.fOutxDsrFlow = 0;
         d.fDtrControl = 1;
         d.fRtsControl = 1;
     }},
    {"115200,n,8,1,P",
     [](Dcb& d) {
         d.BaudRate = 115200;
         d.Parity = NoParity;
         d.ByteSize = 8;
         d.StopBits = OneStopBit;
         d.fOutX = d.fInX = 0;
         d.fOutxCtsFlow = d.fOutxDsrFlow = 1;
         d.fDtrControl = 2;
         d.fRtsControl = 2;
     }},
    {"COM1:4800", // the short form with only a rate: the other fields keep their values
     [](Dcb& d) {
         d.BaudRate = 4800;
         d.fOutX = d.fInX = 0;
         d.fOutxCtsFlow = d.fOutxDsrFlow = 0;
         d.fDtrControl = 1;
         d.fRtsControl = 1;
     }},
};

TEST(SetupString, AcceptedStringsChangeOnlyWhatTheyName)
{
    for (const Accepted& c : kAccepted) {
        Dcb expected = Marked();
        c.expect(expected);
        Dcb dcb = Marked();
        EXPECT_TRUE(ParseSetupString(c.setup, dcb)) << c.setup;
        EXPECT_EQ(dcb, expected) << c.setup;
    }
}

TEST(SetupString, MalformedStringsFailAndChangeNothing)
{
    const char* malformed[] = {
        "",
        "   ",
        "baud=",
        "baud=abc",
        "baud=0",
        "baud=-9600",
        "baud = 9600",
        "speed=9600",
        "parity=x",
        "parity=none",
        "data=4",
        "data=9",
        "stop=3",
        "stop=1.0",
        "xon=yes",
        "dtr=tg",
        "rts=x",
        "baud=9600 parity=N data=8 stop=2 bogus",
        "baud=9600 parity=Q", // a good key before a bad one changes nothing either
        "9600,n,8,1,z",
        "9600,n,8,1,x,1",
        ",n,8,1",
        "9600;n;8;1",
        "9600,n,9,1",
        "COM1:",
    };
    for (const char* setup : malformed) {
        Dcb dcb = Marked();
        EXPECT_FALSE(ParseSetupString(setup, dcb)) << '"' << setup << '"';
        EXPECT_EQ(dcb, Marked()) << '"' << setup << '"';
    }
}

} // namespace
} // namespace marlet
