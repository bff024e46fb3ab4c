#pragma once
// A libarchive reader on a resolved archive, with what the engine keeps beside it for the
// entry at hand: the entry's final name and link targets, whether a reader of ours says it is
// encrypted, the bytes read for progress, and the MAC that stands in for its checksum.
#include <archive.h>
#include <archive_entry.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/codecs/gunzip.h"
#include "engine/pipeline/family.h"
#include "engine/pipeline/passwords.h"
#include "engine/pipeline/resolve.h"

namespace dexalo::archivers {

// What opening asks for an archive that needs a password to be read (an encrypted 7z or
// RAR 5), and what came of it.
struct PasswordRequest {
    bool namesOnly = false;  // only what a listing needs: data may stay encrypted
    PasswordQuestion ask;    // may be empty: nobody to ask
    Decryption outcome = Decryption::NotNeeded;
};

class EntryReader {
public:
    // A reader read as `plan` says (the archive's own plan, but for the listing that tries the
    // second way); not open yet. The archive must outlive it.
    EntryReader(const Resolved& archive, Plan plan);
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;

    // libarchive could make a reader.
    explicit operator bool() const { return reader_ != nullptr; }
    archive* get() const { return reader_.get(); }

    // Opens it on the set's pieces, read as one. With `passwords`, an archive we decrypt is
    // opened decrypted when a password fits. Fails when nothing can be read (the first piece
    // is missing, or a decrypted archive that libarchive refuses: the reader is spent).
    int Open(PasswordRequest* passwords = nullptr);

    // archive_read_next_header, but an end libarchive took where the archive's end was not
    // reached (it is cut short) fails as damage does.
    int NextHeader(archive_entry** entry);
    // After a first NextHeader that failed: the archive is the family's all the same, damaged
    // (cut short; or a 7z, or a file that starts as a RAR: signatures that leave no doubt,
    // where a RAR's found inside a self-extractor would not).
    bool DamagedOwnArchive() const;

    // After NextHeader:
    // the reader really holds the family's archive;
    bool IsOwnArchive() const;
    // the stored path with '/' separators and a trailing '/' on folders (a lone compressed
    // stream is named after the archive without its last extension; names the archive stored
    // as Unicode come in NFC);
    std::wstring Path(archive_entry* entry) const;
    // a link entry's target, read as the names are; nullopt when none;
    std::optional<std::wstring> SymlinkTarget(archive_entry* entry) const;
    std::optional<std::wstring> HardlinkTarget(archive_entry* entry) const;
    // a reader of ours met encryption it cannot read (no password is asked for);
    bool OwnEntryEncrypted() const;
    // what checks the MACs that stand in for its checksums, to be given all its data
    // (nullopt: no MAC).
    std::optional<rar5::DataCheck> MacCheck() const;

    // Where the entry's data lies, for a ZIP that our own reader reads (nullopt otherwise).
    std::optional<zip::Located> OwnZipData() const { return own_ ? own_->ZipData() : std::nullopt; }
    // It reads through a reader of ours.
    bool ReadsOwnStream() const { return own_ != nullptr; }

    // Bytes of the archive's files read so far, for progress.
    std::uint64_t BytesRead() const;

private:
    struct Text;
    Text EntryText(archive_entry* entry, const char* raw, const wchar_t* wide, const char* (*utf8)(archive_entry*)) const;
    std::optional<std::wstring> LinkTarget(archive_entry* entry, const char* raw, const wchar_t* wide,
                                           const char* (*utf8)(archive_entry*)) const;
    std::optional<ZipEntryText> ZipEntry() const;
    bool StoredAsUnicode(const std::optional<ZipEntryText>& zip) const;

    const Resolved& archive_;
    Plan plan_;
    ReaderPtr reader_;
    std::shared_ptr<const OwnStreamState> own_;  // the stream of ours it reads, if any
    MacSource macs_;                             // the decrypted view it reads, if any
    std::shared_ptr<GunzipInput> gunzip_;        // the gzip stream it reads decompressed, if any
    bool endedShort_ = false;
};

} // namespace dexalo::archivers
