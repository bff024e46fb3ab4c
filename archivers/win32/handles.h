#pragma once
// Move-only owners for the kernel objects and windows of the libraries' own windows.
#include <windows.h>

#include "win32/common/unique_resource.h"

namespace dexalo::archivers::win32 {

struct KernelTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static bool Valid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::CloseHandle(h); }
};
struct WindowTraits {
    using Type = HWND;
    static Type Invalid() { return nullptr; }
    static bool Valid(Type w) { return w != nullptr; }
    static void Close(Type w) {
        if (::IsWindow(w)) ::DestroyWindow(w);
    }
};
using UniqueKernelHandle = dexalo::win32::UniqueResource<KernelTraits>;
using UniqueWindow = dexalo::win32::UniqueResource<WindowTraits>;

} // namespace dexalo::archivers::win32
