// Clock seam: millisecond ticks and pauses.
#pragma once

#include <cstdint>

namespace marlet {

class IClock {
public:
    virtual ~IClock() = default;
    virtual void Sleep(uint32_t milliseconds) = 0;
    // Milliseconds since an arbitrary start; wraps like the platform's 32-bit tick count.
    virtual uint32_t TickCount() = 0;
};

} // namespace marlet
