#pragma once
// One pass over an archive's headers, kept per archive so that the count, the
// listing and the checks that follow one another read the archive only once.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/pipeline/family.h"

struct archive;
struct archive_entry;

namespace dexalo::archivers {

struct ListedEntry {
    // The path it is written under (as stored when refused) with the family's separator;
    // folders end in one.
    std::wstring path;
    bool directory = false;
    bool link = false;
    std::uint64_t size = 0;
    std::int64_t mtime = 0;
    bool mtimeKnown = false;
};

struct Listing {
    bool recognised = false;  // the file is this family's archive
    bool complete = false;    // the headers were read to the end without damage
    bool fallback = false;        // read the family's second way (see NewFamilyReader)
    bool namesEncrypted = false;  // recognised, but nothing can be listed without the password
    // A piece of the set is missing: the entries end where it would start. A set of the
    // family's own kind of volumes is recognised even when nothing precedes the gap.
    std::wstring missingPiece;
    std::vector<ListedEntry> entries;
};

// The cached listing for (family, path): for a piece of a set, the whole set's, kept under
// the set's first piece and rescanned when any piece's size or time changes. Never null.
std::shared_ptr<const Listing> Scan(Family family, const std::wstring& archivePath);

// Drops every cached listing (tests use it to count real scans).
void ForgetScans();
// How many scans really read an archive since the start (for tests).
unsigned ScanCount();

// The entry's stored path with '/' separators and a trailing '/' on folders, right after
// archive_read_next_header. A lone compressed stream is named after the archive (the set's
// joined name) without its last extension. Names the archive stored as Unicode come in NFC.
std::wstring EntryPath(archive* reader, archive_entry* entry, const VolumeSet& set);
// A link entry's target, read in the same code page as the names; nullopt when none.
std::optional<std::wstring> SymlinkTarget(archive* reader, archive_entry* entry);
std::optional<std::wstring> HardlinkTarget(archive* reader, archive_entry* entry);

// Strict UTF-8 to wide text (UTF-16 where wchar_t is 16 bits); nullopt when not valid UTF-8.
std::optional<std::wstring> FromStrictUtf8(std::string_view text);

// Reader block size: large blocks keep the per-call overhead out of big extractions.
inline constexpr std::size_t kReadBlockSize = 256 * 1024;

} // namespace dexalo::archivers
