#include "platform/posix/PosixSystem.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace marlet {

namespace {

constexpr size_t MaxLpstatOutput = 1 << 20;

bool StartsWithNoCase(const std::string& text, size_t at, const char* prefix)
{
    const size_t n = std::strlen(prefix);
    if (text.size() < at + n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[at + i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

bool IsHostNameChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

bool IsIpv6Char(char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'; }

// A decimal TCP port, 1 to 65535.
bool ParsePort(const std::string& text, uint16_t& port)
{
    if (text.empty() || text.size() > 5)
        return false;
    uint32_t value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        value = value * 10 + uint32_t(c - '0');
    }
    if (value == 0 || value > 65535)
        return false;
    port = uint16_t(value);
    return true;
}

// socket://[user@]HOST[:PORT][/...]: host and port; false for anything else.
bool ParseSocketUri(const std::string& uri, std::string& host, uint16_t& port)
{
    if (!StartsWithNoCase(uri, 0, "socket://"))
        return false;
    std::string authority = uri.substr(9);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    const size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority.erase(0, at + 1);

    std::string portText;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos)
            return false;
        host = authority.substr(1, close - 1);
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':')
                return false;
            portText = rest.substr(1);
        }
        if (host.empty() || !std::all_of(host.begin(), host.end(), IsIpv6Char))
            return false;
    } else {
        const size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (colon != std::string::npos)
            portText = authority.substr(colon + 1);
        if (host.empty() || !std::all_of(host.begin(), host.end(), IsHostNameChar))
            return false;
    }
    port = 9100;
    return portText.empty() || ParsePort(portText, port);
}

// What the port layer takes for a network name: a "." or ":" and more than 10 characters.
bool ReadAsNetworkName(const std::string& name)
{
    return name.size() > 10 && name.find_first_of(".:") != std::string::npos;
}

} // namespace

std::vector<SocketQueue> ParseLpstatDevices(const std::string& output)
{
    std::vector<SocketQueue> queues;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        static const char prefix[] = "device for ";
        if (line.rfind(prefix, 0) != 0)
            continue;
        const size_t separator = line.find(": ", sizeof prefix - 1);
        if (separator == std::string::npos)
            continue;
        SocketQueue queue;
        queue.queue = line.substr(sizeof prefix - 1, separator - (sizeof prefix - 1));
        std::string uri = line.substr(separator + 2);
        while (!uri.empty() && std::isspace(static_cast<unsigned char>(uri.back())))
            uri.pop_back();
        if (queue.queue.empty() || !ParseSocketUri(uri, queue.host, queue.port))
            continue;
        queues.push_back(std::move(queue));
    }
    return queues;
}

std::string RunLpstat(int timeoutMs)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return "";

    // The C locale keeps the "device for" lines in the form the parser reads.
    std::vector<std::string> environment;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const std::string entry(*e);
        if (entry.rfind("LC_ALL=", 0) != 0 && entry.rfind("LANG=", 0) != 0 &&
            entry.rfind("LC_MESSAGES=", 0) != 0)
            environment.push_back(entry);
    }
    environment.push_back("LC_ALL=C");
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char program[] = "lpstat";
    char option[] = "-v";
    char* argv[] = {program, option, nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, program, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return "";
    }

    std::string output;
    bool complete = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd fd{pipeFds[0], POLLIN, 0};
        const int ready = ::poll(&fd, 1, int(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buffer[4096];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            complete = n == 0;
            break;
        }
        if (output.size() + size_t(n) > MaxLpstatOutput)
            break;
        output.append(buffer, size_t(n));
    }
    ::close(pipeFds[0]);
    if (!complete)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return complete ? output : "";
}

std::vector<NetworkPrinterPort> NetworkPrinterPorts(const std::vector<SocketQueue>& queues)
{
    std::vector<NetworkPrinterPort> ports;
    auto taken = [&](const std::string& name) {
        return std::any_of(ports.begin(), ports.end(),
                           [&](const NetworkPrinterPort& p) { return p.name == name; });
    };
    for (const SocketQueue& q : queues) {
        const bool again = std::any_of(ports.begin(), ports.end(), [&](const NetworkPrinterPort& p) {
            return p.host == q.host && p.port == q.port;
        });
        if (again)
            continue;
        std::string name = "IP_" + q.host;
        if (taken(name) || !ReadAsNetworkName(name))
            name += ":" + std::to_string(q.port);
        if (taken(name) || !ReadAsNetworkName(name))
            continue;
        ports.push_back({name, q.host, q.port});
    }
    return ports;
}

std::string UsbPrinterDevice::PortName() const
{
    char name[16];
    std::snprintf(name, sizeof name, "USB%03u", portNumber % 1000u);
    return name;
}

PosixSystem::PosixSystem(IRegistry& store, std::string root, LpstatRunner lpstat, int queueCacheMs)
    : naming_(store, std::move(root)), lpstat_(std::move(lpstat)), queueCacheAge_(queueCacheMs)
{
    if (!lpstat_)
        lpstat_ = [] { return RunLpstat(LpstatTimeoutMs); };
}

std::vector<int> PosixSystem::NumberedEntries(const std::string& folder, const std::string& prefix)
{
    std::vector<int> numbers;
    const std::string path = naming_.Rooted(folder);
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr)
        return numbers;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() <= prefix.size() || name.size() > prefix.size() + 3 || name.rfind(prefix, 0) != 0)
            continue;
        const std::string digits = name.substr(prefix.size());
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        struct stat st {};
        if (::stat((path + "/" + name).c_str(), &st) != 0 || S_ISDIR(st.st_mode))
            continue;
        numbers.push_back(std::stoi(digits));
    }
    ::closedir(dir);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::vector<UsbPrinterDevice> PosixSystem::UsbPrinters()
{
    std::vector<UsbPrinterDevice> printers;
    for (int n : NumberedEntries("/dev/usb", "lp")) {
        if (n >= 999) // no three-digit port number left
            continue;
        printers.push_back({"/dev/usb/lp" + std::to_string(n), uint32_t(n) + 1});
    }
    return printers;
}

std::vector<NetworkPrinterPort> PosixSystem::NetworkPorts()
{
    // One answer serves a whole list build: the list asks for every position.
    const auto now = std::chrono::steady_clock::now();
    if (!queuesKnown_ || now - queuesTime_ >= queueCacheAge_) {
        queues_ = NetworkPrinterPorts(ParseLpstatDevices(lpstat_()));
        queuesTime_ = now;
        queuesKnown_ = true;
    }
    return queues_;
}

bool PosixSystem::EnumPorts(std::vector<std::string>& names)
{
    names.clear();
    for (const SerialPort& port : Naming().SerialPorts())
        names.push_back(port.comName + ":");
    for (int n : NumberedEntries("/dev", "lp"))
        names.push_back("LPT" + std::to_string(n + 1) + ":");
    for (const UsbPrinterDevice& printer : UsbPrinters())
        names.push_back(printer.PortName());
    for (const NetworkPrinterPort& port : NetworkPorts())
        names.push_back(port.name);
    return true;
}

bool PosixSystem::UsbPrinterInterfaces(std::vector<UsbPrinterInterface>& interfaces)
{
    interfaces.clear();
    for (const UsbPrinterDevice& printer : UsbPrinters())
        interfaces.push_back({printer.devicePath, true, false});
    return true;
}

} // namespace marlet
