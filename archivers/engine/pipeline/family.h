#pragma once
// The archive families, one per library of ours. Each library reads only its own family.
// A family is one row of the libraries' table (common/archiver_contract.h) and one row of
// the family table in family.cpp: how it is named and listed, which reader reads it, what
// counts as its archive.
#include <archive.h>

#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "common/archiver_contract.h"
#include "engine/input/volumes.h"
#include "engine/names/zip_names.h"
#include "engine/pipeline/own_stream.h"
#include "engine/pipeline/passwords.h"

namespace dexalo::archivers {

// One per OURS row of the libraries' table.
#define DEXALO_FAMILY_OF(file, prefix, family, calls) family,
#define DEXALO_NO_FAMILY(...)
enum class Family { DEXALO_ARCHIVER_LIBRARIES(DEXALO_FAMILY_OF, DEXALO_NO_FAMILY) };
#undef DEXALO_FAMILY_OF

// The calls the program makes of a family's library (see the libraries' table): Join is the
// split-file library's, whose archive is a set of plain pieces that no other family takes.
enum class Calls { Count, Check, Join };
#define DEXALO_CALLS_OF(file, prefix, family, calls) Calls::calls,
inline constexpr Calls kCallsOf[] = {DEXALO_ARCHIVER_LIBRARIES(DEXALO_CALLS_OF, DEXALO_NO_FAMILY)};
#undef DEXALO_CALLS_OF
#undef DEXALO_NO_FAMILY
inline constexpr std::size_t kFamilyCount = std::size(kCallsOf);
inline Calls CallsOf(Family family) { return kCallsOf[static_cast<std::size_t>(family)]; }

// Owns a libarchive reader: freed however the work that uses it ends.
struct ReaderFree {
    void operator()(archive* reader) const { archive_read_free(reader); }
};
using ReaderPtr = std::unique_ptr<archive, ReaderFree>;

// A fresh reader that reads exactly the family's formats and filters, with the family's name
// code pages: CP932 for LZH; for ZIP names without the UTF-8 flag UTF-8 when `zipNames` says
// all of them are, else the OEM code page (engine/names/zip_names.h); the ANSI code page for
// RAR 4 and CAB names without a Unicode flag. `fallback` asks for the family's second way of
// reading a file its first refuses (ZIP: from the local headers). nullptr when libarchive
// cannot make a reader.
ReaderPtr NewFamilyReader(Family family, const ZipNames* zipNames, bool fallback);

// What the family reads when `path` is opened: the whole set for plain pieces and for the
// family's own kind of volumes (RAR's, ZIP's); the file alone otherwise.
VolumeSet SetFor(Family family, const std::wstring& path);

// The names the family reads from the archive's directory itself (ZIP's); nullptr for none.
std::shared_ptr<const ZipNames> DirectoryNames(Family family, const VolumeSet& set);

// The reader of ours that must read this set (its format, or methods libarchive cannot
// decode); nullptr when libarchive reads it.
OwnReaderMaker OwnReaderFor(Family family, const VolumeSet& set);
// The family's reader of ours, whatever the set; nullptr for none.
OwnReaderMaker OwnReaderOf(Family family);

// Opens `reader` on the family's archive decrypted, when it is encrypted in a way libarchive
// cannot read; nullptr for a family without such archives (see passwords.h).
using Decrypt = Decryption (*)(archive* reader, const VolumeSet& set, bool namesOnly, const PasswordQuestion& ask,
                               MacSource* macs);
Decrypt DecryptFor(Family family);

// True when the family has a second way of reading and this set may need it.
bool FallbackMayRead(Family family, const VolumeSet& set);
// True when the set can only be read the family's second way (a split ZIP: its central
// directory counts offsets within each piece; its local headers follow one another).
bool SecondWayOnly(Family family, const VolumeSet& set);

// Separator between folder names in the stored paths that the find calls report.
wchar_t SeparatorOf(Family family);
std::string_view NameOf(Family family);

// True when the reader, after its first header, really holds the family's archive (with
// `ownStream`, read through a reader or a decompression of ours). TAR's raw reader is allowed
// only behind a compression: a lone .gz, .bz2, .Z, .xz...
bool IsOwnArchive(archive* reader, Family family, bool ownStream);

// False for a family whose check call takes any text it recognises (ISH).
bool CheckNeedsWholeListing(Family family);

// True when the reader failed at the first header because the archive's names are encrypted
// (a 7z made with -mhe, a RAR 5 with -hp): libarchive 3.6 reads no such archive, not even its listing.
bool NamesEncrypted(archive* reader);

// True when the reader delivers a lone compressed stream rather than an archive.
bool IsLoneStream(archive* reader);

} // namespace dexalo::archivers
