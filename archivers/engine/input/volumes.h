#pragma once
// Archives in several pieces: which files make up a set, and the set read as one file.
// Opening any piece reads the whole set from its first piece.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "engine/input/own_reader.h"
#include "engine/platform/platform.h"

namespace dexalo::archivers {

enum class SetKind {
    Single,      // one file, as it is
    RarVolumes,  // name.part1.rar, name.part2.rar...; or name.rar, name.r00, name.r01...
    SplitZip,    // name.z01, name.z02... name.zip, as zip -s writes them
    Plain,       // name.ext.001, name.ext.002...: a file cut in pieces, joined by concatenation
};

struct VolumeSet {
    SetKind kind = SetKind::Single;
    // Paths in order, from the first piece up to the first missing one: what can be read.
    std::vector<std::wstring> pieces;
    std::wstring missing;  // the first missing piece's file name; empty when none is missing
    // The file the set stands for: the file itself, or for plain pieces the joined file
    // (name.ext beside name.ext.001).
    std::wstring name;

    // More than one file, or a piece missing: a set rather than a file.
    bool Split() const { return pieces.size() > 1 || !missing.empty(); }
};

// The set `path` is a piece of, found by the pieces' names and, for RAR and ZIP, by what
// their headers say of the volumes; a Single set of `path` itself when it is no piece.
// `volumes` is the kind of volumes the asking family reads besides plain pieces: the headers
// of other kinds are never read (the LZH library does not walk a RAR set). A set found
// before is taken again while its files' sizes and times stand and its missing piece is
// still missing, without reading any header.
VolumeSet FindSet(const std::wstring& path, SetKind volumes);

// Notes that another volume follows RAR volume `piece`, as it is now: its own headers say so
// only once decrypted (rar -hp), which the set finder cannot do. Sets found after this see it.
void NoteVolumeFollows(const std::wstring& piece);
// True when that was noted of `set`'s last piece after the set was found: find it again.
bool VolumeFoundFollowing(const VolumeSet& set);
VolumeSet SingleFile(const std::wstring& path);

// What a set's contents are known by: the first piece's path (or the opened one), every
// readable piece's size and time, and the missing piece. Equal stamps, same contents.
struct SetStamp {
    std::wstring first;
    std::vector<std::tuple<std::uint64_t, std::int64_t, std::int64_t>> pieces;
    std::wstring missing;
    bool operator==(const SetStamp&) const = default;
    auto operator<=>(const SetStamp&) const = default;
};
SetStamp StampOf(const VolumeSet& set, const std::wstring& opened);

// The files a library's call reads: while a CallFiles lives (one per call of a library), each
// file is opened once, however many readers look at it (the set finder, the name and method
// checks, libarchive), and all are closed when it ends, so nothing stays open between the
// program's calls. Without one, every reader opens its own.
class CallFiles {
public:
    CallFiles();
    ~CallFiles();
    CallFiles(const CallFiles&) = delete;
    CallFiles& operator=(const CallFiles&) = delete;
};

// A stream on one file, shared within a call; `user` is the reader it last stood for.
struct SharedStream {
    std::ifstream stream;
    const void* user = nullptr;
};

// The pieces read as one file, front to back or at any offset.
class JoinedFile final : public own::Input {
public:
    explicit JoinedFile(const std::vector<std::wstring>& pieces);
    JoinedFile(const JoinedFile&) = delete;
    JoinedFile& operator=(const JoinedFile&) = delete;

    bool IsOpen() const { return !failed_; }  // every piece was found and is a file
    bool Failed() const override { return failed_; }   // a piece could not be opened or ended early
    std::uint64_t Size() const override { return starts_.back(); }
    std::uint64_t Position() const { return at_; }

    std::size_t Read(std::uint8_t* data, std::size_t size) override;
    bool Skip(std::uint64_t size) override;
    bool Seek(std::uint64_t offset) override;

private:
    std::vector<platform::Path> paths_;
    std::vector<std::uint64_t> starts_;  // where each piece starts in the whole; then the total
    std::shared_ptr<SharedStream> file_;
    std::size_t current_ = 0;  // the piece open in file_; the count of pieces for none
    bool placed_ = false;  // file_ stands at at_
    std::uint64_t at_ = 0;
    bool failed_ = false;
};

// The pieces opened once each, read as one at any offset by several threads at once: each
// reader moves a cursor of its own, and no thread's read moves another's.
class SharedPieces {
public:
    explicit SharedPieces(const std::vector<std::wstring>& pieces);
    SharedPieces(const SharedPieces&) = delete;
    SharedPieces& operator=(const SharedPieces&) = delete;

    bool IsOpen() const { return open_; }  // every piece was opened
    std::uint64_t Size() const { return starts_.back(); }
    // Up to `size` bytes from `offset`; fewer only at the end or when a piece fails.
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size) const;

    class Cursor final : public own::Input {
    public:
        explicit Cursor(const SharedPieces& pieces) : pieces_(pieces) {}
        std::size_t Read(std::uint8_t* data, std::size_t size) override;
        bool Skip(std::uint64_t size) override { return Seek(at_ + size); }
        std::uint64_t Size() const override { return pieces_.Size(); }
        bool Seek(std::uint64_t position) override;

    private:
        const SharedPieces& pieces_;
        std::uint64_t at_ = 0;
    };

private:
    std::vector<std::unique_ptr<platform::InputFile>> files_;
    std::vector<std::uint64_t> starts_{0};  // where each piece starts in the whole; then the total
    bool open_ = true;
};

} // namespace dexalo::archivers
