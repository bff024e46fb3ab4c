#include "engine/pipeline/extract.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "engine/pipeline/input_reader.h"
#include "engine/pipeline/own_stream.h"
#include "engine/pipeline/parallel_extract.h"
#include "engine/names/entry_path.h"
#include "engine/names/written_names.h"
#include "common/archiver_contract.h"
#include "engine/platform/platform.h"
#include "engine/formats/rar_name.h"
#include "engine/formats/rar5.h"
#include "engine/pipeline/report.h"
#include "engine/pipeline/entry_reader.h"
#include "engine/pipeline/resolve.h"
#include "engine/input/volumes.h"
#include "common/wildcard.h"

namespace dexalo::archivers {

namespace {

using platform::Kind;
using platform::Path;

enum class Outcome {
    Done, Folder, Kept, Skipped, Refused, CannotWrite, Unsupported, UnsupportedEncryption, Corrupt,
    CorruptEncrypted,  // damaged data behind a password that passed libarchive's check: maybe a wrong one
    Declined,          // encrypted, and the user gave no password
    Cancelled,
    HandedOver         // written by the pool: counted when its job ends
};

std::atomic<std::uint32_t> gTempCounter{static_cast<std::uint32_t>(
    std::chrono::steady_clock::now().time_since_epoch().count())};

// A file or link made under a temporary name beside its target, and removed again unless it
// is put in place: no half-written file ever appears under the real name, and an existing
// file is never replaced by a damaged entry.
class Temporary {
public:
    Temporary() = default;
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;
    ~Temporary() { Discard(); }

    // A fresh file in `folder`; false, with the system's reason, when none can be created.
    bool MakeFile(const Path& folder, std::wstring& reason) {
        return Make(folder, reason, [this](const Path& p) { return (file_ = platform::CreateExclusive(p)) != nullptr; });
    }
    // A fresh link to `target` in `folder`; false where the system makes no links.
    bool MakeLink(const Path& folder, const std::wstring& target) {
        std::wstring reason;
        return Make(folder, reason, [&](const Path& p) { return platform::MakeSymlink(target, p); });
    }
    platform::OutputFile& File() { return *file_; }
    // Its writes made by another thread from here on.
    void WriteBehindBy(WriteBehind& writer) { file_ = writer.Wrap(std::move(file_)); }

    // Puts it in place of `target`; it is the caller's from then on.
    bool Commit(const Path& target) {
        file_.reset();
        if (!made_ || !platform::RenameOver(path_, target)) return false;
        made_ = false;
        return true;
    }
    // Puts it in place under `target` only while no file has that name; false otherwise.
    bool CommitNew(const Path& target) {
        file_.reset();
        if (!made_ || !platform::RenameNew(path_, target)) return false;
        made_ = false;
        return true;
    }
    void Discard() {
        file_.reset();  // closed before it is removed
        if (made_) platform::RemoveFile(path_);
        made_ = false;
    }

private:
    template <class MakeAt>
    bool Make(const Path& folder, std::wstring& reason, MakeAt make) {
        for (int attempt = 0; attempt < 64; ++attempt) {
            wchar_t name[32];
            std::swprintf(name, 32, L"~dx%08x.tmp", static_cast<unsigned>(++gTempCounter));
            path_ = folder / platform::ToPath(name);
            if (make(path_)) return made_ = true;
            reason = platform::LastErrorText();  // before the check below sets its own
            if (platform::Inspect(path_).kind == Kind::Missing) break;  // not a name clash
        }
        return false;
    }

    Path path_;
    bool made_ = false;
    std::unique_ptr<platform::OutputFile> file_;
};

// libarchive reports a compression method it cannot read under the same error number as
// damaged data (ARCHIVE_ERRNO_FILE_FORMAT), so only its message tells them apart. Encryption
// is decided from the entry's own flags instead (see ReadFailure).
bool IsUnsupportedMethod(const char* message) {
    if (message == nullptr) return false;
    const std::string text(message);
    // RAR 5's "Unsupported block header size" is what damaged (or wrongly decrypted) data gives.
    if (text.find("block header") != std::string::npos) return false;
    return text.find("nsupported") != std::string::npos || text.find("not supported") != std::string::npos;
}

SilentInterface gSilent;

// A file the pool writes: put in place with the entry's time, then marked read-only if it was.
class PooledFile final : public PendingFile {
public:
    PooledFile(Path target, std::int64_t mtime, bool readOnly) : target_(std::move(target)), mtime_(mtime), readOnly_(readOnly) {}
    platform::OutputFile& File() override { return temp.File(); }
    bool Commit(std::uint64_t size) override {
        if (!temp.File().Finish(size, mtime_) || !temp.Commit(target_)) return false;
        if (readOnly_) platform::MarkReadOnly(target_);
        return true;
    }
    Temporary temp;

private:
    Path target_;
    std::int64_t mtime_;
    bool readOnly_;
};

// An entry that carries no write permission for its owner (a DOS read-only attribute).
bool ReadOnlyEntry(archive_entry* entry) {
    const auto perm = archive_entry_perm(entry);
    return perm != 0 && (perm & 0200) == 0;
}

// Entries from this size on are written by a second thread, where there is one.
constexpr std::int64_t kWriteBehindFrom = 1 << 20;

// A folder with its missing parents, through the platform's calls (which take long paths).
// Links on the way are followed: the user chose this folder. False, with the folder that
// could not be made, on failure.
bool MakeFolders(const Path& folder, Path& failed) {
    if (platform::InspectTarget(folder).kind == Kind::Directory) return true;
    const Path parent = folder.parent_path();
    if (!parent.empty() && parent != folder && !MakeFolders(parent, failed)) return false;
    if (platform::MakeDirectory(folder)) return true;
    failed = folder;
    return false;
}

// The front end calls the main operation once for every file of one drop or selection, so
// a set whose pieces were all chosen comes one piece at a time. The first call handles the
// whole set and opens a round; each other piece of it is then passed over once. A piece
// called again, a round that has seen every piece, or any other archive in between ends the
// round: a set dropped again (after a cancel, a wrong password, a full disk) is handled anew.
struct Round {
    std::pair<Family, SetStamp> set;
    std::set<std::wstring> called;
    std::size_t pieces = 0;
};
std::mutex gRoundMutex;
std::optional<Round> gRound;

// True for a single file, and for a set that is not in the round under way.
bool FirstToHandle(Family family, const VolumeSet& set, const std::wstring& opened) {
    std::lock_guard lock(gRoundMutex);
    if (!set.Split()) {
        gRound.reset();
        return true;
    }
    auto key = std::make_pair(family, StampOf(set, opened));
    const std::wstring piece = platform::FromPath(platform::ToPath(opened).filename());
    if (gRound && gRound->set == key && gRound->called.insert(piece).second) {
        if (gRound->called.size() >= gRound->pieces) gRound.reset();
        return false;
    }
    // With a piece missing, how many lie beyond the gap is unknown.
    gRound = Round{std::move(key), {piece}, set.missing.empty() ? set.pieces.size() : SIZE_MAX};
    return true;
}

class Extractor {
public:
    // Before the reader is opened: libarchive takes the password callback only then.
    Extractor(const ExtractRequest& request, const Resolved& archive, EntryReader& entries)
        : request_(request), set_(archive.set), entries_(entries), reader_(entries.get()),
          ui_(request.ui ? *request.ui : gSilent), root_(platform::ToPath(request.destination)), headers_(set_.pieces) {
        for (const auto& piece : set_.pieces) {
            pieces_.push_back(platform::ToPath(piece));
            total_ += platform::InspectTarget(pieces_.back()).size;
        }
        archive_read_set_passphrase_callback(reader_, this, &Extractor::AskPassphrase);
    }

    // What opening the reader may ask: the password of an archive that only we decrypt.
    PasswordRequest Passwords() {
        return {false, [this](bool wrong) {
                    std::optional<std::wstring> answer = ui_.Passphrase(request_.archive, wrong);
                    declined_ = !answer;
                    return answer;
                }};
    }
    void Opened(const PasswordRequest& passwords) {
        decrypted_ = passwords.outcome == Decryption::Opened;
        withheld_ = passwords.outcome == Decryption::Declined;
    }

    ExtractResult Run() {
        if (Path failed; !MakeFolders(root_, failed)) {
            Unwritable(failed, "the destination folder cannot be created");
            result_.code = kErrorCannotWrite;
            return result_;
        }
        archive_entry* entry = nullptr;
        int r = entries_.NextHeader(&entry);
        if (r < ARCHIVE_WARN && NamesEncrypted(reader_)) {
            if (declined_) {
                result_.declined = 1;
                result_.declinedExample = DisplayName(request_.archive);
            } else {
                result_.unsupportedEntry = DisplayName(request_.archive);
                result_.unsupportedEncryption = unsupported_ = true;
            }
            result_.code = kErrorUnsupported;
            return result_;
        }
        if (r == ARCHIVE_EOF || r < ARCHIVE_WARN || !entries_.IsOwnArchive()) {
            // A 7z or RAR that fails before its first entry is damaged, not of another format.
            const bool damaged = r < ARCHIVE_WARN && entries_.DamagedOwnArchive();
            result_.code = damaged ? kErrorCorrupt : r == ARCHIVE_EOF && entries_.IsOwnArchive() ? kOk : kErrorCannotOpen;
            if (result_.code != kOk) Note(archive_error_string(reader_));
            return result_;
        }
        pool_ = ZipPool::For(entries_, request_.family, set_);
        for (;;) {
            Count(Process(entry));
            if (pool_) Collect(false);
            if (fatal_ || corrupt_ || cancelled_) break;  // after damaged data nothing later can be trusted
            if (ui_.Cancelled()) {
                cancelled_ = true;
                break;
            }
            if (pool_ && pool_->Halted()) break;  // its damaged entry is counted below
            r = entries_.NextHeader(&entry);
            if (r == ARCHIVE_EOF) break;
            if (r < ARCHIVE_WARN) {
                corrupt_ = true;
                Note(archive_error_string(reader_));
                break;
            }
        }
        if (pool_) Collect(true);
        // Folders last and deepest first, so that writing their contents does not move the times on.
        for (auto it = folderTimes_.rbegin(); it != folderTimes_.rend(); ++it)
            platform::SetModified(it->first, it->second);
        result_.code = cancelled_ ? kErrorCancelled
                     : corrupt_ ? kErrorCorrupt
                     : unsupported_ || result_.declined > 0 ? kErrorUnsupported
                     : cannotWrite_ ? kErrorCannotWrite
                     : result_.refused > 0 ? kErrorRefused
                                           : kOk;
        return result_;
    }

private:
    void Note(const char* message) {
        if (result_.detail.empty() && message != nullptr) result_.detail = message;
    }

    static void First(std::wstring& field, const std::wstring& value) {
        if (field.empty()) field = value;
    }

    void Count(Outcome outcome) {
        switch (outcome) {
        case Outcome::Done: ++result_.written; break;
        case Outcome::Folder: break;
        case Outcome::Kept: ++result_.kept; break;
        case Outcome::Skipped: ++result_.skipped; break;
        case Outcome::Refused:
            ++result_.refused;
            First(result_.refusedExample, current_);
            break;
        case Outcome::CannotWrite: cannotWrite_ = true; break;
        case Outcome::Unsupported:
        case Outcome::UnsupportedEncryption:
            if (!unsupported_) {
                result_.unsupportedEntry = current_;
                result_.unsupportedEncryption = outcome == Outcome::UnsupportedEncryption;
            }
            unsupported_ = true;
            break;
        case Outcome::Corrupt:
        case Outcome::CorruptEncrypted:
            corrupt_ = true;
            if (order_ > corruptOrder_) break;  // the pool may tell of a later entry first
            corruptOrder_ = order_;
            result_.corruptEntry = current_;
            result_.corruptEncrypted = outcome == Outcome::CorruptEncrypted;
            break;
        case Outcome::Declined:
            ++result_.declined;
            First(result_.declinedExample, current_);
            break;
        case Outcome::Cancelled: cancelled_ = true; break;
        case Outcome::HandedOver: break;
        }
    }

    // Counts the pool's ended jobs, in archive order; with `all`, waits for every one. Waiting,
    // it keeps the progress going and takes a cancel, which stops the workers.
    void Collect(bool all) {
        for (;;) {
            for (JobEnd& end : pool_->Collect()) {
                const std::wstring entry = std::exchange(current_, std::move(end.name));
                const std::size_t order = std::exchange(order_, end.order);
                switch (end.kind) {
                case JobEnd::Done: Count(Outcome::Done); break;
                case JobEnd::Corrupt:
                    Note(end.detail);
                    Count(Outcome::Corrupt);
                    break;
                case JobEnd::CannotWrite: Count(Unwritable(end.target, end.detail, std::move(end.reason))); break;
                case JobEnd::Dropped: break;  // cancelled, or after damage: never written
                }
                current_ = entry;
                order_ = order;
            }
            if (all ? pool_->Idle() : !pool_->Full()) return;
            if (!cancelled_ && ui_.Cancelled()) cancelled_ = true;
            if (cancelled_) pool_->Stop();
            pool_->Wait(50);
            ui_.Progress(request_.archive, current_, Consumed(), total_);
        }
    }

    // Hands the entry's data to the pool, once there is room.
    Outcome HandOver(const ZipData& data, archive_entry* entry, const Path& folder, const Path& target) {
        auto file = std::make_unique<PooledFile>(target, EntryTime(entry), ReadOnlyEntry(entry));
        if (!CreateTemporary(file->temp, folder, target)) return Outcome::CannotWrite;
        Collect(false);
        if (cancelled_) return Outcome::Cancelled;
        pool_->Submit(data, std::move(file), current_, target, order_);
        return Outcome::HandedOver;
    }

    // Records the first thing that could not be written, with the system's reason.
    Outcome Unwritable(const Path& what, const char* detail, std::wstring reason = platform::LastErrorText()) {
        if (result_.unwritable.empty()) {
            result_.unwritable = platform::FromPath(what);
            result_.systemReason = std::move(reason);
        }
        Note(detail);
        return Outcome::CannotWrite;
    }

    // libarchive asks when none of the passwords given so far fits the entry, so any
    // password already given means the last one was wrong.
    static const char* AskPassphrase(archive*, void* self) {
        auto* x = static_cast<Extractor*>(self);
        if (x->declined_) return nullptr;
        const std::optional<std::wstring> answer = x->ui_.Passphrase(x->request_.archive, x->passphraseGiven_);
        if (!answer) {
            x->declined_ = true;
            return nullptr;
        }
        x->passphraseGiven_ = true;
        x->passphrase_ = platform::ToAnsi(*answer);  // libarchive keeps its own copy
        return x->passphrase_.c_str();
    }

    // Why reading an entry's data failed. libarchive decrypts only ZIP's traditional and
    // WinZip AES encryption, and asks for a password before it tries.
    Outcome ReadFailure(archive_entry* entry) const {
        if (archive_entry_is_data_encrypted(entry)) {
            if (declined_) return Outcome::Declined;
            return passphraseGiven_ ? Outcome::CorruptEncrypted : Outcome::UnsupportedEncryption;
        }
        if (entries_.OwnEntryEncrypted()) return Outcome::UnsupportedEncryption;  // no password is asked for
        if (IsUnsupportedMethod(archive_error_string(reader_))) return Outcome::Unsupported;
        return decrypted_ ? Outcome::CorruptEncrypted : Outcome::Corrupt;
    }

    // What the engine reads itself of a RAR 5 file's header (libarchive 3.6 neither flags
    // encryption nor checks stored data), read once per entry.
    void ReadRar5File(archive_entry* entry) {
        rar5File_.reset();
        if (!decrypted_ && archive_format(reader_) == ARCHIVE_FORMAT_RAR_V5 && archive_entry_filetype(entry) != AE_IFDIR)
            rar5File_ = Rar5File(headers_, archive_read_header_position(reader_));
    }

    // libarchive 3.6 neither flags nor decrypts RAR 5's encrypted files: their headers say so.
    bool EncryptedRar5(archive_entry* entry) const {
        return rar5File_ && archive_entry_filetype(entry) == AE_IFREG && rar5File_->encrypted;
    }

    // The checksums only we check: the MACs of a decrypted RAR 5, and the plain checksums of
    // a RAR 5's stored files, which libarchive 3.6 checks only for compressed data.
    std::optional<rar5::DataCheck> OwnDataCheck() const {
        if (decrypted_) return entries_.MacCheck();
        if (!rar5File_ || rar5File_->encrypted || (!rar5File_->storedCrc && !rar5File_->storedBlake2)) return std::nullopt;
        return rar5::DataCheck({std::nullopt, rar5File_->storedCrc, rar5File_->storedBlake2});
    }

    bool CanDecrypt() const { return (archive_format(reader_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP; }

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
                if (!platform::MakeDirectory(p)) return Unwritable(p, "a folder cannot be created");
            } else if (info.kind != Kind::Directory) {
                return Unwritable(p, "a file stands where a folder is needed", L"同じ名前のファイルがあります。");
            }
            knownFolders_.insert(key);
        }
        return Outcome::Done;
    }

    // A fresh file under a temporary name beside the target.
    bool CreateTemporary(Temporary& temp, const Path& folder, const Path& target) {
        std::wstring reason;
        if (temp.MakeFile(folder, reason)) return true;
        Unwritable(target, "a file cannot be created", reason);
        return false;
    }

    // An existing file is replaced only by a newer entry; folders are never replaced.
    Outcome CheckExisting(const Path& target, archive_entry* entry) {
        const platform::FileInfo existing = platform::Inspect(target);
        switch (existing.kind) {
        case Kind::Missing:
        case Kind::Link:  // the link itself is replaced, its target is never touched
            return Outcome::Done;
        case Kind::File:
            for (const Path& piece : pieces_)
                if (platform::SameFile(target, piece)) return Outcome::Refused;  // the archive being read
            if (archive_entry_mtime_is_set(entry) && archive_entry_mtime(entry) > existing.mtime)
                return Outcome::Done;
            return Outcome::Kept;
        case Kind::Directory:
        case Kind::Other:
            return Unwritable(target, "a folder or device stands where a file is needed",
                              L"同じ名前のフォルダなどがあります。");
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
        order_ = met_++;
        ReadRar5File(entry);
        const std::wstring stored = entries_.Path(entry);
        const std::optional<Components> parts = names_.Next(stored);
        current_ = WrittenNames::Shown(parts, stored);
        std::replace(current_.begin(), current_.end(), L'/', SeparatorOf(request_.family));
        ui_.Progress(request_.archive, current_, Consumed(), total_);
        if (!request_.patterns.empty()) {
            const bool wanted = std::any_of(request_.patterns.begin(), request_.patterns.end(),
                                            [&](const std::wstring& p) { return MatchesWildcard(p, current_); });
            if (!wanted) return Outcome::Skipped;
        }
        if (!parts) return Outcome::Refused;
        if (parts->empty()) return Outcome::Skipped;  // "./" names the destination itself
        if (archive_entry_is_encrypted(entry) || EncryptedRar5(entry)) {
            if (declined_) return Outcome::Declined;  // asked once: the user has no password
            if (!CanDecrypt()) {
                Note("this encryption is not supported");
                return Outcome::UnsupportedEncryption;
            }
        }

        const auto type = archive_entry_filetype(entry);
        if (type == AE_IFDIR) {
            if (withheld_) return Outcome::Skipped;  // no empty tree for files that stay encrypted
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
        const std::optional<std::wstring> hardlink = entries_.HardlinkTarget(entry);
        const bool hasData = archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0;
        if (hardlink && !hasData) return CopyHardlink(entry, *hardlink, folder, target);
        if (type != AE_IFREG && !hardlink) return Outcome::Skipped;  // devices, fifos, sockets
        return WriteFile(entry, folder, target);
    }

    // Drops the temporary file and reports why the entry failed.
    Outcome Discard(Temporary& temp, Outcome why, const char* message) {
        temp.Discard();
        Note(message);
        return why;
    }

    // Monotonic: what the pool has yet to decode is not counted as read.
    std::uint64_t Consumed() {
        std::uint64_t n = entries_.BytesRead();
        if (pool_) n -= std::min(n, pool_->Behind());
        return shown_ = std::max(shown_, n);
    }

    Outcome WriteFile(archive_entry* entry, const Path& folder, const Path& target) {
        // An entry stored again under the same path is weighed against the file the pool writes.
        if (pool_ && pool_->Writes(target)) Collect(true);
        const Outcome existing = CheckExisting(target, entry);
        if (existing != Outcome::Done) return existing;
        if (pool_)
            if (const std::optional<ZipData> data = pool_->Locate(entries_, entry)) return HandOver(*data, entry, folder, target);
        Temporary temp;
        if (!CreateTemporary(temp, folder, target)) return Outcome::CannotWrite;
        const bool large = !archive_entry_size_is_set(entry) || archive_entry_size(entry) >= kWriteBehindFrom;
        if ((large || ExtractionThreadsSet()) && ExtractionThreads() > 1) {
            if (!behind_) behind_ = std::make_unique<WriteBehind>();
            temp.WriteBehindBy(*behind_);
        }
        std::uint64_t end = 0;
        std::optional<rar5::DataCheck> check = OwnDataCheck();
        for (;;) {
            const void* block = nullptr;
            std::size_t size = 0;
            la_int64_t offset = 0;
            const int r = ReadDataBlock(reader_, &block, &size, &offset);
            if (r == ARCHIVE_EOF) break;
            // libarchive reports a failed CRC or a wrong length only as a warning, once the
            // data is through: for us any warning about the data means it is damaged.
            if (r != ARCHIVE_OK) {
                if (r == ARCHIVE_FATAL) fatal_ = true;
                const char* message = archive_error_string(reader_);
                return Discard(temp, ReadFailure(entry), message != nullptr ? message : "damaged data");
            }
            if (size > 0 && !temp.File().WriteAt(static_cast<std::uint64_t>(offset), block, size)) {
                Unwritable(target, "a file cannot be written (disk full?)");
                return Discard(temp, Outcome::CannotWrite, nullptr);
            }
            if (size > 0) end = std::max(end, static_cast<std::uint64_t>(offset) + size);
            if (check) check->Update(static_cast<const std::uint8_t*>(block), size);
            ui_.Progress(request_.archive, current_, Consumed(), total_);
            if (ui_.Cancelled()) return Discard(temp, Outcome::Cancelled, nullptr);
        }
        if (archive_entry_size_is_set(entry)) {
            const auto expected = static_cast<std::uint64_t>(archive_entry_size(entry));
            // Only a sparse entry may end in a hole; any other entry must deliver all its bytes.
            if (end < expected && archive_entry_sparse_count(entry) == 0)
                return Discard(temp, Outcome::Corrupt, "the entry's data ends early");
            end = std::max(end, expected);
        }
        if (check && !check->Matches()) return Discard(temp, Outcome::Corrupt, "checksum error");
        if (!temp.File().Finish(end, EntryTime(entry)) || !temp.Commit(target)) {
            Unwritable(target, "a file cannot be put in place");
            return Discard(temp, Outcome::CannotWrite, nullptr);
        }
        // The entry's own attributes, once the file is in place (a read-only temporary file could
        // not be removed after a failed replacement).
        if (ReadOnlyEntry(entry)) platform::MarkReadOnly(target);
        return Outcome::Done;
    }

    Outcome WriteLink(archive_entry* entry, const Components& parts, const Path& folder, const Path& target) {
        const std::optional<std::wstring> raw = entries_.SymlinkTarget(entry);
        if (!raw || !SafeLinkTarget(parts, *raw)) return Outcome::Refused;
        const Outcome existing = CheckExisting(target, entry);
        if (existing != Outcome::Done) return existing;
        Temporary temp;
        if (!temp.MakeLink(folder, WindowsLinkText(*raw))) return Outcome::Skipped;  // this system cannot make links
        if (temp.Commit(target)) return Outcome::Done;
        Unwritable(target, "a link cannot be put in place");
        return Outcome::CannotWrite;
    }

    // A hard link is written as a copy of the file it names, which must already lie
    // under the destination without any link on the way.
    Outcome CopyHardlink(archive_entry* entry, const std::wstring& linkTo, const Path& folder, const Path& target) {
        const std::optional<Components> source = names_.WrittenAs(linkTo);
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
        Temporary temp;
        if (!CreateTemporary(temp, folder, target)) return Outcome::CannotWrite;
        std::ifstream in(platform::SystemPath(from), std::ios::binary);
        std::vector<char> buffer(1 << 16);
        std::uint64_t offset = 0;
        bool ok = static_cast<bool>(in);
        while (ok && in) {
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            const auto n = static_cast<std::size_t>(in.gcount());
            if (n > 0) ok = temp.File().WriteAt(offset, buffer.data(), n);
            offset += n;
        }
        ok = ok && in.eof();
        if (!ok || !temp.File().Finish(offset, EntryTime(entry)) || !temp.Commit(target)) {
            Unwritable(target, "a file cannot be put in place");
            return Outcome::CannotWrite;
        }
        return Outcome::Done;
    }

    const ExtractRequest& request_;
    const VolumeSet& set_;
    EntryReader& entries_;
    archive* reader_;
    UserInterface& ui_;
    std::vector<Path> pieces_;  // the archive's files: never overwritten
    Path root_;
    mutable JoinedFile headers_;  // the archive again, for the headers that the engine reads itself
    std::optional<Rar5FileData> rar5File_;  // the current entry's, for a RAR 5 we do not decrypt
    std::uint64_t total_ = 0;
    WrittenNames names_;
    std::wstring current_;  // the entry at hand, as listed
    std::string passphrase_;
    bool passphraseGiven_ = false;
    bool declined_ = false;
    bool decrypted_ = false;  // read through our own decryption: damage may be a wrong password
    bool withheld_ = false;   // its password was declined: every file of it stays encrypted
    bool cancelled_ = false;
    ExtractResult result_;
    std::set<std::wstring> knownFolders_;
    std::vector<std::pair<Path, std::int64_t>> folderTimes_;
    bool fatal_ = false;
    bool corrupt_ = false;
    bool unsupported_ = false;
    bool cannotWrite_ = false;
    std::size_t met_ = 0;                    // entries met so far
    std::size_t order_ = 0;                  // the place in the archive of the entry being counted
    std::size_t corruptOrder_ = SIZE_MAX;    // that of the damaged entry reported
    std::uint64_t shown_ = 0;                // the furthest progress shown
    std::unique_ptr<WriteBehind> behind_;    // the thread that writes large entries
    std::unique_ptr<ZipPool> pool_;          // the ZIP entries' workers
};

// The split-file family: the pieces joined, in order, into one new file in the destination.
// It is written under a temporary name and put in place only whole, under the joined name or
// the first numbered one that is free: an existing file is never replaced.
ExtractResult JoinPieces(const ExtractRequest& request) {
    ExtractResult result;
    result.join = true;
    UserInterface& ui = request.ui ? *request.ui : gSilent;
    const VolumeSet set = SetFor(request.family, request.archive);
    if (set.kind != SetKind::Plain) {
        result.code = kErrorCannotOpen;
        result.detail = "not a piece of a split file";
        return result;
    }
    if (!FirstToHandle(request.family, set, request.archive)) return result;
    if (!set.missing.empty()) {
        result.code = kErrorCorrupt;
        result.missingPiece = set.missing;
        result.detail = "a piece is missing";
        return result;
    }
    auto unwritable = [&](const Path& what, const char* detail, std::wstring reason = platform::LastErrorText()) {
        result.code = kErrorCannotWrite;
        result.unwritable = platform::FromPath(what);
        result.systemReason = std::move(reason);
        result.detail = detail;
        return result;
    };
    const Path root = platform::ToPath(request.destination);
    const std::wstring name = DisplayName(set.name);
    if (Path failed; !MakeFolders(root, failed)) return unwritable(failed, "the destination folder cannot be created");
    JoinedFile in(set.pieces);
    Temporary temp;
    std::wstring reason;
    if (!temp.MakeFile(root, reason)) return unwritable(root / platform::ToPath(name), "a file cannot be created", reason);
    std::vector<std::uint8_t> block(kReadBlockSize);
    std::uint64_t at = 0;
    while (const std::size_t n = in.Read(block.data(), block.size())) {
        if (!temp.File().WriteAt(at, block.data(), n))
            return unwritable(root / platform::ToPath(name), "a file cannot be written (disk full?)");
        at += n;
        ui.Progress(request.archive, name, at, in.Size());
        if (ui.Cancelled()) {
            result.code = kErrorCancelled;
            return result;  // the temporary file goes with `temp`
        }
    }
    if (in.Failed() || at != in.Size()) {
        result.code = kErrorCannotOpen;
        result.detail = "a piece cannot be read";
        return result;
    }
    const std::int64_t mtime = platform::InspectTarget(platform::ToPath(set.pieces.front())).mtime;
    if (!temp.File().Finish(at, mtime)) return unwritable(root / platform::ToPath(name), "a file cannot be written");
    for (unsigned n = 1; n <= 9999; ++n) {
        const Path target = root / platform::ToPath(n == 1 ? name : Numbered(name, n));
        if (temp.CommitNew(target)) {
            result.written = 1;
            return result;
        }
        const std::wstring why = platform::LastErrorText();  // before the look below sets its own
        if (platform::Inspect(target).kind == Kind::Missing) return unwritable(target, "a file cannot be put in place", why);
    }
    return unwritable(root / platform::ToPath(name), "every numbered name is taken", L"同じ名前のファイルがあります。");
}

} // namespace

ExtractResult Extract(const ExtractRequest& request) {
    platform::PrepareLocale();
    ExtractResult result;
    if (platform::InspectTarget(platform::ToPath(request.archive)).kind != Kind::File) {
        result.code = kErrorCannotOpen;
        result.detail = "the archive cannot be found";
        return result;
    }
    if (CallsOf(request.family) == Calls::Join) return JoinPieces(request);
    const VolumeSet set = SetFor(request.family, request.archive);
    if (!FirstToHandle(request.family, set, request.archive)) return result;  // done for another of its pieces
    const auto archive = Resolve(request.family, request.archive, false);
    result = [&] {
        ExtractResult opened;
        EntryReader reader(*archive, archive->plan);
        if (!reader) {
            opened.code = kErrorCannotOpen;
            return opened;
        }
        Extractor extractor(request, *archive, reader);
        // A password is looked for only where the archive was found locked (one that opened it
        // while it was recognised is known by now).
        PasswordRequest passwords = extractor.Passwords();
        const bool locked = archive->lock == Lock::Deferred || archive->lock == Lock::Opened;
        const int open = reader.Open(locked ? &passwords : nullptr);
        extractor.Opened(passwords);
        if (open != ARCHIVE_OK && passwords.outcome == Decryption::Refused) {
            opened.code = kErrorUnsupported;
            opened.unsupportedEntry = DisplayName(request.archive);
            opened.unsupportedEncryption = true;
            return opened;
        }
        if (open != ARCHIVE_OK) {
            opened.code = kErrorCannotOpen;
            if (const char* m = archive_error_string(reader.get())) opened.detail = m;
            return opened;
        }
        return extractor.Run();
    }();
    // Whatever was read before the gap is out; what the gap cut short is not.
    const VolumeSet& read = VolumeFoundFollowing(archive->set) ? SetFor(request.family, request.archive) : archive->set;
    if (!read.missing.empty() && result.code != kErrorCancelled) {
        result.code = kErrorCorrupt;
        result.missingPiece = read.missing;
    }
    return result;
}

void ForgetHandledSets() {
    std::lock_guard lock(gRoundMutex);
    gRound.reset();
}

} // namespace dexalo::archivers
