#pragma once
// Owns an open registry key; closed with RegCloseKey.
#include <windows.h>

#include "win32/common/unique_resource.h"

namespace dexalo::win32 {

struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static bool Valid(Type key) { return key != nullptr; }
    static void Close(Type key) { ::RegCloseKey(key); }
};
using UniqueRegKey = UniqueResource<RegKeyTraits>;

} // namespace dexalo::win32
