// How registry key and value names compare and how a key path splits: names
// without regard to (ASCII) case, paths at backslashes with empty parts dropped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace marlet {

inline char RegistryLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

inline bool SameRegistryName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (RegistryLower(a[i]) != RegistryLower(b[i]))
            return false;
    }
    return true;
}

inline std::vector<std::string> SplitRegistryPath(std::string_view path)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > start)
            parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

} // namespace marlet
