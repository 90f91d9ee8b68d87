// The registry back end on the real registry: values keep their types and
// bytes, names match without regard to case, and the keys live in the view a
// 32-bit program sees.
#include "platform/win32/Win32Registry.h"

#include <gtest/gtest.h>

#include <string>

#include <windows.h>

namespace marlet::testing {
namespace {

const std::string kParent = "SOFTWARE\\Varden";
const std::string kLeaf = "IOCommDL-test-" + std::to_string(::GetCurrentProcessId());
const std::string kKey = kParent + "\\" + kLeaf;

class Win32RegistryTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        HKEY parent = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParent.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                            &parent) == ERROR_SUCCESS) {
            ::RegDeleteTreeA(parent, kLeaf.c_str());
            ::RegCloseKey(parent);
        }
    }

    // Whether the key can be opened in one of the two views.
    static bool ExistsInView(const std::string& path, REGSAM view)
    {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
            return false;
        ::RegCloseKey(key);
        return true;
    }

    Win32Registry registry;
};

TEST_F(Win32RegistryTest, ValuesKeepTheirTypeAndBytesAndNamesIgnoreCase)
{
    RegistryKey key(registry, registry.CreateKey(HKeyLocalMachine, kKey));
    ASSERT_TRUE(key);
    const std::string history = " 192.0.2.1:9100" + std::string(1000 - 15, '\0');
    const struct {
        const char* name;
        uint32_t type;
        std::string data;
    } values[] = {
        {"PortName", RegSz, "COM5"},
        {"DLFileName", RegSz, std::string("C:\\fw\\FW2207_218.bot\0", 22)},
        {"DLSpeed", RegDword, DwordBytes(3)},
        {"TCP", RegBinary, history},
        {"Start", RegBinary, std::string("\x1b\0\x40", 3)},
    };
    for (const auto& v : values)
        ASSERT_TRUE(registry.SetValue(key.Get(), v.name, v.type, v.data)) << v.name;
    // Texts are read as text (the registry may add the terminating zero);
    // everything else comes back byte for byte.
    auto text = [](const std::string& data) { return data.substr(0, data.find('\0')); };
    for (const auto& v : values) {
        RegValue read;
        ASSERT_TRUE(registry.QueryValue(key.Get(), v.name, read)) << v.name;
        EXPECT_EQ(read.type, v.type) << v.name;
        if (v.type == RegSz)
            EXPECT_EQ(text(read.data), text(v.data)) << v.name;
        else
            EXPECT_EQ(read.data, v.data) << v.name;
    }
    RegValue other;
    EXPECT_TRUE(registry.QueryValue(key.Get(), "portname", other));
    EXPECT_EQ(text(other.data), "COM5");
    EXPECT_FALSE(registry.QueryValue(key.Get(), "Missing", other));
}

TEST_F(Win32RegistryTest, KeysLiveInTheViewOfA32BitProgram)
{
    RegistryKey key(registry, registry.CreateKey(HKeyLocalMachine, kKey));
    ASSERT_TRUE(key);
    EXPECT_TRUE(ExistsInView(kKey, KEY_WOW64_32KEY));
    EXPECT_FALSE(ExistsInView(kKey, KEY_WOW64_64KEY));
    // A key an earlier 32-bit installation wrote is found.
    EXPECT_TRUE(registry.OpenKey(HKeyLocalMachine, kKey, IRegistry::Access::Read) != 0);
}

TEST_F(Win32RegistryTest, OpensEnumeratesAndRefusesAsTheRegistryDoes)
{
    RegistryKey key(registry, registry.CreateKey(HKeyLocalMachine, kKey));
    ASSERT_TRUE(key);
    RegistryKey first(registry, registry.CreateKey(key.Get(), "First"));
    RegistryKey second(registry, registry.CreateKey(key.Get(), "Second"));
    ASSERT_TRUE(first && second);

    std::string name;
    std::vector<std::string> names;
    for (uint32_t i = 0; registry.EnumKey(key.Get(), i, name); ++i)
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"First", "Second"}));

    EXPECT_EQ(registry.OpenKey(HKeyLocalMachine, kKey + "\\Missing", IRegistry::Access::Read), 0u);
    RegistryKey readOnly(registry, registry.OpenKey(HKeyLocalMachine, kKey, IRegistry::Access::Read));
    ASSERT_TRUE(readOnly);
    EXPECT_FALSE(registry.SetValue(readOnly.Get(), "PortName", RegSz, "COM1"));
    // The machine keys that port discovery walks are read below the same root.
    RegistryKey system(registry, registry.OpenKey(HKeyLocalMachine, "SYSTEM\\CurrentControlSet\\Control",
                                                  IRegistry::Access::Read));
    EXPECT_TRUE(system);
}

} // namespace
} // namespace marlet::testing
