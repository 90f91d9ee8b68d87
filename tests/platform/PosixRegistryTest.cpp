#include "platform/posix/PosixRegistry.h"
#include "platform/fake/FakeRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace marlet {
namespace {

namespace fs = std::filesystem;

const char* const SettingsKey = "SOFTWARE\\Varden\\IOCommDL";

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string Sz(const std::string& text) { return text + std::string(1, '\0'); }

class PosixRegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/marlet-registry-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        dir_ = folder;
        store_ = dir_ + "/config/registry.reg";
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Writes a hand-made store file (creating its folder).
    void HandWrite(const std::string& text)
    {
        fs::create_directories(fs::path(store_).parent_path());
        WriteText(store_, text);
    }

    std::vector<std::string> FilesBeside() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(fs::path(store_).parent_path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string dir_;
    std::string store_;
};

TEST_F(PosixRegistryTest, EveryTypeKeepsItsExactBytesAndIsWrittenInItsForm)
{
    std::string commData(52, '\0');
    for (size_t i = 0; i < commData.size(); ++i)
        commData[i] = char(i * 5);
    std::string tcp = "IP_10.0.0.5 192.168.1.20:9100";
    tcp.resize(1000, '\0');
    const std::string longName(5000, 'p');

    struct Case {
        std::string name;
        uint32_t type;
        std::string data;
        std::string form; // the text the file shows for it
    };
    const std::vector<Case> cases = {
        {"Text", RegSz, Sz("COM1:"), "\"Text\"=\"COM1:\"\n"},
        {"NoZero", RegSz, "COM1:", "; text: COM1:\n\"NoZero\"=hex(1):43,4f,4d,31,3a\n"},
        {"Empty", RegSz, "", "\"Empty\"=hex(1):\n"},
        {"JustZero", RegSz, Sz(""), "\"JustZero\"=\"\"\n"},
        {"Escapes", RegSz, Sz("C:\\fw\\\"new\".bot"), "\"Escapes\"=\"C:\\\\fw\\\\\\\"new\\\".bot\"\n"},
        {"Latin1", RegSz, Sz("Caf\xE9"), "\"Latin1\"=\"Caf\xE9\"\n"},
        {"InnerZero", RegSz, std::string("a\0b\0", 4), "\"InnerZero\"=hex(1):61,00,62,00\n"},
        {"TwoZeros", RegSz, std::string("ab\0\0", 4), "\"TwoZeros\"=hex(1):61,62,00,00\n"},
        {"Lines", RegSz, Sz("a\r\nb"), "; text: a..b\n\"Lines\"=hex(1):61,0d,0a,62,00\n"},
        {"Speed", RegDword, DwordBytes(3), "\"Speed\"=dword:00000003\n"},
        {"Big", RegDword, DwordBytes(0xDEADBEEF), "\"Big\"=dword:deadbeef\n"},
        {"ShortDword", RegDword, "\x01\x02", "\"ShortDword\"=hex(4):01,02\n"},
        {"Bytes", RegBinary, std::string("\x00\xFF\x13", 3), "\"Bytes\"=hex:00,ff,13\n"},
        {"NoBytes", RegBinary, "", "\"NoBytes\"=hex:\n"},
        {"Expand", RegExpandSz, Sz("%HOME%"), "; text: %HOME%\n\"Expand\"=hex(2):25,48,4f,4d,45,25,00\n"},
        {"Multi", RegMultiSz, std::string("a\0b\0\0", 5), "\"Multi\"=hex(7):61,00,62,00,00\n"},
        {"Qword", 11, std::string("\x01\0\0\0\0\0\0\x80", 8), "\"Qword\"=hex(b):01,00,00,00,00,00,00,80\n"},
        {"Untyped", RegNone, "x", "; text: x\n\"Untyped\"=hex(0):78\n"},
        {"", RegSz, Sz("default"), "@=\"default\"\n"},
        {"Comm data", RegBinary, commData, "\"Comm data\"=hex:00,05,0a,"},
        {"TCP", RegBinary, tcp, "; text: IP_10.0.0.5 192.168.1.20:9100\n\"TCP\"=hex:49,50,"},
        {"PortName", RegSz, Sz(longName), "\"PortName\"=\"" + longName + "\"\n"},
    };

    {
        PosixRegistry registry(store_);
        RegistryKey key(registry, registry.CreateKey(HKeyLocalMachine, SettingsKey));
        ASSERT_TRUE(key);
        for (const Case& c : cases)
            ASSERT_TRUE(registry.SetValue(key.Get(), c.name, c.type, c.data)) << c.name;
    }

    const std::string text = ReadText(store_);
    PosixRegistry reader(store_);
    RegistryKey key(reader, reader.OpenKey(HKeyLocalMachine, SettingsKey, IRegistry::Access::Read));
    ASSERT_TRUE(key);
    for (const Case& c : cases) {
        RegValue value;
        ASSERT_TRUE(reader.QueryValue(key.Get(), c.name, value)) << c.name;
        EXPECT_EQ(value.type, c.type) << c.name;
        EXPECT_EQ(value.data, c.data) << c.name;
        EXPECT_NE(text.find(c.form), std::string::npos) << c.name << " is not written as " << c.form;
    }

    // Long hex lists are wrapped with a backslash; quoted texts stay whole.
    std::istringstream lines(text);
    size_t wrapped = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("\"PortName\"", 0) != 0) {
            EXPECT_LE(line.size(), 80u) << line;
        }
        wrapped += !line.empty() && line.back() == '\\';
    }
    EXPECT_GE(wrapped, 1u + 1000 / 25);
}

TEST_F(PosixRegistryTest, FileReadsLikeARegeditExport)
{
    PosixRegistry registry(store_);
    RegistryKey key(registry, registry.CreateKey(HKeyLocalMachine, SettingsKey));
    ASSERT_TRUE(key);
    ASSERT_TRUE(registry.SetValue(key.Get(), "PortName", RegSz, Sz("COM1:")));
    ASSERT_TRUE(registry.SetValue(key.Get(), "DLSpeed", RegDword, DwordBytes(3)));
    ASSERT_TRUE(registry.SetValue(key.Get(), "DLFileName", RegSz, "a.bot"));

    EXPECT_EQ(ReadText(store_), "REGEDIT4\n"
                                "\n"
                                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varden]\n"
                                "\n"
                                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varden\\IOCommDL]\n"
                                "\"PortName\"=\"COM1:\"\n"
                                "\"DLSpeed\"=dword:00000003\n"
                                "; text: a.bot\n"
                                "\"DLFileName\"=hex(1):61,2e,62,6f,74\n"
                                "\n");
}

TEST_F(PosixRegistryTest, HandWrittenStoreReadsAsRegeditStoresIt)
{
    HandWrite("REGEDIT4\r\n"
              "\r\n"
              "; written by hand\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varden\\IOCommDL]\r\n"
              "\"Start\"=\"AB\"\r\n"
              "\"End\" = \"a\\\\b\\\"c\"\r\n"
              "\"DoExtra\"=DWORD:1\r\n"
              "  \"Pattern1\"=hex:01, 02,\\\r\n"
              "      0a,FF\r\n"
              "@=\"x\"\r\n");
    PosixRegistry registry(store_);
    RegistryKey key(registry, registry.OpenKey(HKeyLocalMachine, SettingsKey, IRegistry::Access::All));
    ASSERT_TRUE(key);

    const std::vector<std::pair<std::string, RegValue>> expected = {
        {"Start", {RegSz, std::string("AB\0", 3)}},
        {"End", {RegSz, Sz("a\\b\"c")}},
        {"DoExtra", {RegDword, DwordBytes(1)}},
        {"Pattern1", {RegBinary, "\x01\x02\x0a\xff"}},
        {"", {RegSz, Sz("x")}},
    };
    for (const auto& [name, want] : expected) {
        RegValue value;
        ASSERT_TRUE(registry.QueryValue(key.Get(), name, value)) << name;
        EXPECT_EQ(value.type, want.type) << name;
        EXPECT_EQ(value.data, want.data) << name;
    }

    // Writing keeps what was there and does not count the file as broken.
    testing::internal::CaptureStderr();
    ASSERT_TRUE(registry.SetValue(key.Get(), "DLSpeed", RegDword, DwordBytes(2)));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(FilesBeside(), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
    PosixRegistry reader(store_);
    RegistryKey again(reader, reader.OpenKey(HKeyLocalMachine, SettingsKey, IRegistry::Access::Read));
    RegValue start;
    ASSERT_TRUE(reader.QueryValue(again.Get(), "start", start));
    EXPECT_EQ(start.data, std::string("AB\0", 3));
}

TEST_F(PosixRegistryTest, NamesIgnoreCaseAndKeepTheFirstSpelling)
{
    PosixRegistry registry(store_);
    RegistryKey key(registry, registry.CreateKey(HKeyLocalMachine, SettingsKey));
    ASSERT_TRUE(registry.SetValue(key.Get(), "Comm data", RegBinary, "old"));
    ASSERT_TRUE(registry.SetValue(key.Get(), "COMM DATA", RegBinary, "new"));

    RegistryKey other(
        registry, registry.OpenKey(HKeyLocalMachine, "software\\VARDEN\\iocommdl", IRegistry::Access::Read));
    ASSERT_TRUE(other);
    RegValue value;
    ASSERT_TRUE(registry.QueryValue(other.Get(), "Comm Data", value));
    EXPECT_EQ(value.data, "new");
    const std::string text = ReadText(store_);
    EXPECT_NE(text.find("\"Comm data\"=hex:6e,65,77"), std::string::npos);
    EXPECT_EQ(text.find("COMM DATA"), std::string::npos);
    EXPECT_EQ(text.find("IOCommDL", text.find("IOCommDL") + 1), std::string::npos) << "key written twice";
}

TEST_F(PosixRegistryTest, SubkeysOpenBelowOpenKeysAndEnumerateInFileOrder)
{
    PosixRegistry registry(store_);
    RegistryKey settings(registry, registry.CreateKey(HKeyLocalMachine, SettingsKey));
    ASSERT_TRUE(settings);
    RegistryKey ports(registry, registry.CreateKey(settings.Get(), "Ports"));
    RegistryKey alpha(registry, registry.CreateKey(settings.Get(), "Alpha\\Deep"));
    ASSERT_TRUE(ports && alpha);
    ASSERT_TRUE(registry.SetValue(ports.Get(), "COM5", RegSz, Sz("/dev/pts/7")));
    EXPECT_TRUE(RegistryKey(registry, registry.CreateKey(settings.Get(), "ports")))
        << "an existing key opens";

    std::vector<std::string> names;
    std::string name;
    for (uint32_t i = 0; registry.EnumKey(settings.Get(), i, name); ++i)
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"Ports", "Alpha"}));

    PosixRegistry reader(store_);
    RegistryKey parent(reader, reader.OpenKey(HKeyLocalMachine, "SOFTWARE\\Varden", IRegistry::Access::Read));
    ASSERT_TRUE(parent);
    RegistryKey child(reader, reader.OpenKey(parent.Get(), "IOCommDL\\Ports", IRegistry::Access::Read));
    ASSERT_TRUE(child);
    RegValue value;
    ASSERT_TRUE(reader.QueryValue(child.Get(), "com5", value));
    EXPECT_EQ(value.data, Sz("/dev/pts/7"));
    EXPECT_FALSE(reader.SetValue(child.Get(), "COM6", RegSz, Sz("x"))) << "opened for reading";
    EXPECT_EQ(reader.CreateKey(child.Get(), "New"), 0u) << "parent opened for reading";
    EXPECT_EQ(reader.OpenKey(parent.Get(), "Missing", IRegistry::Access::Read), 0u);
    EXPECT_EQ(reader.OpenKey(HKeyLocalMachine, "HARDWARE", IRegistry::Access::Read), 0u);
    EXPECT_FALSE(reader.EnumKey(child.Get(), 0, name));
}

TEST_F(PosixRegistryTest, KeyOnlyImpliedByADeeperSectionExists)
{
    HandWrite(
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varden\\IOCommDL\\Ports]\n\"COM5\"=\"/dev/pts/3\"\n");
    PosixRegistry registry(store_);
    RegistryKey settings(registry, registry.OpenKey(HKeyLocalMachine, SettingsKey, IRegistry::Access::All));
    ASSERT_TRUE(settings);
    std::string name;
    ASSERT_TRUE(registry.EnumKey(settings.Get(), 0, name));
    EXPECT_EQ(name, "Ports");
    ASSERT_TRUE(registry.SetValue(settings.Get(), "DLSpeed", RegDword, DwordBytes(1)));
    RegValue value;
    EXPECT_TRUE(registry.QueryValue(settings.Get(), "DLSpeed", value));
}

TEST_F(PosixRegistryTest, ReplacesTheFileAtomicallyAndSeesOtherWriters)
{
    PosixRegistry first(store_);
    PosixRegistry second(store_);
    RegistryKey a(first, first.CreateKey(HKeyLocalMachine, SettingsKey));
    RegistryKey b(second, second.OpenKey(HKeyLocalMachine, SettingsKey, IRegistry::Access::All));
    ASSERT_TRUE(a && b);
    RegValue value;
    EXPECT_FALSE(first.QueryValue(a.Get(), "PortName", value)); // loaded and cached before the other writes

    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(second.SetValue(b.Get(), "PortName", RegSz, "COM" + std::to_string(i)));
        ASSERT_TRUE(first.QueryValue(a.Get(), "PortName", value));
        EXPECT_EQ(value.data, "COM" + std::to_string(i));
        ASSERT_TRUE(first.SetValue(a.Get(), "Own" + std::to_string(i), RegDword, DwordBytes(i)));
    }
    // Each writer read the store again and changed only its own value.
    PosixRegistry reader(store_);
    RegistryKey key(reader, reader.OpenKey(HKeyLocalMachine, SettingsKey, IRegistry::Access::Read));
    ASSERT_TRUE(reader.QueryValue(key.Get(), "PortName", value));
    EXPECT_EQ(value.data, "COM19");
    ASSERT_TRUE(reader.QueryValue(key.Get(), "Own19", value));
    EXPECT_EQ(value.data, DwordBytes(19));
    EXPECT_EQ(FilesBeside(), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST_F(PosixRegistryTest, TwoProcessesWritingAtOnceLoseNothing)
{
    constexpr int perProcess = 40;
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<pid_t> children;
    for (const char* prefix : {"A", "B"}) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(start[1]);
            char go;
            (void)!::read(start[0], &go, 1); // returns when the parent closes its end
            PosixRegistry registry(store_);
            RegistryKey key(registry, registry.CreateKey(HKeyLocalMachine, SettingsKey));
            bool ok = bool(key);
            for (int i = 0; ok && i < perProcess; ++i)
                ok = registry.SetValue(key.Get(), prefix + std::to_string(i), RegBinary,
                                       std::string(size_t(i + 1), *prefix));
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    ::close(start[0]);
    ::close(start[1]);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    PosixRegistry reader(store_);
    RegistryKey key(reader, reader.OpenKey(HKeyLocalMachine, SettingsKey, IRegistry::Access::Read));
    ASSERT_TRUE(key);
    for (const char* prefix : {"A", "B"}) {
        for (int i = 0; i < perProcess; ++i) {
            RegValue value;
            ASSERT_TRUE(reader.QueryValue(key.Get(), prefix + std::to_string(i), value)) << prefix << i;
            EXPECT_EQ(value.data, std::string(size_t(i + 1), *prefix));
        }
    }
    EXPECT_EQ(FilesBeside(), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST_F(PosixRegistryTest, StoreThatCannotBeWrittenFailsWithoutHarm)
{
    // The folder cannot be created: a file is where it should be.
    WriteText(dir_ + "/config", "not a folder");
    PosixRegistry blocked(store_);
    EXPECT_EQ(blocked.CreateKey(HKeyLocalMachine, SettingsKey), 0u);
    RegistryKey software(blocked, blocked.OpenKey(HKeyLocalMachine, "SOFTWARE", IRegistry::Access::All));
    ASSERT_TRUE(software);
    EXPECT_FALSE(blocked.SetValue(software.Get(), "PortName", RegSz, "COM1"));
    RegValue value;
    EXPECT_FALSE(blocked.QueryValue(software.Get(), "PortName", value));

    // The store is a folder: it cannot be read, so it is not replaced.
    fs::remove(dir_ + "/config");
    fs::create_directories(store_);
    PosixRegistry folder(store_);
    RegistryKey key(folder, folder.OpenKey(HKeyLocalMachine, "SOFTWARE", IRegistry::Access::All));
    EXPECT_FALSE(folder.SetValue(key.Get(), "PortName", RegSz, "COM1"));
    EXPECT_TRUE(fs::is_directory(store_));

    // No store at all: nothing is found, nothing is created by reading.
    PosixRegistry nowhere("");
    EXPECT_EQ(nowhere.OpenKey(HKeyLocalMachine, SettingsKey, IRegistry::Access::Read), 0u);
    EXPECT_EQ(nowhere.CreateKey(HKeyLocalMachine, SettingsKey), 0u);
}

TEST_F(PosixRegistryTest, SymbolicLinkToTheStoreStaysALink)
{
    const std::string real = dir_ + "/dotfiles/registry.reg";
    fs::create_directories(dir_ + "/dotfiles");
    fs::create_directories(fs::path(store_).parent_path());
    WriteText(real, "REGEDIT4\n");
    fs::create_symlink(real, store_);

    PosixRegistry registry(store_);
    RegistryKey key(registry, registry.CreateKey(HKeyLocalMachine, SettingsKey));
    ASSERT_TRUE(registry.SetValue(key.Get(), "DLSpeed", RegDword, DwordBytes(4)));
    EXPECT_TRUE(fs::is_symlink(store_));
    EXPECT_NE(ReadText(real).find("\"DLSpeed\"=dword:00000004"), std::string::npos);
}

TEST_F(PosixRegistryTest, BrokenStoreLoadsWhatParsesAndKeepsItsOriginal)
{
    std::mt19937 random(7);
    std::string noise(4096, '\0');
    for (char& c : noise)
        c = char(random());
    const std::string good = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varden\\IOCommDL]\n"
                             "\"PortName\"=\"COM3:\"\n";

    struct Case {
        const char* what;
        std::string text;
        bool portNameLoads;
    };
    const std::vector<Case> cases = {
        {"random bytes", noise, false},
        {"cut inside a hex list", good + "\"Comm data\"=hex:01,02,\\\n  03,0", true},
        {"cut after a continuation", good + "\"Comm data\"=hex:01,02,\\\n", true},
        {"cut inside a text", good + "\"DLFileName\"=\"C:\\\\fw", true},
        {"header without ]",
         "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varden\\IOCommDL\n\"PortName\"=\"COM9:\"\n", false},
        {"no REGEDIT4 line", good.substr(9), true},
        {"garbage line", good + "PortName=COM4\n", true},
    };
    const std::regex copyName(".*/registry\\.reg\\.broken-[0-9]{8}-[0-9]{6}(-[0-9]+)?");

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(fs::path(store_).parent_path());
        HandWrite(c.text);
        PosixRegistry registry(store_);
        EXPECT_TRUE(PosixRegistry::Parse(c.text).broken);
        RegValue value;
        RegistryKey found(registry, registry.OpenKey(HKeyLocalMachine, SettingsKey, IRegistry::Access::Read));
        EXPECT_EQ(found && registry.QueryValue(found.Get(), "PortName", value), c.portNameLoads);
        EXPECT_FALSE(found && registry.QueryValue(found.Get(), "Comm data", value))
            << "a cut value is not loaded";
        EXPECT_FALSE(found && registry.QueryValue(found.Get(), "DLFileName", value))
            << "a cut value is not loaded";

        testing::internal::CaptureStderr();
        RegistryKey key(registry, registry.CreateKey(HKeyLocalMachine, SettingsKey));
        ASSERT_TRUE(key);
        ASSERT_TRUE(registry.SetValue(key.Get(), "DLSpeed", RegDword, DwordBytes(1)));
        ASSERT_TRUE(registry.SetValue(key.Get(), "XonXoff", RegDword, DwordBytes(1)));
        const std::string said = testing::internal::GetCapturedStderr();

        std::vector<std::string> copies;
        for (const std::string& name : FilesBeside()) {
            if (name.find(".broken-") != std::string::npos)
                copies.push_back(fs::path(store_).parent_path() / name);
        }
        ASSERT_EQ(copies.size(), 1u);
        EXPECT_TRUE(std::regex_match(copies[0], copyName)) << copies[0];
        EXPECT_EQ(ReadText(copies[0]), c.text);
        EXPECT_EQ(said, "marlet-download: the settings store " + store_ +
                            " could not be read in full; its original is kept as " + copies[0] + "\n");
        EXPECT_FALSE(PosixRegistry::Parse(ReadText(store_)).broken);
        if (c.portNameLoads) {
            EXPECT_TRUE(registry.QueryValue(key.Get(), "PortName", value)) << "what parsed is kept";
        }
    }
}

TEST_F(PosixRegistryTest, LaterBreakageGetsItsOwnCopy)
{
    HandWrite("garbage one\n");
    PosixRegistry registry(store_);
    testing::internal::CaptureStderr();
    RegistryKey key(registry, registry.CreateKey(HKeyLocalMachine, SettingsKey));
    ASSERT_TRUE(registry.SetValue(key.Get(), "DLSpeed", RegDword, DwordBytes(1)));
    WriteText(store_, "garbage two\n");
    ASSERT_TRUE(registry.SetValue(key.Get(), "DLSpeed", RegDword, DwordBytes(2)));
    testing::internal::GetCapturedStderr();

    std::vector<std::string> originals;
    for (const std::string& name : FilesBeside()) {
        if (name.find(".broken-") != std::string::npos)
            originals.push_back(ReadText(fs::path(store_).parent_path() / name));
    }
    std::sort(originals.begin(), originals.end());
    EXPECT_EQ(originals, (std::vector<std::string>{"garbage one\n", "garbage two\n"}));
}

TEST_F(PosixRegistryTest, EmptyOrMissingStoreIsNotBroken)
{
    for (bool empty : {false, true}) {
        fs::remove_all(fs::path(store_).parent_path());
        if (empty)
            HandWrite("");
        PosixRegistry registry(store_);
        testing::internal::CaptureStderr();
        RegistryKey key(registry, registry.CreateKey(HKeyLocalMachine, SettingsKey));
        ASSERT_TRUE(key);
        EXPECT_TRUE(registry.SetValue(key.Get(), "DLSpeed", RegDword, DwordBytes(0)));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(FilesBeside(), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
    }
}

TEST(PosixRegistryParse, NeverCrashesOnDamagedText)
{
    std::string valid =
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"S\"=\"t\\\"x\"\n\"D\"=dword:00000001\n"
        "\"B\"=hex:01,02,\\\n  03\n\"T\"=hex(7):61,00,00\n@=\"\"\n[]\n[x\n\"\n@\n\"n\"\n\"n\"=\n"
        "\"n\"=hex(\n\"n\"=hex(zz):00\n\"n\"=dword:123456789\n";
    std::mt19937 random(11);
    for (int round = 0; round < 2000; ++round) {
        std::string text = valid;
        const int edits = 1 + int(random() % 8);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const size_t at = random() % text.size();
            switch (random() % 3) {
            case 0:
                text[at] = char(random());
                break;
            case 1:
                text.erase(at, 1 + random() % 8);
                break;
            default:
                text.resize(at);
                break;
            }
        }
        const PosixRegistry::Store store = PosixRegistry::Parse(text);
        // Whatever loaded is written and read back unchanged.
        const PosixRegistry::Store again = PosixRegistry::Parse(PosixRegistry::Format(store));
        EXPECT_FALSE(again.broken) << text;
        ASSERT_EQ(again.sections.size(), store.sections.size()) << text;
        for (size_t s = 0; s < store.sections.size(); ++s) {
            ASSERT_EQ(again.sections[s].values.size(), store.sections[s].values.size()) << text;
            for (size_t v = 0; v < store.sections[s].values.size(); ++v) {
                EXPECT_EQ(again.sections[s].values[v].value.data, store.sections[s].values[v].value.data);
                EXPECT_EQ(again.sections[s].values[v].value.type, store.sections[s].values[v].value.type);
            }
        }
    }
}

TEST_F(PosixRegistryTest, SystemKeysAreAnsweredByTheGivenView)
{
    FakeRegistry system;
    system.SetString("SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1\\Serial1\\Device Parameters", "PortName",
                     "COM7");
    system.Ensure("SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_2");
    PosixRegistry registry(store_, &system);

    RegistryKey usb(registry, registry.OpenKey(HKeyLocalMachine, "SYSTEM\\CurrentControlSet\\Enum\\USB",
                                               IRegistry::Access::Read));
    ASSERT_TRUE(usb);
    std::vector<std::string> names;
    std::string name;
    for (uint32_t i = 0; registry.EnumKey(usb.Get(), i, name); ++i)
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"VID_1", "VID_2"}));
    {
        RegistryKey device(registry, registry.OpenKey(usb.Get(), "VID_1\\Serial1\\Device Parameters",
                                                      IRegistry::Access::Read));
        ASSERT_TRUE(device);
        RegValue value;
        ASSERT_TRUE(registry.QueryValue(device.Get(), "PortName", value));
        EXPECT_EQ(value.data, Sz("COM7"));
        EXPECT_EQ(system.openKeys(), 2);
    }
    usb.Close();
    EXPECT_EQ(system.openKeys(), 0) << "every close reaches the view";
    EXPECT_FALSE(fs::exists(store_)) << "the file holds only SOFTWARE";

    PosixRegistry withoutView(store_);
    EXPECT_EQ(withoutView.OpenKey(HKeyLocalMachine, "SYSTEM\\CurrentControlSet", IRegistry::Access::Read),
              0u);
}

TEST(PosixRegistryPath, DefaultStoreFollowsXdgThenHome)
{
    const auto saved = [](const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    const std::optional<std::string> xdg = saved("XDG_CONFIG_HOME"), home = saved("HOME");
    const auto restore = [](const char* name, const std::optional<std::string>& value) {
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    };

    struct Case {
        const char* xdg; // nullptr: unset
        const char* home;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"/x/conf", "/home/u", "/x/conf/marlet-downloader/registry.reg"},
        {"relative/conf", "/home/u", "/home/u/.config/marlet-downloader/registry.reg"},
        {"", "/home/u", "/home/u/.config/marlet-downloader/registry.reg"},
        {nullptr, "/home/u", "/home/u/.config/marlet-downloader/registry.reg"},
    };
    for (const Case& c : cases) {
        restore("XDG_CONFIG_HOME", c.xdg ? std::optional<std::string>(c.xdg) : std::nullopt);
        ::setenv("HOME", c.home, 1);
        EXPECT_EQ(PosixRegistry::DefaultStorePath(), c.expected) << (c.xdg ? c.xdg : "(unset)");
    }
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("HOME");
    const std::string fromPasswd = PosixRegistry::DefaultStorePath();
    EXPECT_FALSE(fromPasswd.empty());
    EXPECT_NE(fromPasswd.find("/.config/marlet-downloader/registry.reg"), std::string::npos);

    restore("XDG_CONFIG_HOME", xdg);
    restore("HOME", home);
}

} // namespace
} // namespace marlet
