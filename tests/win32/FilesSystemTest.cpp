// The files and system back ends on the real kernel, spooler and device
// installation services.
#include "platform/win32/Win32Files.h"
#include "platform/win32/Win32System.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <windows.h>
#undef EnumPorts

namespace marlet::testing {
namespace {

std::string TempPath(const std::string& name)
{
    char folder[MAX_PATH + 1] = {};
    ::GetTempPathA(sizeof folder, folder);
    return std::string(folder) + name + "-" + std::to_string(::GetCurrentProcessId());
}

TEST(Win32Files, ReadsAnExistingFileSharedWithOtherReaders)
{
    const std::string path = TempPath("marlet-image");
    std::vector<uint8_t> content;
    for (int i = 0; i < 3000; ++i)
        content.push_back(uint8_t(i * 7));
    const HANDLE writer =
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(writer, content.data(), DWORD(content.size()), &written, nullptr);
    ::CloseHandle(writer);

    // Another program reading the same file does not stop the download.
    const HANDLE other = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    Win32Files files;
    FileHolder file(files, files.OpenExistingShared(path));
    ASSERT_TRUE(file.IsOpen());
    uint32_t size = 0;
    ASSERT_TRUE(files.Size(file.Get(), size));
    EXPECT_EQ(size, 3000u);
    std::vector<uint8_t> buffer(2000);
    uint32_t read = 0;
    ASSERT_TRUE(files.Read(file.Get(), buffer.data(), 2000, read));
    EXPECT_EQ(read, 2000u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), content.begin()));
    ASSERT_TRUE(files.Read(file.Get(), buffer.data(), 2000, read));
    EXPECT_EQ(read, 1000u);
    ASSERT_TRUE(files.Read(file.Get(), buffer.data(), 2000, read));
    EXPECT_EQ(read, 0u);
    file.Close();
    ::CloseHandle(other);
    ::DeleteFileA(path.c_str());
}

TEST(Win32Files, MissingFilesAndFoldersDoNotOpen)
{
    Win32Files files;
    EXPECT_EQ(files.OpenExistingShared(TempPath("marlet-missing")), InvalidFile);
    EXPECT_EQ(files.OpenExistingShared(""), InvalidFile);
    char folder[MAX_PATH + 1] = {};
    ::GetTempPathA(sizeof folder, folder);
    EXPECT_EQ(files.OpenExistingShared(folder), InvalidFile);
}

TEST(Win32System, AnswersFromTheSpoolerAndThePlatform)
{
    Win32System system;
    std::vector<std::string> ports;
    ASSERT_TRUE(system.EnumPorts(ports));
    // Every spooler has the FILE: port; the names come whole.
    EXPECT_NE(std::find(ports.begin(), ports.end(), "FILE:"), ports.end());
    for (const std::string& port : ports)
        EXPECT_FALSE(port.empty());

    std::vector<UsbPrinterInterface> printers{UsbPrinterInterface{"stale", true, false}};
    ASSERT_TRUE(system.UsbPrinterInterfaces(printers));
    for (const UsbPrinterInterface& printer : printers)
        EXPECT_NE(printer.devicePath, "stale");

    const OsVersion version = system.GetVersion();
    EXPECT_EQ(version.platformId, 2u);
    EXPECT_GE(version.majorVersion, 5u);
}

} // namespace
} // namespace marlet::testing
