#pragma once
// Formats read by ourselves go through libarchive too: one of our readers (own_reader.h)
// hands libarchive's tar reader a pax stream of the archive's entries, so that every family
// takes the same scan and extraction path (names, safety checks, temporary files, codes).
#include <archive.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/formats/zip.h"
#include "engine/input/own_reader.h"

namespace dexalo::archivers {

// Makes a reader of ours over the archive's bytes.
using OwnReaderMaker = std::unique_ptr<own::Reader> (*)(own::Input& input);

// Opens `reader` (configured for tar) on the archive's pieces (one file, or the pieces of a
// set read as one), read by the reader `make` gives; fails with ARCHIVE_FATAL when the file
// is not that reader's. Entry data that cannot be read fails with a message: the entry's own
// reason ("...not supported"), else damage.
int OpenOwnReader(archive* reader, const std::vector<std::wstring>& pieces, OwnReaderMaker make);

// Runs `test` over the archive's bytes; false when they cannot be read.
bool TestFileBytes(const std::vector<std::wstring>& pieces, bool (*test)(own::Input& input));

// How many bytes of the archive file a reader opened above has read, for progress (the
// bytes libarchive counts are the pax stream's); nullopt for any other reader.
std::optional<std::uint64_t> OwnBytesRead(archive* reader);
// True when such a reader is at an entry that is encrypted in a way we cannot read.
bool OwnEntryEncrypted(archive* reader);
// Where the data of the entry our ZIP reader is at lies, before any of it is read; nullopt for
// any other reader, and where Unread gives none.
std::optional<zip::Located> OwnZipData(archive* reader);
// Whether the entry such a reader is at had its name stored as Unicode; nullopt for any other
// reader. Its pax record is UTF-8 whatever the archive stored.
std::optional<bool> OwnEntryUnicode(archive* reader);

} // namespace dexalo::archivers
