#pragma once
// Owners for the handles of the file system: kernel handles (files, processes, threads),
// closed with CloseHandle, and file searches, closed with FindClose.
#include <windows.h>

#include "common/win32/handles.h"

namespace dexalo::win32 {

struct KernelTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static bool Valid(Type h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Type h) { ::CloseHandle(h); }
};
using UniqueKernelHandle = UniqueResource<KernelTraits>;

struct FindTraits : KernelTraits {
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::FindClose(h); }
};
using UniqueFindHandle = UniqueResource<FindTraits>;

} // namespace dexalo::win32
