#pragma once
// For its lifetime, the system shows no dialog of its own (no disk in the drive, a library
// that cannot be loaded) on this thread: the call fails and the caller decides what to say.
#include <windows.h>

namespace dexalo::win32 {

class QuietSystemErrors {
public:
    QuietSystemErrors() : set_(::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_) != FALSE) {}
    ~QuietSystemErrors() {
        if (set_) ::SetThreadErrorMode(old_, nullptr);
    }
    QuietSystemErrors(const QuietSystemErrors&) = delete;
    QuietSystemErrors& operator=(const QuietSystemErrors&) = delete;

private:
    DWORD old_ = 0;
    bool set_;
};

} // namespace dexalo::win32
