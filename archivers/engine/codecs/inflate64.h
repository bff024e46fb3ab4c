#pragma once
// Deflate64, decoded by ourselves: neither zlib nor libarchive reads it, yet Windows' compressed
// folders and 7-Zip write it into ZIPs. It is Deflate with a 64 KiB window, length code 285
// taking 16 extra bits (lengths up to 65538) and distance codes 30 and 31. The same decoder
// reads plain Deflate, so that a ZIP's entries of either method take one path.
// Portable and window-free, so that the fuzzers can feed it memory.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace dexalo::archivers::inflate64 {

// Where the compressed bytes come from, a chunk at a time.
class Source {
public:
    virtual ~Source() = default;
    // The next chunk; 0 when there is no more. The bytes stay valid until the next call.
    virtual std::size_t Next(const std::uint8_t*& data) = 0;
};

class Decoder {
public:
    enum class Status { Ok, End, Damaged };

    Decoder();

    // Starts a stream read from `source`: Deflate64, or plain Deflate (32 KiB window, length
    // code 285 meaning 258, distance codes 30 and 31 invalid).
    void Start(Source& source, bool deflate64);

    // The next block of output: Ok with at least one byte; End, with none, once the last block
    // has been handed out; Damaged when the stream is malformed or ends early (whatever
    // precedes the damage in that block is withheld). `data` stays valid until the next call.
    Status Next(const std::uint8_t*& data, std::size_t& size);

    // After End: how many of the bytes taken from the source follow the stream (at most the
    // last chunk and the 8 bytes before it).
    std::size_t Unused() const;

private:
    // The bit buffer, least significant bit first as Deflate packs them. Bits at `count` and
    // above may hold the next input bytes' bits: refills OR the same values over them.
    struct Bits {
        const std::uint8_t* in = nullptr;
        const std::uint8_t* end = nullptr;
        std::uint64_t bits = 0;
        int count = 0;
    };
    enum class Mode { Header, Stored, Codes, Done, Failed };

    void Refill(Bits& b);
    Bits RefillSlow(Bits b);
    bool Fetch(Bits& b);
    bool ReadHeader();
    bool ReadDynamicCodes(Bits& b);
    bool Codes(std::size_t limit);
    bool Stored(std::size_t limit);
    bool Overrun() const { return phantom_ * 8 > static_cast<std::uint64_t>(b_.count); }

    Source* source_ = nullptr;
    bool deflate64_ = true;
    bool sourceEnded_ = false;
    std::uint64_t phantom_ = 0;  // zero bytes read past the end of the source
    Bits b_;
    Mode mode_ = Mode::Done;
    bool last_ = false;  // the current block is the stream's last
    std::uint32_t storedLeft_ = 0;
    std::vector<std::uint8_t> window_;
    std::size_t pos_ = 0;    // where the next byte goes
    std::size_t valid_ = 0;  // where the stream's bytes begin: no match reaches before it
    std::vector<std::uint32_t> literals_, distances_;
};

} // namespace dexalo::archivers::inflate64
