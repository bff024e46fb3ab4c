#include "cp932_codec.h"

#include <iconv.h>

#include <stdexcept>

namespace dexalo::testing {
namespace {

std::string Convert(const char* to, const char* from, const char* data, std::size_t size) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open");
    std::string out(size * 4 + 8, '\0');
    char* in = const_cast<char*>(data);
    std::size_t inLeft = size;
    char* dst = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1)) throw std::runtime_error("iconv");
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace

std::string Cp932Codec::ToAnsi(std::wstring_view text) const {
    return Convert("CP932", "WCHAR_T", reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

bool Cp932Codec::Holds(std::wstring_view text) const {
    try {
        ToAnsi(text);
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

std::wstring Cp932Codec::FromAnsi(std::string_view bytes) const {
    const std::string wide = Convert("WCHAR_T", "CP932", bytes.data(), bytes.size());
    return std::wstring(reinterpret_cast<const wchar_t*>(wide.data()), wide.size() / sizeof(wchar_t));
}

} // namespace dexalo::testing
