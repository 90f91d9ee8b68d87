#include "sim/PrinterSim.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace marlet::sim {

namespace {

// What the printer understands, as it sees the bytes arrive.
enum class Command { BootRevision, FlashId, FirmwareRevision, SpeedChange, Status, Reset };

struct Pattern {
    Command command;
    std::string bytes; // for SpeedChange the code byte follows these
};

const std::vector<Pattern>& BootPatterns()
{
    static const std::vector<Pattern> patterns = {
        {Command::BootRevision, std::string("\x00\x02\x42", 3)},
        {Command::FlashId, "\x02\x45"},
        {Command::FirmwareRevision, "\x02\x4B"},
        {Command::SpeedChange, "\x02\x48"},
        {Command::Status, "\x05\x15"},
        {Command::Reset, "\x1B\x79\x02\x1B\x79\x08\x1B\x7E\x7E\x01\x1B\x7E\x78\xFF"},
    };
    return patterns;
}

const std::vector<Pattern>& FirmwarePatterns()
{
    static const std::vector<Pattern> patterns = {
        {Command::Status, "\x05\x15"},
        {Command::Reset, "\x1B\x79\x02\x1B\x79\x08\x1B\x7E\x7E\x01\x1B\x7E\x78\xFF"},
    };
    return patterns;
}

size_t PatternLength(const Pattern& pattern)
{
    return pattern.bytes.size() + (pattern.command == Command::SpeedChange ? 1 : 0);
}

enum class Match { None, Prefix, Complete };

// Whether pending is a whole command of the table, the start of one, or neither.
Match Classify(const std::string& pending, const std::vector<Pattern>& patterns, Command& command)
{
    bool prefix = false;
    for (const Pattern& pattern : patterns) {
        size_t fixed = std::min(pending.size(), pattern.bytes.size());
        if (pending.compare(0, fixed, pattern.bytes, 0, fixed) != 0)
            continue;
        if (pending.size() == PatternLength(pattern)) {
            command = pattern.command;
            return Match::Complete;
        }
        if (pending.size() < PatternLength(pattern))
            prefix = true;
    }
    return prefix ? Match::Prefix : Match::None;
}

std::string Replace(std::string text, const std::string& key, const std::string& value)
{
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
        text.replace(at, key.size(), value);
    return text;
}

std::string Hex32(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

} // namespace

uint32_t Crc32(const uint8_t* data, size_t length)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::string ImageRevision(const std::vector<uint8_t>& image)
{
    static const std::string marker = "MARLETFWREV=";
    auto at = std::search(image.begin(), image.end(), marker.begin(), marker.end());
    if (at == image.end())
        return {};
    std::string revision;
    for (auto it = at + marker.size(); it != image.end(); ++it) {
        if (*it == ';')
            return revision;
        if (*it <= 0x20 || *it >= 0x7F || revision.size() == 16)
            return {};
        revision += static_cast<char>(*it);
    }
    return {}; // no terminating ';'
}

uint32_t SpeedOfCode(uint8_t code)
{
    switch (code) {
    case 0x26:
        return 38400;
    case 0x39:
        return 57600;
    case 0x73:
        return 115200;
    case 0xE6:
        return 230400;
    case 0x2E:
        return 460800;
    default:
        return 0;
    }
}

PrinterSim::PrinterSim(SimConfig config_)
    : config(std::move(config_)), mode(config.mode), baud(config.bootBaud), revision(config.defaultRev),
      firmwareRevText(config.firmwareRev.text)
{
    config.quietMs = std::min<uint32_t>(config.quietMs, 1000);
}

void PrinterSim::Note(uint64_t nowMs, std::string text) { events.push_back({nowMs, std::move(text)}); }

bool PrinterSim::Paused() const { return stalled || xoffHeld; }

void PrinterSim::Advance(uint64_t nowMs)
{
    if (stalled && config.stallMs > 0 && nowMs >= stallEndMs) {
        stalled = false;
        quietFromMs = std::max(quietFromMs, stallEndMs);
        Note(stallEndMs, "reading again");
    }
    if (xoffHeld && config.xoffHoldMs > 0 && nowMs >= xonAtMs) {
        xoffHeld = false;
        quietFromMs = std::max(quietFromMs, xonAtMs);
        output.push_front({xonAtMs, "\x11"});
        Note(xonAtMs, "XON sent");
    }
    if (imageStarted && !Paused() && nowMs >= quietFromMs + config.quietMs)
        Program(quietFromMs + config.quietMs);
}

void PrinterSim::Tick(uint64_t nowMs) { Advance(nowMs); }

size_t PrinterSim::Accept(size_t offered, uint64_t nowMs)
{
    Advance(nowMs);
    const uint64_t count = received.size();
    if (config.stallAtByte && !stallFired && count >= *config.stallAtByte)
        StartStall(nowMs);
    if (dropped || Paused())
        return 0;
    uint64_t n = offered;
    if (config.dropAtByte && !dropFired)
        n = std::min<uint64_t>(n, *config.dropAtByte - count);
    if (config.stallAtByte && !stallFired)
        n = std::min<uint64_t>(n, *config.stallAtByte - count);
    if (config.xoffAtByte && !xoffFired && count < *config.xoffAtByte)
        n = std::min<uint64_t>(n, *config.xoffAtByte - count);
    if (config.acceptBytesPerSecond > 0) {
        // A bucket that fills at the reading rate and holds a quarter second's worth.
        const double cap = std::max(1.0, config.acceptBytesPerSecond / 4.0);
        if (nowMs > creditMs)
            credit = std::min(cap, credit + (nowMs - creditMs) * (config.acceptBytesPerSecond / 1000.0));
        creditMs = std::max(creditMs, nowMs);
        n = std::min<uint64_t>(n, credit > 0 ? static_cast<uint64_t>(credit) : 0);
    }
    return static_cast<size_t>(n);
}

void PrinterSim::StartStall(uint64_t nowMs)
{
    stallFired = true;
    stalled = true;
    stallEndMs = nowMs + config.stallMs;
    Note(nowMs, "reading stalls");
}

void PrinterSim::Feed(const uint8_t* data, size_t length, uint64_t nowMs)
{
    Advance(nowMs);
    if (dropped || length == 0)
        return;
    bool dropNow = false;
    if (config.dropAtByte && !dropFired && received.size() + length >= *config.dropAtByte) {
        length = static_cast<size_t>(*config.dropAtByte - received.size());
        dropNow = true;
    }
    if (config.acceptBytesPerSecond > 0)
        credit -= static_cast<double>(length);
    if (length > 0)
        record.push_back({nowMs, received.size(), length});
    const size_t garbledBefore = garbled;
    for (size_t i = 0; i < length; ++i) {
        received.push_back(data[i]);
        if (xoffHeld)
            ++whileHeld;
        TakeByte(data[i], nowMs);
        const uint64_t count = received.size();
        if (config.xoffAtByte && !xoffFired && count >= *config.xoffAtByte) {
            xoffFired = true;
            xoffHeld = true;
            xonAtMs = nowMs + config.xoffHoldMs;
            output.push_front({nowMs, "\x13"});
            Note(nowMs, "XOFF sent after byte " + std::to_string(count));
        }
        if (config.stallAtByte && !stallFired && count >= *config.stallAtByte)
            StartStall(nowMs);
    }
    if (garbled > garbledBefore)
        Note(nowMs, std::to_string(garbled - garbledBefore) + " bytes lost: line at " +
                        std::to_string(lineBaud) + " baud, boot loader at " + std::to_string(baud));
    if (dropNow) {
        dropFired = true;
        dropped = true;
        output.clear();
        Note(nowMs, "connection dropped after byte " + std::to_string(received.size()));
    }
}

void PrinterSim::TakeByte(uint8_t byte, uint64_t nowMs)
{
    if (mode == Mode::BootLoad && lineBaud != 0 && lineBaud != baud) {
        // The UART samples at a different speed: what arrives is noise.
        ++garbled;
        return;
    }
    if (mode == Mode::BootLoad)
        TakeBootByte(byte, nowMs);
    else
        TakeFirmwareByte(byte, nowMs);
}

void PrinterSim::TakeBootByte(uint8_t byte, uint64_t nowMs)
{
    if (imageStarted) {
        image.push_back(byte);
        quietFromMs = nowMs;
        return;
    }
    pending += static_cast<char>(byte);
    Command command{};
    switch (Classify(pending, BootPatterns(), command)) {
    case Match::Prefix:
        return;
    case Match::None:
        // Anything that is not a command begins the image; the pending bytes are its first.
        imageStarted = true;
        image.assign(pending.begin(), pending.end());
        pending.clear();
        quietFromMs = nowMs;
        Note(nowMs, "image started");
        return;
    case Match::Complete:
        break;
    }
    const uint8_t last = static_cast<uint8_t>(pending.back());
    pending.clear();
    switch (command) {
    case Command::BootRevision:
        Reply("boot loader revision", config.bootRev, config.bootRev.text, nowMs);
        break;
    case Command::FlashId:
        Reply("flash id", config.flashId, config.flashId.text, nowMs);
        break;
    case Command::FirmwareRevision:
        Reply("firmware revision", config.firmwareRev, firmwareRevText, nowMs);
        break;
    case Command::SpeedChange: {
        const uint32_t speed = SpeedOfCode(last);
        speedRequests.push_back(speed);
        if (speed != 0) {
            baud = speed;
            Note(nowMs, "speed change to " + std::to_string(speed));
        } else {
            Note(nowMs, "speed change with unknown code " + Hex32(last).substr(6) + " ignored");
        }
        break;
    }
    case Command::Status:
        Note(nowMs, "status query ignored by the boot loader");
        break;
    case Command::Reset:
        ++resets;
        Note(nowMs, "reset sequence");
        PowerUp(config.resetInto, nowMs);
        break;
    }
}

void PrinterSim::TakeFirmwareByte(uint8_t byte, uint64_t nowMs)
{
    pending += static_cast<char>(byte);
    for (;;) {
        Command command{};
        switch (Classify(pending, FirmwarePatterns(), command)) {
        case Match::Prefix:
            return;
        case Match::None:
            // Other data (print jobs and the like) is consumed; a command may
            // still begin later in the pending bytes.
            pending.erase(0, 1);
            if (pending.empty())
                return;
            continue;
        case Match::Complete:
            break;
        }
        pending.clear();
        if (command == Command::Status) {
            std::string text = Replace(config.status.text, "{model}", config.model);
            text = Replace(text, "{rev}", revision);
            if (Reply("status", config.status, text, nowMs))
                ++statusAnswered;
        } else if (command == Command::Reset) {
            ++resets;
            Note(nowMs, "reset sequence");
            PowerUp(config.resetInto, nowMs);
        }
        return;
    }
}

bool PrinterSim::Reply(const char* what, const ReplyShape& shape, const std::string& text, uint64_t nowMs)
{
    if (config.noReply || shape.silent) {
        Note(nowMs, std::string(what) + " query not answered");
        return false;
    }
    const std::string bytes = shape.lead + text + shape.trail;
    const uint64_t at = nowMs + config.replyDelayMs;
    if (shape.splitAt > 0 && shape.splitAt < bytes.size()) {
        output.push_back({at, bytes.substr(0, shape.splitAt)});
        output.push_back({at + shape.splitGapMs, bytes.substr(shape.splitAt)});
    } else {
        output.push_back({at, bytes});
    }
    Note(nowMs, std::string(what) + " query answered \"" + text + "\"");
    return true;
}

void PrinterSim::Program(uint64_t atMs)
{
    ++programmed;
    imageStarted = false;
    const std::string carried = ImageRevision(image);
    revision = carried.empty() ? config.defaultRev : carried;
    if (!carried.empty())
        firmwareRevText = carried;
    Note(atMs, "programmed " + std::to_string(image.size()) + " bytes, crc32 " + Hex32(ImageCrc()) +
                   ", revision " + revision);
    PowerUp(Mode::Firmware, atMs);
}

void PrinterSim::PowerUp(Mode into, uint64_t nowMs)
{
    mode = into;
    baud = config.bootBaud;
    pending.clear();
    output.clear();
    imageStarted = false;
    Note(nowMs, into == Mode::BootLoad ? "up in boot-load mode" : "up in firmware mode");
}

size_t PrinterSim::TakeOutput(uint8_t* data, size_t capacity, uint64_t nowMs)
{
    Advance(nowMs);
    if (dropped)
        return 0;
    size_t taken = 0;
    while (taken < capacity && !output.empty() && output.front().releaseMs <= nowMs) {
        std::string& bytes = output.front().bytes;
        const size_t n = std::min(capacity - taken, bytes.size());
        std::copy_n(bytes.begin(), n, data + taken);
        taken += n;
        bytes.erase(0, n);
        if (bytes.empty())
            output.pop_front();
    }
    return taken;
}

int PrinterSim::SetLine(uint32_t lineSpeed, uint8_t dataBits, uint8_t parity, uint8_t stopBits,
                        uint64_t nowMs, bool request)
{
    const std::string settings = std::to_string(lineSpeed) + " " + std::to_string(dataBits) +
                                 "NOEMS"[parity < 5 ? parity : 0] + std::to_string(stopBits);
    if (config.refuseSerialConfig && request) {
        ++linesRefused;
        Note(nowMs, "line settings " + settings + " refused");
        return 0;
    }
    if (lineSpeed != lineBaud)
        Note(nowMs, lineSpeed == 0 ? std::string("no serial line") : "line settings " + settings);
    lineBaud = lineSpeed;
    return 1;
}

void PrinterSim::Reconnect(uint64_t nowMs)
{
    if (!dropped)
        return;
    dropped = false;
    Note(nowMs, "connected again");
}

uint64_t PrinterSim::TimeOfByte(size_t index) const
{
    auto it = std::upper_bound(record.begin(), record.end(), index,
                               [](size_t i, const ReceivedRun& run) { return i < run.offset; });
    return it == record.begin() ? 0 : std::prev(it)->timeMs;
}

} // namespace marlet::sim
