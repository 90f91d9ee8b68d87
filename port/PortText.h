// Small helpers shared by the port object's files.
#pragma once

#include "platform/CommConfig.h"
#include "platform/Registry.h"

#include <cctype>
#include <cstdint>
#include <string>

namespace marlet {

inline bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

inline bool EndsWith(const std::string& text, char c) { return !text.empty() && text.back() == c; }

// "<what> failed, GetLastError() returned: <code>"
inline std::string FailureText(const std::string& what, uint32_t code)
{
    return what + " failed, GetLastError() returned: " + std::to_string(code);
}

// The stored serial configuration ("Comm Data", exactly 52 bytes).
bool ReadCommConfig(IRegistry& registry, RegKey key, CommConfig& config);

// Makes the flow-control members of a DCB consistent with its fOutX and
// fOutxCtsFlow flags; an open (opening) also clears the DSR members that
// XON/XOFF does not use.
void NormaliseFlowControl(Dcb& dcb, bool opening);

// The handshake mode a configuration's flow-control flags describe.
int32_t HandshakeFromConfig(const CommConfig& config);

} // namespace marlet
