#pragma once
// Owns a file search (FindFirstFile); closed with FindClose.
#include <windows.h>

#include "win32/common/unique_resource.h"

namespace dexalo::win32 {

struct FindTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Valid(Type h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Type h) { ::FindClose(h); }
};
using UniqueFindHandle = UniqueResource<FindTraits>;

} // namespace dexalo::win32
