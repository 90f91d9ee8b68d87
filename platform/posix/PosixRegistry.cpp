#include "platform/posix/PosixRegistry.h"

#include "platform/RegistryNames.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace marlet {

namespace {

using Store = PosixRegistry::Store;
using Section = PosixRegistry::Section;

constexpr const char* Hive = "HKEY_LOCAL_MACHINE";
constexpr size_t MaxLineWidth = 80;

bool SameName(std::string_view a, std::string_view b) { return SameRegistryName(a, b); }

bool StartsWithName(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

std::vector<std::string> SplitPath(std::string_view path) { return SplitRegistryPath(path); }

bool SamePath(const std::vector<std::string>& a, const std::vector<std::string>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!SameName(a[i], b[i]))
            return false;
    }
    return true;
}

bool IsBelow(const std::vector<std::string>& path, const std::vector<std::string>& prefix,
             size_t prefixLength)
{
    if (path.size() < prefixLength)
        return false;
    for (size_t i = 0; i < prefixLength; ++i) {
        if (!SameName(path[i], prefix[i]))
            return false;
    }
    return true;
}

std::vector<std::string> FullPath(const std::vector<std::string>& path)
{
    std::vector<std::string> full{Hive};
    full.insert(full.end(), path.begin(), path.end());
    return full;
}

// Names cannot hold bytes that would end a line of the file.
bool UsableName(std::string_view name)
{
    return name.find_first_of(std::string_view("\0\r\n", 3)) == name.npos;
}

int FindSection(const Store& store, const std::vector<std::string>& full)
{
    for (size_t i = 0; i < store.sections.size(); ++i) {
        if (SamePath(store.sections[i].parts, full))
            return int(i);
    }
    return -1;
}

// HKEY_LOCAL_MACHINE\SOFTWARE always exists; any other key exists when its
// section or a section below it is in the file.
bool KeyExists(const Store& store, const std::vector<std::string>& full)
{
    if (full.size() == 2)
        return true;
    for (const Section& section : store.sections) {
        if (IsBelow(section.parts, full, full.size()))
            return true;
    }
    return false;
}

// Adds the sections of the key and of its missing parents, each after the
// last section below its parent so that subkeys keep the order they were
// created in. Returns the key's section and whether anything was added.
std::pair<size_t, bool> EnsureSection(Store& store, const std::vector<std::string>& full)
{
    bool added = false;
    int index = -1;
    for (size_t depth = full.size() == 2 ? 2 : 3; depth <= full.size(); ++depth) {
        const std::vector<std::string> prefix(full.begin(), full.begin() + long(depth));
        index = FindSection(store, prefix);
        if (index >= 0)
            continue;
        size_t at = store.sections.size();
        for (size_t i = store.sections.size(); i-- > 0;) {
            if (IsBelow(store.sections[i].parts, prefix, depth - 1)) {
                at = i + 1;
                break;
            }
        }
        store.sections.insert(store.sections.begin() + long(at), Section{prefix, {}});
        index = int(at);
        added = true;
    }
    return {size_t(index), added};
}

// ---- Reading the text ----

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> SplitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == text.npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// One to maxDigits hex digits and nothing else.
bool ParseHexNumber(std::string_view text, size_t maxDigits, uint32_t& number)
{
    if (text.empty() || text.size() > maxDigits)
        return false;
    number = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return false;
        number = number * 16 + uint32_t(digit);
    }
    return true;
}

// A quoted text starting at text[pos]; \\ and \" are the only escapes.
bool ParseQuoted(std::string_view text, size_t& pos, std::string& out)
{
    if (pos >= text.size() || text[pos] != '"')
        return false;
    out.clear();
    for (size_t i = pos + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            pos = i + 1;
            return true;
        }
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"'))
            ++i;
        out += text[i];
    }
    return false;
}

// Comma-separated bytes of exactly two hex digits each.
bool ParseHexBytes(std::string_view list, std::string& bytes)
{
    bytes.clear();
    list = Trim(list);
    if (list.empty())
        return true;
    size_t start = 0;
    while (true) {
        size_t end = list.find(',', start);
        const bool last = end == list.npos;
        if (last)
            end = list.size();
        const std::string_view item = Trim(list.substr(start, end - start));
        if (item.size() != 2 || HexDigit(item[0]) < 0 || HexDigit(item[1]) < 0)
            return false;
        bytes += char(HexDigit(item[0]) * 16 + HexDigit(item[1]));
        if (last)
            return true;
        start = end + 1;
    }
}

// A value line, with the continuation lines of a hex list (line advances past
// the ones it takes).
bool ParseValue(const std::vector<std::string_view>& lines, size_t& line, std::string& name, RegValue& value)
{
    const std::string_view text = Trim(lines[line]);
    size_t pos = 0;
    if (text[0] == '@') {
        name.clear();
        pos = 1;
    } else if (!ParseQuoted(text, pos, name)) {
        return false;
    }
    std::string_view rest = Trim(text.substr(pos));
    if (rest.empty() || rest[0] != '=')
        return false;
    rest = Trim(rest.substr(1));

    if (!rest.empty() && rest[0] == '"') {
        size_t end = 0;
        std::string textValue;
        if (!ParseQuoted(rest, end, textValue) || !Trim(rest.substr(end)).empty())
            return false;
        value = {RegSz, textValue + '\0'};
        return true;
    }
    if (StartsWithName(rest, "dword:")) {
        uint32_t number = 0;
        if (!ParseHexNumber(Trim(rest.substr(6)), 8, number))
            return false;
        value = {RegDword, DwordBytes(number)};
        return true;
    }
    if (!StartsWithName(rest, "hex"))
        return false;
    rest.remove_prefix(3);
    uint32_t type = RegBinary;
    if (!rest.empty() && rest[0] == '(') {
        const size_t close = rest.find(')');
        if (close == rest.npos || !ParseHexNumber(rest.substr(1, close - 1), 8, type))
            return false;
        rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest[0] != ':')
        return false;
    std::string list(rest.substr(1));
    while (true) {
        const std::string_view trimmed = Trim(list);
        if (trimmed.empty() || trimmed.back() != '\\')
            break;
        if (line + 1 >= lines.size())
            return false; // the file ends inside the value
        list.assign(trimmed.substr(0, trimmed.size() - 1));
        list += Trim(lines[++line]);
    }
    std::string bytes;
    if (!ParseHexBytes(list, bytes))
        return false;
    value = {type, bytes};
    return true;
}

// ---- Writing the text ----

std::string Quote(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + '"';
}

// A REG_SZ that the quoted form gives back byte for byte.
bool IsPlainText(const std::string& data)
{
    if (data.empty() || data.back() != '\0')
        return false;
    return data.find_first_of(std::string_view("\0\r\n", 3)) == data.size() - 1;
}

// The printable text of a value stored in hex form, for a comment line: text
// types always (other bytes shown as '.'), other types only when they hold
// nothing but printable characters before their trailing zero bytes.
bool CommentText(const RegValue& value, std::string& text)
{
    std::string_view bytes = value.data;
    while (!bytes.empty() && bytes.back() == '\0')
        bytes.remove_suffix(1);
    if (bytes.empty())
        return false;
    const bool textType = value.type == RegSz || value.type == RegExpandSz || value.type == RegMultiSz;
    text.clear();
    for (char c : bytes) {
        const bool printable = c >= 0x20 && c < 0x7f;
        if (!printable && !textType)
            return false;
        text += printable ? c : '.';
    }
    return true;
}

void FormatValue(std::string& out, const PosixRegistry::NamedValue& entry)
{
    const RegValue& value = entry.value;
    std::string line = (entry.name.empty() ? std::string("@") : Quote(entry.name)) + '=';
    if (value.type == RegSz && IsPlainText(value.data)) {
        out += line + Quote(std::string_view(value.data).substr(0, value.data.size() - 1)) + '\n';
        return;
    }
    char number[16];
    if (value.type == RegDword && value.data.size() == 4) {
        std::snprintf(number, sizeof number, "%08x", unsigned(DwordFromBytes(value.data)));
        out += line + "dword:" + number + '\n';
        return;
    }
    std::string comment;
    if (CommentText(value, comment))
        out += "; text: " + comment + '\n';
    if (value.type == RegBinary) {
        line += "hex:";
    } else {
        std::snprintf(number, sizeof number, "%x", unsigned(value.type));
        line += std::string("hex(") + number + "):";
    }
    for (size_t i = 0; i < value.data.size(); ++i) {
        std::snprintf(number, sizeof number, "%02x", unsigned(uint8_t(value.data[i])));
        std::string item = number;
        if (i + 1 < value.data.size())
            item += ',';
        if (line.size() + item.size() + 1 > MaxLineWidth) {
            out += line + "\\\n";
            line = "  ";
        }
        line += item;
    }
    out += line + '\n';
}

// ---- Files ----

std::string Dirname(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == path.npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool MakeDirs(const std::string& dir)
{
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const std::string parent = Dirname(dir);
    if (parent != dir && !MakeDirs(parent))
        return false;
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

bool ReadAll(int fd, std::string& text)
{
    text.clear();
    char buffer[65536];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return true;
        text.append(buffer, size_t(n));
    }
}

bool WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        text.remove_prefix(size_t(n));
    }
    return true;
}

// The whole file, or an empty text when there is none; false when a file is
// there but cannot be read.
bool ReadStoreFile(const std::string& path, std::string& text)
{
    text.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    const bool ok = ReadAll(fd, text);
    ::close(fd);
    return ok;
}

// Writes text to a temporary file beside path, makes it durable and renames it
// over path, so that readers see either the old or the new store. On success
// fd is the new file, still open.
bool ReplaceFile(const std::string& path, const std::string& text, int& fd)
{
    mode_t mode = 0600;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        mode = st.st_mode & 0777;
    std::string temp = path + ".tmp-XXXXXX";
    fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    if (!WriteAll(fd, text) || ::fchmod(fd, mode) != 0 || ::fsync(fd) != 0 ||
        ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        ::close(fd);
        fd = -1;
        return false;
    }
    const int dir = ::open(Dirname(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

// The file to replace: the target of a symbolic link rather than the link.
std::string WriteTarget(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr)
            return resolved;
    }
    return path;
}

// An exclusive lock on the side lock file, released on every way out.
class StoreLock {
public:
    explicit StoreLock(const std::string& path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0)
            return;
        int rc;
        do {
            rc = ::flock(fd_, LOCK_EX);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~StoreLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

std::string PasswdHome()
{
    const struct passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

} // namespace

// ---- Parsing and formatting the store ----

PosixRegistry::Store PosixRegistry::Parse(const std::string& text)
{
    Store store;
    std::string_view body = text;
    if (body.substr(0, 3) == "\xEF\xBB\xBF")
        body.remove_prefix(3);
    const std::vector<std::string_view> lines = SplitLines(body);
    bool headerSeen = false;
    int current = -1; // section that values go to; -1 after a bad header
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = Trim(lines[i]);
        if (line.empty())
            continue;
        if (!headerSeen) {
            headerSeen = true;
            if (line == "REGEDIT4")
                continue;
            store.broken = true;
        }
        if (line.find('\0') != line.npos) {
            store.broken = true;
            continue;
        }
        if (line[0] == ';')
            continue;
        if (line[0] == '[') {
            const std::vector<std::string> parts =
                line.back() == ']' ? SplitPath(line.substr(1, line.size() - 2)) : std::vector<std::string>{};
            if (parts.empty() || parts[0][0] == '-') {
                store.broken = true;
                current = -1;
                continue;
            }
            current = FindSection(store, parts);
            if (current < 0) {
                store.sections.push_back(Section{parts, {}});
                current = int(store.sections.size() - 1);
            }
            continue;
        }
        std::string name;
        RegValue value;
        if ((line[0] != '"' && line[0] != '@') || !ParseValue(lines, i, name, value) || current < 0) {
            store.broken = true;
            continue;
        }
        // A name given twice: the later data wins, the first spelling stays.
        auto& values = store.sections[size_t(current)].values;
        bool replaced = false;
        for (NamedValue& entry : values) {
            if (SameName(entry.name, name)) {
                entry.value = value;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            values.push_back({name, value});
    }
    return store;
}

std::string PosixRegistry::Format(const Store& store)
{
    std::string out = "REGEDIT4\n";
    for (const Section& section : store.sections) {
        out += "\n[";
        for (size_t i = 0; i < section.parts.size(); ++i)
            out += (i ? "\\" : "") + section.parts[i];
        out += "]\n";
        for (const NamedValue& entry : section.values)
            FormatValue(out, entry);
    }
    out += '\n';
    return out;
}

// ---- The store file ----

PosixRegistry::PosixRegistry(std::string storePath, IRegistry* systemKeys)
    : storePath_(std::move(storePath)), systemKeys_(systemKeys)
{
}

PosixRegistry::~PosixRegistry() { DropCache(); }

std::string PosixRegistry::DefaultStorePath()
{
    std::string base;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        std::string homeDir = home != nullptr && home[0] != '\0' ? home : PasswdHome();
        if (homeDir.empty())
            return "";
        base = homeDir + "/.config";
    }
    return base + "/marlet-downloader/registry.reg";
}

void PosixRegistry::DropCache()
{
    if (cacheFd_ >= 0)
        ::close(cacheFd_);
    cacheFd_ = -1;
    cacheStamp_ = {};
    cache_ = Store{};
}

void PosixRegistry::KeepCache(int fd, Store store)
{
    DropCache();
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return;
    }
    cacheFd_ = fd;
    cacheStamp_ = {uint64_t(st.st_dev),        uint64_t(st.st_ino),         int64_t(st.st_size),
                   int64_t(st.st_mtim.tv_sec), int64_t(st.st_mtim.tv_nsec), int64_t(st.st_ctim.tv_sec),
                   int64_t(st.st_ctim.tv_nsec)};
    cache_ = std::move(store);
}

const PosixRegistry::Store& PosixRegistry::Current()
{
    struct stat st {};
    if (storePath_.empty() || ::stat(storePath_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        DropCache();
        return cache_;
    }
    const FileStamp stamp{uint64_t(st.st_dev),        uint64_t(st.st_ino),         int64_t(st.st_size),
                          int64_t(st.st_mtim.tv_sec), int64_t(st.st_mtim.tv_nsec), int64_t(st.st_ctim.tv_sec),
                          int64_t(st.st_ctim.tv_nsec)};
    if (cacheFd_ >= 0 && stamp == cacheStamp_)
        return cache_;
    // The file is read through the descriptor that the cache keeps, so the
    // stamp and the text belong to the same version even if a writer renames
    // a new one into place meanwhile.
    const int fd = ::open(storePath_.c_str(), O_RDONLY | O_CLOEXEC);
    std::string text;
    if (fd < 0 || !ReadAll(fd, text)) {
        if (fd >= 0)
            ::close(fd);
        DropCache();
        return cache_;
    }
    KeepCache(fd, Parse(text));
    return cache_;
}

bool PosixRegistry::KeepBrokenCopy(const std::string& original)
{
    char stamp[32];
    const time_t now = std::time(nullptr);
    struct tm local {};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = storePath_ + ".broken-" + stamp;
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        const std::string copy = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        const int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        const bool ok = WriteAll(fd, original) && ::fsync(fd) == 0;
        ::close(fd);
        if (!ok) {
            ::unlink(copy.c_str());
            return false;
        }
        std::fprintf(
            stderr,
            "marlet-download: the settings store %s could not be read in full; its original is kept as %s\n",
            storePath_.c_str(), copy.c_str());
        return true;
    }
    return false;
}

bool PosixRegistry::Modify(const std::function<bool(Store&)>& change)
{
    if (storePath_.empty() || !MakeDirs(Dirname(storePath_)))
        return false;
    StoreLock lock(storePath_ + ".lock");
    if (!lock.Held())
        return false;
    const std::string target = WriteTarget(storePath_);
    std::string original;
    if (!ReadStoreFile(target, original))
        return false; // never replace a store that could not be read
    Store store = Parse(original);
    if (!change(store))
        return true;
    // A store that was read only in part is kept before it is replaced.
    if (store.broken && !KeepBrokenCopy(original))
        return false;
    store.broken = false;
    int fd = -1;
    if (!ReplaceFile(target, Format(store), fd))
        return false;
    KeepCache(fd, std::move(store));
    return true;
}

// ---- Keys and values ----

PosixRegistry::Route PosixRegistry::Locate(RegKey parent, const std::string& subKey,
                                           std::vector<std::string>& path, RegKey& innerParent)
{
    if (parent == HKeyLocalMachine) {
        const std::vector<std::string> parts = SplitPath(subKey);
        if (parts.empty())
            return Route::None;
        if (SameName(parts[0], "SYSTEM")) {
            innerParent = HKeyLocalMachine;
            return systemKeys_ != nullptr ? Route::Delegate : Route::None;
        }
        if (!SameName(parts[0], "SOFTWARE"))
            return Route::None;
        path = parts;
        return Route::File;
    }
    const auto it = handles_.find(parent);
    if (it == handles_.end())
        return Route::None;
    if (it->second.delegated) {
        innerParent = it->second.inner;
        return Route::Delegate;
    }
    path = it->second.path;
    for (std::string& part : SplitPath(subKey))
        path.push_back(std::move(part));
    return Route::File;
}

RegKey PosixRegistry::Issue(const Handle& handle)
{
    const RegKey key = next_++;
    handles_[key] = handle;
    return key;
}

RegKey PosixRegistry::OpenKey(RegKey parent, const std::string& subKey, Access access)
{
    std::vector<std::string> path;
    RegKey innerParent = 0;
    switch (Locate(parent, subKey, path, innerParent)) {
    case Route::Delegate: {
        const RegKey inner = systemKeys_->OpenKey(innerParent, subKey, access);
        return inner != 0 ? Issue({true, inner, {}, false}) : 0;
    }
    case Route::File:
        if (!KeyExists(Current(), FullPath(path)))
            return 0;
        return Issue({false, 0, path, access == Access::All});
    case Route::None:
        break;
    }
    return 0;
}

RegKey PosixRegistry::CreateKey(RegKey parent, const std::string& subKey)
{
    std::vector<std::string> path;
    RegKey innerParent = 0;
    switch (Locate(parent, subKey, path, innerParent)) {
    case Route::Delegate: {
        const RegKey inner = systemKeys_->CreateKey(innerParent, subKey);
        return inner != 0 ? Issue({true, inner, {}, false}) : 0;
    }
    case Route::File: {
        // Creating a subkey needs a parent opened with full access.
        const auto it = handles_.find(parent);
        if (it != handles_.end() && !it->second.writable)
            return 0;
        for (const std::string& part : path) {
            if (!UsableName(part))
                return 0;
        }
        const std::vector<std::string> full = FullPath(path);
        if (!KeyExists(Current(), full) &&
            !Modify([&](Store& store) { return EnsureSection(store, full).second; }))
            return 0;
        return Issue({false, 0, path, true});
    }
    case Route::None:
        break;
    }
    return 0;
}

void PosixRegistry::CloseKey(RegKey key)
{
    const auto it = handles_.find(key);
    if (it == handles_.end())
        return;
    if (it->second.delegated)
        systemKeys_->CloseKey(it->second.inner);
    handles_.erase(it);
}

bool PosixRegistry::QueryValue(RegKey key, const std::string& name, RegValue& value)
{
    const auto it = handles_.find(key);
    if (it == handles_.end())
        return false;
    if (it->second.delegated)
        return systemKeys_->QueryValue(it->second.inner, name, value);
    const Store& store = Current();
    const int section = FindSection(store, FullPath(it->second.path));
    if (section < 0)
        return false;
    for (const NamedValue& entry : store.sections[size_t(section)].values) {
        if (SameName(entry.name, name)) {
            value = entry.value;
            return true;
        }
    }
    return false;
}

bool PosixRegistry::SetValue(RegKey key, const std::string& name, uint32_t type, const std::string& data)
{
    const auto it = handles_.find(key);
    if (it == handles_.end())
        return false;
    if (it->second.delegated)
        return systemKeys_->SetValue(it->second.inner, name, type, data);
    if (!it->second.writable || !UsableName(name))
        return false;
    const std::vector<std::string> full = FullPath(it->second.path);
    return Modify([&](Store& store) {
        const auto [section, added] = EnsureSection(store, full);
        auto& values = store.sections[section].values;
        for (NamedValue& entry : values) {
            if (SameName(entry.name, name)) {
                if (entry.value.type == type && entry.value.data == data)
                    return added;
                entry.value = {type, data};
                return true;
            }
        }
        values.push_back({name, {type, data}});
        return true;
    });
}

bool PosixRegistry::EnumKey(RegKey key, uint32_t index, std::string& name)
{
    if (key == HKeyLocalMachine) {
        const char* roots[] = {"SOFTWARE", "SYSTEM"};
        const uint32_t count = systemKeys_ != nullptr ? 2 : 1;
        if (index >= count)
            return false;
        name = roots[index];
        return true;
    }
    const auto it = handles_.find(key);
    if (it == handles_.end())
        return false;
    if (it->second.delegated)
        return systemKeys_->EnumKey(it->second.inner, index, name);
    const std::vector<std::string> full = FullPath(it->second.path);
    std::vector<std::string_view> children;
    for (const Section& section : Current().sections) {
        if (section.parts.size() <= full.size() || !IsBelow(section.parts, full, full.size()))
            continue;
        const std::string& child = section.parts[full.size()];
        bool known = false;
        for (std::string_view seen : children)
            known = known || SameName(seen, child);
        if (!known)
            children.push_back(child);
    }
    if (index >= children.size())
        return false;
    name = children[index];
    return true;
}

} // namespace marlet
