// Reads registry values the way a fixed-size read area takes them: a value
// larger than the area fails instead of being cut.
#pragma once

#include "platform/Registry.h"

#include <cstdint>
#include <string>

namespace marlet::discovery {

// A value read into a 4-byte area, whatever its type; shorter values leave the
// upper bytes 0.
inline bool ReadDword(IRegistry& registry, RegKey key, const std::string& name, uint32_t& out)
{
    RegValue value;
    if (key == 0 || !registry.QueryValue(key, name, value) || value.data.size() > 4)
        return false;
    out = DwordFromBytes(value.data);
    return true;
}

// A text value read into an area of areaSize bytes that must also hold the
// terminating zero: the text ends at the first zero byte; a value that does
// not fit fails.
inline bool ReadText(IRegistry& registry, RegKey key, const std::string& name, size_t areaSize,
                     std::string& out)
{
    RegValue value;
    if (key == 0 || !registry.QueryValue(key, name, value) || value.data.size() > areaSize)
        return false;
    std::string text = value.data.substr(0, value.data.find('\0'));
    if (text.size() + 1 > areaSize)
        return false;
    out = std::move(text);
    return true;
}

} // namespace marlet::discovery
