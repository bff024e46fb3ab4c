#include "common/win32/ansi_text.h"

#include <windows.h>

#include <cstring>

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

std::optional<std::string> ExactAnsi(std::wstring_view text) {
    if (text.empty()) return std::string();
    // A UTF-8 code page carries everything and refuses the lossiness query.
    const bool utf8 = ::GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL lossy = FALSE;
    BOOL* lossyOut = utf8 ? nullptr : &lossy;
    const int length = static_cast<int>(text.size());
    const int size = ::WideCharToMultiByte(CP_ACP, flags, text.data(), length, nullptr, 0, nullptr, lossyOut);
    if (size <= 0 || lossy) return std::nullopt;
    std::string out(static_cast<std::size_t>(size), '\0');
    if (::WideCharToMultiByte(CP_ACP, flags, text.data(), length, out.data(), size, nullptr, lossyOut) != size ||
        lossy)
        return std::nullopt;
    return out;
}

std::wstring WideFromCodePage(unsigned codePage, std::string_view bytes) {
    if (bytes.empty()) return {};
    const int length = static_cast<int>(bytes.size());
    const int size = ::MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
    if (size <= 0) return {};
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), length, out.data(), size);
    return out;
}

std::wstring WideFromAnsi(std::string_view bytes) { return WideFromCodePage(CP_ACP, bytes); }

std::wstring WideFromAnsiBuffer(const char* buffer, std::size_t size) {
    const void* nul = std::memchr(buffer, 0, size);
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer) : size;
    return WideFromAnsi(std::string_view(buffer, length));
}

} // namespace dexalo::win32
