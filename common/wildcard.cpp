#include "common/wildcard.h"

#include <cwctype>

namespace dexalo::archivers {

namespace {

wchar_t Fold(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c - L'A' + L'a');
    if (c < 0x80) return c;
    return static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
}

} // namespace

bool MatchesWildcard(std::wstring_view pattern, std::wstring_view path) {
    if (pattern.empty() || pattern == L"*" || pattern == L"*.*") return true;
    // Greedy match with one backtrack point: linear enough for paths of a few hundred characters.
    std::size_t p = 0, s = 0, star = std::wstring_view::npos, resume = 0;
    while (s < path.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = s;
        } else if (p < pattern.size() && (pattern[p] == L'?' || Fold(pattern[p]) == Fold(path[s]))) {
            ++p;
            ++s;
        } else if (star != std::wstring_view::npos) {
            p = star + 1;
            s = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

} // namespace dexalo::archivers
