#pragma once
// Where the archiver libraries are looked for. Old setups put them in the Windows folder or
// on PATH; the current folder (the document's, when the shell starts us) is never searched.
#include <string>
#include <string_view>
#include <vector>

namespace dexalo {

// The program's folder, the system folder, the Windows folder, then the absolute folders of
// the PATH variable in its order (quotes dropped). Relative PATH entries, which would name the
// current folder or one below it, are left out, and so is any empty folder.
std::vector<std::wstring> LibraryFolders(const std::wstring& program, const std::wstring& system,
                                         const std::wstring& windows, std::wstring_view pathVariable);

// C:\... or \\server\share\...; not C:folder, \folder (both depend on the current drive) or a bare name.
bool IsAbsoluteFolder(std::wstring_view folder);

} // namespace dexalo
