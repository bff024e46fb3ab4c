#include "engine/scan.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <atomic>
#include <list>
#include <mutex>
#include <optional>
#include <tuple>

#include "engine/platform.h"
#include "engine/rar_name.h"

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
    const ReaderPtr owned = NewFamilyReader(family, fallback);
    archive* reader = owned.get();
    if (reader == nullptr) return listing;
    ++gScanCount;
    if (OpenFamilyReader(reader, family, set) == ARCHIVE_OK) {
        archive_entry* entry = nullptr;
        for (;;) {
            const int r = archive_read_next_header(reader, &entry);
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
            e.path = EntryPath(reader, entry, set);
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

// Strict UTF-8 to wide (UTF-16 where wchar_t is 16 bits); nullopt when not UTF-8 or plain ASCII.
std::optional<std::wstring> NonAsciiUtf8(const char* text) {
    std::wstring out;
    bool high = false;
    for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p;) {
        const unsigned char b = *p;
        const int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0) return std::nullopt;
        char32_t c = extra == 0 ? b : static_cast<char32_t>(b & (0x3F >> extra));
        for (int k = 1; k <= extra; ++k) {
            if ((p[k] & 0xC0) != 0x80) return std::nullopt;
            c = (c << 6) | (p[k] & 0x3F);
        }
        static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
        high = high || extra > 0;
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
    if (!high) return std::nullopt;
    return out;
}

// Plain tar headers carry no code page, so libarchive leaves their names as raw bytes (and
// on Windows would widen each byte by itself). The tars met today come from systems that
// write UTF-8: names that are valid UTF-8 are read as such, the rest in the ANSI code page.
// pax headers are UTF-8 by definition and libarchive converts them itself.
std::optional<std::wstring> PlainTarText(archive* reader, const char* raw) {
    const int format = archive_format(reader);
    if (raw == nullptr || (format & ARCHIVE_FORMAT_BASE_MASK) != ARCHIVE_FORMAT_TAR ||
        format == ARCHIVE_FORMAT_TAR_PAX_INTERCHANGE || format == ARCHIVE_FORMAT_TAR_PAX_RESTRICTED)
        return std::nullopt;
    if (auto utf8 = NonAsciiUtf8(raw)) return utf8;
    return platform::FromAnsi(raw);
}

std::wstring EntryText(archive* reader, const char* raw, const wchar_t* wide) {
    if (auto text = PlainTarText(reader, raw)) return std::move(*text);
    if (wide != nullptr) return wide;
    if (raw != nullptr) return platform::FromAnsi(raw);
    return {};
}

} // namespace

std::wstring EntryPath(archive* reader, archive_entry* entry, const VolumeSet& set) {
    if (IsLoneStream(reader)) return LoneStreamName(set.name);
    std::wstring path = EntryText(reader, archive_entry_pathname(entry), archive_entry_pathname_w(entry));
    // An all-ASCII name came through libarchive intact; others may have lost a 0x5C byte
    // (and one that libarchive could not decode at all comes out empty).
    if (archive_format(reader) == ARCHIVE_FORMAT_RAR &&
        (path.empty() || std::any_of(path.begin(), path.end(), [](wchar_t c) { return c >= 0x80; }))) {
        if (auto stored = Rar4CodePageName(set.pieces, archive_read_header_position(reader)))
            path = platform::FromAnsi(*stored);
    }
    std::replace(path.begin(), path.end(), L'\\', L'/');
    while (!path.empty() && path.back() == L'/') path.pop_back();
    if (archive_entry_filetype(entry) == AE_IFDIR) path += L'/';
    return path;
}

std::optional<std::wstring> SymlinkTarget(archive* reader, archive_entry* entry) {
    if (archive_entry_symlink(entry) == nullptr && archive_entry_symlink_w(entry) == nullptr) return std::nullopt;
    return EntryText(reader, archive_entry_symlink(entry), archive_entry_symlink_w(entry));
}

std::optional<std::wstring> HardlinkTarget(archive* reader, archive_entry* entry) {
    if (archive_entry_hardlink(entry) == nullptr && archive_entry_hardlink_w(entry) == nullptr) return std::nullopt;
    return EntryText(reader, archive_entry_hardlink(entry), archive_entry_hardlink_w(entry));
}

std::shared_ptr<const Listing> Scan(Family family, const std::wstring& archivePath) {
    platform::PrepareLocale();
    if (platform::InspectTarget(platform::ToPath(archivePath)).kind != platform::Kind::File)
        return std::make_shared<Listing>();
    const VolumeSet set = SetFor(family, archivePath);
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
