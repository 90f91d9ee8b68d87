#include "platform/posix/PosixCommDevice.h"

#include "platform/posix/SetupString.h"
#include "platform/posix/Termios.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <linux/lp.h>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace marlet {
namespace {

constexpr uint32_t MaxDword = 0xFFFFFFFFu;
constexpr int ParallelRetryMs = 10; // lp has no poll: retry a refused write after this pause

using Clock = std::chrono::steady_clock;

int64_t MsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

int PollTimeout(int64_t ms) { return ms < 0 ? -1 : int(std::min<int64_t>(ms, INT_MAX)); }

const char* ParityLetter(uint8_t parity)
{
    switch (parity) {
    case OddParity:
        return "O";
    case EvenParity:
        return "E";
    case MarkParity:
        return "M";
    case SpaceParity:
        return "S";
    default:
        return "N";
    }
}

const char* StopText(uint8_t stop)
{
    switch (stop) {
    case One5StopBits:
        return "1.5";
    case TwoStopBits:
        return "2";
    default:
        return "1";
    }
}

const char* FlowText(const Dcb& dcb)
{
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == 2)
        return "hardware";
    if (dcb.fOutX)
        return "xon";
    return "none";
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trimmed(std::string text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    size_t start = 0;
    while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start])))
        ++start;
    return text.substr(start);
}

bool ApplyFlow(const std::string& answer, Dcb& dcb)
{
    const std::string flow = Lower(answer);
    if (flow == "none" || flow == "n") {
        dcb.fOutX = dcb.fInX = 0;
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = 0;
        if (dcb.fRtsControl == 2)
            dcb.fRtsControl = 1;
    } else if (flow == "xon" || flow == "x") {
        dcb.fOutX = dcb.fInX = 1;
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = 0;
        if (dcb.fRtsControl == 2)
            dcb.fRtsControl = 1;
        if (dcb.XonChar == dcb.XoffChar) {
            dcb.XonChar = 17;
            dcb.XoffChar = 19;
        }
    } else if (flow == "hardware" || flow == "h") {
        dcb.fOutX = dcb.fInX = 0;
        dcb.fOutxCtsFlow = 1;
        dcb.fRtsControl = 2;
    } else {
        return false;
    }
    return true;
}

} // namespace

bool AskCommConfig(std::istream& in, std::ostream& out, const std::string& device, CommConfig& config)
{
    Dcb dcb = config.dcb;
    out << "Serial settings of " << device << " (an empty answer keeps the value in brackets)\n";

    // Asks one question until the answer is empty or accepted; false at the end of the input.
    auto ask = [&](const std::string& question, const std::string& current, auto accept) {
        while (true) {
            out << question << " [" << current << "]: " << std::flush;
            std::string line;
            if (!std::getline(in, line))
                return false;
            line = Trimmed(line);
            if (line.empty() || accept(line))
                return true;
            out << "Not a valid answer: " << line << "\n";
        }
    };
    // One member per question: a string without "stop=" would also reset the
    // stop bits, so the record keeps its own until that question.
    auto viaSetup = [&](const std::string& key) {
        return [&dcb, key](const std::string& answer) {
            Dcb probe = dcb;
            if (!ParseSetupString(key + "=" + answer, probe))
                return false;
            if (key != "stop")
                probe.StopBits = dcb.StopBits;
            dcb = probe;
            return true;
        };
    };

    const bool answered =
        ask("Speed", std::to_string(dcb.BaudRate),
            [&](const std::string& answer) {
                Dcb probe = dcb;
                if (!ParseSetupString("baud=" + answer, probe) || SpeedFor(probe.BaudRate) == B0)
                    return false;
                probe.StopBits = dcb.StopBits;
                dcb = probe;
                return true;
            }) &&
        ask("Parity (N, E, O, M, S)", ParityLetter(dcb.Parity), viaSetup("parity")) &&
        ask("Data bits (5-8)", std::to_string(dcb.ByteSize), viaSetup("data")) &&
        ask("Stop bits (1, 1.5, 2)", StopText(dcb.StopBits), viaSetup("stop")) &&
        ask("Flow control (none, xon, hardware)", FlowText(dcb),
            [&](const std::string& answer) { return ApplyFlow(answer, dcb); });
    if (!answered) {
        out << "\n";
        return false;
    }
    config.dcb = dcb;
    return true;
}

PosixCommDevice::PosixCommDevice(PortNaming& naming) : naming_(naming) {}

PosixCommDevice::PosixCommDevice(IRegistry& store, std::string root)
    : ownNaming_(std::make_unique<PortNaming>(store, std::move(root))), naming_(*ownNaming_)
{
}

PosixCommDevice::~PosixCommDevice()
{
    while (!ports_.empty())
        Close(ports_.begin()->first);
}

bool PosixCommDevice::Fail(int error)
{
    lastError_ = uint32_t(error);
    return false;
}

PosixCommDevice::Port* PosixCommDevice::Find(DeviceHandle handle)
{
    auto it = ports_.find(handle);
    if (it == ports_.end()) {
        lastError_ = EBADF;
        return nullptr;
    }
    return &it->second;
}

CommConfig PosixCommDevice::DefaultConfig()
{
    CommConfig config;
    config.dwSize = CommConfig::StoredSize;
    config.wVersion = 1;
    config.dwProviderSubType = 1; // an RS-232 port
    Dcb& dcb = config.dcb;
    dcb.DCBlength = Dcb::StoredSize;
    dcb.BaudRate = 9600;
    dcb.fBinary = 1;
    dcb.fDtrControl = 1;
    dcb.fRtsControl = 1;
    dcb.ByteSize = 8;
    dcb.Parity = NoParity;
    dcb.StopBits = OneStopBit;
    dcb.XonChar = 17;
    dcb.XoffChar = 19;
    return config;
}

DeviceHandle PosixCommDevice::Open(const std::string& name, OpenMode mode)
{
    const PortNaming::Kind kind = PortNaming::Classify(name);
    const std::string path = naming_.DevicePathFor(name);
    if (path.empty()) {
        Fail(ENOENT);
        return InvalidDevice;
    }
    // The system console is never written to, whatever name leads to it.
    if (naming_.IsConsole(path)) {
        Fail(EACCES);
        return InvalidDevice;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Fail(errno);
        return InvalidDevice;
    }

    Port port;
    port.fd = fd;
    port.kind = kind;
    port.path = path;
    port.isTty = ::isatty(fd) == 1;
    port.exclusive = mode == OpenMode::Exclusive;
    if (port.exclusive) {
        // TIOCEXCL does not stop root; the lock stops every user of this program.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno == EWOULDBLOCK ? EBUSY : errno;
            ::close(fd);
            Fail(error);
            return InvalidDevice;
        }
        if (port.isTty)
            ::ioctl(fd, TIOCEXCL);
    }
    if (port.isTty) {
        // Image bytes must pass unchanged from the first byte on.
        termios tio{};
        if (::tcgetattr(fd, &tio) == 0) {
            MakeRaw(tio);
            ::tcsetattr(fd, TCSANOW, &tio);
        }
    }
    ports_[fd] = port;
    return fd;
}

bool PosixCommDevice::Close(DeviceHandle handle)
{
    Port* port = Find(handle);
    if (port == nullptr)
        return false;
    const int fd = port->fd;
    if (port->isTty && port->exclusive)
        ::ioctl(fd, TIOCNXCL); // a pty keeps the flag while its master lives
    ports_.erase(handle);
    // The descriptor is released even when close reports an error.
    if (::close(fd) != 0 && errno != EINTR)
        return Fail(errno);
    return true;
}

bool PosixCommDevice::GetCommConfig(DeviceHandle handle, CommConfig& config)
{
    Port* port = Find(handle);
    if (port == nullptr)
        return false;
    termios tio{};
    if (::tcgetattr(port->fd, &tio) != 0)
        return Fail(errno);
    CommConfig result = DefaultConfig();
    if (port->haveDcb)
        result.dcb = port->dcb;
    TermiosToDcb(tio, result.dcb);
    result.dcb.DCBlength = Dcb::StoredSize;
    config = result;
    return true;
}

bool PosixCommDevice::SetCommConfig(DeviceHandle handle, const CommConfig& config)
{
    Port* port = Find(handle);
    if (port == nullptr)
        return false;
    if (!port->isTty)
        return Fail(ENOTTY);
    termios tio{};
    if (::tcgetattr(port->fd, &tio) != 0)
        return Fail(errno);
    if (!DcbToTermios(config.dcb, tio))
        return Fail(EINVAL);
    if (::tcsetattr(port->fd, TCSANOW, &tio) != 0)
        return Fail(errno);
    // Lines a pty does not have are simply not there to set.
    const ModemLineChange lines = ModemLinesFor(config.dcb);
    if (lines.raise)
        ::ioctl(port->fd, TIOCMBIS, &lines.raise);
    if (lines.drop)
        ::ioctl(port->fd, TIOCMBIC, &lines.drop);
    port->dcb = config.dcb;
    port->haveDcb = true;
    return true;
}

bool PosixCommDevice::SetCommTimeouts(DeviceHandle handle, const CommTimeouts& timeouts)
{
    Port* port = Find(handle);
    if (port == nullptr)
        return false;
    port->timeouts = timeouts;
    return true;
}

bool PosixCommDevice::BuildCommDcb(const std::string& setup, Dcb& dcb)
{
    if (!ParseSetupString(setup, dcb))
        return Fail(EINVAL);
    return true;
}

bool PosixCommDevice::GetDefaultCommConfig(const std::string& device, CommConfig& config)
{
    if (PortNaming::Classify(device) != PortNaming::Kind::Serial || naming_.DevicePathFor(device).empty())
        return Fail(ENODEV);
    config = DefaultConfig();
    return true;
}

bool PosixCommDevice::CommConfigDialog(const std::string& device, WindowHandle owner, CommConfig& config)
{
    if (dialogHook_) {
        if (dialogHook_(device, owner, config))
            return true;
        return Fail(ECANCELED);
    }
    if (::isatty(STDIN_FILENO) != 1 || !AskCommConfig(std::cin, std::cerr, device, config))
        return Fail(ECANCELED);
    return true;
}

bool PosixCommDevice::ClearCommError(DeviceHandle handle, uint32_t& errors, CommStatus& status)
{
    Port* port = Find(handle);
    if (port == nullptr)
        return false;
    CommStatus result;
    uint32_t resultErrors = 0;
    if (port->kind == PortNaming::Kind::Parallel && !port->isTty) {
        int lp = 0;
        if (::ioctl(port->fd, LPGETSTATUS, &lp) != 0)
            return Fail(errno);
        resultErrors = CommErrorsFromLp(lp);
    } else {
        int outQueue = 0;
        int inQueue = 0;
        if (::ioctl(port->fd, TIOCOUTQ, &outQueue) != 0 || ::ioctl(port->fd, FIONREAD, &inQueue) != 0)
            return Fail(errno);
        result.cbOutQue = uint32_t(std::max(outQueue, 0));
        result.cbInQue = uint32_t(std::max(inQueue, 0));
        // Linux does not tell whether a received XOFF holds the output: fXoffHold stays false.
    }
    errors = resultErrors;
    status = result;
    return true;
}

bool PosixCommDevice::GetCommModemStatus(DeviceHandle handle, uint32_t& modemStatus)
{
    Port* port = Find(handle);
    if (port == nullptr)
        return false;
    int lines = 0;
    if (::ioctl(port->fd, TIOCMGET, &lines) != 0) {
        // A device without modem lines (a pseudo-terminal) never holds the output.
        if (errno == ENOTTY || errno == EINVAL) {
            modemStatus = uint32_t(MS_CTS_ON) | uint32_t(MS_DSR_ON);
            return true;
        }
        return Fail(errno);
    }
    modemStatus = ModemStatusFromLines(lines);
    return true;
}

int PosixCommDevice::WaitReady(const Port& port, bool forWrite, int timeoutMs)
{
    if (port.kind == PortNaming::Kind::Parallel && !port.isTty) {
        if (timeoutMs == 0)
            return 0;
        const int pause = timeoutMs < 0 ? ParallelRetryMs : std::min(timeoutMs, ParallelRetryMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        return 1;
    }
    pollfd p{port.fd, short(forWrite ? POLLOUT : POLLIN), 0};
    const int result = ::poll(&p, 1, timeoutMs);
    if (result < 0)
        return errno == EINTR ? 0 : -1;
    if (result > 0 && (p.revents & POLLNVAL)) {
        errno = EBADF;
        return -1;
    }
    return result;
}

bool PosixCommDevice::ReadFile(DeviceHandle handle, uint8_t* data, uint32_t length, uint32_t& read)
{
    read = 0;
    Port* port = Find(handle);
    if (port == nullptr)
        return false;
    if (length == 0)
        return true;

    // The platform's read time-outs: a total bound of multiplier x length +
    // constant, an interval bound between bytes once one arrived; MAXDWORD
    // interval with zero totals returns at once; MAXDWORD interval and
    // multiplier return as soon as anything arrived, waiting at most the constant.
    const CommTimeouts& t = port->timeouts;
    const Clock::time_point start = Clock::now();
    std::optional<Clock::time_point> deadline;
    int64_t intervalMs = 0;
    bool returnOnFirst = false;
    if (t.ReadIntervalTimeout == MaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
        t.ReadTotalTimeoutConstant == 0) {
        deadline = start;
    } else if (t.ReadIntervalTimeout == MaxDword && t.ReadTotalTimeoutMultiplier == MaxDword &&
               t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MaxDword) {
        deadline = start + std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
        returnOnFirst = true;
    } else {
        const uint64_t total = uint64_t(t.ReadTotalTimeoutMultiplier) * length + t.ReadTotalTimeoutConstant;
        if (total > 0)
            deadline = start + std::chrono::milliseconds(total);
        intervalMs = t.ReadIntervalTimeout;
    }

    uint32_t got = 0;
    Clock::time_point lastByte = start;
    while (got < length) {
        const ssize_t n = ::read(port->fd, data + got, length - got);
        if (n > 0) {
            got += uint32_t(n);
            lastByte = Clock::now();
            if (returnOnFirst)
                break;
            continue;
        }
        if (n == 0) {
            // A hung-up line reads as end of file: the device is gone.
            if (got > 0)
                break;
            return Fail(EIO);
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN) {
            const int error = errno;
            if (got > 0)
                break; // hand out what arrived; the next read reports the error
            return Fail(error);
        }
        const Clock::time_point now = Clock::now();
        int64_t wait = -1;
        if (deadline)
            wait = MsBetween(now, *deadline);
        if (got > 0 && intervalMs > 0) {
            const int64_t untilInterval = intervalMs - MsBetween(lastByte, now);
            wait = wait < 0 ? untilInterval : std::min(wait, untilInterval);
            if (untilInterval <= 0)
                break;
        }
        if (deadline && wait <= 0)
            break;
        if (WaitReady(*port, false, PollTimeout(wait)) < 0) {
            const int error = errno;
            if (got > 0)
                break;
            return Fail(error);
        }
    }
    read = got;
    return true;
}

bool PosixCommDevice::WriteFile(DeviceHandle handle, const uint8_t* data, uint32_t length, uint32_t& written)
{
    written = 0;
    Port* port = Find(handle);
    if (port == nullptr)
        return false;

    const CommTimeouts& t = port->timeouts;
    const uint64_t total = uint64_t(t.WriteTotalTimeoutMultiplier) * length + t.WriteTotalTimeoutConstant;
    const Clock::time_point start = Clock::now();
    Clock::time_point lastProgress = start;
    uint32_t got = 0;
    while (got < length) {
        const ssize_t n = ::write(port->fd, data + got, length - got);
        if (n > 0) {
            got += uint32_t(n);
            lastProgress = Clock::now();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            written = got;
            return Fail(errno);
        }
        // Nothing taken now: wait within the total bound, and never longer than
        // the stall limit since the last byte was accepted.
        const Clock::time_point now = Clock::now();
        int64_t wait = int64_t(stallLimitMs_) - MsBetween(lastProgress, now);
        if (total > 0)
            wait = std::min<int64_t>(wait, int64_t(total) - MsBetween(start, now));
        if (wait <= 0)
            break;
        if (WaitReady(*port, true, PollTimeout(wait)) < 0) {
            written = got;
            return Fail(errno);
        }
    }
    written = got;
    return true;
}

DeviceIoResult PosixCommDevice::WriteDevice(DeviceHandle handle, const uint8_t* data, uint32_t length,
                                            uint32_t timeoutMs, uint32_t& written)
{
    written = 0;
    Port* port = Find(handle);
    if (port == nullptr)
        return DeviceIoResult::Failed;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    uint32_t got = 0;
    while (got < length) {
        const ssize_t n = ::write(port->fd, data + got, length - got);
        if (n > 0) {
            got += uint32_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            written = got;
            Fail(errno);
            return DeviceIoResult::Failed;
        }
        const int64_t wait = MsBetween(Clock::now(), deadline);
        if (wait <= 0) {
            written = got;
            Fail(ETIMEDOUT);
            return DeviceIoResult::TimedOut;
        }
        if (WaitReady(*port, true, PollTimeout(wait)) < 0) {
            written = got;
            Fail(errno);
            return DeviceIoResult::Failed;
        }
    }
    written = got;
    return DeviceIoResult::Completed;
}

DeviceIoResult PosixCommDevice::ReadDevice(DeviceHandle handle, uint8_t* data, uint32_t length,
                                           uint32_t timeoutMs, uint32_t& read)
{
    read = 0;
    Port* port = Find(handle);
    if (port == nullptr)
        return DeviceIoResult::Failed;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        const ssize_t n = ::read(port->fd, data, length);
        if (n >= 0) {
            read = uint32_t(n);
            return DeviceIoResult::Completed;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN) {
            Fail(errno);
            return DeviceIoResult::Failed;
        }
        const int64_t wait = MsBetween(Clock::now(), deadline);
        if (wait <= 0) {
            Fail(ETIMEDOUT);
            return DeviceIoResult::TimedOut;
        }
        if (WaitReady(*port, false, PollTimeout(wait)) < 0) {
            Fail(errno);
            return DeviceIoResult::Failed;
        }
    }
}

bool PosixCommDevice::Healthy(const Port& port)
{
    struct stat open {};
    struct stat named {};
    if (::fcntl(port.fd, F_GETFL) == -1 || ::fstat(port.fd, &open) != 0)
        return false;
    // A removed device node (an unplugged printer) has no links left, and a
    // node made anew for a new device is another file.
    if (open.st_nlink == 0 || ::stat(port.path.c_str(), &named) != 0)
        return false;
    return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool PosixCommDevice::DeviceIoControl(DeviceHandle handle, uint32_t code, void* out, uint32_t outLength,
                                      uint32_t& returned)
{
    returned = 0;
    Port* port = Find(handle);
    if (port == nullptr)
        return false;
    switch (code) {
    case IoctlPortStatus:
        if (out == nullptr || outLength < 2)
            return Fail(EINVAL);
        if (!Healthy(*port))
            return Fail(ENODEV);
        std::memset(out, 0, 2);
        returned = 2;
        return true;
    case IoctlParQueryInformation: {
        if (out == nullptr || outLength < 1)
            return Fail(EINVAL);
        int lp = 0;
        if (::ioctl(port->fd, LPGETSTATUS, &lp) != 0)
            return Fail(errno);
        *static_cast<uint8_t*>(out) = ParallelStatusFromLp(lp);
        returned = 1;
        return true;
    }
    default:
        return Fail(EINVAL);
    }
}

} // namespace marlet
