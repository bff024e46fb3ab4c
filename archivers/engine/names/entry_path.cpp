#include "engine/names/entry_path.h"

#include <array>

namespace dexalo::archivers {

namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

std::vector<std::wstring_view> Split(std::wstring_view path) {
    std::vector<std::wstring_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || IsSeparator(path[i])) {
            parts.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

bool StartsAbsolute(std::wstring_view path) {
    if (path.empty()) return false;
    if (IsSeparator(path[0])) return true;  // rooted, UNC (\\server) or device (\\?\) path
    return path.size() >= 2 && path[1] == L':';  // drive letter, with or without a separator
}

} // namespace

bool IsReservedDeviceName(std::wstring_view component) {
    std::wstring_view base = component.substr(0, component.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.remove_suffix(1);
    std::wstring upper;
    for (wchar_t c : base) upper += Upper(c);
    static constexpr std::array<std::wstring_view, 7> kNames = {L"CON", L"PRN", L"AUX", L"NUL",
                                                                L"CONIN$", L"CONOUT$", L"CLOCK$"};
    for (auto name : kNames)
        if (upper == name) return true;
    if (upper.size() == 4 && (upper.starts_with(L"COM") || upper.starts_with(L"LPT"))) {
        const wchar_t d = upper[3];
        // Windows also reads the superscript digits 1, 2 and 3 as port numbers.
        return (d >= L'0' && d <= L'9') || d == L'\u00B9' || d == L'\u00B2' || d == L'\u00B3';
    }
    return false;
}

std::wstring WindowsName(std::wstring_view name) {
    std::wstring out;
    out.reserve(name.size() + 1);
    for (const wchar_t c : name) {
        switch (c) {
        case L'<': case L'>': case L':': case L'"': case L'|': case L'?': case L'*':
            out += static_cast<wchar_t>(c + (L'\uFF01' - L'!'));  // the full-width form
            break;
        default: out += c < 0x20 ? L'_' : c;
        }
    }
    for (auto it = out.rbegin(); it != out.rend() && (*it == L'.' || *it == L' '); ++it) *it = L'_';
    if (IsReservedDeviceName(out)) out.insert(0, 1, L'_');
    return out;
}

std::optional<Components> StoredComponents(std::wstring_view stored) {
    if (stored.empty() || StartsAbsolute(stored)) return std::nullopt;
    Components out;
    for (auto part : Split(stored)) {
        if (part.empty() || part == L".") continue;
        if (part == L"..") return std::nullopt;
        out.emplace_back(part);
    }
    return out;
}

std::optional<Components> SafeComponents(std::wstring_view stored) {
    std::optional<Components> parts = StoredComponents(stored);
    if (parts)
        for (auto& part : *parts) part = WindowsName(part);
    return parts;
}

std::optional<Components> SafeLinkTarget(const Components& linkAt, std::wstring_view target) {
    if (target.empty() || StartsAbsolute(target) || linkAt.empty()) return std::nullopt;
    Components out(linkAt.begin(), linkAt.end() - 1);
    bool descended = false;
    for (auto part : Split(target)) {
        if (part.empty() || part == L".") continue;
        if (part == L"..") {
            if (descended || out.empty()) return std::nullopt;
            out.pop_back();
            continue;
        }
        descended = true;
        out.push_back(WindowsName(part));
    }
    return out;
}

std::wstring WindowsLinkText(std::wstring_view target) {
    std::wstring out;
    for (auto part : Split(target)) {
        const bool special = part.empty() || part == L"." || part == L"..";
        out += special ? std::wstring(part) : WindowsName(part);
        out += L'/';
    }
    out.pop_back();  // Split gives at least one part
    return out;
}

std::optional<std::wstring> FromStrictUtf8(std::string_view text) {
    std::wstring out;
    for (const auto* p = reinterpret_cast<const unsigned char*>(text.data()), *end = p + text.size(); p < end;) {
        const unsigned char b = *p;
        const int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || end - p <= extra) return std::nullopt;
        char32_t c = extra == 0 ? b : static_cast<char32_t>(b & (0x3F >> extra));
        for (int k = 1; k <= extra; ++k) {
            if ((p[k] & 0xC0) != 0x80) return std::nullopt;
            c = (c << 6) | (p[k] & 0x3F);
        }
        static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0x10000) {
                out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
                out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                out += static_cast<wchar_t>(c);
            }
        } else {
            out += static_cast<wchar_t>(c);
        }
        p += extra + 1;
    }
    return out;
}

} // namespace dexalo::archivers
