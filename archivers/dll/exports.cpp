// The exports of one archiver library. Built once per library with DEXALO_PREFIX (the
// export prefix, which is also the main operation's name), DEXALO_FAMILY and the interface
// the program calls, DEXALO_CALLS_Count, DEXALO_CALLS_Check or DEXALO_CALLS_Join, defined.
#include <windows.h>

#include "engine/pipeline/api.h"
#include "common/win32/quiet_errors.h"
#include "win32/windowed_run.h"

#if !defined(DEXALO_PREFIX) || !defined(DEXALO_FAMILY)
#error "DEXALO_PREFIX and DEXALO_FAMILY must be defined"
#endif

#define DEXALO_JOIN2(a, b) a##b
#define DEXALO_JOIN(a, b) DEXALO_JOIN2(a, b)
#define DEXALO_EXPORT(name) DEXALO_JOIN(DEXALO_PREFIX, name)

namespace arc = dexalo::archivers;
// Every call that opens files runs with the system's own error boxes (no disk in drive) kept away.
using dexalo::win32::QuietSystemErrors;

namespace {
constexpr arc::Family kFamily = arc::Family::DEXALO_FAMILY;
}

extern "C" {

#if defined(DEXALO_CALLS_Check)
// A check library: a 32-bit version, the check call, and a main operation of two arguments.
__declspec(dllexport) DWORD WINAPI DEXALO_EXPORT(GetVersion)(void) { return static_cast<DWORD>(arc::kVersion); }

__declspec(dllexport) BOOL WINAPI DEXALO_EXPORT(CheckArchive)(LPCSTR archivePath, int mode) {
    const QuietSystemErrors quiet;
    return arc::CheckArchive(kFamily, archivePath, mode);
}

__declspec(dllexport) int WINAPI DEXALO_PREFIX(HWND owner, LPCSTR commandLine) {
    const QuietSystemErrors quiet;
    return arc::win32::RunWithWindows(kFamily, owner, commandLine, nullptr, 0);
}
#elif defined(DEXALO_CALLS_Join)
// The split-file library: a 16-bit version, the check call, and the join.
__declspec(dllexport) WORD WINAPI DEXALO_EXPORT(GetVersion)(void) { return static_cast<WORD>(arc::kVersion); }

__declspec(dllexport) BOOL WINAPI DEXALO_EXPORT(CheckArchive)(LPCSTR path, int mode) {
    const QuietSystemErrors quiet;
    return arc::CheckArchive(kFamily, path, mode);
}

// Joins the set of `path` into `folder`. The program passes no window: ours are centred on
// the screen, and our own message says what went wrong (the program shows nothing).
__declspec(dllexport) int WINAPI DEXALO_EXPORT(Combine)(LPCSTR path, LPCSTR folder) {
    const QuietSystemErrors quiet;
    return arc::win32::RunWithWindows(
        nullptr, [&](arc::UserInterface* ui) { return arc::Combine(kFamily, path, folder, ui); }, true);
}
#else
__declspec(dllexport) WORD WINAPI DEXALO_EXPORT(GetVersion)(void) {
    return static_cast<WORD>(arc::kVersion);
}

__declspec(dllexport) int WINAPI DEXALO_EXPORT(GetFileCount)(LPCSTR archivePath) {
    const QuietSystemErrors quiet;
    return arc::GetFileCount(kFamily, archivePath);
}

__declspec(dllexport) BOOL WINAPI DEXALO_EXPORT(CheckArchive)(LPCSTR archivePath, int mode) {
    const QuietSystemErrors quiet;
    return arc::CheckArchive(kFamily, archivePath, mode);
}

__declspec(dllexport) HANDLE WINAPI DEXALO_EXPORT(OpenArchive)(HWND, LPCSTR archivePath, DWORD mode) {
    const QuietSystemErrors quiet;
    return reinterpret_cast<HANDLE>(arc::OpenArchive(kFamily, archivePath, mode));
}

__declspec(dllexport) int WINAPI DEXALO_EXPORT(FindFirst)(HANDLE archive, LPCSTR wildcard, void* record) {
    return arc::FindFirst(kFamily, reinterpret_cast<std::uintptr_t>(archive), wildcard,
                          static_cast<arc::EntryRecord*>(record));
}

__declspec(dllexport) int WINAPI DEXALO_EXPORT(FindNext)(HANDLE archive, void* record) {
    return arc::FindNext(kFamily, reinterpret_cast<std::uintptr_t>(archive), static_cast<arc::EntryRecord*>(record));
}

__declspec(dllexport) int WINAPI DEXALO_EXPORT(CloseArchive)(HANDLE archive) {
    return arc::CloseArchive(kFamily, reinterpret_cast<std::uintptr_t>(archive));
}

// The main operation: the only call that shows windows (progress, password, what went wrong),
// owned by `owner`.
__declspec(dllexport) int WINAPI DEXALO_PREFIX(HWND owner, LPCSTR commandLine, LPSTR output, DWORD outputSize) {
    const QuietSystemErrors quiet;
    return arc::win32::RunWithWindows(kFamily, owner, commandLine, output, outputSize);
}
#endif

} // extern "C"
