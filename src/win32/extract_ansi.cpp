#include "win32/extract_ansi.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace dexalo::win32 {

std::string AnsiFromWide(std::wstring_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring WideFromAnsi(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int length = static_cast<int>(bytes.size());
    const int size = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    if (size <= 0) return {};
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, out.data(), size);
    return out;
}

std::wstring WideFromAnsiBuffer(const char* buffer, std::size_t size) {
    const void* nul = std::memchr(buffer, 0, size);
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer) : size;
    return WideFromAnsi(std::string_view(buffer, length));
}

bool Win32AnsiPaths::FitsAnsi(const std::wstring& text) {
    if (text.empty()) return true;
    // A UTF-8 ANSI code page holds everything (and rejects the default-char query).
    if (::GetACP() == CP_UTF8) return true;
    BOOL usedDefault = FALSE;
    // No best fit: "é" silently becoming "e" would name another file.
    const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, &usedDefault);
    return size > 0 && !usedDefault;
}

std::optional<std::wstring> Win32AnsiPaths::ShortForm(const std::wstring& path) {
    const DWORD needed = ::GetShortPathNameW(path.c_str(), nullptr, 0);
    if (needed == 0) return std::nullopt;
    std::vector<wchar_t> buffer(needed);
    const DWORD length = ::GetShortPathNameW(path.c_str(), buffer.data(), needed);
    if (length == 0 || length >= needed) return std::nullopt;
    return std::wstring(buffer.data(), length);
}

} // namespace dexalo::win32
