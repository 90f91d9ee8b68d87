#include "platform/posix/Termios.h"

#include "platform/CommDevice.h"

#include <sys/ioctl.h>

namespace marlet {
namespace {

struct SpeedEntry {
    uint32_t baud;
    speed_t speed;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

// Bits of the lp status register.
enum : int {
    LpNotError = 0x08,
    LpSelected = 0x10,
    LpPaperOut = 0x20,
    LpNotAck = 0x40,
    LpNotBusy = 0x80,
};

} // namespace

speed_t SpeedFor(uint32_t baud)
{
    for (const SpeedEntry& e : kSpeeds)
        if (e.baud == baud)
            return e.speed;
    return B0;
}

uint32_t BaudFor(speed_t speed)
{
    for (const SpeedEntry& e : kSpeeds)
        if (e.speed == speed)
            return e.baud;
    return 0;
}

void MakeRaw(termios& tio)
{
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
}

bool DcbToTermios(const Dcb& dcb, termios& tio)
{
    const speed_t speed = SpeedFor(dcb.BaudRate);
    if (speed == B0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SpaceParity ||
        dcb.StopBits > TwoStopBits)
        return false;
    if ((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar)
        return false;

    MakeRaw(tio);
    tio.c_cflag &= ~tcflag_t(CSIZE);
    switch (dcb.ByteSize) {
    case 5:
        tio.c_cflag |= CS5;
        break;
    case 6:
        tio.c_cflag |= CS6;
        break;
    case 7:
        tio.c_cflag |= CS7;
        break;
    default:
        tio.c_cflag |= CS8;
        break;
    }
    switch (dcb.Parity) {
    case OddParity:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case EvenParity:
        tio.c_cflag |= PARENB;
        break;
    case MarkParity:
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case SpaceParity:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    // Linux has no 1.5 stop bits setting; with 5 data bits the UART gives 1.5 for CSTOPB.
    if (dcb.StopBits != OneStopBit)
        tio.c_cflag |= CSTOPB;
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == 2)
        tio.c_cflag |= CRTSCTS;
    if (dcb.fOutX)
        tio.c_iflag |= IXON;
    if (dcb.fInX)
        tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = cc_t(dcb.XonChar);
    tio.c_cc[VSTOP] = cc_t(dcb.XoffChar);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return true;
}

void TermiosToDcb(const termios& tio, Dcb& dcb)
{
    const uint32_t baud = BaudFor(cfgetospeed(&tio));
    if (baud != 0)
        dcb.BaudRate = baud;
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        dcb.ByteSize = 5;
        break;
    case CS6:
        dcb.ByteSize = 6;
        break;
    case CS7:
        dcb.ByteSize = 7;
        break;
    default:
        dcb.ByteSize = 8;
        break;
    }
    if (!(tio.c_cflag & PARENB))
        dcb.Parity = NoParity;
    else if (tio.c_cflag & CMSPAR)
        dcb.Parity = (tio.c_cflag & PARODD) ? MarkParity : SpaceParity;
    else
        dcb.Parity = (tio.c_cflag & PARODD) ? OddParity : EvenParity;
    if (!(tio.c_cflag & CSTOPB))
        dcb.StopBits = OneStopBit;
    else if (dcb.StopBits != One5StopBits)
        dcb.StopBits = TwoStopBits;
    dcb.fOutX = (tio.c_iflag & IXON) ? 1 : 0;
    dcb.fInX = (tio.c_iflag & IXOFF) ? 1 : 0;
    dcb.XonChar = uint8_t(tio.c_cc[VSTART]);
    dcb.XoffChar = uint8_t(tio.c_cc[VSTOP]);
    if (tio.c_cflag & CRTSCTS) {
        if (!dcb.fOutxCtsFlow && dcb.fRtsControl != 2) {
            dcb.fOutxCtsFlow = 1;
            dcb.fRtsControl = 2;
        }
    } else {
        dcb.fOutxCtsFlow = 0;
        if (dcb.fRtsControl == 2)
            dcb.fRtsControl = 1;
    }
}

ModemLineChange ModemLinesFor(const Dcb& dcb)
{
    ModemLineChange change;
    // DTR handshake has no Linux counterpart: the line is raised.
    (dcb.fDtrControl == 0 ? change.drop : change.raise) |= TIOCM_DTR;
    // With RTS handshake the driver moves the line once CRTSCTS is set; raise it to start.
    (dcb.fRtsControl == 0 ? change.drop : change.raise) |= TIOCM_RTS;
    return change;
}

uint32_t ModemStatusFromLines(int lines)
{
    uint32_t status = 0;
    if (lines & TIOCM_CTS)
        status |= MS_CTS_ON;
    if (lines & TIOCM_DSR)
        status |= MS_DSR_ON;
    if (lines & TIOCM_RNG)
        status |= MS_RING_ON;
    if (lines & TIOCM_CD)
        status |= MS_RLSD_ON;
    return status;
}

uint8_t ParallelStatusFromLp(int s)
{
    const bool noError = s & LpNotError;
    const bool selected = s & LpSelected;
    const bool paperOut = s & LpPaperOut;
    const bool notAck = s & LpNotAck;
    const bool notBusy = s & LpNotBusy;

    uint8_t status = 0;
    if (paperOut)
        status |= ParPaperEmpty;
    if (noError && !notBusy && !selected) // busy and deselected without an error: off line
        status |= ParOffLine;
    if (!noError && !notAck && notBusy) // error with ack held and not busy: no power
        status |= ParPowerOff;
    if (noError && notBusy && !selected) // idle lines of an empty connector
        status |= ParNotConnected;
    if (!notBusy)
        status |= ParBusy;
    if (selected)
        status |= ParSelected;
    return status;
}

uint32_t CommErrorsFromLp(int s)
{
    uint32_t errors = 0;
    if (s & LpPaperOut)
        errors |= CE_OOP;
    if (!(s & LpSelected))
        errors |= CE_DNS;
    return errors;
}

} // namespace marlet
