// Every Win32 back end, composed into the services the program runs on.
#pragma once

#include "platform/Platform.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32CommDevice.h"
#include "platform/win32/Win32Files.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32Sockets.h"
#include "platform/win32/Win32System.h"

namespace marlet {

class Win32Platform {
public:
    Win32Platform() = default;
    Win32Platform(const Win32Platform&) = delete;
    Win32Platform& operator=(const Win32Platform&) = delete;

    Win32Registry registry;
    Win32CommDevice comm;
    Win32Sockets sockets;
    Win32System system;
    Win32Clock clock;
    Win32Files files;
    Platform platform{registry, comm, sockets, system, clock, files};
};

} // namespace marlet
