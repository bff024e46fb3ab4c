#pragma once
// The entries of the folder list Dir1: the current folder's ancestors, open, from the root
// down, the current folder itself, then its sub-folders, closed.
#include <string>
#include <vector>

namespace dexalo::win32 {

struct FolderEntry {
    std::wstring path; // what opening the entry sets Dir1 to
    std::wstring name; // what the list shows
    int level = 0;     // indentation
    bool open = false; // an ancestor or the current folder
};

// Root ("C:\" or "\\server\share") and the names below it; empty when path has no root.
std::vector<std::wstring> SplitFolderPath(const std::wstring& path);

std::vector<FolderEntry> FolderEntries(const std::wstring& path);

// Index of the current folder within FolderEntries(path).
int CurrentFolderIndex(const std::vector<FolderEntry>& entries);

} // namespace dexalo::win32
