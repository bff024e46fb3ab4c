#pragma once
// How Windows itself reads a path, written out plainly as the fuzz targets' yardstick:
// both separators, "." and ".." resolved, trailing dots and blanks dropped from names,
// names compared without regard to case, and device names that point outside any folder.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dexalo::fuzz {

inline wchar_t FoldCase(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

inline std::wstring Folded(std::wstring_view text) {
    std::wstring out;
    for (const wchar_t c : text) out.push_back(FoldCase(c));
    return out;
}

inline std::wstring_view TrimDotsAndBlanks(std::wstring_view name) {
    while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.remove_suffix(1);
    return name;
}

// CON, PRN, AUX, NUL, COM0-9, LPT0-9 (and the superscript digits), CONIN$, CONOUT$,
// CLOCK$: Windows opens the device whatever folder or extension goes with it.
inline bool NamesDevice(std::wstring_view name) {
    std::wstring_view base = name.substr(0, name.find(L'.'));
    base = TrimDotsAndBlanks(base.substr(0, base.find(L':')));
    const std::wstring folded = Folded(base);
    for (const wchar_t* device : {L"con", L"prn", L"aux", L"nul", L"conin$", L"conout$", L"clock$"})
        if (folded == device) return true;
    if (folded.size() == 4 && (folded.starts_with(L"com") || folded.starts_with(L"lpt"))) {
        const wchar_t d = folded[3];
        return (d >= L'0' && d <= L'9') || d == L'\u00B9' || d == L'\u00B2' || d == L'\u00B3';
    }
    return false;
}

// What can make one name written below a folder land anywhere else.
inline const char* WhyNameLeaves(std::wstring_view name) {
    if (name.empty()) return "an empty name";
    for (const wchar_t c : name) {
        if (c == L'/' || c == L'\\') return "a separator inside a name";
        if (c == L':') return "a drive or stream";
    }
    const std::wstring_view trimmed = TrimDotsAndBlanks(name);
    if (trimmed.empty() || name == L"." || name == L"..") return "a name that Windows reads as . or ..";
    if (NamesDevice(name)) return "a device name";
    return nullptr;
}

// The names of a path after Windows resolves it; nullopt when ".." climbs above its start.
inline std::optional<std::vector<std::wstring>> Resolve(std::wstring_view path) {
    std::vector<std::wstring> names;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != L'/' && path[i] != L'\\') continue;
        const std::wstring_view part = path.substr(start, i - start);
        start = i + 1;
        if (part.empty() || part == L".") continue;
        // "..." and ".. " end up as ".." or nothing: count them as a climb, to be safe.
        if (TrimDotsAndBlanks(part).empty()) {
            if (names.empty()) return std::nullopt;
            names.pop_back();
            continue;
        }
        names.push_back(Folded(TrimDotsAndBlanks(part)));
    }
    return names;
}

// True when destination\below, as Windows resolves it, is strictly inside destination.
inline bool StaysBelow(std::wstring_view destination, std::wstring_view below) {
    const auto root = Resolve(destination);
    const auto full = Resolve(std::wstring(destination) + L"\\" + std::wstring(below));
    if (!root || !full || full->size() <= root->size()) return false;
    for (std::size_t i = 0; i < root->size(); ++i)
        if ((*root)[i] != (*full)[i]) return false;
    return true;
}

} // namespace dexalo::fuzz
