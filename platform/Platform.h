// The platform services the program's logic uses, one seam each.
#pragma once

#include "platform/Clock.h"
#include "platform/CommDevice.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/Sockets.h"
#include "platform/System.h"

namespace marlet {

struct Platform {
    IRegistry& registry;
    ICommDevice& comm;
    ISockets& sockets;
    ISystem& system;
    IClock& clock;
    IFiles& files;
};

} // namespace marlet
