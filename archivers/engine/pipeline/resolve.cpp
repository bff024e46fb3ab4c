#include "engine/pipeline/resolve.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <atomic>
#include <list>
#include <mutex>

#include "engine/names/written_names.h"
#include "engine/pipeline/entry_reader.h"
#include "engine/pipeline/input_reader.h"
#include "engine/platform/platform.h"

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
std::list<std::pair<CacheKey, std::shared_ptr<const Resolved>>> gCache;
std::atomic<unsigned> gScanCount{0};

Lock LockOf(Decryption outcome) {
    switch (outcome) {
    case Decryption::NotNeeded: return Lock::None;
    case Decryption::Opened: return Lock::Opened;
    case Decryption::Deferred:
    case Decryption::Declined: return Lock::Deferred;
    case Decryption::Unsupported:
    case Decryption::Refused: return Lock::Unsupported;
    }
    return Lock::None;
}

// Reads the headers as `plan` says into the archive's listing and lock.
void ReadListing(Resolved& resolved, Plan plan) {
    resolved.listing = Listing{};
    resolved.lock = Lock::None;
    EntryReader reader(resolved, plan);
    if (!reader) return;
    ++gScanCount;
    // Names hidden behind a password are asked for now: nothing else can count them.
    PasswordRequest passwords{true, nullptr};
    if (const RecognitionQuestion& ask = CurrentRecognitionQuestion())
        passwords.ask = [&](bool wrong) { return ask(resolved.set.name, wrong); };
    const int opened = reader.Open(&passwords);
    resolved.lock = LockOf(passwords.outcome);
    if (opened != ARCHIVE_OK) return;
    Listing& listing = resolved.listing;
    archive_entry* entry = nullptr;
    WrittenNames names;
    for (;;) {
        const int r = reader.NextHeader(&entry);
        if (r == ARCHIVE_EOF) {
            // An empty archive still counts as ours when its format was recognised.
            if (listing.entries.empty()) listing.recognised = reader.IsOwnArchive();
            listing.complete = listing.recognised;
            break;
        }
        if (r < ARCHIVE_WARN) {  // damaged or truncated: the entries so far stand
            if (listing.entries.empty() && NamesEncrypted(reader.get())) listing.recognised = listing.namesEncrypted = true;
            // Ours all the same when its format is unmistakable (the main operation tells the damage).
            if (listing.entries.empty() && reader.DamagedOwnArchive()) listing.recognised = true;
            break;
        }
        if (listing.entries.empty()) {
            if (!reader.IsOwnArchive()) break;
            listing.recognised = true;
        }
        if (archive_entry_is_encrypted(entry) && resolved.lock == Lock::None) resolved.lock = Lock::Deferred;
        ListedEntry e;
        e.path = names.NextShown(reader.Path(entry));
        const wchar_t sep = SeparatorOf(resolved.family);
        if (sep != L'/') std::replace(e.path.begin(), e.path.end(), L'/', sep);
        e.directory = archive_entry_filetype(entry) == AE_IFDIR;
        e.link = archive_entry_filetype(entry) == AE_IFLNK;
        e.size = archive_entry_size_is_set(entry) ? static_cast<std::uint64_t>(archive_entry_size(entry)) : 0;
        e.mtimeKnown = archive_entry_mtime_is_set(entry) != 0;
        e.mtime = e.mtimeKnown ? static_cast<std::int64_t>(archive_entry_mtime(entry)) : 0;
        listing.entries.push_back(std::move(e));
    }
}

std::shared_ptr<const Resolved> ResolveAnew(Family family, const std::wstring& archivePath, VolumeSet set, SetStamp stamp,
                                            bool listed) {
    auto resolved = std::make_shared<Resolved>();
    resolved->family = family;
    resolved->set = std::move(set);
    resolved->stamp = std::move(stamp);
    const VolumeSet& pieces = resolved->set;
    resolved->zipNames = DirectoryNames(family, pieces);
    resolved->plan = OwnReaderFor(family, pieces) ? Plan::OwnReader
                   : SecondWayOnly(family, pieces)  ? Plan::SecondWay
                                                    : Plan::Libarchive;
    const bool fallback = resolved->plan == Plan::Libarchive && FallbackMayRead(family, pieces);
    if (!listed && !fallback) {
        resolved->lock = Lock::Deferred;  // nobody was asked: the main operation asks
        return resolved;
    }
    ReadListing(*resolved, resolved->plan);
    if (!resolved->listing.recognised && fallback) {
        resolved->plan = Plan::SecondWay;
        ReadListing(*resolved, resolved->plan);
    }
    // Decryption may have found that the last piece is followed by one that is missing.
    if (VolumeFoundFollowing(pieces)) {
        resolved->set = SetFor(family, archivePath);
        resolved->stamp = StampOf(resolved->set, archivePath);
    }
    Listing& listing = resolved->listing;
    if (!pieces.missing.empty()) {
        listing.missingPiece = pieces.missing;
        listing.complete = false;
        // RAR volumes and split ZIPs say by their names and headers whose they are.
        listing.recognised = listing.recognised || pieces.kind != SetKind::Plain;
    }
    return resolved;
}

} // namespace

std::shared_ptr<const Resolved> Resolve(Family family, const std::wstring& archivePath, bool listed) {
    platform::PrepareLocale();
    if (platform::InspectTarget(platform::ToPath(archivePath)).kind != platform::Kind::File) {
        auto none = std::make_shared<Resolved>();
        none->family = family;
        return none;
    }
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
    auto resolved = ResolveAnew(family, archivePath, std::move(set), std::move(key.stamp), listed);
    if (!listed) return resolved;  // kept only once listed
    std::lock_guard lock(gCacheMutex);
    gCache.emplace_front(CacheKey{family, resolved->stamp}, resolved);
    if (gCache.size() > kCacheSize) gCache.pop_back();
    return resolved;
}

void ForgetResolved() {
    std::lock_guard lock(gCacheMutex);
    gCache.clear();
}

unsigned ScanCount() { return gScanCount.load(); }

} // namespace dexalo::archivers
