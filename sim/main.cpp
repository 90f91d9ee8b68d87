// marlet-printer-sim: serves the simulated printer on a loopback TCP port
// and/or a pseudo-terminal, for demos and end-to-end tests. One printer,
// whatever connects: a client that closes and connects again finds it as it
// left it.

#include "sim/PrinterSim.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using marlet::sim::Mode;
using marlet::sim::PrinterSim;
using marlet::sim::ReplyShape;
using marlet::sim::SimConfig;

namespace {

volatile sig_atomic_t stopSignal = 0;

void OnSignal(int signal) { stopSignal = signal; }

const char usage[] =
    "usage: marlet-printer-sim [--tcp [HOST:]PORT] [--pty LINK] [options]\n"
    "  --tcp [HOST:]PORT      serve on TCP (HOST 127.0.0.1 unless given; PORT 0 picks a free one)\n"
    "  --pty LINK             serve on a pseudo-terminal reached through the symlink LINK\n"
    "  --mode boot|firmware   mode at power-up (default boot)\n"
    "  --boot-rev TEXT        boot loader revision reply\n"
    "  --flash-id TEXT        flash id reply\n"
    "  --fw-rev TEXT          firmware revision reply of the boot loader\n"
    "  --status-rev TEXT      revision the firmware reports when the image carries none\n"
    "  --model TEXT           model in the status reply\n"
    "  --status-text TEXT     status reply; {model} and {rev} are replaced\n"
    "  --frame NAME:LEAD:TRAIL  bytes (hex) before and after a reply; NAME boot-rev, flash-id,\n"
    "                         fw-rev, status or all (default trail 0d)\n"
    "  --split-fw-rev N:MS    send the firmware revision reply as N bytes, the rest MS later\n"
    "  --silent NAME          do not answer that query (repeatable)\n"
    "  --reply-delay-ms MS    delay before a reply (default 5)\n"
    "  --quiet-ms MS          quiet time before the image is programmed (at most 1000; default 1000)\n"
    "  --reset-into boot|firmware  mode after the reset sequence (default firmware)\n"
    "  --no-reply             answer nothing\n"
    "  --slow BYTES_PER_S     read slowly\n"
    "  --stall-at N[:MS]      stop reading after N bytes, for MS (for good without MS)\n"
    "  --xoff-at N[:MS]       send XOFF after N bytes and XON MS later (hold for good without MS)\n"
    "  --drop-at N            drop the connection after N bytes (once)\n"
    "  --refuse-config        refuse serial line settings (a pty's settings are put back)\n"
    "  --record FILE          write every received byte with its time at exit\n"
    "  --image-out FILE       write the received image at exit\n"
    "  --exit-after-flash     exit once an image was programmed and a status query answered\n"
    "  --grace-ms MS          ...or this long after programming (default 30000)\n";

struct Options {
    bool tcp = false;
    std::string tcpHost = "127.0.0.1";
    int tcpPort = 0;
    std::string ptyLink;
    SimConfig config;
    std::string recordPath;
    std::string imagePath;
    bool exitAfterFlash = false;
    uint32_t graceMs = 30000;
};

bool ParseNumber(const std::string& text, uint64_t& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 18)
        return false;
    value = std::stoull(text);
    return true;
}

// "N" or "N:MS".
bool ParseCountAndMs(const std::string& text, uint64_t& count, uint32_t& ms)
{
    const size_t colon = text.find(':');
    uint64_t milliseconds = 0;
    if (!ParseNumber(text.substr(0, colon), count))
        return false;
    if (colon != std::string::npos &&
        (!ParseNumber(text.substr(colon + 1), milliseconds) || milliseconds > 0xFFFFFFFF))
        return false;
    ms = static_cast<uint32_t>(milliseconds);
    return true;
}

bool ParseHex(const std::string& text, std::string& bytes)
{
    bytes.clear();
    if (text == "none")
        return true;
    if (text.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = text.substr(i, 2);
        const long value = std::strtol(pair.c_str(), &end, 16);
        if (*end != '\0' || pair.find_first_of("+- ") != std::string::npos)
            return false;
        bytes += static_cast<char>(value);
    }
    return true;
}

std::vector<ReplyShape*> Shapes(SimConfig& config, const std::string& name)
{
    if (name == "boot-rev")
        return {&config.bootRev};
    if (name == "flash-id")
        return {&config.flashId};
    if (name == "fw-rev")
        return {&config.firmwareRev};
    if (name == "status")
        return {&config.status};
    if (name == "all")
        return {&config.bootRev, &config.flashId, &config.firmwareRev, &config.status};
    return {};
}

bool ParseMode(const std::string& text, Mode& mode)
{
    if (text == "boot")
        mode = Mode::BootLoad;
    else if (text == "firmware")
        mode = Mode::Firmware;
    else
        return false;
    return true;
}

// Returns 1 to run, 0 on a usage error (the message is printed), -1 after the help.
int ParseOptions(int argc, char** argv, Options& options)
{
    SimConfig& config = options.config;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        std::string value;
        const size_t equals = option.find('=');
        const bool inlineValue = option.rfind("--", 0) == 0 && equals != std::string::npos;
        if (inlineValue) {
            value = option.substr(equals + 1);
            option = option.substr(0, equals);
        }
        auto flag = [&]() { return !inlineValue; };
        auto next = [&]() {
            if (inlineValue)
                return true;
            if (i + 1 >= argc)
                return false;
            value = argv[++i];
            return true;
        };
        uint64_t number = 0;
        bool ok = true;
        if (option == "--help" || option == "-h") {
            std::fputs(usage, stdout);
            return -1;
        } else if (option == "--tcp") {
            ok = next();
            const size_t colon = value.rfind(':');
            if (ok && colon != std::string::npos)
                options.tcpHost = value.substr(0, colon);
            if (options.tcpHost.size() > 2 && options.tcpHost.front() == '[' && options.tcpHost.back() == ']')
                options.tcpHost = options.tcpHost.substr(1, options.tcpHost.size() - 2);
            ok = ok && ParseNumber(value.substr(colon == std::string::npos ? 0 : colon + 1), number) &&
                 number <= 65535 && !options.tcpHost.empty();
            options.tcp = true;
            options.tcpPort = static_cast<int>(number);
        } else if (option == "--pty") {
            ok = next() && !value.empty();
            options.ptyLink = value;
        } else if (option == "--mode") {
            ok = next() && ParseMode(value, config.mode);
        } else if (option == "--reset-into") {
            ok = next() && ParseMode(value, config.resetInto);
        } else if (option == "--boot-rev") {
            ok = next();
            config.bootRev.text = value;
        } else if (option == "--flash-id") {
            ok = next();
            config.flashId.text = value;
        } else if (option == "--fw-rev") {
            ok = next();
            config.firmwareRev.text = value;
        } else if (option == "--status-rev") {
            ok = next();
            config.defaultRev = value;
        } else if (option == "--model") {
            ok = next();
            config.model = value;
        } else if (option == "--status-text") {
            ok = next();
            config.status.text = value;
        } else if (option == "--frame") {
            ok = next();
            const size_t first = value.find(':');
            const size_t second = first == std::string::npos ? first : value.find(':', first + 1);
            std::string lead, trail;
            ok = ok && second != std::string::npos &&
                 ParseHex(value.substr(first + 1, second - first - 1), lead) &&
                 ParseHex(value.substr(second + 1), trail);
            const auto shapes = ok ? Shapes(config, value.substr(0, first)) : std::vector<ReplyShape*>{};
            ok = ok && !shapes.empty();
            for (ReplyShape* shape : shapes) {
                shape->lead = lead;
                shape->trail = trail;
            }
        } else if (option == "--split-fw-rev") {
            uint32_t gap = 0;
            ok = next() && ParseCountAndMs(value, number, gap) && number > 0;
            config.firmwareRev.splitAt = number;
            config.firmwareRev.splitGapMs = gap;
        } else if (option == "--silent") {
            ok = next();
            const auto shapes = Shapes(config, value);
            ok = ok && !shapes.empty();
            for (ReplyShape* shape : shapes)
                shape->silent = true;
        } else if (option == "--reply-delay-ms") {
            ok = next() && ParseNumber(value, number) && number <= 60000;
            config.replyDelayMs = static_cast<uint32_t>(number);
        } else if (option == "--quiet-ms") {
            ok = next() && ParseNumber(value, number) && number <= 1000;
            config.quietMs = static_cast<uint32_t>(number);
        } else if (option == "--no-reply") {
            ok = flag();
            config.noReply = true;
        } else if (option == "--slow") {
            ok = next() && ParseNumber(value, number) && number > 0 && number <= 0xFFFFFFFF;
            config.acceptBytesPerSecond = static_cast<uint32_t>(number);
        } else if (option == "--stall-at") {
            ok = next() && ParseCountAndMs(value, number, config.stallMs);
            config.stallAtByte = number;
        } else if (option == "--xoff-at") {
            ok = next() && ParseCountAndMs(value, number, config.xoffHoldMs);
            config.xoffAtByte = number;
        } else if (option == "--drop-at") {
            ok = next() && ParseNumber(value, number) && number > 0;
            config.dropAtByte = number;
        } else if (option == "--refuse-config") {
            ok = flag();
            config.refuseSerialConfig = true;
        } else if (option == "--record") {
            ok = next() && !value.empty();
            options.recordPath = value;
        } else if (option == "--image-out") {
            ok = next() && !value.empty();
            options.imagePath = value;
        } else if (option == "--exit-after-flash") {
            ok = flag();
            options.exitAfterFlash = true;
        } else if (option == "--grace-ms") {
            ok = next() && ParseNumber(value, number) && number <= 0xFFFFFFFF;
            options.graceMs = static_cast<uint32_t>(number);
        } else {
            std::fprintf(stderr, "marlet-printer-sim: unknown option %s\n%s", argv[i], usage);
            return 0;
        }
        if (!ok) {
            std::fprintf(stderr, "marlet-printer-sim: bad value for %s\n%s", option.c_str(), usage);
            return 0;
        }
    }
    if (!options.tcp && options.ptyLink.empty()) {
        std::fprintf(stderr, "marlet-printer-sim: give --tcp or --pty (or both)\n%s", usage);
        return 0;
    }
    return 1;
}

uint64_t NowMs()
{
    static const auto start = std::chrono::steady_clock::now();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count());
}

void Log(const std::string& text)
{
    std::fprintf(stderr, "[%8.3f] %s\n", static_cast<double>(NowMs()) / 1000.0, text.c_str());
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// A connection's descriptor with the bytes still to go out on it.
struct Link {
    int fd = -1;
    std::string outbound;
};

// Writes what it can of link.outbound; false when the other side is gone.
bool Flush(Link& link, bool socket)
{
    while (!link.outbound.empty()) {
        const ssize_t n = socket ? send(link.fd, link.outbound.data(), link.outbound.size(), MSG_NOSIGNAL)
                                 : write(link.fd, link.outbound.data(), link.outbound.size());
        if (n > 0) {
            link.outbound.erase(0, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return true;
        return false;
    }
    return true;
}

int OpenListener(const Options& options)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(options.tcpPort);
    if (getaddrinfo(options.tcpHost.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr) {
        std::fprintf(stderr, "marlet-printer-sim: cannot resolve %s\n", options.tcpHost.c_str());
        return -1;
    }
    const int fd = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    const int on = 1;
    if (fd >= 0)
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (fd < 0 || bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, 4) != 0) {
        std::fprintf(stderr, "marlet-printer-sim: cannot listen on %s:%d: %s\n", options.tcpHost.c_str(),
                     options.tcpPort, std::strerror(errno));
        freeaddrinfo(found);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    freeaddrinfo(found);
    SetNonBlocking(fd);
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    char host[NI_MAXHOST] = "";
    char service[NI_MAXSERV] = "";
    getnameinfo(reinterpret_cast<sockaddr*>(&bound), length, host, sizeof host, service, sizeof service,
                NI_NUMERICHOST | NI_NUMERICSERV);
    std::printf("listening %s:%s\n", host, service);
    std::fflush(stdout);
    return fd;
}

uint32_t BaudOf(speed_t speed)
{
    static const struct {
        speed_t code;
        uint32_t baud;
    } table[] = {{B0, 0},           {B300, 300},       {B1200, 1200},     {B2400, 2400},
                 {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
                 {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
                 {B500000, 500000}, {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000}};
    for (const auto& row : table)
        if (row.code == speed)
            return row.baud;
    return 0;
}

// The serial line of a pseudo-terminal: the master is ours, the slave is
// reached through a symlink. A slave descriptor of our own stays open so the
// pty keeps its settings across the program's open/close cycles. Its
// exclusive-use flag would outlive the program's close as well (and make the
// next open fail for anyone but root), so it is cleared whenever the slave is
// closed, which inotify reports.
struct Pty {
    std::string linkPath;
    Link master;
    int slave = -1;
    int closes = -1; // inotify descriptor watching the slave's opens and closes
    termios accepted{};

    bool Open()
    {
        struct stat info {};
        if (lstat(linkPath.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
            std::fprintf(stderr, "marlet-printer-sim: %s exists and is not a symlink\n", linkPath.c_str());
            return false;
        }
        char name[256] = "";
        termios raw{};
        if (openpty(&master.fd, &slave, name, nullptr, nullptr) != 0) {
            std::fprintf(stderr, "marlet-printer-sim: openpty failed: %s\n", std::strerror(errno));
            return false;
        }
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        raw.c_cflag |= CLOCAL | CREAD | CSTOPB;
        cfsetispeed(&raw, B19200);
        cfsetospeed(&raw, B19200);
        tcsetattr(slave, TCSANOW, &raw);
        tcgetattr(master.fd, &accepted);
        SetNonBlocking(master.fd);
        // Point the link at the new slave in one step (a temporary link renamed over it).
        const std::string temporary = linkPath + ".new";
        unlink(temporary.c_str());
        if (symlink(name, temporary.c_str()) != 0 || rename(temporary.c_str(), linkPath.c_str()) != 0) {
            std::fprintf(stderr, "marlet-printer-sim: cannot link %s to %s: %s\n", linkPath.c_str(), name,
                         std::strerror(errno));
            Close();
            return false;
        }
        slaveName = name;
        closes = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (closes >= 0 && inotify_add_watch(closes, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
            close(closes);
            closes = -1;
        }
        return true;
    }

    void Close()
    {
        for (int* fd : {&master.fd, &slave, &closes}) {
            if (*fd >= 0)
                close(*fd);
            *fd = -1;
        }
        master.outbound.clear();
    }

    // Reads the open and close events of the slave; after a close, the next
    // open must not find the line still reserved.
    void TakeOpensAndCloses()
    {
        alignas(inotify_event) char events[4096];
        ssize_t n;
        while ((n = read(closes, events, sizeof events)) > 0) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if (event->mask & IN_OPEN) {
                    Log("pty opened");
                } else if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                    ioctl(slave, TIOCNXCL);
                    Log("pty closed");
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    void RemoveLink()
    {
        struct stat info {};
        if (lstat(linkPath.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
            unlink(linkPath.c_str());
    }

    // Tells the printer about the line settings the program chose on the slave:
    // a change is a request the printer may refuse (the settings are then put
    // back); announce tells it the unchanged line as well.
    void FollowLine(PrinterSim& sim, uint64_t now, bool announce)
    {
        termios seen{};
        if (tcgetattr(master.fd, &seen) != 0)
            return;
        const auto framing = [](const termios& t) { return t.c_cflag & (CSIZE | CSTOPB | PARENB | PARODD); };
        const bool changed =
            cfgetospeed(&seen) != cfgetospeed(&accepted) || framing(seen) != framing(accepted);
        if (!changed && !announce)
            return;
        const uint32_t baud = BaudOf(cfgetospeed(&seen));
        const uint8_t stopBits = (seen.c_cflag & CSTOPB) ? 2 : 1;
        const uint8_t parity = !(seen.c_cflag & PARENB) ? 0 : (seen.c_cflag & PARODD) ? 1 : 2;
        const tcflag_t size = seen.c_cflag & CSIZE;
        const uint8_t dataBits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
        if (!changed) {
            sim.SetLine(baud, dataBits, parity, stopBits, now, false);
            return;
        }
        Log("pty line " + std::to_string(baud) + " baud, " + std::to_string(stopBits) + " stop bit" +
            (stopBits == 2 ? "s" : ""));
        if (sim.SetLine(baud, dataBits, parity, stopBits, now) == 0) {
            tcsetattr(master.fd, TCSANOW, &accepted);
            Log("pty line settings put back");
            return;
        }
        accepted = seen;
    }

    // Bytes the printer sent that the program has not read yet.
    int Unread() const
    {
        int count = 0;
        if (slave < 0 || ioctl(slave, FIONREAD, &count) != 0)
            return 0;
        return count;
    }

    std::string slaveName;
};

// Closes a client without losing what the program has not read yet: a close
// with unread input would reset the connection and throw our last bytes away.
void CloseGently(Link& link)
{
    Flush(link, true);
    shutdown(link.fd, SHUT_WR);
    const uint64_t until = NowMs() + 1000;
    char scrap[4096];
    for (uint64_t now = NowMs(); now < until; now = NowMs()) {
        pollfd fd{link.fd, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(until - now)) <= 0)
            break;
        const ssize_t n = recv(link.fd, scrap, sizeof scrap, 0);
        if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR)))
            break;
    }
    close(link.fd);
    link = {};
}

void WriteRecord(const std::string& path, const PrinterSim& sim)
{
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        std::fprintf(stderr, "marlet-printer-sim: cannot write %s\n", path.c_str());
        return;
    }
    // One line per 32 bytes at most: the time in ms, then the bytes in hex.
    const auto& bytes = sim.Received();
    for (const auto& run : sim.Record()) {
        for (size_t at = 0; at < run.length; at += 32) {
            std::fprintf(file, "%llu", static_cast<unsigned long long>(run.timeMs));
            for (size_t i = at; i < run.length && i < at + 32; ++i)
                std::fprintf(file, " %02x", bytes[run.offset + i]);
            std::fputc('\n', file);
        }
    }
    std::fclose(file);
}

void WriteImage(const std::string& path, const PrinterSim& sim)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(sim.Image().data()),
               static_cast<std::streamsize>(sim.Image().size()));
    if (!file)
        std::fprintf(stderr, "marlet-printer-sim: cannot write %s\n", path.c_str());
}

void PrintSummary(const PrinterSim& sim)
{
    std::printf("summary\n");
    std::printf("bytes received: %zu\n", sim.Received().size());
    std::printf("image bytes: %zu\n", sim.Image().size());
    std::printf("image crc32: %08x\n", sim.ImageCrc());
    std::printf("images programmed: %d\n", sim.ImagesProgrammed());
    std::printf("final revision: %s\n", sim.Revision().c_str());
    std::printf("speed: %u\n", sim.Baud());
    std::printf("resets: %d\n", sim.ResetsSeen());
    std::printf("status queries answered: %d\n", sim.StatusQueriesAnswered());
    std::fflush(stdout);
}

enum class Active { None, Tcp, Pty };

} // namespace

int main(int argc, char** argv)
{
    Options options;
    const int parsed = ParseOptions(argc, argv, options);
    if (parsed <= 0)
        return parsed == 0 ? 2 : 0;
    NowMs();

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    PrinterSim sim(options.config);
    int listener = -1;
    Link client;
    Pty pty;
    pty.linkPath = options.ptyLink;

    if (options.tcp && (listener = OpenListener(options)) < 0)
        return 2;
    if (!options.ptyLink.empty()) {
        if (!pty.Open())
            return 2;
        std::printf("pty %s -> %s\n", pty.linkPath.c_str(), pty.slaveName.c_str());
        std::fflush(stdout);
        pty.FollowLine(sim, NowMs(), true);
    }

    Active active = options.ptyLink.empty() ? Active::Tcp : Active::Pty;
    size_t eventsShown = 0;
    int programmedSeen = 0;
    uint64_t programmedAt = 0;
    int statusBeforeProgram = 0;
    uint64_t answeredAt = 0;
    std::vector<uint8_t> buffer(65536);

    while (stopSignal == 0) {
        uint64_t now = NowMs();
        sim.Tick(now);
        if (pty.master.fd >= 0 && active == Active::Pty)
            pty.FollowLine(sim, now, false);

        // The printer's output goes to the connection that spoke last; with no one there it is lost.
        const size_t out = sim.TakeOutput(buffer.data(), buffer.size(), now);
        if (out > 0) {
            Link* target = active == Active::Pty ? &pty.master : active == Active::Tcp ? &client : nullptr;
            if (target != nullptr && target->fd >= 0)
                target->outbound.append(reinterpret_cast<const char*>(buffer.data()), out);
        }
        if (client.fd >= 0 && !Flush(client, true)) {
            Log("client gone");
            close(client.fd);
            client = {};
        }
        if (pty.master.fd >= 0)
            Flush(pty.master, false);

        const size_t room = sim.Accept(buffer.size(), now);
        std::vector<pollfd> fds;
        const auto watch = [&](int fd, short events) {
            if (fd < 0 || events == 0)
                return -1;
            fds.push_back({fd, events, 0});
            return static_cast<int>(fds.size() - 1);
        };
        const int listenAt = watch(client.fd < 0 ? listener : -1, POLLIN);
        const int clientAt = watch(
            client.fd, static_cast<short>((room > 0 ? POLLIN : 0) | (client.outbound.empty() ? 0 : POLLOUT)));
        const int ptyAt =
            watch(pty.master.fd,
                  static_cast<short>((room > 0 ? POLLIN : 0) | (pty.master.outbound.empty() ? 0 : POLLOUT)));
        const int closesAt = watch(pty.closes, POLLIN);
        const int timeout = sim.HasPendingOutput() || sim.ImageInProgress() ? 5 : 20;
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
            break;
        now = NowMs();

        if (listenAt >= 0 && (fds[listenAt].revents & POLLIN)) {
            const int fd = accept(listener, nullptr, nullptr);
            if (fd >= 0) {
                SetNonBlocking(fd);
                const int on = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                client.fd = fd;
                Log("client connected");
            }
        }
        if (clientAt >= 0 && (fds[clientAt].revents & (POLLIN | POLLHUP | POLLERR))) {
            const size_t want = sim.Accept(buffer.size(), now);
            const ssize_t n = want > 0 ? recv(client.fd, buffer.data(), want, 0) : -1;
            if (n > 0) {
                if (active != Active::Tcp)
                    sim.SetLine(0, 8, 0, 1, now, false); // a socket has no line speed
                active = Active::Tcp;
                sim.Feed(buffer.data(), static_cast<size_t>(n), now);
            } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && want > 0)) {
                Flush(client, true);
                Log("client closed");
                close(client.fd);
                client = {};
            }
        }
        if (closesAt >= 0 && (fds[closesAt].revents & POLLIN))
            pty.TakeOpensAndCloses();
        if (ptyAt >= 0 && (fds[ptyAt].revents & POLLIN)) {
            // The program sets the line before it writes: look again before taking its bytes.
            pty.FollowLine(sim, now, active != Active::Pty);
            const size_t want = sim.Accept(buffer.size(), now);
            const ssize_t n = want > 0 ? read(pty.master.fd, buffer.data(), want) : -1;
            if (n > 0) {
                active = Active::Pty;
                sim.Feed(buffer.data(), static_cast<size_t>(n), now);
            }
        }

        if (sim.Dropped()) {
            if (active == Active::Tcp && client.fd >= 0) {
                // An abortive close: the program sees a reset, as with a pulled cable.
                linger abort{1, 0};
                setsockopt(client.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                close(client.fd);
                client = {};
                Log("dropped the TCP connection");
            } else if (active == Active::Pty && pty.master.fd >= 0) {
                pty.Close();
                if (!pty.Open())
                    break;
                Log("dropped the pty; " + pty.linkPath + " -> " + pty.slaveName + " now");
                pty.FollowLine(sim, now, true);
            }
            sim.Reconnect(now);
        }

        for (; eventsShown < sim.Events().size(); ++eventsShown)
            Log(sim.Events()[eventsShown].text);

        if (sim.ImagesProgrammed() != programmedSeen) {
            programmedSeen = sim.ImagesProgrammed();
            programmedAt = now;
            statusBeforeProgram = sim.StatusQueriesAnswered();
        }
        if (options.exitAfterFlash && programmedSeen > 0) {
            // Once the status reply is out, give the program up to 2 s to read it off the pty.
            if (answeredAt == 0 && sim.StatusQueriesAnswered() > statusBeforeProgram &&
                !sim.HasPendingOutput() && client.outbound.empty() && pty.master.outbound.empty())
                answeredAt = now;
            const bool delivered = answeredAt != 0 && (pty.Unread() == 0 || now >= answeredAt + 2000);
            if (delivered || now >= programmedAt + options.graceMs)
                break;
        }
    }

    if (stopSignal != 0)
        Log(stopSignal == SIGINT ? "interrupted" : "terminated");
    if (client.fd >= 0)
        CloseGently(client);
    if (listener >= 0)
        close(listener);
    if (!options.ptyLink.empty()) {
        pty.Close();
        pty.RemoveLink();
    }
    if (!options.recordPath.empty())
        WriteRecord(options.recordPath, sim);
    if (!options.imagePath.empty())
        WriteImage(options.imagePath, sim);
    PrintSummary(sim);
    return 0;
}
