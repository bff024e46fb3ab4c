#include "engine/extract.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <set>
#include <utility>

#include "engine/entry_path.h"
#include "engine/errors.h"
#include "engine/platform.h"
#include "engine/scan.h"
#include "engine/wildcard.h"

namespace dexalo::archivers {

namespace {

using platform::Kind;
using platform::Path;

enum class Outcome { Done, Folder, Kept, Skipped, Refused, CannotWrite, Unsupported, Corrupt };

std::atomic<std::uint32_t> gTempCounter{static_cast<std::uint32_t>(
    std::chrono::steady_clock::now().time_since_epoch().count())};

bool IsUnsupportedMessage(const char* message) {
    if (message == nullptr) return false;
    const std::string text(message);
    return text.find("nsupported") != std::string::npos || text.find("not supported") != std::string::npos;
}

class Extractor {
public:
    Extractor(const ExtractRequest& request, archive* reader)
        : request_(request), reader_(reader), archivePath_(platform::ToPath(request.archive)),
          root_(platform::ToPath(request.destination)) {}

    ExtractResult Run() {
        if (!MakeDirectories(root_)) {
            result_.detail = "the destination folder cannot be created";
            result_.code = kErrorCannotWrite;
            return result_;
        }
        archive_entry* entry = nullptr;
        int r = archive_read_next_header(reader_, &entry);
        if (r == ARCHIVE_EOF || r < ARCHIVE_WARN || !IsOwnArchive(reader_, request_.family)) {
            result_.code = r == ARCHIVE_EOF && IsOwnArchive(reader_, request_.family) ? kOk : kErrorCannotOpen;
            if (result_.code != kOk) Note(archive_error_string(reader_));
            return result_;
        }
        for (;;) {
            Count(Process(entry));
            if (fatal_ || corrupt_) break;  // after damaged data nothing later can be trusted
            r = archive_read_next_header(reader_, &entry);
            if (r == ARCHIVE_EOF) break;
            if (r < ARCHIVE_WARN) {
                corrupt_ = true;
                Note(archive_error_string(reader_));
                break;
            }
        }
        // Folders last and deepest first, so that writing their contents does not move the times on.
        for (auto it = folderTimes_.rbegin(); it != folderTimes_.rend(); ++it)
            platform::SetModified(it->first, it->second);
        result_.code = corrupt_ ? kErrorCorrupt
                     : unsupported_ ? kErrorUnsupported
                     : cannotWrite_ ? kErrorCannotWrite
                     : result_.refused > 0 ? kErrorRefused
                                           : kOk;
        return result_;
    }

private:
    // The destination root with its missing parents, through the platform's calls (which take
    // long paths). Links on the way are followed: the user chose this folder.
    static bool MakeDirectories(const Path& folder) {
        if (platform::InspectTarget(folder).kind == Kind::Directory) return true;
        const Path parent = folder.parent_path();
        if (!parent.empty() && parent != folder && !MakeDirectories(parent)) return false;
        return platform::MakeDirectory(folder);
    }

    void Note(const char* message) {
        if (result_.detail.empty() && message != nullptr) result_.detail = message;
    }

    void Count(Outcome outcome) {
        switch (outcome) {
        case Outcome::Done: ++result_.written; break;
        case Outcome::Folder: break;
        case Outcome::Kept: ++result_.kept; break;
        case Outcome::Skipped: ++result_.skipped; break;
        case Outcome::Refused: ++result_.refused; break;
        case Outcome::CannotWrite: cannotWrite_ = true; break;
        case Outcome::Unsupported: unsupported_ = true; break;
        case Outcome::Corrupt: corrupt_ = true; break;
        }
    }

    Path Join(const Components& parts, std::size_t count) const {
        Path p = root_;
        for (std::size_t i = 0; i < count; ++i) p /= platform::ToPath(parts[i]);
        return p;
    }

    // Makes sure parts[0..count) is a real folder under the root, creating it when missing.
    Outcome EnsureFolder(const Components& parts, std::size_t count) {
        std::wstring key;
        for (std::size_t i = 0; i < count; ++i) {
            key += parts[i];
            key += L'/';
            if (knownFolders_.count(key)) continue;
            const Path p = Join(parts, i + 1);
            const platform::FileInfo info = platform::Inspect(p);
            if (info.kind == Kind::Link) return Outcome::Refused;  // never write through a link
            if (info.kind == Kind::Missing) {
                if (!platform::MakeDirectory(p)) {
                    Note("a folder cannot be created");
                    return Outcome::CannotWrite;
                }
            } else if (info.kind != Kind::Directory) {
                Note("a file stands where a folder is needed");
                return Outcome::CannotWrite;
            }
            knownFolders_.insert(key);
        }
        return Outcome::Done;
    }

    // A fresh file under a temporary name beside the target; removed again on every failure.
    std::unique_ptr<platform::OutputFile> CreateTemporary(const Path& folder, Path& temp) {
        for (int attempt = 0; attempt < 64; ++attempt) {
            wchar_t name[32];
            std::swprintf(name, 32, L"~dx%08x.tmp", static_cast<unsigned>(++gTempCounter));
            temp = folder / platform::ToPath(name);
            if (auto file = platform::CreateExclusive(temp)) return file;
            if (platform::Inspect(temp).kind == Kind::Missing) break;  // not a name clash
        }
        Note("a file cannot be created");
        return nullptr;
    }

    // An existing file is replaced only by a newer entry; folders are never replaced.
    Outcome CheckExisting(const Path& target, archive_entry* entry) {
        const platform::FileInfo existing = platform::Inspect(target);
        switch (existing.kind) {
        case Kind::Missing:
        case Kind::Link:  // the link itself is replaced, its target is never touched
            return Outcome::Done;
        case Kind::File:
            if (platform::SameFile(target, archivePath_)) return Outcome::Refused;
            if (archive_entry_mtime_is_set(entry) && archive_entry_mtime(entry) > existing.mtime)
                return Outcome::Done;
            return Outcome::Kept;
        case Kind::Directory:
        case Kind::Other:
            Note("a folder or device stands where a file is needed");
            return Outcome::CannotWrite;
        }
        return Outcome::CannotWrite;
    }

    std::int64_t EntryTime(archive_entry* entry) const {
        if (archive_entry_mtime_is_set(entry)) return archive_entry_mtime(entry);
        return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }

    Outcome Process(archive_entry* entry) {
        const std::wstring stored = EntryPath(reader_, entry, request_.archive);
        if (!request_.patterns.empty()) {
            std::wstring listed = stored;
            const wchar_t sep = SeparatorOf(request_.family);
            std::replace(listed.begin(), listed.end(), L'/', sep);
            const bool wanted = std::any_of(request_.patterns.begin(), request_.patterns.end(),
                                            [&](const std::wstring& p) { return MatchesWildcard(p, listed); });
            if (!wanted) return Outcome::Skipped;
        }
        const std::optional<Components> parts = SafeComponents(stored);
        if (!parts) return Outcome::Refused;
        if (parts->empty()) return Outcome::Skipped;  // "./" names the destination itself
        if (archive_entry_is_encrypted(entry)) {
            Note("encrypted entries are not supported");
            return Outcome::Unsupported;
        }

        const auto type = archive_entry_filetype(entry);
        if (type == AE_IFDIR) {
            const Outcome made = EnsureFolder(*parts, parts->size());
            if (made == Outcome::Done && archive_entry_mtime_is_set(entry))
                folderTimes_.emplace_back(Join(*parts, parts->size()), archive_entry_mtime(entry));
            return made == Outcome::Done ? Outcome::Folder : made;
        }

        const Outcome parents = EnsureFolder(*parts, parts->size() - 1);
        if (parents != Outcome::Done) return parents;
        const Path folder = Join(*parts, parts->size() - 1);
        const Path target = folder / platform::ToPath(parts->back());

        if (type == AE_IFLNK) return WriteLink(entry, *parts, folder, target);
        const std::optional<std::wstring> hardlink = HardlinkTarget(reader_, entry);
        const bool hasData = archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0;
        if (hardlink && !hasData) return CopyHardlink(entry, *hardlink, folder, target);
        if (type != AE_IFREG && !hardlink) return Outcome::Skipped;  // devices, fifos, sockets
        return WriteFile(entry, folder, target);
    }

    // Drops the temporary file and reports why the entry failed.
    Outcome Discard(std::unique_ptr<platform::OutputFile>& out, const Path& temp, Outcome why, const char* message) {
        out.reset();
        platform::RemoveFile(temp);
        Note(message);
        return why;
    }

    Outcome WriteFile(archive_entry* entry, const Path& folder, const Path& target) {
        const Outcome existing = CheckExisting(target, entry);
        if (existing != Outcome::Done) return existing;
        Path temp;
        auto out = CreateTemporary(folder, temp);
        if (!out) return Outcome::CannotWrite;
        std::uint64_t end = 0;
        for (;;) {
            const void* block = nullptr;
            std::size_t size = 0;
            la_int64_t offset = 0;
            const int r = archive_read_data_block(reader_, &block, &size, &offset);
            if (r == ARCHIVE_EOF) break;
            // libarchive reports a failed CRC or a wrong length only as a warning, once the
            // data is through: for us any warning about the data means it is damaged.
            if (r != ARCHIVE_OK) {
                if (r == ARCHIVE_FATAL) fatal_ = true;
                const char* message = archive_error_string(reader_);
                return Discard(out, temp, IsUnsupportedMessage(message) ? Outcome::Unsupported : Outcome::Corrupt,
                               message != nullptr ? message : "damaged data");
            }
            if (size == 0) continue;
            if (!out->WriteAt(static_cast<std::uint64_t>(offset), block, size))
                return Discard(out, temp, Outcome::CannotWrite, "a file cannot be written (disk full?)");
            end = std::max(end, static_cast<std::uint64_t>(offset) + size);
        }
        if (archive_entry_size_is_set(entry)) {
            const auto expected = static_cast<std::uint64_t>(archive_entry_size(entry));
            // Only a sparse entry may end in a hole; any other entry must deliver all its bytes.
            if (end < expected && archive_entry_sparse_count(entry) == 0)
                return Discard(out, temp, Outcome::Corrupt, "the entry's data ends early");
            end = std::max(end, expected);
        }
        if (!out->Finish(end, EntryTime(entry)) || !platform::ReplaceFile(temp, target))
            return Discard(out, temp, Outcome::CannotWrite, "a file cannot be put in place");
        // The entry's own attributes, once the file is in place (a read-only temporary file could
        // not be removed after a failed replacement).
        const auto perm = archive_entry_perm(entry);
        if (perm != 0 && (perm & 0200) == 0) platform::MarkReadOnly(target);
        return Outcome::Done;
    }

    Outcome WriteLink(archive_entry* entry, const Components& parts, const Path& folder, const Path& target) {
        const std::optional<std::wstring> raw = SymlinkTarget(reader_, entry);
        if (!raw || !SafeLinkTarget(parts, *raw)) return Outcome::Refused;
        const Outcome existing = CheckExisting(target, entry);
        if (existing != Outcome::Done) return existing;
        std::wstring linkText(*raw);
        std::replace(linkText.begin(), linkText.end(), L'\\', L'/');
        for (int attempt = 0; attempt < 64; ++attempt) {
            wchar_t name[32];
            std::swprintf(name, 32, L"~dx%08x.tmp", static_cast<unsigned>(++gTempCounter));
            const Path temp = folder / platform::ToPath(name);
            if (platform::MakeSymlink(linkText, temp)) {
                if (platform::ReplaceFile(temp, target)) return Outcome::Done;
                platform::RemoveFile(temp);
                return Outcome::CannotWrite;
            }
            if (platform::Inspect(temp).kind == Kind::Missing) break;
        }
        return Outcome::Skipped;  // this system cannot make links
    }

    // A hard link is written as a copy of the file it names, which must already lie
    // under the destination without any link on the way.
    Outcome CopyHardlink(archive_entry* entry, const std::wstring& linkTo, const Path& folder, const Path& target) {
        std::wstring name(linkTo);
        std::replace(name.begin(), name.end(), L'\\', L'/');
        const std::optional<Components> source = SafeComponents(name);
        if (!source || source->empty()) return Outcome::Refused;
        Path from = root_;
        for (std::size_t i = 0; i < source->size(); ++i) {
            from /= platform::ToPath((*source)[i]);
            const Kind kind = platform::Inspect(from).kind;
            if (kind == Kind::Link) return Outcome::Refused;
            if (kind != (i + 1 == source->size() ? Kind::File : Kind::Directory)) return Outcome::Skipped;
        }
        const Outcome existing = CheckExisting(target, entry);
        if (existing != Outcome::Done) return existing;
        if (platform::SameFile(from, target)) return Outcome::Kept;
        Path temp;
        auto out = CreateTemporary(folder, temp);
        if (!out) return Outcome::CannotWrite;
        std::ifstream in(platform::SystemPath(from), std::ios::binary);
        std::vector<char> buffer(1 << 16);
        std::uint64_t offset = 0;
        bool ok = static_cast<bool>(in);
        while (ok && in) {
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            const auto n = static_cast<std::size_t>(in.gcount());
            if (n > 0) ok = out->WriteAt(offset, buffer.data(), n);
            offset += n;
        }
        ok = ok && in.eof();
        if (!ok || !out->Finish(offset, EntryTime(entry)) || !platform::ReplaceFile(temp, target)) {
            out.reset();
            platform::RemoveFile(temp);
            return Outcome::CannotWrite;
        }
        return Outcome::Done;
    }

    const ExtractRequest& request_;
    archive* reader_;
    Path archivePath_;
    Path root_;
    ExtractResult result_;
    std::set<std::wstring> knownFolders_;
    std::vector<std::pair<Path, std::int64_t>> folderTimes_;
    bool fatal_ = false;
    bool corrupt_ = false;
    bool unsupported_ = false;
    bool cannotWrite_ = false;
};

} // namespace

ExtractResult Extract(const ExtractRequest& request) {
    platform::PrepareLocale();
    ExtractResult result;
    if (platform::InspectTarget(platform::ToPath(request.archive)).kind != Kind::File) {
        result.code = kErrorCannotOpen;
        result.detail = "the archive cannot be found";
        return result;
    }
    archive* reader = archive_read_new();
    if (reader == nullptr) {
        result.code = kErrorCannotOpen;
        return result;
    }
    ConfigureReader(reader, request.family);
    if (platform::OpenReader(reader, platform::ToPath(request.archive), kReadBlockSize) != ARCHIVE_OK) {
        result.code = kErrorCannotOpen;
        if (const char* m = archive_error_string(reader)) result.detail = m;
        archive_read_free(reader);
        return result;
    }
    result = Extractor(request, reader).Run();
    archive_read_free(reader);
    return result;
}

} // namespace dexalo::archivers
