#pragma once
// A gzip stream read as what it holds. libarchive 3.6's gzip filter never checks a member's
// CRC-32 or length (its trailer is skipped unread), so damage that still decodes would pass
// for data; zlib checks both here, and the damage fails the read. Members follow one another
// until the bytes after one are no gzip header.
#include <zlib.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/input/own_reader.h"

namespace dexalo::archivers {

class GunzipInput final : public own::Input {
public:
    explicit GunzipInput(std::unique_ptr<own::Input> compressed);
    ~GunzipInput() override;
    GunzipInput(const GunzipInput&) = delete;
    GunzipInput& operator=(const GunzipInput&) = delete;

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
    z_stream z_{};
    bool ready_ = false;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t at_ = 0;        // uncompressed bytes handed out
    std::uint64_t consumed_ = 0;  // compressed bytes taken from the input
    bool inputEnded_ = false;
    bool ended_ = false;   // the last member ended
    bool failed_ = false;  // damaged, or the input could not be read
};

} // namespace dexalo::archivers
