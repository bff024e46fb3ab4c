#pragma once
// Turns an entry's stored path into the names it is written under, and refuses the paths
// that would leave the destination.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dexalo::archivers {

using Components = std::vector<std::wstring>;

// A name as Windows can hold it (any name but "." and ".."): < > : " | ? * become their
// full-width forms, control characters '_', each trailing dot or blank (which Windows would
// drop) '_', and a reserved device name such as CON or com1.txt gets a '_' in front.
// A name Windows takes as it is comes back unchanged.
std::wstring WindowsName(std::wstring_view name);

// Splits a stored path at '/' and '\' into the stored names under the destination.
// nullopt when the path would leave it: absolute, a drive or UNC path, a ".." component.
// "." and empty components are dropped, so the result may be empty ("./").
std::optional<Components> StoredComponents(std::wstring_view stored);
// The same, each name in its WindowsName form.
std::optional<Components> SafeComponents(std::wstring_view stored);

// Where a symbolic link at `linkAt` (its own written components) points, as written
// components under the destination; nullopt when the target is absolute or leaves the
// destination. ".." is allowed only at the start of the target: the folders it climbs are
// the link's own real parents, never other links.
std::optional<Components> SafeLinkTarget(const Components& linkAt, std::wstring_view target);
// The link's text as written: each name of the target in its WindowsName form, '/' between.
std::wstring WindowsLinkText(std::wstring_view target);

bool IsReservedDeviceName(std::wstring_view component);

// Strict UTF-8 to wide text (UTF-16 where wchar_t is 16 bits); nullopt when not valid UTF-8.
std::optional<std::wstring> FromStrictUtf8(std::string_view text);

} // namespace dexalo::archivers
