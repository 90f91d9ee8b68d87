// Files through kernel32 handles.
#pragma once

#include "platform/Files.h"

namespace marlet {

class Win32Files : public IFiles {
public:
    FileHandle OpenExistingShared(const std::string& path) override;
    bool Size(FileHandle file, uint32_t& size) override;
    bool Read(FileHandle file, uint8_t* buffer, uint32_t length, uint32_t& read) override;
    void Close(FileHandle file) override;
};

} // namespace marlet
