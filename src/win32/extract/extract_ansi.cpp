#include "win32/extract/extract_ansi.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace dexalo::win32 {

bool Win32AnsiPaths::FitsAnsi(const std::wstring& text) { return ExactAnsi(text).has_value(); }

std::optional<std::wstring> Win32AnsiPaths::ShortForm(const std::wstring& path) {
    const DWORD needed = ::GetShortPathNameW(path.c_str(), nullptr, 0);
    if (needed == 0) return std::nullopt;
    std::vector<wchar_t> buffer(needed);
    const DWORD length = ::GetShortPathNameW(path.c_str(), buffer.data(), needed);
    if (length == 0 || length >= needed) return std::nullopt;
    return std::wstring(buffer.data(), length);
}

} // namespace dexalo::win32
