#include "protocol/Commands.h"

#include "app/ProcessValues.h"

#include <algorithm>
#include <cstring>

namespace marlet {

namespace {

ByteString Bytes(std::initializer_list<uint8_t> bytes) { return ByteString(bytes.begin(), bytes.end()); }

constexpr SpeedRow kSpeedRows[] = {
    {0x26, "baud=38400 parity=N data=8 stop=2"},  {0x39, "baud=57600 parity=N data=8 stop=2"},
    {0x73, "baud=115200 parity=N data=8 stop=2"}, {0xE6, "baud=230400 parity=N data=8 stop=2"},
    {0x2E, "baud=460800 parity=N data=8 stop=2"},
};

constexpr uint32_t kDrainTimeMs = 10000;
constexpr uint32_t kDrainBytes = 64 * 1024;
constexpr int kFollowUpBelow = 5;

} // namespace

const ByteString BootRevisionQuery = Bytes({0x00, 0x02, 0x42});
const ByteString FlashIdQuery = Bytes({0x02, 0x45});
const ByteString FirmwareRevisionQuery = Bytes({0x02, 0x4B});
const ByteString StatusQuery = Bytes({0x05, 0x15});
const ByteString ResetSequence =
    Bytes({0x1B, 0x79, 0x02, 0x1B, 0x79, 0x08, 0x1B, 0x7E, 0x7E, 0x01, 0x1B, 0x7E, 0x78, 0xFF});

const char* const BootSetup = "baud=19200 parity=N data=8 stop=2";

ByteString SpeedChange(uint8_t code) { return Bytes({0x02, 0x48, code}); }

const SpeedRow* SpeedRowFor(int32_t speedIndex)
{
    if (speedIndex < 1 || speedIndex > 5)
        return nullptr;
    return &kSpeedRows[speedIndex - 1];
}

std::string ReplyText(const uint8_t* reply, size_t count)
{
    size_t length = 0;
    while (length < count && reply[length] >= 0x20)
        ++length;
    return std::string(reinterpret_cast<const char*>(reply), length);
}

bool FindStatusRevision(const StatusBuffer& reply, std::string& revision)
{
    static const char kMarker[] = "REV:";
    const size_t markerLength = sizeof kMarker - 1;
    const size_t lastOffset = StatusReplyReadSize - 1;
    size_t at = 0;
    for (; at <= lastOffset; ++at) {
        if (std::memcmp(reply.data() + at, kMarker, markerLength) == 0)
            break;
    }
    if (at > lastOffset)
        return false;
    // The buffer is larger than the read, so a zero byte always ends these searches.
    size_t dash = at;
    while (dash < reply.size() && reply[dash] != 0 && reply[dash] != '-')
        ++dash;
    if (dash >= reply.size() || reply[dash] != '-')
        return false;
    revision.clear();
    for (size_t i = dash + 1; i < reply.size() && i <= dash + 4 && reply[i] != 0; ++i)
        revision += char(reply[i]);
    return true;
}

bool RevisionMatches(const std::string& reported, const std::string& expected)
{
    // Only the first four characters take part, and text ends at a zero byte.
    auto firstFour = [](const std::string& text) {
        const size_t end = std::min(text.find('\0'), text.size());
        return text.substr(0, std::min<size_t>(end, 4));
    };
    return firstFour(reported) == firstFour(expected);
}

TimeoutPair TimeoutsFor(Exchange exchange, int portType)
{
    const bool device = portType == PortTypeDevice;
    switch (exchange) {
    case Exchange::PrinterInformation:
    case Exchange::StatusQuery:
        return device ? TimeoutPair{500, 10} : TimeoutPair{3500, 50};
    case Exchange::BootModeCheck:
        return device ? TimeoutPair{500, 10} : TimeoutPair{10000, 130};
    case Exchange::ImageTransfer:
        break;
    }
    return {10000, 130};
}

void ApplyFlowControl(IOComm& comm)
{
    comm.SetHandshake(XonXoff != 0 ? HandshakeXonXoff : HandshakeHardware);
}

void PrepareExchange(IOComm& comm, Exchange exchange)
{
    const TimeoutPair pair = TimeoutsFor(exchange, comm.GetPortType());
    comm.SetTimeouts(pair.constant, pair.multiplier);
    ApplyFlowControl(comm);
}

void DrainInput(IOComm& comm, IClock& clock, uint8_t* buffer, int piece)
{
    const uint32_t start = clock.TickCount();
    uint32_t drained = 0;
    while (drained < kDrainBytes && uint32_t(clock.TickCount() - start) < kDrainTimeMs) {
        const int count = comm.Input(buffer, piece);
        if (count <= 0)
            break;
        drained += uint32_t(count);
    }
}

QueryResult RunQuery(IOComm& comm, IClock& clock, const ByteString& command, uint8_t* buffer,
                     size_t bufferSize, int readSize, bool followUp)
{
    QueryResult result;
    if (comm.OutputString(command) == 0)
        return result;
    result.written = true;
    clock.Sleep(100);
    if (comm.GetPortType() != PortTypeDevice)
        comm.WaitUntilSent(2000);
    std::memset(buffer, 0, bufferSize);
    result.count = std::max(0, comm.Input(buffer, readSize));
    result.received = result.count;
    if (followUp && result.count < kFollowUpBelow &&
        size_t(result.received) + size_t(readSize) <= bufferSize) {
        result.count = std::max(0, comm.Input(buffer + result.received, readSize));
        result.received += result.count;
    }
    return result;
}

} // namespace marlet
