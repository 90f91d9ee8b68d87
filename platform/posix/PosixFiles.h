// Files through POSIX descriptors.
#pragma once

#include "platform/Files.h"

namespace marlet {

class PosixFiles : public IFiles {
public:
    FileHandle OpenExistingShared(const std::string& path) override;
    bool Size(FileHandle file, uint32_t& size) override;
    bool Read(FileHandle file, uint8_t* buffer, uint32_t length, uint32_t& read) override;
    void Close(FileHandle file) override;
};

} // namespace marlet
