#pragma once
// The outside archiver libraries, as extraction, recognition and the version panel see them.
// Every call answers std::nullopt when it cannot be made (library or export missing);
// callers treat that like a negative answer.
#include <cstdint>
#include <optional>
#include <string>

#include "startup/module.h"

namespace dexalo {

// One entry per outside library, in archive-type order (the index of Check1 and Label1).
enum class Library : int { Unlha = 0, UnZip, Cab, Tar, Unarj, Ish, Unrar, Bga, Yz1, Jack };
inline constexpr int kLibraryCount = 10;

using ArchiveHandle = std::uintptr_t;

// The part of the 558-byte entry record the program reads: the stored path.
// The caller owns it and zero-fills it once per extraction; a find call that
// finds nothing leaves it as it was.
struct EntryRecord {
    std::wstring path;
};

class ArchiverLibraries {
public:
    virtual ~ArchiverLibraries() = default;

    // PGetVersion: version in hundredths (16-bit, Ish 32-bit), already sign-extended.
    virtual std::optional<std::int32_t> GetVersion(Library lib) = 0;
    // PGetFileCount(path), for the eight count libraries.
    virtual std::optional<std::int32_t> GetFileCount(Library lib, const std::wstring& path) = 0;
    // IshCheckArchive / JackCheckArchive(path, mode).
    virtual std::optional<std::int32_t> CheckArchive(Library lib, const std::wstring& path, std::int32_t mode) = 0;
    virtual std::optional<ArchiveHandle> OpenArchive(Library lib, WindowHandle window, const std::wstring& path,
                                                     std::uint32_t mode) = 0;
    // 0 = the record holds an entry, -1 = no further entry, other = error.
    virtual std::optional<std::int32_t> FindFirst(Library lib, ArchiveHandle handle, const std::wstring& wildcard,
                                                  EntryRecord& record) = 0;
    virtual std::optional<std::int32_t> FindNext(Library lib, ArchiveHandle handle, EntryRecord& record) = 0;
    virtual std::optional<std::int32_t> CloseArchive(Library lib, ArchiveHandle handle) = 0;
    // Main operation: the eight count libraries take (window, command line, 1-char buffer, 0);
    // Ish takes (window, command line). 0 = success.
    virtual std::optional<std::int32_t> Run(Library lib, WindowHandle window, const std::wstring& commandLine) = 0;
    // JackCombine(path, folder). 0 = success.
    virtual std::optional<std::int32_t> JackCombine(const std::wstring& path, const std::wstring& folder) = 0;
};

} // namespace dexalo
