#include "platform/win32/Win32Files.h"

#include <windows.h>

namespace marlet {

namespace {
HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
} // namespace

FileHandle Win32Files::OpenExistingShared(const std::string& path)
{
    if (path.empty())
        return InvalidFile;
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return InvalidFile;
    return reinterpret_cast<FileHandle>(file);
}

bool Win32Files::Size(FileHandle file, uint32_t& size)
{
    DWORD high = 0;
    const DWORD low = ::GetFileSize(ToHandle(file), &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR)
        return false;
    // Files of 4 GiB or more are reported as the largest size the count holds.
    size = high != 0 ? 0xFFFFFFFFu : uint32_t(low);
    return true;
}

bool Win32Files::Read(FileHandle file, uint8_t* buffer, uint32_t length, uint32_t& read)
{
    read = 0;
    while (read < length) {
        DWORD got = 0;
        if (!::ReadFile(ToHandle(file), buffer + read, length - read, &got, nullptr))
            return false;
        if (got == 0)
            break;
        read += got;
    }
    return true;
}

void Win32Files::Close(FileHandle file) { ::CloseHandle(ToHandle(file)); }

} // namespace marlet
