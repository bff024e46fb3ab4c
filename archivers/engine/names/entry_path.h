#pragma once
// Decides whether an entry's stored path may be written under the destination.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dexalo::archivers {

using Components = std::vector<std::wstring>;

// Splits a stored path at '/' and '\' into the names under the destination.
// nullopt when the path is unsafe: absolute, a drive or UNC path, a ".." component,
// a name Windows would turn into something else (only dots and blanks, a ':' stream,
// a reserved device name such as CON or com1.txt, characters Windows forbids).
// "." and empty components are dropped, so the result may be empty ("./").
std::optional<Components> SafeComponents(std::wstring_view stored);

// Where a symbolic link at `linkAt` (its own components) points, as components under
// the destination; nullopt when the target is absolute or leaves the destination.
// ".." is allowed only at the start of the target: the folders it climbs are the link's
// own real parents, never other links.
std::optional<Components> SafeLinkTarget(const Components& linkAt, std::wstring_view target);

bool IsReservedDeviceName(std::wstring_view component);

} // namespace dexalo::archivers
