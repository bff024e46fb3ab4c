#include "extract/single_folder.h"

#include <limits>

namespace dexalo {

namespace {

constexpr std::uint32_t kOpenMode = 512;
constexpr std::int32_t kFound = 0;
constexpr std::int32_t kNoMore = -1;

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The first `length` characters of text equal prefix (a shorter text never does).
bool SamePrefix(const std::wstring& text, std::size_t length, const std::wstring& prefix) {
    return text.size() >= length && text.compare(0, length, prefix) == 0;
}

// Counting stops one past the entry count: the answer cannot change any more, and a library
// that never says "no more" cannot keep the program spinning (nor overflow the count).
bool MayCountOn(std::int32_t count, std::int32_t n) {
    return count <= n && count < std::numeric_limits<std::int32_t>::max();
}

bool Found(const std::optional<std::int32_t>& result) { return result && *result == kFound; }

// The handle is not tested: a failed open leaves 0, and the find calls report the rest.
ArchiveHandle Open(ArchiverLibraries& libs, Library lib, WindowHandle window, const std::wstring& path) {
    return libs.OpenArchive(lib, window, path, kOpenMode).value_or(0);
}

std::int32_t CommonCount(ArchiverLibraries& libs, Library lib, const std::wstring& path, std::int32_t n,
                         WindowHandle window, EntryRecord& record, const wchar_t* wildcard, wchar_t separator) {
    const ArchiveHandle handle = Open(libs, lib, window, path);
    // An empty listing may still leave text in the record; nothing is read past its end.
    const bool listed = libs.FindFirst(lib, handle, wildcard, record).value_or(kNoMore) != kNoMore;
    std::int32_t count = 0;
    const std::size_t k = record.path.find(separator);
    if (listed && k != std::wstring::npos) {
        const std::wstring prefix = record.path.substr(0, k + 1);
        count = 1;
        while (MayCountOn(count, n) && Found(libs.FindNext(lib, handle, record)) && StartsWith(record.path, prefix)) {
            ++count;
        }
    }
    libs.CloseArchive(lib, handle);
    return count;
}

// Returns nullopt when the first entry alone sends the archive into the sub-folder.
std::optional<std::int32_t> RarCount(ArchiverLibraries& libs, const std::wstring& path, std::int32_t n,
                                     WindowHandle window, EntryRecord& record) {
    const Library lib = Library::Unrar;
    ArchiveHandle handle = Open(libs, lib, window, path);
    libs.FindFirst(lib, handle, L"*.*", record);
    libs.CloseArchive(lib, handle);

    std::size_t j = record.path.find(L'\\');
    if (j == std::wstring::npos || j == 0) return std::nullopt;
    std::wstring prefix = record.path.substr(0, j);

    handle = Open(libs, lib, window, path);
    // The record still holds the first look's entry if this listing comes back empty.
    const bool listed = libs.FindFirst(lib, handle, L"*", record).value_or(kNoMore) != kNoMore;
    std::int32_t count = 0;
    if (SamePrefix(record.path, j, prefix)) {
        count = 1;
        ++j;
        prefix += L'\\';
        if (listed && Found(libs.FindNext(lib, handle, record)) && SamePrefix(record.path, j, prefix)) {
            count = 2;
            while (MayCountOn(count, n) && Found(libs.FindNext(lib, handle, record)) && SamePrefix(record.path, j, prefix)) {
                ++count;
            }
        }
    }
    libs.CloseArchive(lib, handle);
    return count;
}

std::int32_t BgaCount(ArchiverLibraries& libs, const std::wstring& path, std::int32_t n, WindowHandle window,
                      EntryRecord& record) {
    const Library lib = Library::Bga;
    const ArchiveHandle handle = Open(libs, lib, window, path);
    libs.FindFirst(lib, handle, L"*", record);
    std::int32_t count = 0;
    const std::size_t slash = record.path.find(L'\\');
    if (slash != std::wstring::npos) {
        const std::wstring top = record.path.substr(0, slash);
        if (Found(libs.FindFirst(lib, handle, top + L"*", record))) {
            // Counts on past the n-th entry; direct only when the listing ends exactly there.
            // A call that cannot be made is the end of the listing too.
            count = 2;
            while (MayCountOn(count, n)) {
                const auto next = libs.FindNext(lib, handle, record);
                if (!next || *next == kNoMore) break;
                ++count;
            }
        }
    }
    libs.CloseArchive(lib, handle);
    return count;
}

} // namespace

Placement CheckSingleFolder(ArchiverLibraries& libraries, ArchiveType type, const std::wstring& path,
                            std::int32_t entryCount, WindowHandle window, EntryRecord& record) {
    if (entryCount == 1) return Placement::Direct;

    const Library lib = LibraryOf(type);
    std::int32_t count = 0;
    switch (type) {
    case ArchiveType::LZH:
    case ArchiveType::ZIP: count = CommonCount(libraries, lib, path, entryCount, window, record, L"*", L'/'); break;
    case ArchiveType::TAR: count = CommonCount(libraries, lib, path, entryCount, window, record, L"", L'/'); break;
    case ArchiveType::CAB:
    case ArchiveType::ARJ:
    case ArchiveType::YZ1: count = CommonCount(libraries, lib, path, entryCount, window, record, L"*", L'\\'); break;
    case ArchiveType::RAR: {
        const auto rar = RarCount(libraries, path, entryCount, window, record);
        if (!rar) return Placement::SubFolder;
        count = *rar;
        break;
    }
    case ArchiveType::BGA: count = BgaCount(libraries, path, entryCount, window, record); break;
    default: return Placement::SubFolder;
    }

    // ZIP listings may show more entries than the count (folder entries), so more is fine there.
    const bool direct = type == ArchiveType::ZIP ? count >= entryCount : count == entryCount;
    return direct ? Placement::Direct : Placement::SubFolder;
}

} // namespace dexalo
