#pragma once
// Owns an open registry key; closed with RegCloseKey.
#include <windows.h>

#include "common/win32/handles.h"

namespace dexalo::win32 {

struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static bool Valid(Type key) { return key != nullptr; }
    static void Close(Type key) { ::RegCloseKey(key); }
};
using UniqueRegKey = UniqueResource<RegKeyTraits>;

} // namespace dexalo::win32
