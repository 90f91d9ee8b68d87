// A simulated printer of the family, seen from the printer's side of the wire:
// a boot loader that answers its three queries, changes speed on request and
// takes a firmware image, and the firmware that answers the status query and
// the reset sequence. It is a state machine fed with bytes and time
// (milliseconds) and does no I/O of its own; a transport (a pty, a TCP
// socket, a fake port) moves the bytes.
//
// The byte values here are written from the printer's point of view and
// share nothing with the program's own command table on purpose.
//
// In boot-load mode the first byte that cannot begin a command starts the
// image (with any command bytes pending before it); from then on every byte
// is image until the input has been quiet for the quiet time, when the image
// is programmed and the printer comes up running it. While the transport
// reports a line speed other than the boot loader's, bytes are lost as noise;
// running firmware takes any speed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace marlet::sim {

enum class Mode { BootLoad, Firmware };

// How one reply goes out: lead + text + trail, or nothing at all.
struct ReplyShape {
    ReplyShape() = default;
    explicit ReplyShape(std::string text_) : text(std::move(text_)) {}

    std::string text;
    std::string lead;         // bytes before the text, e.g. "\x02"
    std::string trail = "\r"; // bytes after the text, e.g. "\r" or "\x03"
    bool silent = false;      // the printer does not answer this query
    size_t splitAt = 0;       // when not 0, only the first splitAt bytes go out at first...
    uint32_t splitGapMs = 0;  // ...and the rest this much later
};

struct SimConfig {
    Mode mode = Mode::BootLoad;
    // Boot loader replies.
    ReplyShape bootRev{"1.07"};
    ReplyShape flashId{"29F160"};
    ReplyShape firmwareRev{"2.17"};
    // Firmware status reply; "{model}" and "{rev}" in the text are replaced.
    ReplyShape status{"ONLINE;READY;REV:{model}-{rev};PAGES:0042"};
    std::string model = "MT600";
    // Revision of the firmware in flash until an image with a marker is programmed.
    std::string defaultRev = "2.17";
    // Mode the printer comes up in after a reset sequence.
    Mode resetInto = Mode::Firmware;
    uint32_t replyDelayMs = 5;
    // Quiet time after the last image byte before the image is programmed (at most 1000).
    uint32_t quietMs = 1000;
    // The boot loader's speed at power-up.
    uint32_t bootBaud = 19200;

    // Fault switches.
    bool noReply = false;                // no query is answered
    uint32_t acceptBytesPerSecond = 0;   // slow reading; 0 = as fast as offered
    std::optional<uint64_t> stallAtByte; // reading stops once this many bytes came...
    uint32_t stallMs = 0;                // ...for this long (0 = for good)
    std::optional<uint64_t> xoffAtByte;  // XOFF sent once this many bytes came...
    uint32_t xoffHoldMs = 0;             // ...and XON this much later (0 = held for good)
    std::optional<uint64_t> dropAtByte;  // the connection drops after this many bytes
    bool refuseSerialConfig = false;     // line settings are refused
};

// Received bytes with the time they arrived: bytes [offset, offset + length)
// of the record came at timeMs.
struct ReceivedRun {
    uint64_t timeMs;
    size_t offset;
    size_t length;
};

struct SimEvent {
    uint64_t timeMs;
    std::string text;
};

// CRC-32 as in zlib and PNG (reflected polynomial 0xEDB88320, initial and
// final value 0xFFFFFFFF); the image checksum the simulator reports.
uint32_t Crc32(const uint8_t* data, size_t length);

// The revision a firmware image carries in its marker "MARLETFWREV=<rev>;",
// or an empty text when it carries none.
std::string ImageRevision(const std::vector<uint8_t>& image);

// Speed of a SpeedChange code byte, 0 for a code the boot loader does not know.
uint32_t SpeedOfCode(uint8_t code);

class PrinterSim {
public:
    explicit PrinterSim(SimConfig config = {});

    // Bytes that arrived from the host.
    void Feed(const uint8_t* data, size_t length, uint64_t nowMs);
    // Up to capacity bytes the printer has sent by now.
    size_t TakeOutput(uint8_t* data, size_t capacity, uint64_t nowMs);
    // Lets time pass without traffic (quiet time, XON, end of a stall).
    void Tick(uint64_t nowMs);
    // How many of offered bytes the printer's input takes now.
    size_t Accept(size_t offered, uint64_t nowMs);
    // The host's line settings (parity 0 none, 1 odd, 2 even; stop bits 1 or 2).
    // Returns 0 when the printer refuses them; the line then stays as it was.
    // With request false they are the line as the printer finds it, never refused.
    int SetLine(uint32_t baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits, uint64_t nowMs,
                bool request = true);
    bool RefusesLineSettings() const { return config.refuseSerialConfig; }
    // The transport is connected again after a drop.
    void Reconnect(uint64_t nowMs);

    Mode GetMode() const { return mode; }
    // The speed the boot loader listens at now.
    uint32_t Baud() const { return baud; }
    uint32_t LineBaud() const { return lineBaud; }
    // Speeds asked for with SpeedChange, in order (0 for an unknown code).
    const std::vector<uint32_t>& SpeedRequests() const { return speedRequests; }
    bool XoffHeld() const { return xoffHeld; }
    bool Dropped() const { return dropped; }
    bool HasPendingOutput() const { return !output.empty(); }

    // Every byte received, in order, and when it came.
    const std::vector<uint8_t>& Received() const { return received; }
    const std::vector<ReceivedRun>& Record() const { return record; }
    uint64_t TimeOfByte(size_t index) const;
    // Bytes that came at a speed other than the boot loader's, lost as line noise.
    size_t GarbledBytes() const { return garbled; }
    // Bytes that came while the printer held the line with XOFF.
    size_t BytesWhileHeld() const { return whileHeld; }

    // The image being received, or the last one programmed.
    const std::vector<uint8_t>& Image() const { return image; }
    bool ImageInProgress() const { return imageStarted; }
    int ImagesProgrammed() const { return programmed; }
    uint32_t ImageCrc() const { return Crc32(image.data(), image.size()); }
    // The revision the firmware reports.
    const std::string& Revision() const { return revision; }

    int ResetsSeen() const { return resets; }
    int StatusQueriesAnswered() const { return statusAnswered; }
    int LinesRefused() const { return linesRefused; }
    // What happened, for logs and tests.
    const std::vector<SimEvent>& Events() const { return events; }

private:
    struct Chunk {
        uint64_t releaseMs;
        std::string bytes;
    };

    void Advance(uint64_t nowMs);
    void TakeByte(uint8_t byte, uint64_t nowMs);
    void TakeBootByte(uint8_t byte, uint64_t nowMs);
    void TakeFirmwareByte(uint8_t byte, uint64_t nowMs);
    void StartImage(uint64_t nowMs);
    void Program(uint64_t nowMs);
    void PowerUp(Mode into, uint64_t nowMs);
    void StartStall(uint64_t nowMs);
    bool Reply(const char* what, const ReplyShape& shape, const std::string& text, uint64_t nowMs);
    void Note(uint64_t nowMs, std::string text);
    bool Paused() const;

    SimConfig config;
    Mode mode;
    uint32_t baud;
    uint32_t lineBaud = 0;       // 0 until the transport tells
    std::string revision;        // what the firmware reports
    std::string firmwareRevText; // what the boot loader reports of the firmware in flash

    std::string pending; // bytes of a command not yet complete
    bool imageStarted = false;
    std::vector<uint8_t> image;
    int programmed = 0;
    uint64_t quietFromMs = 0;

    std::deque<Chunk> output;

    std::vector<uint8_t> received;
    std::vector<ReceivedRun> record;
    size_t garbled = 0;
    size_t whileHeld = 0;

    double credit = 0;
    uint64_t creditMs = 0;
    bool stallFired = false;
    uint64_t stallEndMs = 0;
    bool stalled = false;
    bool xoffFired = false;
    bool xoffHeld = false;
    uint64_t xonAtMs = 0;
    bool dropFired = false;
    bool dropped = false;

    std::vector<uint32_t> speedRequests;
    int resets = 0;
    int statusAnswered = 0;
    int linesRefused = 0;
    std::vector<SimEvent> events;
};

} // namespace marlet::sim
