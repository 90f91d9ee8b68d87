// Files seam: an existing file opened for shared reading.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace marlet {

using FileHandle = intptr_t; // -1 means none
constexpr FileHandle InvalidFile = -1;

class IFiles {
public:
    virtual ~IFiles() = default;
    // Opens an existing file for reading, others may read it at the same time.
    virtual FileHandle OpenExistingShared(const std::string& path) = 0;
    virtual bool Size(FileHandle file, uint32_t& size) = 0;
    virtual bool Read(FileHandle file, uint8_t* buffer, uint32_t length, uint32_t& read) = 0;
    virtual void Close(FileHandle file) = 0;
};

// An open file, closed on every way out.
class FileHolder {
public:
    FileHolder(IFiles& files, FileHandle handle) : files_(files), handle_(handle) {}
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;
    ~FileHolder() { Close(); }
    FileHandle Get() const { return handle_; }
    bool IsOpen() const { return handle_ != InvalidFile; }
    void Close()
    {
        if (handle_ != InvalidFile)
            files_.Close(std::exchange(handle_, InvalidFile));
    }

private:
    IFiles& files_;
    FileHandle handle_;
};

} // namespace marlet
