#include "platform/posix/Termios.h"
#include "platform/CommDevice.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

namespace marlet {
namespace {

Dcb Config(uint32_t baud, uint8_t bits, uint8_t parity, uint8_t stop)
{
    Dcb d;
    d.DCBlength = 28;
    d.fBinary = 1;
    d.BaudRate = baud;
    d.ByteSize = bits;
    d.Parity = parity;
    d.StopBits = stop;
    d.fDtrControl = 1;
    d.fRtsControl = 1;
    return d;
}

Dcb WithXon(Dcb d)
{
    d.fOutX = d.fInX = 1;
    d.XonChar = 17;
    d.XoffChar = 19;
    return d;
}

Dcb WithCts(Dcb d)
{
    d.fOutxCtsFlow = 1;
    d.fRtsControl = 2;
    return d;
}

// A line as a terminal leaves it: canonical, echoing, translating.
termios Cooked()
{
    termios t{};
    t.c_iflag = ICRNL | IXON | BRKINT | ISTRIP | INLCR | IGNCR;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    t.c_cflag = CS7 | PARENB | HUPCL;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 5;
    cfsetospeed(&t, B38400);
    cfsetispeed(&t, B38400);
    return t;
}

struct Mapping {
    Dcb dcb;
    speed_t speed;
    tcflag_t cflagSet;   // these must be set
    tcflag_t cflagClear; // and these clear
    tcflag_t iflag;      // exactly
};

TEST(Termios, ConfigurationMapsToRawLine)
{
    const tcflag_t framing = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    const Mapping cases[] = {
        {Config(19200, 8, NoParity, TwoStopBits), B19200, CS8 | CSTOPB, framing & ~tcflag_t(CS8 | CSTOPB), 0},
        {Config(9600, 8, NoParity, OneStopBit), B9600, CS8, framing & ~tcflag_t(CS8), 0},
        {Config(230400, 7, EvenParity, OneStopBit), B230400, CS7 | PARENB, PARODD | CMSPAR | CSTOPB | CRTSCTS,
         0},
        {Config(460800, 8, OddParity, OneStopBit), B460800, CS8 | PARENB | PARODD, CMSPAR | CSTOPB, 0},
        {Config(115200, 6, MarkParity, OneStopBit), B115200, CS6 | PARENB | PARODD | CMSPAR, CSTOPB, 0},
        {Config(57600, 5, SpaceParity, One5StopBits), B57600, CS5 | PARENB | CMSPAR | CSTOPB, PARODD, 0},
        {WithXon(Config(38400, 8, NoParity, OneStopBit)), B38400, CS8, CRTSCTS, IXON | IXOFF},
        {WithCts(Config(115200, 8, NoParity, OneStopBit)), B115200, CS8 | CRTSCTS, PARENB, 0},
    };
    for (const Mapping& c : cases) {
        SCOPED_TRACE(c.dcb.BaudRate);
        termios t = Cooked();
        ASSERT_TRUE(DcbToTermios(c.dcb, t));
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(cfgetispeed(&t), c.speed);
        EXPECT_EQ(t.c_cflag & CSIZE, c.cflagSet & CSIZE);
        EXPECT_EQ(t.c_cflag & c.cflagSet, c.cflagSet);
        EXPECT_EQ(t.c_cflag & c.cflagClear, 0u);
        EXPECT_EQ(t.c_iflag, c.iflag);
        // Fully raw: image bytes pass unchanged in both directions.
        EXPECT_EQ(t.c_oflag, 0u);
        EXPECT_EQ(t.c_lflag, 0u);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
        EXPECT_EQ(t.c_cc[VMIN], 1);
        EXPECT_EQ(t.c_cc[VTIME], 0);
        EXPECT_EQ(t.c_cc[VSTART], c.dcb.XonChar);
        EXPECT_EQ(t.c_cc[VSTOP], c.dcb.XoffChar);
        // and back: the line read again gives the same record
        Dcb back = c.dcb;
        TermiosToDcb(t, back);
        EXPECT_EQ(back, c.dcb);
    }
}

TEST(Termios, RtsHandshakeAloneMeansCtsRts)
{
    Dcb d = Config(9600, 8, NoParity, OneStopBit);
    d.fRtsControl = 2;
    termios t = Cooked();
    ASSERT_TRUE(DcbToTermios(d, t));
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
}

TEST(Termios, ConfigurationsALineCannotTakeAreRefused)
{
    Dcb equalChars = WithXon(Config(9600, 8, NoParity, OneStopBit));
    equalChars.XoffChar = equalChars.XonChar;
    const Dcb refused[] = {
        Config(0, 8, NoParity, OneStopBit),
        Config(14400, 8, NoParity, OneStopBit),
        Config(9600, 4, NoParity, OneStopBit),
        Config(9600, 9, NoParity, OneStopBit),
        Config(9600, 8, 5, OneStopBit),
        Config(9600, 8, NoParity, 3),
        equalChars,
    };
    for (const Dcb& d : refused) {
        termios t = Cooked();
        const termios before = t;
        EXPECT_FALSE(DcbToTermios(d, t)) << d.BaudRate << " " << int(d.ByteSize);
        EXPECT_EQ(t.c_cflag, before.c_cflag);
    }
}

TEST(Termios, LineSettingsReadIntoAFreshRecord)
{
    termios t{};
    MakeRaw(t);
    t.c_cflag |= CSTOPB | CRTSCTS | PARENB;
    t.c_iflag |= IXON;
    t.c_cc[VSTART] = 17;
    t.c_cc[VSTOP] = 19;
    cfsetospeed(&t, B230400);
    Dcb d = Config(9600, 7, OddParity, OneStopBit);
    TermiosToDcb(t, d);
    EXPECT_EQ(d.BaudRate, 230400u);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, EvenParity);
    EXPECT_EQ(d.StopBits, TwoStopBits);
    EXPECT_EQ(d.fOutX, 1u);
    EXPECT_EQ(d.fInX, 0u);
    EXPECT_EQ(d.fOutxCtsFlow, 1u);
    EXPECT_EQ(d.fRtsControl, 2u);
    EXPECT_EQ(d.fDtrControl, 1u); // termios has no DTR control: kept

    t.c_cflag &= ~tcflag_t(CRTSCTS);
    TermiosToDcb(t, d);
    EXPECT_EQ(d.fOutxCtsFlow, 0u);
    EXPECT_EQ(d.fRtsControl, 1u); // no longer a handshake, the line stays up
}

TEST(Termios, ModemLines)
{
    struct Case {
        uint32_t dtr, rts;
        int raise, drop;
    } cases[] = {
        {0, 0, 0, TIOCM_DTR | TIOCM_RTS}, {1, 1, TIOCM_DTR | TIOCM_RTS, 0}, {2, 2, TIOCM_DTR | TIOCM_RTS, 0},
        {1, 0, TIOCM_DTR, TIOCM_RTS},     {0, 3, TIOCM_RTS, TIOCM_DTR},
    };
    for (const Case& c : cases) {
        Dcb d;
        d.fDtrControl = c.dtr;
        d.fRtsControl = c.rts;
        const ModemLineChange change = ModemLinesFor(d);
        EXPECT_EQ(change.raise, c.raise) << c.dtr << c.rts;
        EXPECT_EQ(change.drop, c.drop) << c.dtr << c.rts;
    }

    EXPECT_EQ(ModemStatusFromLines(TIOCM_DSR), uint32_t(MS_DSR_ON));
    EXPECT_EQ(ModemStatusFromLines(TIOCM_CTS | TIOCM_CD), uint32_t(MS_CTS_ON | MS_RLSD_ON));
    EXPECT_EQ(ModemStatusFromLines(TIOCM_DTR | TIOCM_RTS), 0u); // our own outputs are not status
}

TEST(Termios, ParallelStatusRegister)
{
    struct Case {
        int lp;
        uint8_t status;
        uint32_t errors;
        const char* what;
    } cases[] = {
        {0xD8, ParSelected, 0, "ready: not busy, selected, no error"},
        {0x58, ParBusy | ParSelected, 0, "busy while selected"},
        {0xF8, ParPaperEmpty | ParSelected, CE_OOP, "paper out"},
        {0x48, ParOffLine | ParBusy, CE_DNS, "off line: busy, deselected, no error"},
        {0x80, ParPowerOff, CE_DNS, "powered off: error with ack, not busy"},
        {0x88, ParNotConnected, CE_DNS, "nothing connected: idle lines, deselected"},
        {0x00, ParBusy, CE_DNS, "all lines low"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParallelStatusFromLp(c.lp), c.status) << c.what;
        EXPECT_EQ(CommErrorsFromLp(c.lp), c.errors) << c.what;
    }
}

} // namespace
} // namespace marlet
