// Values shared by the whole process, as the program's logic names them.
#pragma once

#include "platform/CommDevice.h" // WindowHandle

#include <cstdint>

namespace marlet {

extern int32_t NoMessages;        // stored switch: message boxes off
extern int32_t XonXoff;           // stored switch: XON/XOFF flow control for serial transfers
extern int32_t QuietMode;         // -s sets 1, -sa sets 4: message boxes off for this run
extern WindowHandle MessageOwner; // owner of the port layer's message boxes
extern int32_t FirstPass;         // which option set a command-line pass handles
extern int32_t ExitStatus;        // result of the last -verify:, the status of -exit

// Back to the values at process load (for tests).
void ResetProcessValues();

} // namespace marlet
