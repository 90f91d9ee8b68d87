#include "platform/posix/PosixFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace marlet {

FileHandle PosixFiles::OpenExistingShared(const std::string& path)
{
    if (path.empty())
        return InvalidFile;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return InvalidFile;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return InvalidFile;
    }
    return fd;
}

bool PosixFiles::Size(FileHandle file, uint32_t& size)
{
    struct stat st {};
    if (::fstat(int(file), &st) != 0)
        return false;
    size = st.st_size > 0xFFFFFFFFll ? 0xFFFFFFFFu : uint32_t(st.st_size);
    return true;
}

bool PosixFiles::Read(FileHandle file, uint8_t* buffer, uint32_t length, uint32_t& read)
{
    read = 0;
    while (read < length) {
        const ssize_t n = ::read(int(file), buffer + read, length - read);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        read += uint32_t(n);
    }
    return true;
}

void PosixFiles::Close(FileHandle file) { ::close(int(file)); }

} // namespace marlet
