#include "platform/win32/Win32Clock.h"

#include <windows.h>

namespace marlet {

void Win32Clock::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint32_t Win32Clock::TickCount() { return ::GetTickCount(); }

} // namespace marlet
