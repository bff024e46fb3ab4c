#pragma once
// ARJ through libarchive: our own ARJ reader hands libarchive's tar reader a pax stream of
// the archive's entries, so that ARJ takes the same scan and extraction path as every
// other family (names, safety checks, temporary files, error codes).
#include <archive.h>

#include <cstdint>
#include <optional>

#include "engine/platform.h"

namespace dexalo::archivers {

// Opens `reader` (configured for ARJ) on the ARJ archive at `path`; fails with
// ARCHIVE_FATAL when the file is not one. Entry data that cannot be read fails with a
// message: "...not supported" for garbled entries, volumes and chapters, else damage.
int OpenArjReader(archive* reader, const platform::Path& path);

// How many bytes of the ARJ file a reader opened above has read, for progress (the bytes
// libarchive counts are the pax stream's); nullopt for any other reader.
std::optional<std::uint64_t> ArjBytesRead(archive* reader);
// True when such a reader is at a garbled (encrypted) entry.
bool ArjEntryGarbled(archive* reader);

} // namespace dexalo::archivers
