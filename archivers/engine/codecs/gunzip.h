#pragma once
// gzip, through zlib, which checks each member's CRC-32 and length.
#include <zlib.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/input/own_reader.h"

namespace dexalo::archivers {

// One gzip member, decoded step by step.
class GzipMember {
public:
    GzipMember() = default;
    ~GzipMember();
    GzipMember(const GzipMember&) = delete;
    GzipMember& operator=(const GzipMember&) = delete;

    // Ready for a member from its first byte; false when zlib cannot start.
    bool Start();
    // Takes `used` of the `inSize` bytes at `in` and makes `made` bytes at `out`: -1 on damage
    // (its CRC or length included), 1 at the member's end, else 0.
    int Run(const std::uint8_t* in, std::size_t inSize, std::size_t& used, std::uint8_t* out, std::size_t outSize,
            std::size_t& made);

private:
    z_stream z_{};
    bool ready_ = false;
};

// A gzip stream read as what it holds. libarchive 3.6's gzip filter never checks a member's
// CRC-32 or length (its trailer is skipped unread), so damage that still decodes would pass
// for data; here the damage fails the read. Members follow one another until the bytes after
// one are no gzip header.
class GunzipInput final : public own::Input {
public:
    explicit GunzipInput(std::unique_ptr<own::Input> compressed);

    // Whether `input` starts as a gzip member (deflate); reads its first bytes.
    static bool Starts(own::Input& input);

    // Fewer bytes than asked at the end of the last member, or when the stream is damaged
    // (then Failed()).
    std::size_t Read(std::uint8_t* data, std::size_t size) override;
    bool Skip(std::uint64_t size) override;
    std::uint64_t Size() const override { return kUnknownSize; }
    // On from here, or back to the start and on again.
    bool Seek(std::uint64_t position) override;
    bool Failed() const override { return failed_; }

    // Reads on to the end of the last member, so that its trailer is checked too; false when
    // the stream is damaged.
    bool Finish();
    // Compressed bytes read so far, for progress.
    std::uint64_t Consumed() const { return consumed_; }

private:
    bool Refill();
    bool Restart();

    std::unique_ptr<own::Input> in_;
    GzipMember member_;
    std::vector<std::uint8_t> buffer_;
    const std::uint8_t* next_ = nullptr;  // the compressed bytes in the buffer not yet taken
    std::size_t left_ = 0;
    std::uint64_t at_ = 0;        // uncompressed bytes handed out
    std::uint64_t consumed_ = 0;  // compressed bytes taken from the input
    bool inputEnded_ = false;
    bool ended_ = false;   // the last member ended
    bool failed_ = false;  // damaged, or the input could not be read
};

} // namespace dexalo::archivers
