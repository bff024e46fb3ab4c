#pragma once
// The ANSI code page at the archiver and LZ library calls.
#include <optional>
#include <string>
#include <string_view>

#include "extract/extract_platform.h"
#include "common/win32/ansi_text.h"

namespace dexalo::win32 {

class Win32AnsiPaths final : public AnsiPaths {
public:
    bool FitsAnsi(const std::wstring& text) override;
    std::optional<std::wstring> ShortForm(const std::wstring& path) override;
};

} // namespace dexalo::win32
