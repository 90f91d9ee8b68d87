// Pure mappings between the serial configuration record and the settings of
// a Linux tty, and between Linux status words and what the readiness query
// tests.
#pragma once

#include "platform/CommConfig.h"

#include <cstdint>
#include <termios.h>

namespace marlet {

// Modem status bits of the comm device seam.
enum : uint32_t { MS_CTS_ON = 0x10, MS_RING_ON = 0x40, MS_RLSD_ON = 0x80 };

// The speed constant of a rate; B0 when the rate has none.
speed_t SpeedFor(uint32_t baud);
// The rate of a speed constant; 0 when unknown.
uint32_t BaudFor(speed_t speed);

// A fully raw line: no input or output processing, no echo, not canonical,
// 8 bits, receiver on, modem control lines ignored; reads of one byte at
// least, so that a non-blocking read without data reports EAGAIN and a hung
// up line reads as end of file.
void MakeRaw(termios& tio);

// The raw line with the speed, framing and flow control of dcb. False when
// dcb cannot be applied (unknown rate, data bits outside 5 to 8, parity or
// stop bits out of range, equal XON and XOFF characters with XON/XOFF on).
bool DcbToTermios(const Dcb& dcb, termios& tio);

// Overlays on dcb what the line settings determine: speed, data bits,
// parity, stop bits, XON/XOFF flags and characters, CTS/RTS handshake.
// Members termios cannot express (DTR control, DSR flow) keep their values.
void TermiosToDcb(const termios& tio, Dcb& dcb);

// The DTR and RTS lines (TIOCM_DTR, TIOCM_RTS) to raise and to drop for dcb.
struct ModemLineChange {
    int raise = 0;
    int drop = 0;
};
ModemLineChange ModemLinesFor(const Dcb& dcb);

// TIOCMGET bits -> MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON.
uint32_t ModemStatusFromLines(int lines);

// The Linux lp status register (LPGETSTATUS: 0x80 not busy, 0x40 ack line,
// 0x20 paper out, 0x10 selected, 0x08 no error) as the parallel status byte
// (ParPaperEmpty, ParOffLine, ParPowerOff, ParNotConnected, ParBusy,
// ParSelected).
uint8_t ParallelStatusFromLp(int lpStatus);
// The same register as the error word of the queue query (CE_OOP, CE_DNS).
uint32_t CommErrorsFromLp(int lpStatus);

} // namespace marlet
