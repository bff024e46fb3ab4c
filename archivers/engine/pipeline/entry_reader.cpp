#include "engine/pipeline/entry_reader.h"

#include <algorithm>
#include <cerrno>

#include "engine/formats/rar_name.h"
#include "engine/names/entry_path.h"
#include "engine/pipeline/input_reader.h"
#include "engine/platform/platform.h"

namespace dexalo::archivers {

namespace {

std::wstring LoneStreamName(const std::wstring& archivePath) {
    std::size_t start = archivePath.find_last_of(L"/\\");
    start = start == std::wstring::npos ? 0 : start + 1;
    std::wstring name = archivePath.substr(start);
    const std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0) name.resize(dot);
    return name.empty() || name == L"." ? L"data" : name;
}

bool IsPax(int format) { return format == ARCHIVE_FORMAT_TAR_PAX_INTERCHANGE || format == ARCHIVE_FORMAT_TAR_PAX_RESTRICTED; }

} // namespace

// How an archive stored a name: macOS writes names decomposed (パ as ハ and U+309A), which
// the disk and the listing want composed. Names decoded from a code page are left as they are:
// NFC would change some of CP932's own characters (U+212B Å becomes U+00C5, which CP932
// cannot hold; IBM's extension kanji become their unified twins).
struct EntryReader::Text {
    std::wstring text;
    bool unicode = false;  // stored as UTF-8 or UTF-16

    std::wstring Composed() && {
        // Nothing below U+0300 composes with what precedes it.
        if (!unicode || std::all_of(text.begin(), text.end(), [](wchar_t c) { return c < 0x300; })) return std::move(text);
        return platform::ToNfc(text);
    }
};

EntryReader::EntryReader(const Resolved& archive, Plan plan)
    : archive_(archive), plan_(plan),
      reader_(NewFamilyReader(archive.family, archive.zipNames.get(), plan == Plan::SecondWay)) {}

int EntryReader::Open(PasswordRequest* passwords) {
    archive* reader = reader_.get();
    const VolumeSet& set = archive_.set;
    if (set.pieces.empty()) {
        archive_set_error(reader, ENOENT, "the first piece of the set is missing");
        return ARCHIVE_FATAL;
    }
    if (const Decrypt decrypt = DecryptFor(archive_.family); decrypt && passwords) {
        passwords->outcome = decrypt(reader, set, passwords->namesOnly, passwords->ask, &macs_);
        if (passwords->outcome == Decryption::Opened) return ARCHIVE_OK;
        if (passwords->outcome == Decryption::Refused) {  // a failed open leaves libarchive's reader unusable
            archive_set_error(reader, EINVAL, "this encryption is not supported");
            return ARCHIVE_FATAL;
        }
    }
    if (plan_ == Plan::OwnReader) {
        if (const OwnReaderMaker make = OwnReaderOf(archive_.family)) {
            int opened = ARCHIVE_FATAL;
            own_ = OpenOwnReader(reader, set.pieces, make, opened);
            return opened;
        }
    }
    // libarchive's gzip filter checks no CRC: a gzip stream is decompressed here instead.
    if (archive_.family == Family::Tar) {
        auto file = std::make_unique<JoinedFile>(set.pieces);
        if (file->IsOpen() && GunzipInput::Starts(*file)) {
            gunzip_ = std::make_shared<GunzipInput>(std::move(file));
            return OpenInputReader(reader, gunzip_, kReadBlockSize);
        }
    }
    // Through the call's open files, which the checks before have opened already.
    return OpenJoinedReader(reader, set.pieces, kReadBlockSize);
}

int EntryReader::NextHeader(archive_entry** entry) {
    const int r = ReadNextHeader(reader_.get(), entry);
    // The end of what a gzip stream holds is believed once its last trailer checks out too.
    if (r == ARCHIVE_EOF && gunzip_ && !gunzip_->Finish()) {
        archive_set_error(reader_.get(), EINVAL, "Damaged gzip data");
        return ARCHIVE_FATAL;
    }
    if (r != ARCHIVE_EOF || (archive_format(reader_.get()) & ARCHIVE_FORMAT_BASE_MASK) != ARCHIVE_FORMAT_RAR_V5) return r;
    // libarchive 3.6's RAR 5 reader ends quietly where a header cannot be read, so a download
    // cut off would pass for a smaller archive. Its end is believed when no allocation failed
    // on the way (a crafted name length) and each piece's headers reach their end header (a
    // view we decrypted has walked them all).
    endedShort_ = archive_errno(reader_.get()) == ENOMEM ||
                  (macs_ ? macs_->Cut() : std::ranges::any_of(archive_.set.pieces, [](const std::wstring& piece) {
                      const auto walked = RarVolume(piece, true);
                      return walked && walked->cut;
                  }));
    if (!endedShort_) return r;
    if (archive_errno(reader_.get()) != ENOMEM) archive_set_error(reader_.get(), EINVAL, "Truncated RAR archive");
    return ARCHIVE_FATAL;
}

bool EntryReader::DamagedOwnArchive() const {
    if (endedShort_) return true;
    if (!IsOwnArchive()) return false;
    const int format = archive_format(reader_.get()) & ARCHIVE_FORMAT_BASE_MASK;
    return format == ARCHIVE_FORMAT_7ZIP || ((format == ARCHIVE_FORMAT_RAR || format == ARCHIVE_FORMAT_RAR_V5) &&
                                             !archive_.set.pieces.empty() && RarVolume(archive_.set.pieces.front()));
}

bool EntryReader::IsOwnArchive() const {
    return archivers::IsOwnArchive(reader_.get(), archive_.family, own_ != nullptr || gunzip_ != nullptr);
}

bool EntryReader::OwnEntryEncrypted() const { return own_ && own_->EntryEncrypted(); }

std::uint64_t EntryReader::BytesRead() const {
    if (own_) return own_->BytesRead();  // libarchive counts the decoded pax stream
    if (gunzip_) return gunzip_->Consumed();
    const la_int64_t n = archive_filter_bytes(reader_.get(), -1);
    return n > 0 ? static_cast<std::uint64_t>(n) : 0;
}

std::optional<rar5::DataCheck> EntryReader::MacCheck() const {
    if (!macs_) return std::nullopt;
    return Rar5MacCheck(*macs_, archive_read_header_position(reader_.get()));
}

// Each ZIP entry is named from the central directory, by where its data starts. Our own
// readers name their entries themselves: the directory's names would be matched against the
// positions of their pax stream.
std::optional<ZipEntryText> EntryReader::ZipEntry() const {
    if (!archive_.zipNames || own_) return std::nullopt;
    const la_int64_t at = archive_filter_bytes(reader_.get(), 0);
    return ZipEntryAt(*archive_.zipNames, plan_ != Plan::SecondWay, static_cast<std::uint64_t>(std::max<la_int64_t>(at, 0)));
}

// Whether the texts libarchive converted for the current entry were stored as Unicode.
bool EntryReader::StoredAsUnicode(const std::optional<ZipEntryText>& zip) const {
    if (zip) return zip->utf8;
    if (own_) return own_->EntryUnicode();  // its pax records hold code-page names too
    const int format = archive_format(reader_.get());
    return format == ARCHIVE_FORMAT_7ZIP || format == ARCHIVE_FORMAT_RAR_V5 || IsPax(format);
}

// libarchive keeps a RAR 5 name (and link target) in UTF-8 alone and makes its narrow and wide
// forms by converting through the C runtime's locale. In a DLL that locale is "C", where no
// non-ASCII text converts: both forms come out as nothing, and a folder's name as its lone
// separator. The UTF-8 form is what the archive stored; text that is not UTF-8 stays unread.
// Plain tar headers carry no code page, so libarchive leaves their names as raw bytes (and on
// Windows would widen each byte by itself). The tars met today come from systems that write
// UTF-8: names that are valid UTF-8 are read as such, the rest in the ANSI code page. pax
// headers are UTF-8 by definition and libarchive converts them itself.
EntryReader::Text EntryReader::EntryText(archive_entry* entry, const char* raw, const wchar_t* wide,
                                         const char* (*utf8)(archive_entry*)) const {
    const int format = archive_format(reader_.get());
    if (format == ARCHIVE_FORMAT_RAR_V5) {
        if (const char* text = utf8(entry)) return {FromStrictUtf8(text).value_or(std::wstring()), true};
    }
    if (raw != nullptr && (format & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_TAR && !IsPax(format)) {
        if (auto text = FromStrictUtf8(raw)) return {std::move(*text), true};
        return {platform::FromAnsi(raw), false};
    }
    const bool unicode = StoredAsUnicode(ZipEntry());
    if (wide != nullptr) return {wide, unicode};
    if (raw != nullptr) return {platform::FromAnsi(raw), unicode};
    return {};
}

std::optional<std::wstring> EntryReader::LinkTarget(archive_entry* entry, const char* raw, const wchar_t* wide,
                                                    const char* (*utf8)(archive_entry*)) const {
    if (raw == nullptr && wide == nullptr && utf8(entry) == nullptr) return std::nullopt;
    return EntryText(entry, raw, wide, utf8).Composed();
}

std::wstring EntryReader::Path(archive_entry* entry) const {
    archive* reader = reader_.get();
    if (IsLoneStream(reader)) return LoneStreamName(archive_.set.name);
    const std::optional<ZipEntryText> zip = ZipEntry();
    Text path = zip && zip->name ? Text{*zip->name, zip->unicode}
                                 : EntryText(entry, archive_entry_pathname(entry), archive_entry_pathname_w(entry),
                                             &archive_entry_pathname_utf8);
    // An all-ASCII name came through libarchive intact; others may have lost a 0x5C byte
    // (and one that libarchive could not decode at all comes out empty).
    if (archive_format(reader) == ARCHIVE_FORMAT_RAR &&
        (path.text.empty() || std::any_of(path.text.begin(), path.text.end(), [](wchar_t c) { return c >= 0x80; }))) {
        if (auto stored = Rar4CodePageName(archive_.set.pieces, archive_read_header_position(reader)))
            path = {platform::FromAnsi(*stored), false};
    }
    std::wstring name = std::move(path).Composed();
    std::replace(name.begin(), name.end(), L'\\', L'/');
    while (!name.empty() && name.back() == L'/') name.pop_back();
    if (archive_entry_filetype(entry) == AE_IFDIR) name += L'/';
    return name;
}

std::optional<std::wstring> EntryReader::SymlinkTarget(archive_entry* entry) const {
    return LinkTarget(entry, archive_entry_symlink(entry), archive_entry_symlink_w(entry), &archive_entry_symlink_utf8);
}

std::optional<std::wstring> EntryReader::HardlinkTarget(archive_entry* entry) const {
    return LinkTarget(entry, archive_entry_hardlink(entry), archive_entry_hardlink_w(entry), &archive_entry_hardlink_utf8);
}

} // namespace dexalo::archivers
