#pragma once
// The ANSI code page at the archiver and LZ library calls.
#include <optional>
#include <string>
#include <string_view>

#include "extract/extract_platform.h"

namespace dexalo::win32 {

// Characters the code page lacks become its default character; callers check FitsAnsi first.
std::string AnsiFromWide(std::wstring_view text);
std::wstring WideFromAnsi(std::string_view bytes);
// Up to the first NUL, never past size bytes.
std::wstring WideFromAnsiBuffer(const char* buffer, std::size_t size);

class Win32AnsiPaths final : public AnsiPaths {
public:
    bool FitsAnsi(const std::wstring& text) override;
    std::optional<std::wstring> ShortForm(const std::wstring& path) override;
};

} // namespace dexalo::win32
