#pragma once
// Readers of our own, for formats (and methods) libarchive does not read. Each one reads
// front to back from a byte source (ZIP's also looks at its end) and hands out entries and
// their data; the engine turns that into a pax stream for libarchive's tar reader, so that
// every family takes the same scan and extraction path (names, safety checks, temporary
// files, error codes).
// Portable and window-free, so that the fuzzers can feed a reader memory.
#include <cstddef>
#include <cstdint>
#include <string>

namespace dexalo::archivers::own {

// Where the archive's bytes come from, read front to back.
class Input {
public:
    virtual ~Input() = default;
    // Up to `size` bytes; fewer only at the end of the input (or on a read error).
    virtual std::size_t Read(std::uint8_t* data, std::size_t size) = 0;
    // Moves `size` bytes on; false when the input ends before that.
    virtual bool Skip(std::uint64_t size) = 0;
    // For ZIP, whose index lies at the end and whose sizes may follow the data: the input's
    // size, and a move to `position` bytes from its start, back or on (false past the end).
    virtual std::uint64_t Size() const = 0;
    virtual bool Seek(std::uint64_t position) = 0;
    // A short read was a failure, not the end (a stream of unknown size tells only so).
    virtual bool Failed() const { return false; }

    // The size of a stream that does not know it (a decompressed one).
    static constexpr std::uint64_t kUnknownSize = UINT64_MAX;
};

struct Entry {
    // The stored name, folders separated by '/' or '\\': bytes in the ANSI code page of the
    // system that wrote them, in its OEM code page when `oem` is set, or UTF-8 when `utf8` is.
    std::string name;
    bool utf8 = false;
    bool oem = false;
    bool directory = false;
    std::int64_t mtime = 0;      // seconds since 1970, UTC
    bool readOnly = false;       // the file carries no write permission for its owner
    std::uint64_t size = 0;      // original size: exactly what Read hands out
    // Why the data cannot be read (an unknown method, encryption...); nullptr when it can.
    const char* unsupported = nullptr;
    bool encrypted = false;      // `unsupported` because of encryption
};

// Bytes already in memory: what the fuzzers and the tests feed a reader.
class MemoryInput final : public Input {
public:
    MemoryInput(const void* data, std::size_t size) : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}
    std::size_t Read(std::uint8_t* data, std::size_t size) override;
    bool Skip(std::uint64_t size) override;
    std::uint64_t Size() const override { return size_; }
    bool Seek(std::uint64_t position) override;

private:
    const std::uint8_t* data_;
    std::size_t size_, at_ = 0;
};

enum class Status { Ok, End, NotOurs, Damaged, Unsupported };

class Reader {
public:
    virtual ~Reader() = default;
    // Reads what precedes the first entry: NotOurs unless the input is the format's.
    virtual Status Open() = 0;
    // The next entry; End after the last one. Whatever is left of the previous entry's data
    // is skipped (without decoding where the format allows).
    virtual Status Next(Entry& entry) = 0;
    // The current entry's data, a block at a time: Ok with size 0 at its end, Damaged when
    // it is cut short or fails its check (the block that would complete it is then
    // withheld), Unsupported when `unsupported` says so. `data` stays valid until the next
    // call.
    virtual Status Read(const std::uint8_t*& data, std::size_t& size) = 0;
};

// MS-DOS date (high word) and time (low word), local time, in seconds since 1970.
std::int64_t DosTimeToUnix(std::uint32_t dos);

} // namespace dexalo::archivers::own
