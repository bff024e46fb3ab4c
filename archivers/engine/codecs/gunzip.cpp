#include "engine/codecs/gunzip.h"

#include <algorithm>
#include <cstring>

namespace dexalo::archivers {

namespace {
constexpr std::size_t kBufferSize = 256 * 1024;
}

GzipMember::~GzipMember() {
    if (ready_) inflateEnd(&z_);
}

bool GzipMember::Start() {
    if (ready_) return inflateReset(&z_) == Z_OK;
    z_ = {};
    ready_ = inflateInit2(&z_, 16 + MAX_WBITS) == Z_OK;  // a gzip wrapper, its CRC and length checked
    return ready_;
}

int GzipMember::Run(const std::uint8_t* in, std::size_t inSize, std::size_t& used, std::uint8_t* out, std::size_t outSize,
                    std::size_t& made) {
    z_.next_in = const_cast<Bytef*>(in);
    z_.avail_in = static_cast<uInt>(inSize);
    z_.next_out = out;
    z_.avail_out = static_cast<uInt>(outSize);
    const int r = inflate(&z_, Z_NO_FLUSH);
    used = inSize - z_.avail_in;
    made = outSize - z_.avail_out;
    return r == Z_STREAM_END ? 1 : r == Z_OK || r == Z_BUF_ERROR ? 0 : -1;
}

GunzipInput::GunzipInput(std::unique_ptr<own::Input> compressed) : in_(std::move(compressed)), buffer_(kBufferSize) {
    failed_ = !member_.Start() || !in_->Seek(0);
}

bool GunzipInput::Starts(own::Input& input) {
    std::uint8_t magic[3];
    return input.Seek(0) && input.Read(magic, 3) == 3 && magic[0] == 0x1F && magic[1] == 0x8B && magic[2] == 8;
}

// Reads on after the `left_` bytes not yet taken, which move to the buffer's start.
bool GunzipInput::Refill() {
    if (inputEnded_) return false;
    if (left_ > 0) std::memmove(buffer_.data(), next_, left_);
    const std::size_t n = in_->Read(buffer_.data() + left_, buffer_.size() - left_);
    if (n < buffer_.size() - left_) {
        inputEnded_ = true;
        if (in_->Failed()) failed_ = true;
    }
    next_ = buffer_.data();
    left_ += n;
    consumed_ += n;
    return n > 0;
}

std::size_t GunzipInput::Read(std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size && !ended_ && !failed_) {
        if (left_ == 0 && !Refill()) {
            failed_ = true;  // the stream ends inside a member: cut short
            break;
        }
        std::size_t used = 0, made = 0;
        const int r = member_.Run(next_, left_, used, data + done, std::min<std::size_t>(size - done, kBufferSize), made);
        next_ += used;
        left_ -= used;
        done += made;
        if (r < 0) {
            failed_ = true;  // damaged data, or a CRC or length that does not match
        } else if (r == 1) {
            // Another member may follow; anything else after the last one is left unread.
            if (left_ < 2) Refill();  // a header split between two reads
            if (left_ < 2 || next_[0] != 0x1F || next_[1] != 0x8B) {
                ended_ = true;
                break;
            }
            if (!member_.Start()) failed_ = true;
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
    if (!member_.Start() || !in_->Seek(0)) return !(failed_ = true);
    left_ = 0;
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
