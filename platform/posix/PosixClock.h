// The steady clock of the machine.
#pragma once

#include "platform/Clock.h"

namespace marlet {

class PosixClock : public IClock {
public:
    void Sleep(uint32_t milliseconds) override;
    uint32_t TickCount() override;
};

} // namespace marlet
