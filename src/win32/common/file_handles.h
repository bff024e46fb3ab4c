#pragma once
// Owns a kernel handle (a file, a process, a thread); closed with CloseHandle.
#include <windows.h>

#include "win32/common/unique_resource.h"

namespace dexalo::win32 {

struct KernelTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static bool Valid(Type h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Type h) { ::CloseHandle(h); }
};
using UniqueKernelHandle = UniqueResource<KernelTraits>;

} // namespace dexalo::win32
