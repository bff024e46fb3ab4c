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

// A name that Windows would write exactly as stored, and that means no device.
bool IsPlainName(std::wstring_view name) {
    for (wchar_t c : name) {
        if (c < 0x20 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'|' || c == L'?' || c == L'*')
            return false;
    }
    // Windows drops trailing dots and blanks, which turns ".. " into ".." and "a." into "a".
    const wchar_t last = name.back();
    if (last == L'.' || last == L' ') return false;
    return !IsReservedDeviceName(name);
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

std::optional<Components> SafeComponents(std::wstring_view stored) {
    if (stored.empty() || StartsAbsolute(stored)) return std::nullopt;
    Components out;
    for (auto part : Split(stored)) {
        if (part.empty() || part == L".") continue;
        if (part == L".." || !IsPlainName(part)) return std::nullopt;
        out.emplace_back(part);
    }
    return out;
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
        if (!IsPlainName(part)) return std::nullopt;
        descended = true;
        out.emplace_back(part);
    }
    return out;
}

} // namespace dexalo::archivers
