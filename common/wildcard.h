#pragma once
#include <string_view>

namespace dexalo::archivers {

// "", "*" and "*.*" match every path. Any other pattern is matched DOS-style against the
// whole stored path: '*' is any run of characters (separators included), '?' exactly one,
// letters compare without regard to case.
bool MatchesWildcard(std::wstring_view pattern, std::wstring_view path);

} // namespace dexalo::archivers
