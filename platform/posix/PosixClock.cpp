#include "platform/posix/PosixClock.h"

#include <chrono>
#include <thread>

namespace marlet {

void PosixClock::Sleep(uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

uint32_t PosixClock::TickCount()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

} // namespace marlet
