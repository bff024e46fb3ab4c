#include "engine/input/volumes.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>

#include "engine/formats/rar_name.h"

namespace dexalo::archivers {

namespace {

constexpr std::size_t kLast = static_cast<std::size_t>(-1);  // a split ZIP's .zip, whatever its number

// How a set numbers its pieces.
enum class Naming {
    Part,    // name.part1.rar (the digits as wide as the set's count needs)
    OldRar,  // name.rar, then name.r00 to name.r99, name.s00...
    Zip,     // name.z01, name.z02... and name.zip last
    Plain,   // name.001, name.002...
};

// A file name taken apart as a piece's.
struct PieceName {
    Naming naming;
    std::wstring base;   // what the pieces share before their numbering
    std::size_t index;   // the piece's place in its set, from 0; kLast for a split ZIP's .zip
    std::size_t width;   // digits of a Part or Plain number
    bool upper;          // the numbering's letters in capitals (.PART1.RAR, .R00, .Z01)
};

// Only ASCII letters fold: that is all the numbering uses.
std::wstring Folded(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

// The number of 1 to 9 digits (no more: it stays far inside size_t).
std::optional<std::size_t> Number(std::wstring_view digits) {
    if (digits.empty() || digits.size() > 9) return std::nullopt;
    std::size_t n = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9') return std::nullopt;
        n = n * 10 + static_cast<std::size_t>(c - L'0');
    }
    return n;
}

std::wstring Padded(std::size_t n, std::size_t width) {
    std::wstring text = std::to_wstring(n);
    if (text.size() < width) text.insert(0, width - text.size(), L'0');
    return text;
}

std::optional<PieceName> Parse(const std::wstring& file) {
    const std::wstring folded = Folded(file);
    const std::size_t dot = folded.rfind(L'.');
    if (dot == std::wstring::npos || dot == 0 || dot + 1 == folded.size()) return std::nullopt;
    const std::wstring_view ext = std::wstring_view(folded).substr(dot + 1);
    const bool upper = file[dot + 1] >= L'A' && file[dot + 1] <= L'Z';
    std::optional<PieceName> name;
    if (ext == L"rar") {
        std::size_t digits = dot;
        while (digits > 0 && folded[digits - 1] >= L'0' && folded[digits - 1] <= L'9') --digits;
        const auto n = Number(std::wstring_view(folded).substr(digits, dot - digits));
        if (n && *n >= 1 && digits > 5 && folded.compare(digits - 5, 5, L".part") == 0)
            name = PieceName{Naming::Part, file.substr(0, digits - 5), *n - 1, dot - digits, upper};
        else
            name = PieceName{Naming::OldRar, file.substr(0, dot), 0, 2, upper};
    } else if (ext.size() == 3 && ext[0] >= L'r' && ext[0] <= L'y' && Number(ext.substr(1))) {
        name = PieceName{Naming::OldRar, file.substr(0, dot),
                         static_cast<std::size_t>(ext[0] - L'r') * 100 + *Number(ext.substr(1)) + 1, 2, upper};
    } else if (ext == L"zip") {
        name = PieceName{Naming::Zip, file.substr(0, dot), kLast, 2, upper};
    } else if (ext.size() >= 3 && ext[0] == L'z' && Number(ext.substr(1)).value_or(0) >= 1) {
        name = PieceName{Naming::Zip, file.substr(0, dot), *Number(ext.substr(1)) - 1, 2, upper};
    } else if (ext.size() >= 3 && Number(ext).value_or(0) >= 1) {
        name = PieceName{Naming::Plain, file.substr(0, dot), *Number(ext) - 1, ext.size(), false};
    }
    return name;
}

bool SameSet(const PieceName& a, const PieceName& b) {
    const bool numbered = a.naming == Naming::Part || a.naming == Naming::Plain;
    return a.naming == b.naming && Folded(a.base) == Folded(b.base) && (!numbered || a.width == b.width);
}

// The file name of piece `index` of a set of `count` pieces named like `name`.
std::wstring PieceFile(const PieceName& name, std::size_t index, std::size_t count) {
    auto cased = [&](std::wstring text) {
        if (name.upper)
            for (wchar_t& c : text)
                if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        return text;
    };
    switch (name.naming) {
    case Naming::Part: return name.base + cased(L".part") + Padded(index + 1, name.width) + cased(L".rar");
    case Naming::OldRar:
        if (index == 0) return name.base + cased(L".rar");
        return name.base + L'.' + cased(std::wstring(1, static_cast<wchar_t>(L'r' + (index - 1) / 100))) +
               Padded((index - 1) % 100, 2);
    case Naming::Zip:
        return name.base + (index + 1 == count ? cased(L".zip") : cased(L".z") + Padded(index + 1, 2));
    case Naming::Plain: return name.base + L'.' + Padded(index + 1, name.width);
    }
    return {};
}

std::uint32_t Le(const unsigned char* p, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

// The number of the disk a ZIP's end record is on (a split ZIP's last piece: the pieces
// before it); nullopt when the file has no end record.
std::optional<std::size_t> ZipLastDisk(const std::wstring& path) {
    JoinedFile in({path});
    constexpr std::uint64_t kTail = 22 + 0xFFFF + 20;  // the end record, its longest comment, a ZIP64 locator
    const std::uint64_t from = in.Size() > kTail ? in.Size() - kTail : 0;
    std::string tail(static_cast<std::size_t>(in.Size() - from), '\0');
    if (!in.Seek(from) || in.Read(reinterpret_cast<std::uint8_t*>(tail.data()), tail.size()) != tail.size())
        return std::nullopt;
    const auto* t = reinterpret_cast<const unsigned char*>(tail.data());
    for (std::size_t at = tail.size() < 22 ? 0 : tail.size() - 21; at-- > 0;) {
        if (std::memcmp(t + at, "PK\x05\x06", 4) != 0 || at + 22 + Le(t + at + 20, 2) != tail.size()) continue;
        const std::uint32_t disk = Le(t + at + 4, 2);
        // ZIP64 keeps the count of disks in its locator, just before the end record.
        if (disk == 0xFFFF && at >= 20 && std::memcmp(t + at - 20, "PK\x06\x07", 4) == 0 && Le(t + at - 4, 4) > 0)
            return Le(t + at - 4, 4) - 1;
        return disk;
    }
    return std::nullopt;
}

bool StartsWith(const std::wstring& path, const char* magic) {
    JoinedFile in({path});
    char head[4] = {};
    return in.Read(reinterpret_cast<std::uint8_t*>(head), 4) == 4 && std::memcmp(head, magic, 4) == 0;
}

// The files beside `file` that are pieces of its set, by index (a split ZIP's .zip: kLast).
std::map<std::size_t, std::wstring> PiecesBeside(const platform::Path& folder, const PieceName& name) {
    std::map<std::size_t, std::wstring> found;
    std::error_code error;
    const platform::Path listed = platform::SystemPath(folder.empty() ? platform::Path(".") : folder);
    for (std::filesystem::directory_iterator it(listed, error), end; !error && it != end; it.increment(error)) {
        std::error_code kindError;
        if (!it->is_regular_file(kindError)) continue;
        const std::wstring file = platform::FromPath(it->path().filename());
        if (const auto other = Parse(file); other && SameSet(name, *other)) found.emplace(other->index, file);
    }
    return found;
}

bool SameFileInfo(const platform::FileInfo& a, const platform::FileInfo& b) {
    return a.kind == b.kind && a.size == b.size && a.mtime == b.mtime && a.mtimeNanos == b.mtimeNanos;
}

// The volumes that decryption found to be followed by another, as they were then.
std::mutex gFollowedMutex;
std::list<std::pair<std::wstring, platform::FileInfo>> gFollowed;

bool NotedFollowed(const std::wstring& piece) {
    const platform::FileInfo now = platform::InspectTarget(platform::ToPath(piece));
    std::lock_guard lock(gFollowedMutex);
    return std::any_of(gFollowed.begin(), gFollowed.end(),
                       [&](const auto& noted) { return noted.first == piece && SameFileInfo(noted.second, now); });
}

bool VolumeFollows(const std::wstring& piece) {
    return RarVolume(piece).value_or(RarVolumeFlags{}).more || NotedFollowed(piece);
}

} // namespace

VolumeSet SingleFile(const std::wstring& path) {
    VolumeSet set;
    set.pieces = {path};
    set.name = path;
    return set;
}

namespace {

// `headers`: whether the answer came from the files' headers (RAR and ZIP volumes), not
// from their names alone.
VolumeSet ReadSet(const std::wstring& path, SetKind volumes, bool& headers) {
    const platform::Path opened = platform::ToPath(path);
    const auto name = Parse(platform::FromPath(opened.filename()));
    if (!name || name->base.empty()) return SingleFile(path);
    const bool rar = name->naming == Naming::Part || name->naming == Naming::OldRar;
    if ((rar && volumes != SetKind::RarVolumes) || (name->naming == Naming::Zip && volumes != SetKind::SplitZip))
        return SingleFile(path);
    headers = name->naming != Naming::Plain;
    if (name->naming == Naming::Part || name->naming == Naming::OldRar) {
        const auto flags = RarVolume(path);
        if (!flags || !flags->volume) return SingleFile(path);
    }
    if (name->naming == Naming::Zip && name->index == kLast && ZipLastDisk(path).value_or(0) == 0)
        return SingleFile(path);

    const platform::Path folder = opened.parent_path();
    auto at = [&](const std::wstring& file) { return platform::FromPath(folder / platform::ToPath(file)); };
    const auto found = PiecesBeside(folder, *name);
    if (found.count(name->index) == 0) return SingleFile(path);  // no file, or a folder that cannot be listed
    const auto zip = found.find(kLast);
    std::size_t count = 0;  // up to the last numbered piece found
    for (const auto& piece : found)
        if (piece.first != kLast) count = piece.first + 1;
    switch (name->naming) {
    case Naming::Part:
    case Naming::OldRar:
        // The last volume found may say that more follow.
        if (count > 0 && VolumeFollows(at(found.at(count - 1)))) ++count;
        break;
    case Naming::Zip:
        if (zip != found.end()) {
            const auto disk = ZipLastDisk(at(zip->second));
            if (!disk || *disk == 0) return SingleFile(path);  // that .zip is whole: no .zNN belongs to it
            count = *disk + 1;
        } else if (found.count(0) == 0 || (!StartsWith(at(found.at(0)), "PK\x07\x08") &&
                                           !StartsWith(at(found.at(0)), "PK\x03\x04"))) {
            return SingleFile(path);  // neither end nor start says ZIP
        } else {
            ++count;  // the .zip after the last .zNN
        }
        break;
    case Naming::Plain: break;
    }

    VolumeSet set;
    set.kind = name->naming == Naming::Zip ? SetKind::SplitZip : name->naming == Naming::Plain ? SetKind::Plain
                                                                                              : SetKind::RarVolumes;
    for (std::size_t i = 0; i < count; ++i) {
        const auto piece = found.find(name->naming == Naming::Zip && i + 1 == count ? kLast : i);
        if (piece == found.end()) {
            set.missing = PieceFile(*name, i, count);
            break;
        }
        set.pieces.push_back(at(piece->second));
    }
    set.name = set.kind == SetKind::Plain ? at(name->base) : set.pieces.empty() ? path : set.pieces.front();
    return set;
}

// What FindSet found last, with what made it true.
struct FoundSet {
    std::wstring path;
    SetKind volumes;
    platform::FileInfo opened;
    VolumeSet set;
    SetStamp stamp;
};
constexpr std::size_t kFoundSets = 8;
std::mutex gFoundMutex;
std::list<FoundSet> gFound;

} // namespace

VolumeSet FindSet(const std::wstring& path, SetKind volumes) {
    const platform::FileInfo opened = platform::InspectTarget(platform::ToPath(path));
    {
        std::lock_guard lock(gFoundMutex);
        for (auto it = gFound.begin(); it != gFound.end(); ++it) {
            if (it->path != path || it->volumes != volumes || !SameFileInfo(it->opened, opened)) continue;
            const platform::Path missing = platform::ToPath(path).parent_path() / platform::ToPath(it->set.missing);
            const bool stands = StampOf(it->set, path) == it->stamp &&
                                (it->set.missing.empty() || platform::Inspect(missing).kind == platform::Kind::Missing);
            if (!stands) {
                gFound.erase(it);
                break;
            }
            gFound.splice(gFound.begin(), gFound, it);
            return it->set;
        }
    }
    bool headers = false;
    VolumeSet set = ReadSet(path, volumes, headers);
    if (!headers) return set;  // names alone: as fast to find again, and new pieces are seen
    std::lock_guard lock(gFoundMutex);
    gFound.push_front({path, volumes, opened, set, StampOf(set, path)});
    if (gFound.size() > kFoundSets) gFound.pop_back();
    return set;
}

void NoteVolumeFollows(const std::wstring& piece) {
    if (NotedFollowed(piece)) return;
    {
        std::lock_guard lock(gFollowedMutex);
        gFollowed.emplace_front(piece, platform::InspectTarget(platform::ToPath(piece)));
        if (gFollowed.size() > kFoundSets) gFollowed.pop_back();
    }
    std::lock_guard lock(gFoundMutex);
    gFound.clear();  // found before this was known
}

bool VolumeFoundFollowing(const VolumeSet& set) {
    return set.kind == SetKind::RarVolumes && set.missing.empty() && !set.pieces.empty() && NotedFollowed(set.pieces.back());
}

namespace {

// The open files of the call under way on this thread, by path; depth 0: no call.
struct OpenFiles {
    int depth = 0;
    std::map<platform::Path, std::shared_ptr<SharedStream>> files;
};
thread_local OpenFiles tOpen;

std::shared_ptr<SharedStream> OpenShared(const platform::Path& path) {
    if (tOpen.depth > 0)
        if (const auto it = tOpen.files.find(path); it != tOpen.files.end()) return it->second;
    auto shared = std::make_shared<SharedStream>();
    shared->stream.open(platform::SystemPath(path), std::ios::binary);
    if (tOpen.depth > 0 && shared->stream) tOpen.files.emplace(path, shared);
    return shared;
}

} // namespace

CallFiles::CallFiles() { ++tOpen.depth; }
CallFiles::~CallFiles() {
    if (--tOpen.depth == 0) tOpen.files.clear();  // readers that outlive the call keep their own
}

SetStamp StampOf(const VolumeSet& set, const std::wstring& opened) {
    // Without its first piece a set is still known by that piece's name, whichever piece was opened.
    const std::wstring first = !set.pieces.empty() ? set.pieces.front()
                             : set.missing.empty() ? opened
                                                   : platform::FromPath(platform::ToPath(opened).parent_path() /
                                                                        platform::ToPath(set.missing));
    SetStamp stamp{first, {}, set.missing};
    for (const auto& piece : set.pieces) {
        const platform::FileInfo info = platform::InspectTarget(platform::ToPath(piece));
        stamp.pieces.emplace_back(info.size, info.mtime, info.mtimeNanos);
    }
    return stamp;
}

JoinedFile::JoinedFile(const std::vector<std::wstring>& pieces) : starts_{0} {
    for (const auto& piece : pieces) {
        paths_.push_back(platform::ToPath(piece));
        const platform::FileInfo info = platform::InspectTarget(paths_.back());
        failed_ = failed_ || info.kind != platform::Kind::File;
        starts_.push_back(starts_.back() + info.size);
    }
    failed_ = failed_ || pieces.empty();
    current_ = paths_.size();  // none open yet
}

std::size_t JoinedFile::Read(std::uint8_t* data, std::size_t size) {
    std::size_t got = 0;
    while (got < size && at_ < Size() && !failed_) {
        // The last piece starting at or before at_: empty pieces are passed over.
        const auto piece = static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), at_) - starts_.begin() - 1);
        if (piece != current_) {
            file_ = OpenShared(paths_[piece]);
            current_ = piece;
            placed_ = false;
        }
        std::ifstream& file = file_->stream;
        if (!placed_ || file_->user != this) {  // another reader of the call may have moved it
            file.clear();
            placed_ = static_cast<bool>(file.seekg(static_cast<std::streamoff>(at_ - starts_[piece])));
            file_->user = this;
        }
        const std::uint64_t want = std::min<std::uint64_t>(size - got, starts_[piece + 1] - at_);
        if (placed_) file.read(reinterpret_cast<char*>(data + got), static_cast<std::streamsize>(want));
        const auto n = placed_ ? static_cast<std::size_t>(file.gcount()) : 0;
        got += n;
        at_ += n;
        failed_ = n < want;  // a piece that cannot be opened, or is shorter than it was
    }
    return got;
}

bool JoinedFile::Seek(std::uint64_t offset) {
    if (offset > Size()) return false;
    at_ = offset;
    placed_ = false;
    return true;
}

bool JoinedFile::Skip(std::uint64_t size) { return size <= Size() - at_ && Seek(at_ + size); }

SharedPieces::SharedPieces(const std::vector<std::wstring>& pieces) {
    for (const auto& piece : pieces) {
        const platform::Path path = platform::ToPath(piece);
        const platform::FileInfo info = platform::InspectTarget(path);
        files_.push_back(info.kind == platform::Kind::File ? platform::OpenInput(path) : nullptr);
        open_ = open_ && files_.back() != nullptr;
        starts_.push_back(starts_.back() + info.size);
    }
    open_ = open_ && !pieces.empty();
}

std::size_t SharedPieces::ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size) const {
    std::size_t got = 0;
    while (got < size && offset < Size() && open_) {
        // The last piece starting at or before the offset: empty pieces are passed over.
        const auto piece = static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin() - 1);
        const std::uint64_t within = offset - starts_[piece];
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size - got, starts_[piece + 1] - offset));
        const std::size_t n = files_[piece]->ReadAt(within, data + got, want);
        got += n;
        offset += n;
        if (n < want) break;  // the piece ended early or failed
    }
    return got;
}

std::size_t SharedPieces::Cursor::Read(std::uint8_t* data, std::size_t size) {
    const std::size_t n = pieces_.ReadAt(at_, data, size);
    at_ += n;
    return n;
}

bool SharedPieces::Cursor::Seek(std::uint64_t position) {
    if (position > pieces_.Size()) return false;
    at_ = position;
    return true;
}

} // namespace dexalo::archivers
