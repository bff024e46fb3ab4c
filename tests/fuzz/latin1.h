#pragma once
// Byte-preserving text for the fuzz targets: every byte is one character and back.
// The settings codec of the real program is the ANSI code page; which one does not
// matter to the parsers, only that no byte is lost or invented on the way.
#include <string>
#include <string_view>

#include "startup/settings.h"

namespace dexalo::fuzz {

inline std::wstring Widen(std::string_view bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    for (const char c : bytes) text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return text;
}

inline std::string Narrow(std::wstring_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (const wchar_t c : text) bytes.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    return bytes;
}

class Latin1Codec : public AnsiCodec {
public:
    std::string ToAnsi(std::wstring_view text) const override { return Narrow(text); }
    std::wstring FromAnsi(std::string_view bytes) const override { return Widen(bytes); }
    bool Holds(std::wstring_view text) const override {
        for (const wchar_t c : text)
            if (c > 0xFF) return false;
        return true;
    }
};

} // namespace dexalo::fuzz
