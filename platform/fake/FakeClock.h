// Virtual time: Sleep advances it at once and is recorded.
#pragma once

#include "platform/Clock.h"

#include <functional>
#include <vector>

namespace marlet {

class FakeClock : public IClock {
public:
    void Sleep(uint32_t milliseconds) override
    {
        sleeps.push_back(milliseconds);
        Advance(milliseconds);
    }
    uint32_t TickCount() override { return now; }
    void Advance(uint32_t milliseconds)
    {
        now += milliseconds;
        if (onAdvance)
            onAdvance(milliseconds);
    }
    // Total of all sleeps so far.
    uint64_t Slept() const
    {
        uint64_t total = 0;
        for (uint32_t s : sleeps)
            total += s;
        return total;
    }

    uint32_t now = 1000;
    std::vector<uint32_t> sleeps;
    // Lets a simulated device see time pass.
    std::function<void(uint32_t)> onAdvance;
};

} // namespace marlet
