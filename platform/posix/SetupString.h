// The device-control string of the MODE command, applied to a DCB.
#pragma once

#include "platform/CommConfig.h"

#include <string>

namespace marlet {

// Applies a setup string to dcb. Two forms are accepted, each optionally
// preceded by a "COMn:" device name:
//   keys:  "baud=19200 parity=N data=8 stop=2 xon=off odsr=off octs=off
//           dtr=on rts=hs idsr=off to=off" (any subset, blank separated,
//           keys and values without regard to case)
//   short: "9600,n,8,1" with an optional fifth field "x" (XON/XOFF) or
//          "p" (hardware handshake); empty fields keep their member.
// Only the members the string names change (the short form also sets the
// flow-control members; the key form without "stop=" sets the default stop
// bits, as the platform's parser does). A malformed string fails and leaves
// dcb unchanged.
bool ParseSetupString(const std::string& setup, Dcb& dcb);

} // namespace marlet
