#include "win32/window/form_folder_list.h"

#include <windows.h>

#include <algorithm>

#include "common/win32/handles.h"

namespace dexalo::win32 {

std::vector<std::wstring> SplitFolderPath(const std::wstring& path) {
    std::vector<std::wstring> parts;
    std::size_t rest = 0;
    if (path.size() >= 2 && path[1] == L':') {
        parts.push_back(path.substr(0, 2) + L"\\");
        rest = 2;
    } else if (path.starts_with(L"\\\\")) {
        // \\server\share is one root: nothing above the share can be listed.
        const std::size_t server = path.find(L'\\', 2);
        if (server == std::wstring::npos) return {};
        const std::size_t share = path.find(L'\\', server + 1);
        parts.push_back(path.substr(0, share));
        rest = share == std::wstring::npos ? path.size() : share;
    } else {
        return {};
    }
    while (rest < path.size()) {
        while (rest < path.size() && path[rest] == L'\\') ++rest;
        const std::size_t end = std::min(path.find(L'\\', rest), path.size());
        if (end > rest) parts.push_back(path.substr(rest, end - rest));
        rest = end;
    }
    return parts;
}

namespace {

std::vector<std::wstring> SubFolders(const std::wstring& folder) {
    std::vector<std::wstring> names;
    std::wstring pattern = folder;
    if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW data{};
    const UniqueFindHandle find(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                                   FindExSearchLimitToDirectories, nullptr, 0));
    if (!find) return names;
    do {
        const std::wstring name = data.cFileName;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) ||
            name == L"." || name == L"..") {
            continue;
        }
        names.push_back(name);
    } while (::FindNextFileW(find.get(), &data));
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    return names;
}

} // namespace

std::vector<FolderEntry> FolderEntries(const std::wstring& path) {
    std::vector<FolderEntry> entries;
    const std::vector<std::wstring> parts = SplitFolderPath(path);
    if (parts.empty()) return entries;
    std::wstring walked;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i == 0) {
            walked = parts[0];
        } else {
            if (walked.back() != L'\\') walked += L'\\';
            walked += parts[i];
        }
        entries.push_back({walked, parts[i], static_cast<int>(i), true});
    }
    const int childLevel = static_cast<int>(parts.size());
    for (const std::wstring& name : SubFolders(walked)) {
        std::wstring child = walked;
        if (child.back() != L'\\') child += L'\\';
        entries.push_back({child + name, name, childLevel, false});
    }
    return entries;
}

int CurrentFolderIndex(const std::vector<FolderEntry>& entries) {
    int current = -1;
    for (std::size_t i = 0; i < entries.size() && entries[i].open; ++i) current = static_cast<int>(i);
    return current;
}

} // namespace dexalo::win32
