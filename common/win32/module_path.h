#pragma once
// Where a module was loaded from, however long the path.
#include <windows.h>

#include <string>

namespace dexalo::win32 {

// The full path of `module` (nullptr: the program's own file); "" when the system cannot say.
std::wstring ModulePath(HMODULE module = nullptr);

// The module that holds the calling code: the program, or the DLL that links this in.
HMODULE ThisModule();

} // namespace dexalo::win32
