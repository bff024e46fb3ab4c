#pragma once
// The system's ANSI code page, at the calls that only take single-byte text.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace dexalo::win32 {

// Characters the code page lacks become its default character.
std::string AnsiFromWide(std::wstring_view text);
// nullopt when any character would be lost or replaced (no best fit: "é" must not become "e").
std::optional<std::string> ExactAnsi(std::wstring_view text);
std::wstring WideFromAnsi(std::string_view bytes);
// The same from another code page (CP_OEMCP: ZIP names without the UTF-8 flag).
std::wstring WideFromCodePage(unsigned codePage, std::string_view bytes);
// Up to the first NUL, never past size bytes.
std::wstring WideFromAnsiBuffer(const char* buffer, std::size_t size);

} // namespace dexalo::win32
