// The platform back end of this build, made once for the process: the real
// Win32 services on Windows, the POSIX back ends (with the settings store in
// the user's configuration folder) elsewhere.
#pragma once

#if defined(_WIN32)
#include "platform/win32/Win32Platform.h"
#else
#include "platform/posix/PosixPlatform.h"
#endif

namespace marlet {

#if defined(_WIN32)
class NativeServices : public Win32Platform {};
#else
class NativeServices : public PosixPlatform {
public:
    NativeServices() : PosixPlatform(DefaultStorePath()) {}
};
#endif

} // namespace marlet
