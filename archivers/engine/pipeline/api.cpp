#include "engine/pipeline/api.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "engine/pipeline/command_line.h"
#include "common/archiver_contract.h"
#include "engine/input/volumes.h"
#include "engine/pipeline/extract.h"
#include "engine/platform/platform.h"
#include "engine/pipeline/resolve.h"
#include "common/wildcard.h"

namespace dexalo::archivers {

namespace {

struct Session {
    Family family;
    std::shared_ptr<const Resolved> archive;
    std::wstring pattern;
    std::size_t next = 0;
};

std::mutex gSessionMutex;
std::map<std::uintptr_t, Session> gSessions;
// Handles are small numbers that no pointer looks like, so a stale or foreign one is refused.
std::uintptr_t gNextHandle = 0x10;

std::wstring Text(const char* ansi) { return ansi ? platform::FromAnsi(ansi) : std::wstring(); }

// The longest prefix of `path` whose ANSI form fits the record, cut between characters.
std::string RecordPath(const std::wstring& path) {
    std::string ansi = platform::ToAnsi(path);
    if (ansi.size() < kRecordPathSize) return ansi;
    std::size_t low = 0, high = path.size();
    while (low < high) {
        const std::size_t mid = (low + high + 1) / 2;
        if (platform::ToAnsi(std::wstring_view(path).substr(0, mid)).size() < kRecordPathSize)
            low = mid;
        else
            high = mid - 1;
    }
    return platform::ToAnsi(std::wstring_view(path).substr(0, low));
}

void Fill(EntryRecord& record, const ListedEntry& entry) {
    std::memset(&record, 0, sizeof record);
    const std::string path = RecordPath(entry.path);
    std::memcpy(record.path, path.data(), path.size());
    record.originalSize = static_cast<std::uint32_t>(entry.size);
    if (entry.mtimeKnown) {
        const std::time_t t = static_cast<std::time_t>(entry.mtime);
        if (const std::tm* local = std::localtime(&t); local && local->tm_year >= 80) {
            record.date = static_cast<std::uint16_t>(((local->tm_year - 80) << 9) | ((local->tm_mon + 1) << 5) |
                                                     local->tm_mday);
            record.time = static_cast<std::uint16_t>((local->tm_hour << 11) | (local->tm_min << 5) |
                                                     (local->tm_sec / 2));
        }
    }
    std::strcpy(record.attribute, entry.directory ? "d" : entry.link ? "l" : "-");
}

// Next entry of the session that matches its pattern.
int Advance(Session& session, EntryRecord* record) {
    const auto& entries = session.archive->listing.entries;
    while (session.next < entries.size()) {
        const ListedEntry& entry = entries[session.next++];
        if (MatchesWildcard(session.pattern, entry.path)) {
            Fill(*record, entry);
            return 0;
        }
    }
    return kFindEnd;
}

int CountOf(Family family, const std::wstring& archivePath) {
    const auto archive = Resolve(family, archivePath);
    const Listing* listing = &archive->listing;
    if (!listing->recognised) return -1;
    // An archive, or a set's readable pieces, that lists nothing for damage says "ours", so
    // that the main operation gets the file and tells the user, instead of the file passing
    // for none. Names hidden behind a password count two: with one the program would extract
    // straight into the destination root what may be many loose files; with two and no
    // listing it makes a folder for them.
    if (listing->namesEncrypted) return 2;
    if (listing->entries.empty() && !listing->complete) return 1;  // damaged, or a piece missing
    return listing->entries.size() > INT_MAX ? INT_MAX : static_cast<int>(listing->entries.size());
}

bool Checked(Family family, const std::wstring& archivePath) {
    const auto archive = Resolve(family, archivePath);
    return archive->listing.recognised && (archive->listing.complete || !CheckNeedsWholeListing(family));
}

// What the program would do with the file before it asks the split-file library.
bool TakenByAnotherFamily(const std::wstring& archivePath) {
    for (std::size_t i = 0; i < kFamilyCount; ++i) {
        const auto family = static_cast<Family>(i);
        if ((CallsOf(family) == Calls::Count && CountOf(family, archivePath) >= 1) ||
            (CallsOf(family) == Calls::Check && Checked(family, archivePath)))
            return true;
    }
    return false;
}

// Reports a failed main operation, as only the main operations do.
int Finish(const std::wstring& archive, const ExtractResult& result, UserInterface* ui) {
    if (ui != nullptr && result.code != kOk && result.code != kErrorCancelled) ui->Report(archive, result);
    return result.code;
}

} // namespace

int GetFileCount(Family family, const char* archivePath) {
    const CallFiles files;
    return archivePath == nullptr ? -1 : CountOf(family, Text(archivePath));
}

int CheckArchive(Family family, const char* archivePath, int) {
    const CallFiles files;
    if (archivePath == nullptr) return 0;
    const std::wstring path = Text(archivePath);
    if (CallsOf(family) != Calls::Join) return Checked(family, path) ? 1 : 0;
    const VolumeSet set = SetFor(family, path);
    // A set with a piece missing is taken too, so that the main operation can name that piece.
    return set.kind == SetKind::Plain && !TakenByAnotherFamily(path) ? 1 : 0;
}

std::uintptr_t OpenArchive(Family family, const char* archivePath, std::uint32_t) {
    const CallFiles files;
    if (archivePath == nullptr) return 0;
    auto archive = Resolve(family, Text(archivePath));
    if (!archive->listing.recognised) return 0;
    std::lock_guard lock(gSessionMutex);
    const std::uintptr_t handle = gNextHandle;
    gNextHandle += 4;
    gSessions.emplace(handle, Session{family, std::move(archive), {}, 0});
    return handle;
}

int FindFirst(Family family, std::uintptr_t handle, const char* wildcard, EntryRecord* record) {
    std::lock_guard lock(gSessionMutex);
    const auto it = gSessions.find(handle);
    if (it == gSessions.end() || it->second.family != family || record == nullptr) return kFindError;
    it->second.pattern = Text(wildcard);
    it->second.next = 0;
    return Advance(it->second, record);
}

int FindNext(Family family, std::uintptr_t handle, EntryRecord* record) {
    std::lock_guard lock(gSessionMutex);
    const auto it = gSessions.find(handle);
    if (it == gSessions.end() || it->second.family != family || record == nullptr) return kFindError;
    return Advance(it->second, record);
}

int CloseArchive(Family family, std::uintptr_t handle) {
    std::lock_guard lock(gSessionMutex);
    const auto it = gSessions.find(handle);
    if (it == gSessions.end() || it->second.family != family) return kFindError;
    gSessions.erase(it);
    return 0;
}

int Run(Family family, const char* commandLine, char* output, std::uint32_t outputSize, UserInterface* ui) {
    const CallFiles files;
    ExtractResult result;
    const auto parsed = ParseCommandLine(Text(commandLine));
    if (!parsed) {
        result.code = kErrorCommandLine;
        result.detail = "command line not understood";
    } else {
        result = Extract(ExtractRequest{family, parsed->archive, parsed->destination, parsed->patterns, ui});
    }
    Finish(parsed ? parsed->archive : Text(commandLine), result, ui);
    if (output != nullptr && outputSize > 0) {
        std::snprintf(output, outputSize, "%s: %u written, %u kept, %u refused, %u skipped; code %d%s%s",
                      std::string(NameOf(family)).c_str(), result.written, result.kept, result.refused,
                      result.skipped, result.code, result.detail.empty() ? "" : ": ", result.detail.c_str());
    }
    return result.code;
}

int Combine(Family family, const char* piecePath, const char* folder, UserInterface* ui) {
    const CallFiles files;
    ExtractResult result;
    result.code = kErrorCannotOpen;
    const std::wstring piece = Text(piecePath);
    if (!piece.empty()) result = Extract(ExtractRequest{family, piece, FolderArgument(Text(folder)), {}, ui});
    result.join = true;  // whatever failed, the user is told of a join
    return Finish(piece, result, ui);
}

} // namespace dexalo::archivers
