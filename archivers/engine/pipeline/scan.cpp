#include "engine/pipeline/scan.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <atomic>
#include <list>
#include <mutex>
#include <optional>
#include <tuple>

#include "engine/platform/platform.h"
#include "engine/pipeline/input_reader.h"
#include "engine/pipeline/own_stream.h"
#include "engine/formats/rar_name.h"
#include "engine/names/written_names.h"
#include "engine/names/zip_names.h"

namespace dexalo::archivers {

namespace {

struct CacheKey {
    Family family;
    SetStamp stamp;
    bool operator==(const CacheKey&) const = default;
};

// A handful is plenty: the front end works on one archive at a time.
constexpr std::size_t kCacheSize = 8;

std::mutex gCacheMutex;
std::list<std::pair<CacheKey, std::shared_ptr<const Listing>>> gCache;
std::atomic<unsigned> gScanCount{0};

std::wstring LoneStreamName(const std::wstring& archivePath) {
    std::size_t start = archivePath.find_last_of(L"/\\");
    start = start == std::wstring::npos ? 0 : start + 1;
    std::wstring name = archivePath.substr(start);
    const std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0) name.resize(dot);
    return name.empty() || name == L"." ? L"data" : name;
}

std::shared_ptr<Listing> ReadListing(Family family, const VolumeSet& set, bool fallback) {
    auto listing = std::make_shared<Listing>();
    listing->fallback = fallback;
    const ReaderPtr owned = NewFamilyReader(family, set, fallback);
    archive* reader = owned.get();
    if (reader == nullptr) return listing;
    ++gScanCount;
    // Names hidden behind a password are asked for now: nothing else can count them.
    PasswordRequest passwords{true, nullptr};
    if (const RecognitionQuestion& ask = CurrentRecognitionQuestion())
        passwords.ask = [&](bool wrong) { return ask(set.name, wrong); };
    if (OpenFamilyReader(reader, family, set, &passwords) == ARCHIVE_OK) {
        archive_entry* entry = nullptr;
        WrittenNames names;
        for (;;) {
            const int r = ReadNextHeader(reader, &entry);
            if (r == ARCHIVE_EOF) {
                // An empty archive still counts as ours when its format was recognised.
                if (listing->entries.empty()) listing->recognised = IsOwnArchive(reader, family);
                listing->complete = listing->recognised;
                break;
            }
            if (r < ARCHIVE_WARN) {  // damaged or truncated: the entries so far stand
                if (listing->entries.empty() && NamesEncrypted(reader))
                    listing->recognised = listing->namesEncrypted = true;
                break;
            }
            if (listing->entries.empty()) {
                if (!IsOwnArchive(reader, family)) break;
                listing->recognised = true;
            }
            ListedEntry e;
            e.path = names.NextShown(EntryPath(reader, entry, set));
            const wchar_t sep = SeparatorOf(family);
            if (sep != L'/') std::replace(e.path.begin(), e.path.end(), L'/', sep);
            e.directory = archive_entry_filetype(entry) == AE_IFDIR;
            e.link = archive_entry_filetype(entry) == AE_IFLNK;
            e.size = archive_entry_size_is_set(entry) ? static_cast<std::uint64_t>(archive_entry_size(entry)) : 0;
            e.mtimeKnown = archive_entry_mtime_is_set(entry) != 0;
            e.mtime = e.mtimeKnown ? static_cast<std::int64_t>(archive_entry_mtime(entry)) : 0;
            listing->entries.push_back(std::move(e));
        }
    }
    return listing;
}

// How an archive stored a name: macOS writes names decomposed (パ as ハ and U+309A), which
// the disk and the listing want composed. Names decoded from a code page are left as they are:
// NFC would change some of CP932's own characters (U+212B Å becomes U+00C5, which CP932
// cannot hold; IBM's extension kanji become their unified twins).
struct Text {
    std::wstring text;
    bool unicode = false;  // stored as UTF-8 or UTF-16
};

std::wstring Composed(Text t) {
    // Nothing below U+0300 composes with what precedes it.
    if (!t.unicode || std::all_of(t.text.begin(), t.text.end(), [](wchar_t c) { return c < 0x300; }))
        return std::move(t.text);
    return platform::ToNfc(t.text);
}

// Plain tar headers carry no code page, so libarchive leaves their names as raw bytes (and
// on Windows would widen each byte by itself). The tars met today come from systems that
// write UTF-8: names that are valid UTF-8 are read as such, the rest in the ANSI code page.
// pax headers are UTF-8 by definition and libarchive converts them itself.
std::optional<Text> PlainTarText(archive* reader, const char* raw) {
    const int format = archive_format(reader);
    if (raw == nullptr || (format & ARCHIVE_FORMAT_BASE_MASK) != ARCHIVE_FORMAT_TAR ||
        format == ARCHIVE_FORMAT_TAR_PAX_INTERCHANGE || format == ARCHIVE_FORMAT_TAR_PAX_RESTRICTED)
        return std::nullopt;
    if (auto utf8 = FromStrictUtf8(raw)) return Text{std::move(*utf8), true};
    return Text{platform::FromAnsi(raw), false};
}

// Whether the texts libarchive converted for the current entry were stored as Unicode.
bool StoredAsUnicode(archive* reader, const std::optional<ZipEntryText>& zip) {
    if (zip) return zip->utf8;
    if (const auto own = OwnEntryUnicode(reader)) return *own;  // its pax records hold code-page names too
    const int format = archive_format(reader);
    return format == ARCHIVE_FORMAT_7ZIP || format == ARCHIVE_FORMAT_RAR_V5 ||
           format == ARCHIVE_FORMAT_TAR_PAX_INTERCHANGE || format == ARCHIVE_FORMAT_TAR_PAX_RESTRICTED;
}

// libarchive keeps a RAR 5 name (and link target) in UTF-8 alone and makes its narrow and
// wide forms by converting through the C runtime's locale. In a DLL that locale is "C", where
// no non-ASCII text converts: both forms come out as nothing, and a folder's name as its lone
// separator. The UTF-8 form is what the archive stored; text that is not UTF-8 stays unread.
using Utf8Form = const char* (*)(archive_entry*);
std::optional<Text> Rar5Text(archive* reader, archive_entry* entry, Utf8Form utf8) {
    const char* text = archive_format(reader) == ARCHIVE_FORMAT_RAR_V5 ? utf8(entry) : nullptr;
    if (text == nullptr) return std::nullopt;
    return Text{FromStrictUtf8(text).value_or(std::wstring()), true};
}

Text EntryText(archive* reader, archive_entry* entry, const char* raw, const wchar_t* wide, Utf8Form utf8, bool unicode) {
    if (auto text = Rar5Text(reader, entry, utf8)) return std::move(*text);
    if (auto text = PlainTarText(reader, raw)) return std::move(*text);
    if (wide != nullptr) return {wide, unicode};
    if (raw != nullptr) return {platform::FromAnsi(raw), unicode};
    return {};
}

std::optional<std::wstring> LinkTarget(archive* reader, archive_entry* entry, const char* raw, const wchar_t* wide,
                                       Utf8Form utf8) {
    if (raw == nullptr && wide == nullptr && utf8(entry) == nullptr) return std::nullopt;
    const std::optional<ZipEntryText> zip = OwnBytesRead(reader) ? std::nullopt : ZipEntry(reader);
    return Composed(EntryText(reader, entry, raw, wide, utf8, StoredAsUnicode(reader, zip)));
}

} // namespace

std::optional<std::wstring> FromStrictUtf8(std::string_view text) {
    std::wstring out;
    for (const auto* p = reinterpret_cast<const unsigned char*>(text.data()), *end = p + text.size(); p < end;) {
        const unsigned char b = *p;
        const int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || end - p <= extra) return std::nullopt;
        char32_t c = extra == 0 ? b : static_cast<char32_t>(b & (0x3F >> extra));
        for (int k = 1; k <= extra; ++k) {
            if ((p[k] & 0xC0) != 0x80) return std::nullopt;
            c = (c << 6) | (p[k] & 0x3F);
        }
        static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0x10000) {
                out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
                out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                out += static_cast<wchar_t>(c);
            }
        } else {
            out += static_cast<wchar_t>(c);
        }
        p += extra + 1;
    }
    return out;
}

std::wstring EntryPath(archive* reader, archive_entry* entry, const VolumeSet& set) {
    if (IsLoneStream(reader)) return LoneStreamName(set.name);
    // Our own readers name their entries themselves; the central directory's names would be
    // matched against the positions of their pax stream.
    const std::optional<ZipEntryText> zip = OwnBytesRead(reader) ? std::nullopt : ZipEntry(reader);
    Text path = zip && zip->name ? Text{*zip->name, zip->unicode}
                                 : EntryText(reader, entry, archive_entry_pathname(entry), archive_entry_pathname_w(entry),
                                             &archive_entry_pathname_utf8, StoredAsUnicode(reader, zip));
    // An all-ASCII name came through libarchive intact; others may have lost a 0x5C byte
    // (and one that libarchive could not decode at all comes out empty).
    if (archive_format(reader) == ARCHIVE_FORMAT_RAR &&
        (path.text.empty() || std::any_of(path.text.begin(), path.text.end(), [](wchar_t c) { return c >= 0x80; }))) {
        if (auto stored = Rar4CodePageName(set.pieces, archive_read_header_position(reader)))
            path = {platform::FromAnsi(*stored), false};
    }
    std::wstring name = Composed(std::move(path));
    std::replace(name.begin(), name.end(), L'\\', L'/');
    while (!name.empty() && name.back() == L'/') name.pop_back();
    if (archive_entry_filetype(entry) == AE_IFDIR) name += L'/';
    return name;
}

std::optional<std::wstring> SymlinkTarget(archive* reader, archive_entry* entry) {
    return LinkTarget(reader, entry, archive_entry_symlink(entry), archive_entry_symlink_w(entry), &archive_entry_symlink_utf8);
}

std::optional<std::wstring> HardlinkTarget(archive* reader, archive_entry* entry) {
    return LinkTarget(reader, entry, archive_entry_hardlink(entry), archive_entry_hardlink_w(entry),
                      &archive_entry_hardlink_utf8);
}

std::shared_ptr<const Listing> Scan(Family family, const std::wstring& archivePath) {
    platform::PrepareLocale();
    if (platform::InspectTarget(platform::ToPath(archivePath)).kind != platform::Kind::File)
        return std::make_shared<Listing>();
    VolumeSet set = SetFor(family, archivePath);
    CacheKey key{family, StampOf(set, archivePath)};
    {
        std::lock_guard lock(gCacheMutex);
        for (auto it = gCache.begin(); it != gCache.end(); ++it) {
            if (it->first == key) {
                gCache.splice(gCache.begin(), gCache, it);
                return gCache.front().second;
            }
        }
    }
    const bool secondOnly = SecondWayOnly(family, set);
    auto listing = ReadListing(family, set, secondOnly);
    if (!listing->recognised && !secondOnly && FallbackMayRead(family, set)) listing = ReadListing(family, set, true);
    if (VolumeFoundFollowing(set)) {
        set = SetFor(family, archivePath);
        key.stamp = StampOf(set, archivePath);
    }
    if (!set.missing.empty()) {
        listing->missingPiece = set.missing;
        listing->complete = false;
        // RAR volumes and split ZIPs say by their names and headers whose they are.
        listing->recognised = listing->recognised || set.kind != SetKind::Plain;
    }
    std::lock_guard lock(gCacheMutex);
    gCache.emplace_front(std::move(key), listing);
    if (gCache.size() > kCacheSize) gCache.pop_back();
    return listing;
}

void ForgetScans() {
    std::lock_guard lock(gCacheMutex);
    gCache.clear();
}

unsigned ScanCount() { return gScanCount.load(); }

} // namespace dexalo::archivers
