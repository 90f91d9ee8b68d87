// The platform back end of this build, made once for the process: the real
// Win32 services on Windows, the POSIX back ends (with the settings store in
// the user's configuration folder) elsewhere.
#pragma once

#include "framework/choose/Choose.h"

#if defined(_WIN32)
#include "platform/win32/Win32Platform.h"
#else
#include "platform/posix/PosixPlatform.h"
#endif

namespace marlet {

#if defined(_WIN32)
class NativeServices : public Win32Platform {
public:
    // The comm device shows the platform's own port configuration dialog.
    void UseWindows(WindowSystem&) {}
};
#else
class NativeServices : public PosixPlatform {
public:
    NativeServices() : PosixPlatform(DefaultStorePath()) {}
    // The window layer's port configuration dialog, where it has one; the
    // terminal is asked otherwise.
    void UseWindows(WindowSystem& windows)
    {
        if (CommConfigDialogFunction dialog = CommConfigDialogOf(windows))
            comm.SetConfigDialogHook(std::move(dialog));
    }
};
#endif

} // namespace marlet
