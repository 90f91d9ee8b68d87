// Every POSIX back end, composed into the services the program runs on.
#pragma once

#include "platform/Platform.h"
#include "platform/posix/PortNaming.h"
#include "platform/posix/PosixClock.h"
#include "platform/posix/PosixCommDevice.h"
#include "platform/posix/PosixFiles.h"
#include "platform/posix/PosixRegistry.h"
#include "platform/posix/PosixSockets.h"
#include "platform/posix/PosixSystem.h"
#include "platform/posix/SystemKeys.h"

#include <string>

namespace marlet {

class PosixPlatform {
public:
    // storePath: the settings store file; root: where /sys and /dev are found.
    explicit PosixPlatform(const std::string& storePath, const std::string& root = "/")
        : store(storePath), naming(store, root), system(store, root), systemKeys(system),
          registry(storePath, &systemKeys), comm(naming)
    {
    }
    static std::string DefaultStorePath() { return PosixRegistry::DefaultStorePath(); }

    // The store's own keys, for port naming (a second view of the same file; the
    // store is safe for several users at once).
    PosixRegistry store;
    PortNaming naming;
    PosixSystem system;
    SystemKeys systemKeys;
    // The registry the program's logic sees: the store plus the read-only
    // machine keys made from sysfs and CUPS.
    PosixRegistry registry;
    PosixCommDevice comm;
    PosixSockets sockets;
    PosixClock clock;
    PosixFiles files;
    Platform platform{registry, comm, sockets, system, clock, files};
};

} // namespace marlet
