#include "platform/posix/PortNaming.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <limits.h>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace marlet {
namespace {

std::string Upper(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// The port name without a "\\.\" prefix and without one trailing colon.
std::string BareName(const std::string& name)
{
    std::string bare = name;
    if (StartsWith(bare, "\\\\.\\"))
        bare = bare.substr(4);
    if (!bare.empty() && bare.back() == ':')
        bare.pop_back();
    return bare;
}

std::string RealPath(const std::string& path)
{
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr)
        return {};
    return buffer;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool ReadFirstLine(const std::string& path, std::string& line)
{
    std::ifstream in(path);
    if (!in)
        return false;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    return true;
}

// A number as sysfs writes it: decimal, or hexadecimal with 0x.
bool ReadNumber(const std::string& path, unsigned long& value, int base = 0)
{
    std::string line;
    if (!ReadFirstLine(path, line) || line.empty())
        return false;
    char* end = nullptr;
    value = std::strtoul(line.c_str(), &end, base);
    return end != line.c_str();
}

std::vector<std::string> ListDirectory(const std::string& path)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// "ttyUSB12" -> prefix "ttyUSB", number 12; false for names of another shape.
bool SplitTtyName(const std::string& name, std::string& prefix, int& number)
{
    size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])))
        --digits;
    if (digits == name.size() || name.size() - digits > 6)
        return false;
    prefix = name.substr(0, digits);
    number = std::atoi(name.c_str() + digits);
    return true;
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0)
        return false;
    if (S_ISCHR(sa.st_mode) && S_ISCHR(sb.st_mode))
        return sa.st_rdev == sb.st_rdev;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string ComName(int number) { return "COM" + std::to_string(number); }

} // namespace

PortNaming::PortNaming(IRegistry& store, std::string root) : store_(store)
{
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    if (root.empty() || root == "/") {
        root_.clear();
    } else {
        const std::string real = RealPath(root);
        root_ = real.empty() ? root : real;
    }
}

std::string PortNaming::Rooted(const std::string& path) const
{
    if (root_.empty())
        return path;
    if (StartsWith(path, "/dev/") || StartsWith(path, "/sys/") || path == "/dev" || path == "/sys")
        return root_ + path;
    return path;
}

std::string PortNaming::Unrooted(const std::string& path) const
{
    if (!root_.empty() && StartsWith(path, root_ + "/"))
        return path.substr(root_.size());
    return path;
}

int PortNaming::PortNumber(const std::string& name, const char* prefix)
{
    const std::string bare = Upper(BareName(name));
    const std::string p = prefix;
    if (!StartsWith(bare, p) || bare.size() == p.size() || bare.size() - p.size() > 6)
        return 0;
    if (bare[p.size()] == '0')
        return 0;
    int number = 0;
    for (size_t i = p.size(); i < bare.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(bare[i])))
            return 0;
        number = number * 10 + (bare[i] - '0');
    }
    return number;
}

PortNaming::Kind PortNaming::Classify(const std::string& name)
{
    if (PortNumber(name, "COM") > 0)
        return Kind::Serial;
    if (PortNumber(name, "LPT") > 0)
        return Kind::Parallel;
    return Kind::Other;
}

bool PortNaming::ReadMapping(int number, std::string& data)
{
    auto session = sessionMappings_.find(number);
    RegistryKey key(store_, store_.OpenKey(HKeyLocalMachine, PortsKey, IRegistry::Access::Read));
    RegValue value;
    if (key && store_.QueryValue(key.Get(), ComName(number), value) &&
        (value.type == RegSz || value.type == RegExpandSz)) {
        data = value.data.substr(0, value.data.find('\0'));
        if (!data.empty())
            return true;
    }
    if (session != sessionMappings_.end()) {
        data = session->second;
        return true;
    }
    return false;
}

std::map<int, std::string> PortNaming::ReadMappings()
{
    std::map<int, std::string> mappings(sessionMappings_.begin(), sessionMappings_.end());
    RegistryKey key(store_, store_.OpenKey(HKeyLocalMachine, PortsKey, IRegistry::Access::Read));
    if (!key)
        return mappings;
    for (int n = 1; n <= LastCom; ++n) {
        RegValue value;
        if (!store_.QueryValue(key.Get(), ComName(n), value) ||
            (value.type != RegSz && value.type != RegExpandSz))
            continue;
        const std::string data = value.data.substr(0, value.data.find('\0'));
        if (!data.empty())
            mappings[n] = data;
    }
    return mappings;
}

bool PortNaming::WriteMapping(int number, const std::string& data)
{
    RegistryKey key(store_, store_.CreateKey(HKeyLocalMachine, PortsKey));
    return key && store_.SetValue(key.Get(), ComName(number), RegSz, data + std::string(1, '\0'));
}

std::vector<std::string> PortNaming::ConsoleTtys()
{
    std::vector<std::string> names;
    std::ifstream in(Rooted("/sys/class/tty/console/active"));
    std::string name;
    while (in >> name)
        names.push_back(name);
    return names;
}

bool PortNaming::IsConsole(const std::string& path)
{
    if (!Exists(path))
        return false;
    if (SameFile(path, Rooted("/dev/console")))
        return true;
    for (const std::string& tty : ConsoleTtys())
        if (SameFile(path, Rooted("/dev/" + tty)))
            return true;
    return false;
}

bool PortNaming::IsRealUart(const std::string& ttyName)
{
    const std::string base = Rooted("/sys/class/tty/" + ttyName);
    if (!Exists(base + "/device"))
        return false;
    unsigned long value = 0;
    if (ReadNumber(base + "/type", value, 10))
        return value != 0; // 0 is the unknown UART: a slot without hardware
    if (ReadNumber(base + "/port", value))
        return value != 0;
    return false;
}

std::vector<PortNaming::Tty> PortNaming::PresentTtys()
{
    std::vector<Tty> ttys;
    const std::vector<std::string> consoles = ConsoleTtys();
    for (const std::string& name : ListDirectory(Rooted("/sys/class/tty"))) {
        std::string prefix;
        int number = 0;
        if (!SplitTtyName(name, prefix, number) ||
            (prefix != "ttyS" && prefix != "ttyUSB" && prefix != "ttyACM"))
            continue;
        if (std::find(consoles.begin(), consoles.end(), name) != consoles.end())
            continue;
        if (prefix == "ttyS" && !IsRealUart(name))
            continue;
        const std::string device = RealPath(Rooted("/sys/class/tty/" + name + "/device"));
        if (device.empty() || !Exists(Rooted("/dev/" + name)))
            continue;
        ttys.push_back({name, Unrooted(device), {}});
    }
    // Stable names of USB serial devices, made by udev from vendor, product and serial number.
    const std::string byId = Rooted("/dev/serial/by-id");
    for (const std::string& link : ListDirectory(byId)) {
        const std::string target = RealPath(byId + "/" + link);
        for (Tty& tty : ttys)
            if (tty.byIdPath.empty() && !target.empty() && target == RealPath(Rooted("/dev/" + tty.name)))
                tty.byIdPath = "/dev/serial/by-id/" + link;
    }
    std::sort(ttys.begin(), ttys.end(), [](const Tty& a, const Tty& b) {
        std::string pa, pb;
        int na = 0, nb = 0;
        SplitTtyName(a.name, pa, na);
        SplitTtyName(b.name, pb, nb);
        return pa != pb ? pa < pb : na < nb;
    });
    return ttys;
}

std::string PortNaming::ResolveMapping(const std::string& data)
{
    if (StartsWith(data, "/sys/")) {
        // A sysfs device path: the tty that sits on that device now.
        for (const Tty& tty : PresentTtys())
            if (tty.sysDevice == data)
                return Rooted("/dev/" + tty.name);
        return {};
    }
    return Rooted(data);
}

std::string PortNaming::DevicePathFor(const std::string& name)
{
    switch (Classify(name)) {
    case Kind::Serial: {
        const int number = PortNumber(name, "COM");
        std::string path;
        std::string data;
        if (ReadMapping(number, data))
            path = ResolveMapping(data);
        else if (IsRealUart("ttyS" + std::to_string(number - 1)))
            path = Rooted("/dev/ttyS" + std::to_string(number - 1));
        if (!path.empty() && IsConsole(path))
            return {};
        return path;
    }
    case Kind::Parallel:
        return Rooted("/dev/lp" + std::to_string(PortNumber(name, "LPT") - 1));
    case Kind::Other:
        break;
    }
    return Rooted(name);
}

std::string PortNaming::TtyOfPath(const std::string& path)
{
    const std::string real = RealPath(path);
    const std::string dev = RealPath(Rooted("/dev"));
    if (real.empty() || dev.empty() || !StartsWith(real, dev + "/"))
        return {};
    const std::string rest = real.substr(dev.size() + 1);
    return rest.find('/') == std::string::npos ? rest : std::string();
}

std::vector<SerialPort> PortNaming::SerialPorts()
{
    const std::vector<Tty> ttys = PresentTtys();
    std::map<int, std::string> mappings = ReadMappings();
    std::map<int, SerialPort> ports;
    std::set<std::string> namedTtys;

    // Explicit and recorded mappings first: they win over the UART numbering.
    for (const auto& [number, data] : mappings) {
        const std::string path = ResolveMapping(data);
        if (path.empty() || !Exists(path) || IsConsole(path))
            continue;
        const std::string tty = TtyOfPath(path);
        if (!tty.empty())
            namedTtys.insert(tty);
        ports[number] = {ComName(number), path, data, tty};
    }

    std::set<int> taken;
    for (const auto& entry : mappings)
        taken.insert(entry.first);
    for (const Tty& tty : ttys) {
        std::string prefix;
        int number = 0;
        SplitTtyName(tty.name, prefix, number);
        if (prefix != "ttyS")
            continue;
        taken.insert(number + 1);
        if (namedTtys.count(tty.name) || mappings.count(number + 1))
            continue;
        ports[number + 1] = {ComName(number + 1), Rooted("/dev/" + tty.name), {}, tty.name};
        namedTtys.insert(tty.name);
    }
    // The console UART keeps its number out of use too.
    for (const std::string& console : ConsoleTtys()) {
        std::string prefix;
        int number = 0;
        if (SplitTtyName(console, prefix, number) && prefix == "ttyS")
            taken.insert(number + 1);
    }

    // USB serial adapters without a name get the lowest free number once.
    for (const Tty& tty : ttys) {
        if (StartsWith(tty.name, "ttyS") || namedTtys.count(tty.name))
            continue;
        const std::string identity = tty.byIdPath.empty() ? tty.sysDevice : tty.byIdPath;
        int number = FirstAssignedCom;
        while (number <= LastCom && taken.count(number))
            ++number;
        if (number > LastCom)
            break;
        if (!WriteMapping(number, identity))
            sessionMappings_[number] = identity; // a store that cannot be written still names it for this run
        taken.insert(number);
        namedTtys.insert(tty.name);
        ports[number] = {ComName(number), ResolveMapping(identity), identity, tty.name};
    }

    std::vector<SerialPort> list;
    for (auto& entry : ports)
        list.push_back(std::move(entry.second));
    return list;
}

bool PortNaming::UsbIdentityOf(const std::string& tty, UsbIdentity& identity)
{
    std::string name = tty;
    if (name.find('/') != std::string::npos) {
        const std::string real = RealPath(name);
        if (real.empty())
            return false;
        name = real.substr(real.rfind('/') + 1);
    }
    const std::string sys = RealPath(Rooted("/sys"));
    std::string dir = RealPath(Rooted("/sys/class/tty/" + name + "/device"));
    if (dir.empty() || sys.empty())
        return false;

    UsbIdentity found;
    bool haveInterface = false;
    while (StartsWith(dir, sys + "/")) {
        unsigned long value = 0;
        if (!haveInterface && ReadNumber(dir + "/bInterfaceNumber", value, 16)) {
            found.interfaceNumber = int(value);
            found.interfacePath = Unrooted(dir);
            haveInterface = true;
        }
        unsigned long vendor = 0, product = 0;
        if (ReadNumber(dir + "/idVendor", vendor, 16) && ReadNumber(dir + "/idProduct", product, 16)) {
            found.vendor = uint16_t(vendor);
            found.product = uint16_t(product);
            found.devicePath = Unrooted(dir);
            ReadFirstLine(dir + "/serial", found.serial);
            identity = found;
            return true;
        }
        dir = dir.substr(0, dir.rfind('/'));
    }
    return false;
}

} // namespace marlet
