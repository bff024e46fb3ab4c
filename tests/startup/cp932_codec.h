#pragma once
// The Japanese ANSI code page, for native tests (glibc iconv).
#include "startup/settings.h"

namespace dexalo::testing {

class Cp932Codec : public AnsiCodec {
public:
    std::string ToAnsi(std::wstring_view text) const override;
    std::wstring FromAnsi(std::string_view bytes) const override;
    bool Holds(std::wstring_view text) const override;
};

} // namespace dexalo::testing
