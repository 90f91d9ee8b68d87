// The tick count and pauses of the Windows kernel.
#pragma once

#include "platform/Clock.h"

namespace marlet {

class Win32Clock : public IClock {
public:
    void Sleep(uint32_t milliseconds) override;
    uint32_t TickCount() override;
};

} // namespace marlet
