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

// What the engine asks of a stream of ours while libarchive reads it.
class OwnStreamState {
public:
    virtual ~OwnStreamState() = default;
    // How many bytes of the archive file it has read, for progress (the bytes libarchive
    // counts are the pax stream's).
    virtual std::uint64_t BytesRead() const = 0;
    // The entry it is at is encrypted in a way we cannot read.
    virtual bool EntryEncrypted() const = 0;
    // That entry's name was stored as Unicode (its pax record is UTF-8 whatever the archive stored).
    virtual bool EntryUnicode() const = 0;
    // Where the data of the entry our ZIP reader is at lies, before any of it is read; nullopt
    // for any other reader, and where the reader cannot say.
    virtual std::optional<zip::Located> ZipData() const = 0;
};

// Opens `reader` (configured for tar) on the archive's pieces (one file, or the pieces of a
// set read as one), read by the reader `make` gives; `result` is ARCHIVE_FATAL when the file
// is not that reader's. Entry data that cannot be read fails with a message: the entry's own
// reason ("...not supported"), else damage. The stream stays readable as long as either
// holds it.
std::shared_ptr<const OwnStreamState> OpenOwnReader(archive* reader, const std::vector<std::wstring>& pieces,
                                                    OwnReaderMaker make, int& result);

// Runs `test` over the archive's bytes; false when they cannot be read.
bool TestFileBytes(const std::vector<std::wstring>& pieces, bool (*test)(own::Input& input));

} // namespace dexalo::archivers
