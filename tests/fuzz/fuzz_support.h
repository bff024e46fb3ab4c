#pragma once
// Shared by the fuzz targets. A failed property is a crash, so libFuzzer keeps the input.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "startup/settings.h"

namespace dexalo::fuzz {

inline void Check(bool holds, const char* property) {
    if (!holds) std::fprintf(stderr, "property failed: %s\n", property), std::abort();
}

// Every byte one character and back: a codec that loses or invents nothing.
inline std::wstring Widen(std::string_view bytes) {
    std::wstring text;
    for (const unsigned char b : bytes) text.push_back(b);
    return text;
}

class Latin1Codec : public AnsiCodec {
public:
    std::string ToAnsi(std::wstring_view text) const override {
        std::string bytes;
        for (const wchar_t c : text) bytes.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
        return bytes;
    }
    std::wstring FromAnsi(std::string_view bytes) const override { return Widen(bytes); }
    bool Holds(std::wstring_view text) const override {
        return std::all_of(text.begin(), text.end(), [](wchar_t c) { return c <= 0xFF; });
    }
};

// Text mostly from characters that matter to the parser, or raw Latin-1.
template <std::size_t N>
std::wstring ConsumeText(FuzzedDataProvider& input, const wchar_t (&alphabet)[N], std::size_t max, bool raw) {
    std::wstring text;
    for (const unsigned char b : input.ConsumeRandomLengthString(max)) text.push_back(raw ? b : alphabet[b % N]);
    return text;
}

} // namespace dexalo::fuzz
