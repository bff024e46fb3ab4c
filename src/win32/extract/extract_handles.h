#pragma once
// Move-only owners for the modules, search handles and kernel handles extraction opens.
#include <windows.h>
#include <oleauto.h>

#include "win32/common/file_handles.h"
#include "common/win32/handles.h"

namespace dexalo::win32 {

struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static bool Valid(Type h) { return h != nullptr; }
    static void Close(Type h) { ::FreeLibrary(h); }
};
struct BstrTraits {
    using Type = BSTR;
    static Type Invalid() { return nullptr; }
    static bool Valid(Type s) { return s != nullptr; }
    static void Close(Type s) { ::SysFreeString(s); }
};

using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueBstr = UniqueResource<BstrTraits>;

} // namespace dexalo::win32
