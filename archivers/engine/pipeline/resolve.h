#pragma once
// An archive resolved once per call sequence. The program asks each library in turn for a
// count or a check, then opens and lists the archive, then calls the main operation: every
// one of those calls takes the same resolved archive, which alone decides how the archive is
// read (the set, the way of reading, the names, the password). Readers opened on it
// (entry_reader.h) decide nothing.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/input/volumes.h"
#include "engine/names/zip_names.h"
#include "engine/pipeline/family.h"

namespace dexalo::archivers {

// How the entries are read.
enum class Plan {
    Libarchive,  // libarchive's reader for the family
    SecondWay,   // the family's second way (ZIP: from the local headers)
    OwnReader,   // a reader of ours, whose pax stream libarchive's tar reader takes
};

// What stands between the reader and the archive's contents.
enum class Lock {
    None,         // nothing encrypted that we decrypt
    Opened,       // decrypted with a password the user gave while it was recognised
    // Encrypted, and its password is asked for by the main operation: only the data is
    // encrypted, or the names are and no password was given while it was recognised (the
    // user may give it when the extraction asks).
    Deferred,
    Unsupported,  // encrypted in a way we cannot read
};

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
    bool namesEncrypted = false;  // recognised, but nothing can be listed without the password
    // A piece of the set is missing: the entries end where it would start. A set of the
    // family's own kind of volumes is recognised even when nothing precedes the gap.
    std::wstring missingPiece;
    std::vector<ListedEntry> entries;
};

struct Resolved {
    Family family = Family::Zip;
    VolumeSet set;
    SetStamp stamp;
    Plan plan = Plan::Libarchive;
    // The names read from the archive's directory, with their code page (ZIP); nullptr where
    // libarchive's names stand.
    std::shared_ptr<const ZipNames> zipNames;
    Lock lock = Lock::None;
    Listing listing;
};

// The resolved archive for (family, path): for a piece of a set, the whole set's, kept under
// the set's stamp and resolved anew when any piece's size or time changes. Names hidden
// behind a password are asked for here (CurrentRecognitionQuestion). Never null.
// Without `listed` (a main operation called before any count or listing), the headers are
// not read for a listing unless the plan needs them, and such an archive is not kept.
std::shared_ptr<const Resolved> Resolve(Family family, const std::wstring& archivePath, bool listed = true);

// Drops every resolved archive (tests use it to count real scans).
void ForgetResolved();
// How many scans really read an archive's headers since the start (for tests).
unsigned ScanCount();

// Reader block size: large blocks keep the per-call overhead out of big extractions.
inline constexpr std::size_t kReadBlockSize = 256 * 1024;

} // namespace dexalo::archivers
