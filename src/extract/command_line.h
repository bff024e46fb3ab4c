#pragma once
// Names derived from the archive's path, and the text handed to each library.
#include <string>
#include <string_view>

#include "extract/recognition.h"
#include "extract/single_folder.h"

namespace dexalo {

// path up to and including its last backslash; empty when it holds none.
std::wstring ArchiveFolder(const std::wstring& path);
// name after its last backslash (the whole of it when there is none).
std::wstring LastComponent(const std::wstring& path);
// name up to, not including, its last dot; a name without a dot is used whole.
std::wstring BaseName(const std::wstring& name);

// The option text of the eight command-line types, with its closing blank.
std::wstring_view OptionText(ArchiveType type);

// option text, "path", blank, "destination"; YZ1's direct form leaves the destination
// unquoted and adds one more backslash.
std::wstring BuildCommandLine(ArchiveType type, const std::wstring& path, const std::wstring& destination,
                              Placement placement);

// path /f=folder\ for the ISH library.
std::wstring BuildIshCommandLine(const std::wstring& path, const std::wstring& folder);

std::wstring ExplorerCommandLine(const std::wstring& folder);

} // namespace dexalo
