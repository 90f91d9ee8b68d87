// In-memory files.
#pragma once

#include "platform/Files.h"

#include <algorithm>
#include <map>
#include <string>

namespace marlet {

class FakeFiles : public IFiles {
public:
    FileHandle OpenExistingShared(const std::string& path) override
    {
        auto it = files.find(path);
        if (it == files.end())
            return InvalidFile;
        const FileHandle h = next_++;
        open_[h] = {path, 0};
        return h;
    }
    bool Size(FileHandle file, uint32_t& size) override
    {
        auto it = open_.find(file);
        if (it == open_.end())
            return false;
        size = uint32_t(files[it->second.path].size());
        return true;
    }
    bool Read(FileHandle file, uint8_t* buffer, uint32_t length, uint32_t& read) override
    {
        auto it = open_.find(file);
        read = 0;
        if (it == open_.end())
            return false;
        ++reads;
        if (failReadAfter >= 0 && reads > failReadAfter)
            return false;
        const std::string& data = files[it->second.path];
        const size_t pos = it->second.position;
        const size_t n = pos < data.size() ? std::min<size_t>(length, data.size() - pos) : 0;
        data.copy(reinterpret_cast<char*>(buffer), n, pos);
        it->second.position += n;
        read = uint32_t(n);
        return true;
    }
    void Close(FileHandle file) override { open_.erase(file); }

    int OpenCount() const { return int(open_.size()); }

    std::map<std::string, std::string> files;
    int failReadAfter = -1; // reads after this many fail
    int reads = 0;

private:
    struct OpenFile {
        std::string path;
        size_t position;
    };
    std::map<FileHandle, OpenFile> open_;
    FileHandle next_ = 100;
};

} // namespace marlet
