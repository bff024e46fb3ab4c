#include "engine/codecs/gunzip.h"

#include <algorithm>
#include <climits>

namespace dexalo::archivers {

namespace {
constexpr std::size_t kBufferSize = 256 * 1024;
}

GunzipInput::GunzipInput(std::unique_ptr<own::Input> compressed) : in_(std::move(compressed)), buffer_(kBufferSize) {
    ready_ = inflateInit2(&z_, 16 + MAX_WBITS) == Z_OK;  // a gzip wrapper: its CRC and length checked
    failed_ = !ready_ || !in_->Seek(0);
}

GunzipInput::~GunzipInput() {
    if (ready_) inflateEnd(&z_);
}

bool GunzipInput::Starts(own::Input& input) {
    std::uint8_t magic[3];
    return input.Seek(0) && input.Read(magic, 3) == 3 && magic[0] == 0x1F && magic[1] == 0x8B && magic[2] == 8;
}

bool GunzipInput::Refill() {
    if (inputEnded_) return false;
    const std::size_t n = in_->Read(buffer_.data(), buffer_.size());
    if (n < buffer_.size()) {
        inputEnded_ = true;
        if (in_->Failed()) failed_ = true;
    }
    z_.next_in = buffer_.data();
    z_.avail_in = static_cast<uInt>(n);
    consumed_ += n;
    return n > 0;
}

std::size_t GunzipInput::Read(std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size && !ended_ && !failed_) {
        if (z_.avail_in == 0 && !Refill()) {
            failed_ = true;  // the stream ends inside a member: cut short
            break;
        }
        z_.next_out = data + done;
        z_.avail_out = static_cast<uInt>(std::min<std::size_t>(size - done, UINT_MAX));
        const int r = inflate(&z_, Z_NO_FLUSH);
        done += static_cast<std::size_t>(z_.next_out - (data + done));
        if (r == Z_STREAM_END) {
            // Another member may follow; anything else after the last one is left unread.
            if (z_.avail_in == 0) Refill();
            if (z_.avail_in < 2 && !inputEnded_) {  // a header split between two reads
                const std::size_t left = z_.avail_in;
                std::copy_n(z_.next_in, left, buffer_.data());
                const std::size_t n = in_->Read(buffer_.data() + left, buffer_.size() - left);
                inputEnded_ = n < buffer_.size() - left;
                consumed_ += n;
                z_.next_in = buffer_.data();
                z_.avail_in = static_cast<uInt>(left + n);
            }
            if (z_.avail_in < 2 || z_.next_in[0] != 0x1F || z_.next_in[1] != 0x8B) {
                ended_ = true;
                break;
            }
            if (inflateReset(&z_) != Z_OK) failed_ = true;
        } else if (r != Z_OK && r != Z_BUF_ERROR) {
            failed_ = true;  // damaged data, or a CRC or length that does not match
        }
    }
    at_ += done;
    return done;
}

bool GunzipInput::Skip(std::uint64_t size) {
    std::vector<std::uint8_t> scratch(static_cast<std::size_t>(std::min<std::uint64_t>(size, kBufferSize)));
    while (size > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size, scratch.size()));
        const std::size_t n = Read(scratch.data(), want);
        size -= n;
        if (n < want) return false;
    }
    return true;
}

bool GunzipInput::Restart() {
    if (!ready_ || inflateReset(&z_) != Z_OK || !in_->Seek(0)) return !(failed_ = true);
    z_.avail_in = 0;
    at_ = consumed_ = 0;
    inputEnded_ = ended_ = failed_ = false;
    return true;
}

bool GunzipInput::Seek(std::uint64_t position) {
    if (position < at_ && !Restart()) return false;
    return Skip(position - at_);
}

bool GunzipInput::Finish() {
    std::uint8_t scratch[4096];
    while (!ended_ && !failed_) Read(scratch, sizeof scratch);
    return !failed_;
}

} // namespace dexalo::archivers
