#include "extract/library_folders.h"

namespace dexalo {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

} // namespace

bool IsAbsoluteFolder(std::wstring_view folder) {
    if (folder.size() >= 3 && IsDriveLetter(folder[0]) && folder[1] == L':' && IsSeparator(folder[2])) return true;
    // A UNC path needs a server name after the two separators.
    return folder.size() >= 3 && IsSeparator(folder[0]) && IsSeparator(folder[1]) && !IsSeparator(folder[2]);
}

std::vector<std::wstring> LibraryFolders(const std::wstring& program, const std::wstring& system,
                                         const std::wstring& windows, std::wstring_view pathVariable) {
    std::vector<std::wstring> folders;
    for (const std::wstring* fixed : {&program, &system, &windows})
        if (!fixed->empty()) folders.push_back(*fixed);
    while (!pathVariable.empty()) {
        const auto end = pathVariable.find(L';');
        std::wstring entry(pathVariable.substr(0, end));
        pathVariable.remove_prefix(end == std::wstring_view::npos ? pathVariable.size() : end + 1);
        std::erase(entry, L'"');
        if (IsAbsoluteFolder(entry)) folders.push_back(std::move(entry));
    }
    return folders;
}

} // namespace dexalo
