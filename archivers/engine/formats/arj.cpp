// ARJ, from the public descriptions of its format: little-endian headers (id 0xEA60, a
// basic header under its own CRC-32, then extended headers), the data stored (method 0),
// as LZ77 with static Huffman codes in blocks (methods 1 to 3, the scheme of LHA's -lh6-)
// or as LZ77 with fixed unary codes (method 4).
#include "engine/formats/arj.h"
#include "engine/codecs/bytes.h"
#include "engine/codecs/lz_blocks.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace dexalo::archivers::arj {

namespace {

constexpr std::size_t kMaxBasicHeader = 2600;
constexpr std::size_t kChunk = 256 * 1024;  // stored data handed out per Read

constexpr std::uint8_t kGarbled = 0x01, kVolume = 0x04, kExtFile = 0x08;
constexpr std::uint8_t kTypeDirectory = 3, kTypeChapterLabel = 5;
constexpr std::uint8_t kHostUnix = 2;


} // namespace


// The compressed methods: methods 1 to 3 are LHA's blocks over a 64 KiB window; no match may
// reach before the first byte, and every code must be complete.
class Decoder {
public:
    explicit Decoder(Input& input) : in_(input) {}

    void Start(std::uint32_t compressed, std::uint32_t original, int method) {
        in_.Start(compressed);
        out_.Start(original, false);
        blocks_.Start(17, 5, true);
        method_ = method;
    }

    // Compressed bytes not yet taken from the input (none once it ended early).
    std::uint32_t InputLeft() const { return in_.Cut() ? 0 : static_cast<std::uint32_t>(in_.Left()); }

    // The next block of output; false when the data is damaged.
    bool Next(const std::uint8_t*& data, std::size_t& size) {
        const std::size_t start = out_.Begin();
        const bool ok = method_ == 4 ? DecodeFast() : blocks_.Decode(in_, out_);
        data = out_.At(start);
        size = out_.Pos() - start;
        // Reading far past the compressed data means it is damaged or cut short.
        return ok && !in_.Past();
    }

private:
    // Method 4: a literal after a 0 bit; a match length as up to seven 1 bits and as many
    // bits more; a distance as up to four 1 bits and 9 more bits than that.
    bool DecodeFast() {
        while (!out_.Full()) {
            if (in_.Overrun()) return false;
            in_.Refill();
            const auto ones = std::countl_one(static_cast<std::uint8_t>(in_.Peek() >> 57 << 1));
            in_.Drop(ones < 7 ? ones + 1 : 7);
            if (ones == 0) {
                out_.Literal(in_.Take(8));
                continue;
            }
            const std::uint32_t length = (1u << ones) + 1 + in_.Take(ones);
            const auto extra = std::countl_one(static_cast<std::uint8_t>(in_.Peek() >> 60 << 4));
            in_.Drop(extra < 4 ? extra + 1 : 4);
            const std::uint32_t distance = (1u << (extra + 9)) - 512 + in_.Take(extra + 9);
            if (!out_.Copy(distance + 1, length)) return false;
        }
        return true;
    }

    lz::BitInput in_;
    lz::Window out_;
    lz::Blocks blocks_;
    int method_ = 0;
};

Reader::Reader(Input& input) : input_(input) {}
Reader::~Reader() = default;

bool Reader::ReadHeader(std::vector<std::uint8_t>& basic) {
    std::uint8_t head[4];
    damagedHeader_ = true;
    if (input_.Read(head, 4) != 4 || Le16(head) != 0xEA60) return false;
    const std::size_t size = Le16(head + 2);
    if (size == 0) {
        damagedHeader_ = false;
        basic.clear();
        return false;
    }
    if (size > kMaxBasicHeader) return false;
    basic.resize(size + 4);
    if (input_.Read(basic.data(), size + 4) != size + 4 || Crc32(0, basic.data(), size) != Le32(basic.data() + size))
        return false;
    basic.resize(size);
    // Extended headers: nothing we need is kept there.
    for (;;) {
        std::uint8_t extended[2];
        if (input_.Read(extended, 2) != 2) return false;
        if (Le16(extended) == 0) break;
        if (!input_.Skip(Le16(extended) + 4u)) return false;
    }
    damagedHeader_ = false;
    return true;
}

Status Reader::Open() {
    std::vector<std::uint8_t> basic;
    // The main header: at least up to its file type, which is 2.
    if (!ReadHeader(basic) || basic.size() < 30 || basic[0] < 30 || basic[0] > basic.size() || basic[6] != 2)
        return Status::NotOurs;
    chapters_ = basic[0] > 29 && basic[29] != 0;
    return Status::Ok;
}

Status Reader::Next(Entry& entry) {
    for (;;) {
        const std::uint32_t skip = decoding_ ? decoder_->InputLeft() : left_;
        decoding_ = false;
        left_ = 0;
        if (skip > 0 && !input_.Skip(skip)) return Status::Damaged;
        std::vector<std::uint8_t> basic;
        if (!ReadHeader(basic)) return damagedHeader_ ? Status::Damaged : Status::End;
        const std::size_t fixed = basic[0];
        if (fixed < 30 || fixed > basic.size()) return Status::Damaged;
        const auto nameEnd = std::find(basic.begin() + static_cast<std::ptrdiff_t>(fixed), basic.end(), 0);
        if (nameEnd == basic.end()) return Status::Damaged;
        Entry e;
        e.name.assign(basic.begin() + static_cast<std::ptrdiff_t>(fixed), nameEnd);
        const std::uint8_t flags = basic[4], type = basic[6];
        e.method = basic[5];
        e.directory = type == kTypeDirectory;
        e.time = Le32(&basic[8]);
        e.unixTime = basic[3] == kHostUnix;
        e.compressedSize = Le32(&basic[12]);
        e.originalSize = Le32(&basic[16]);
        e.crc = Le32(&basic[20]);
        e.attributes = Le16(&basic[26]);
        left_ = e.compressedSize;
        if (type == kTypeChapterLabel) chapters_ = true;
        if (type > kTypeDirectory) continue;  // volume and chapter labels, comments: not entries
        if (e.directory) e.originalSize = 0;
        e.garbled = (flags & kGarbled) != 0;
        e.unsupported = e.garbled ? "garbled (encrypted) ARJ entries are not supported"
                      : flags & (kVolume | kExtFile) ? "ARJ files split across volumes are not supported"
                      : chapters_ ? "ARJ chapter archives are not supported"
                      : e.method > 4 ? "this ARJ compression method is not supported"
                                     : nullptr;
        produced_ = 0;
        crc_ = 0;
        current_ = e;
        entry = std::move(e);
        return Status::Ok;
    }
}

Status Reader::Next(own::Entry& entry) {
    Entry arj;
    const Status status = Next(arj);
    if (status != Status::Ok) return status;
    entry = own::Entry{};
    entry.name = std::move(arj.name);
    entry.directory = arj.directory;
    entry.mtime = arj.unixTime ? arj.time : own::DosTimeToUnix(arj.time);
    // Unix hosts store the file's mode, the others DOS attributes.
    entry.readOnly = arj.unixTime ? (arj.attributes & 0200) == 0 : (arj.attributes & 0x01) != 0;
    entry.size = arj.originalSize;
    entry.unsupported = arj.unsupported;
    entry.encrypted = arj.garbled;
    return Status::Ok;
}

Status Reader::Read(const std::uint8_t*& data, std::size_t& size) {
    data = nullptr;
    size = 0;
    if (current_.unsupported) return Status::Unsupported;
    if (current_.directory || produced_ == current_.originalSize) return Status::Ok;
    if (current_.method == 0) {
        if (current_.compressedSize != current_.originalSize) return Status::Damaged;
        buffer_.resize(kChunk);
        const std::size_t want = std::min<std::size_t>(left_, kChunk);
        size = input_.Read(buffer_.data(), want);
        left_ -= static_cast<std::uint32_t>(size);
        if (size < want) return Status::Damaged;
        data = buffer_.data();
    } else {
        if (!decoding_) {
            if (!decoder_) decoder_ = std::make_unique<Decoder>(input_);
            decoder_->Start(left_, current_.originalSize, current_.method);
            decoding_ = true;
        }
        if (!decoder_->Next(data, size)) return Status::Damaged;
    }
    produced_ += static_cast<std::uint32_t>(size);
    crc_ = Crc32(crc_, data, size);
    if (produced_ == current_.originalSize && crc_ != current_.crc) return Status::Damaged;
    return Status::Ok;
}

} // namespace dexalo::archivers::arj
