// The printer's boot-loader and firmware commands, how their replies are read
// and what is taken from them, and the small steps every printer operation
// shares: time-outs and flow control after an open, draining stale input and
// the query exchange.
#pragma once

#include "platform/Clock.h"
#include "port/IOComm.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace marlet {

// Commands, each written with one OutputString call.
extern const ByteString BootRevisionQuery;     // 00 02 42
extern const ByteString FlashIdQuery;          // 02 45
extern const ByteString FirmwareRevisionQuery; // 02 4B
extern const ByteString StatusQuery;           // 05 15
extern const ByteString ResetSequence;         // 14 bytes in three groups
// 02 48 followed by the boot loader's code for the new speed.
ByteString SpeedChange(uint8_t code);

// Every boot-loader exchange starts at this setting.
extern const char* const BootSetup;

// The row of the speed table for a speed index: the code byte of SpeedChange
// and the setup string of the re-open. Index 0 and values outside 1 to 5 have
// no row (nullptr): no speed change is made.
struct SpeedRow {
    uint8_t code;
    const char* setup;
};
const SpeedRow* SpeedRowFor(int32_t speedIndex);

// Reply buffers, zero-filled before every read: the three boot-loader queries
// read 20 bytes at a time into the small one (room for the follow-up read and
// for a device port's 64-byte transfer unit); the status reply is read into
// the first 320 bytes of the large one, so every search ends at a zero byte.
using ReplyBuffer = std::array<uint8_t, 100>;
using StatusBuffer = std::array<uint8_t, 500>;
constexpr int BootReplyReadSize = 20;
constexpr int StatusReplyReadSize = 320;

// The text of a query reply: the leading run of bytes of 0x20 or above among
// the count bytes received (bytes 0x7F to 0xFF count as text).
std::string ReplyText(const uint8_t* reply, size_t count);

// The revision in a status reply: the first "REV:" at offsets 0 to 319, then
// the first "-" behind it before a zero byte, then the (at most) four
// characters after that "-" up to a zero byte. False when there is none.
bool FindStatusRevision(const StatusBuffer& reply, std::string& revision);

// Whether a reported revision equals the expected one on its first four
// characters, where a shorter text must end where the other does.
bool RevisionMatches(const std::string& reported, const std::string& expected);

// The exchanges, each with its own time-out pair per port kind.
enum class Exchange { PrinterInformation, StatusQuery, BootModeCheck, ImageTransfer };
struct TimeoutPair {
    int constant;
    int multiplier;
};
TimeoutPair TimeoutsFor(Exchange exchange, int portType);

// A transfer that gets nothing accepted for this long ends as an abort does.
constexpr uint32_t TransferStallMs = 60000;

// Sets the time-outs of an exchange on the open port, then the flow control
// that the XON/XOFF switch selects (XON/XOFF, otherwise hardware).
void PrepareExchange(IOComm& comm, Exchange exchange);
void ApplyFlowControl(IOComm& comm);

// Reads and discards pending input in pieces of the given size until a read
// brings nothing, for at most 10 s and 64 KiB, so that a printer that keeps
// talking cannot hold the operation.
void DrainInput(IOComm& comm, IClock& clock, uint8_t* buffer, int piece);

// One query: the command written, 100 ms, the wait for the transmit queue
// (not on device ports), the zeroed buffer and the read. With followUp a first
// read of fewer than 5 bytes is followed by one more read behind it, whose
// count then decides whether a reply came.
struct QueryResult {
    bool written = false; // the command went out
    int count = 0;        // the count that decides: 0 means no reply
    int received = 0;     // bytes in the buffer in all
};
QueryResult RunQuery(IOComm& comm, IClock& clock, const ByteString& command, uint8_t* buffer,
                     size_t bufferSize, int readSize, bool followUp = false);

} // namespace marlet
