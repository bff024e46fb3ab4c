#pragma once
// ZIP archives with Deflate64 entries, read by ourselves: libarchive decodes no Deflate64, which
// Windows' compressed folders and 7-Zip write for large content. Entries are read front to back
// from their local headers (stored, Deflate and Deflate64), as the streaming readers do; the
// central directory at the end only adds what local headers lack (the attributes, and the
// NTFS times 7-Zip keeps there) and marks where the entries stop. Portable and window-free,
// so that the fuzzers can feed it memory.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/input/own_reader.h"

namespace dexalo::archivers::inflate64 {
class Decoder;
}

namespace dexalo::archivers::zip {

class Bytes;
class EntrySource;

// An entry as the central directory records it.
struct Member {
    std::uint64_t header = 0;  // where its local header starts
    std::uint16_t flags = 0, method = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressed = 0, original = 0;
};
// Where a member's data starts.
struct Located {
    std::uint64_t start = 0;
    Member member;
};

class Reader final : public own::Reader {
public:
    explicit Reader(own::Input& input);
    ~Reader() override;
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // NotOurs unless the input starts with a local header.
    own::Status Open() override;
    own::Status Next(own::Entry& entry) override;
    own::Status Read(const std::uint8_t*& data, std::size_t& size) override;
    // The current entry's data, for a reader of its own, while none of it has been read;
    // nullopt for a folder or an entry this reader cannot read.
    std::optional<Located> Unread() const;

private:
    bool Measure(bool deflate64, std::uint64_t& compressed, std::uint64_t& original);
    std::size_t ReadDescriptor(std::uint64_t compressed, std::uint64_t original, bool zip64);

    own::Input& input_;
    std::unique_ptr<Bytes> bytes_;
    // What the central directory adds to each local header (found by its offset).
    struct Central {
        std::uint64_t offset;
        bool readOnly, timed;
        std::int64_t mtime;
    };
    std::vector<Central> central_;
    own::Entry entry_;
    std::string unsupported_;  // what entry_.unsupported points to
    bool current_ = false;     // an entry's data lies ahead
    bool failed_ = false;      // a header was damaged, or an entry's end cannot be found
    bool lost_ = false;        // where the current entry ends cannot be known
    bool ended_ = false;       // the central directory was reached
    bool broken_ = false;      // the current entry's data is damaged
    std::uint16_t method_ = 0;
    std::uint64_t left_ = 0;     // compressed bytes of the current entry not yet taken
    std::uint64_t stored_ = 0;   // its compressed size, as stored
    std::size_t trailer_ = 0;    // the descriptor after its data
    std::uint32_t crc_ = 0, expectedCrc_ = 0;
    std::uint64_t produced_ = 0;  // original bytes handed out
    std::unique_ptr<inflate64::Decoder> decoder_;
    std::unique_ptr<EntrySource> source_;
    bool decoding_ = false;  // the decoder holds the current entry's input
};

// The central directory's records, ordered by where their local headers start; none when the
// directory cannot be found.
std::vector<Member> ReadDirectory(own::Input& input);
// Where the member's data starts, after its local header; nullopt when that header is missing
// or disagrees with the directory (method, encryption, or the CRC and sizes it gives).
std::optional<std::uint64_t> DataStart(own::Input& input, const Member& member);

// Whether any entry of the central directory uses Deflate64, so that the archive should come
// to this reader rather than libarchive. Reads only the archive's first bytes, its end and its
// central directory, never entry data; false for anything that is no such ZIP.
bool UsesDeflate64(own::Input& input);

} // namespace dexalo::archivers::zip
