// ARJ, from the public descriptions of its format: little-endian headers (id 0xEA60, a
// basic header under its own CRC-32, then extended headers), the data stored (method 0),
// as LZ77 with static Huffman codes in blocks (methods 1 to 3, the scheme of LHA's -lh6-)
// or as LZ77 with fixed unary codes (method 4).
#include "engine/arj.h"
#include "engine/bytes.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace dexalo::archivers::arj {

namespace {

constexpr std::size_t kMaxBasicHeader = 2600;
constexpr std::size_t kChunk = 256 * 1024;  // output handed out per Read
constexpr std::size_t kInputChunk = 64 * 1024;

constexpr std::uint8_t kGarbled = 0x01, kVolume = 0x04, kExtFile = 0x08;
constexpr std::uint8_t kTypeDirectory = 3, kTypeChapterLabel = 5;
constexpr std::uint8_t kHostUnix = 2;


} // namespace


// The compressed methods: the bit input, a flat output window, and the two codes.
class Decoder {
public:
    // The buffers are made once per archive, not per entry: archives of many small files.
    explicit Decoder(Input& input) : input_(input), window_(kHistory + kChunk + kSlack), inBuffer_(kInputChunk) {}

    void Start(std::uint32_t compressed, std::uint32_t original, int method) {
        inputLeft_ = compressed_ = compressed;
        outputLeft_ = original;
        method_ = method;
        produced_ = 0;
        pos_ = inPos_ = inEnd_ = 0;
        fetched_ = bits_ = 0;
        count_ = 0;
        blockLeft_ = 0;
    }

    // Compressed bytes not yet taken from the input.
    std::uint32_t InputLeft() const { return inputLeft_; }

    // The next block of output; false when the data is damaged.
    bool Next(const std::uint8_t*& data, std::size_t& size) {
        if (pos_ > kHistory) {  // keep only what a match can reach, so copies never wrap
            std::memmove(window_.data(), window_.data() + pos_ - kHistory, kHistory);
            pos_ = kHistory;
        }
        const std::size_t start = pos_;
        const bool ok = method_ == 4 ? DecodeFast() : DecodeHuffman();
        data = window_.data() + start;
        size = pos_ - start;
        // Reading far past the compressed data means it is damaged or cut short.
        return ok && ConsumedBits() <= std::uint64_t{compressed_} * 8;
    }

private:
    static constexpr std::size_t kHistory = 64 * 1024;  // beyond any distance either code can give
    static constexpr std::size_t kSlack = 512;          // room for the last match of a chunk

    // A canonical Huffman code read most significant bit first, up to 16 bits long: one
    // lookup in a primary table, a second for longer codes.
    class Code {
    public:
        bool Build(const std::uint8_t* lengths, int count, int primaryBits) {
            primary_ = primaryBits;
            int perLength[17] = {};
            for (int i = 0; i < count; ++i) {
                if (lengths[i] > 16) return false;
                ++perLength[lengths[i]];
            }
            perLength[0] = 0;
            std::int32_t left = 1;  // an incomplete or oversubscribed code is damage
            for (int l = 1; l <= 16; ++l) {
                left = (left << 1) - perLength[l];
                if (left < 0) return false;
            }
            if (left != 0) return false;
            std::uint32_t next[17] = {};
            for (int l = 1, code = 0; l <= 16; ++l) {
                code = (code + perLength[l - 1]) << 1;
                next[l] = static_cast<std::uint32_t>(code);
            }
            table_.assign(std::size_t{1} << primary_, 0);
            const int subBits = 16 - primary_;
            for (int symbol = 0; symbol < count; ++symbol) {
                const int len = lengths[symbol];
                if (len == 0) continue;
                const std::uint32_t code = next[len]++;
                const std::uint32_t entry = static_cast<std::uint32_t>(symbol) | static_cast<std::uint32_t>(len) << 16;
                if (len <= primary_) {
                    const std::size_t first = std::size_t{code} << (primary_ - len);
                    std::fill_n(table_.begin() + static_cast<std::ptrdiff_t>(first), std::size_t{1} << (primary_ - len), entry);
                    continue;
                }
                const std::size_t prefix = code >> (len - primary_);
                if ((table_[prefix] & kSub) == 0) {
                    table_[prefix] = kSub | static_cast<std::uint32_t>(table_.size());
                    table_.resize(table_.size() + (std::size_t{1} << subBits), 0);
                }
                const std::size_t first = (table_[prefix] & 0xFFFF) + ((code << (16 - len)) & ((1u << subBits) - 1));
                std::fill_n(table_.begin() + static_cast<std::ptrdiff_t>(first), std::size_t{1} << (16 - len), entry);
            }
            return true;
        }

        // Every symbol read is this one, in no bits at all.
        void Constant(int symbol) {
            primary_ = 0;
            table_.assign(1, static_cast<std::uint32_t>(symbol));
        }

        // Needs 16 bits in the buffer.
        int Decode(Decoder& d) const {
            const auto peek = static_cast<std::uint32_t>(d.bits_ >> 48);
            std::uint32_t e = table_[primary_ == 0 ? 0 : peek >> (16 - primary_)];
            if (e & kSub) e = table_[(e & 0xFFFF) + (peek & ((1u << (16 - primary_)) - 1))];
            d.Drop(static_cast<int>(e >> 16 & 0xFF));
            return static_cast<int>(e & 0xFFFF);
        }

    private:
        static constexpr std::uint32_t kSub = 0x80000000u;
        int primary_ = 0;
        std::vector<std::uint32_t> table_;
    };

    // ---- bits, most significant first; past the end of the data the input reads as zeros
    void Refill() {
        if (count_ > 48) return;
        if (inEnd_ - inPos_ >= 8) {
            std::uint64_t v = 0;
            for (int i = 0; i < 8; ++i) v = v << 8 | inBuffer_[inPos_ + static_cast<std::size_t>(i)];
            bits_ |= v >> count_;
            const int take = (63 - count_) >> 3;
            inPos_ += static_cast<std::size_t>(take);
            fetched_ += static_cast<std::uint64_t>(take);
            count_ += take * 8;
            return;
        }
        while (count_ <= 56) {
            bits_ |= std::uint64_t{NextByte()} << (56 - count_);
            count_ += 8;
        }
    }

    std::uint8_t NextByte() {
        ++fetched_;
        if (inPos_ == inEnd_) {
            const std::size_t want = std::min<std::size_t>(inputLeft_, inBuffer_.size());
            const std::size_t got = want == 0 ? 0 : input_.Read(inBuffer_.data(), want);
            inputLeft_ = got < want ? 0 : inputLeft_ - static_cast<std::uint32_t>(got);
            inPos_ = 0;
            inEnd_ = got;
            if (got == 0) return 0;
        }
        return inBuffer_[inPos_++];
    }

    void Drop(int n) {
        bits_ <<= n;
        count_ -= n;
    }

    std::uint32_t Bits(int n) {  // n <= 16
        if (n == 0) return 0;
        if (count_ < n) Refill();
        const auto v = static_cast<std::uint32_t>(bits_ >> (64 - n));
        Drop(n);
        return v;
    }

    std::uint64_t ConsumedBits() const { return fetched_ * 8 - static_cast<std::uint64_t>(count_); }

    // ---- output
    bool Copy(std::uint32_t distance, std::uint32_t length) {
        if (distance >= produced_) return false;
        length = std::min(length, outputLeft_);
        std::uint8_t* to = window_.data() + pos_;
        const std::uint8_t* from = to - distance - 1;
        if (distance + 1 >= length) {
            std::memcpy(to, from, length);
        } else {
            for (std::uint32_t i = 0; i < length; ++i) to[i] = from[i];
        }
        pos_ += length;
        produced_ += length;
        outputLeft_ -= length;
        return true;
    }

    void Literal(std::uint32_t byte) {
        window_[pos_++] = static_cast<std::uint8_t>(byte);
        ++produced_;
        --outputLeft_;
    }

    bool Full() const { return outputLeft_ == 0 || pos_ >= kHistory + kChunk; }

    // ---- method 4: a literal after a 0 bit; a match length as up to seven 1 bits and
    // as many bits more; a distance as up to four 1 bits and 9 more bits than that.
    bool DecodeFast() {
        while (!Full()) {
            if (ConsumedBits() > std::uint64_t{compressed_} * 8 + 64) return false;
            Refill();
            const auto ones = std::countl_one(static_cast<std::uint8_t>(bits_ >> 57 << 1));
            Drop(ones < 7 ? ones + 1 : 7);
            if (ones == 0) {
                Literal(Bits(8));
                continue;
            }
            const std::uint32_t length = (1u << ones) + 1 + Bits(ones);
            const auto extra = std::countl_one(static_cast<std::uint8_t>(bits_ >> 60 << 4));
            Drop(extra < 4 ? extra + 1 : 4);
            const std::uint32_t distance = (1u << (extra + 9)) - 512 + Bits(extra + 9);
            if (!Copy(distance, length)) return false;
        }
        return true;
    }

    // ---- methods 1 to 3
    static constexpr int kCodes = 510;    // 256 literals and the match lengths 3 to 256
    static constexpr int kLengthCodes = 19;
    static constexpr int kPositionCodes = 17;

    // The lengths of the code that codes the literal-and-length code, or of the position code.
    bool ReadSmallCode(Code& code, int count, int countBits, int special) {
        std::uint8_t lengths[kLengthCodes] = {};
        const int n = static_cast<int>(Bits(countBits));
        if (n == 0) {
            const int symbol = static_cast<int>(Bits(countBits));
            if (symbol >= count) return false;
            code.Constant(symbol);
            return true;
        }
        if (n > count) return false;
        for (int i = 0; i < n;) {
            Refill();
            const auto peek = static_cast<std::uint32_t>(bits_ >> 48);
            int len = static_cast<int>(peek >> 13);
            if (len == 7) {
                for (std::uint32_t mask = 1u << 12; mask != 0 && (peek & mask); mask >>= 1) ++len;
                if (len > 16) return false;
            }
            Drop(len < 7 ? 3 : len - 3);
            lengths[i++] = static_cast<std::uint8_t>(len);
            if (i == special) {
                for (int zeros = static_cast<int>(Bits(2)); zeros > 0 && i < count; --zeros) lengths[i++] = 0;
            }
        }
        return code.Build(lengths, count, 8);
    }

    bool ReadLiteralCode() {
        std::uint8_t lengths[kCodes] = {};
        const int n = static_cast<int>(Bits(9));
        if (n == 0) {
            const int symbol = static_cast<int>(Bits(9));
            if (symbol >= kCodes) return false;
            literals_.Constant(symbol);
            return true;
        }
        if (n > kCodes) return false;
        for (int i = 0; i < n;) {
            Refill();
            const int c = lengthCode_.Decode(*this);
            if (c > 2) {
                lengths[i++] = static_cast<std::uint8_t>(c - 2);
                continue;
            }
            int zeros = c == 0 ? 1 : c == 1 ? static_cast<int>(Bits(4)) + 3 : static_cast<int>(Bits(9)) + 20;
            if (zeros > n - i) return false;
            while (zeros-- > 0) lengths[i++] = 0;
        }
        return literals_.Build(lengths, kCodes, 12);
    }

    bool DecodeHuffman() {
        while (!Full()) {
            if (ConsumedBits() > std::uint64_t{compressed_} * 8 + 64) return false;
            Refill();
            if (blockLeft_ == 0) {
                blockLeft_ = Bits(16);
                if (blockLeft_ == 0 || !ReadSmallCode(lengthCode_, kLengthCodes, 5, 3) || !ReadLiteralCode() ||
                    !ReadSmallCode(positions_, kPositionCodes, 5, -1))
                    return false;
                Refill();
            }
            --blockLeft_;
            const int c = literals_.Decode(*this);
            if (c < 256) {
                Literal(static_cast<std::uint32_t>(c));
                continue;
            }
            const int p = positions_.Decode(*this);
            const std::uint32_t distance = p == 0 ? 0 : (1u << (p - 1)) + Bits(p - 1);
            if (!Copy(distance, static_cast<std::uint32_t>(c - 253))) return false;
        }
        return true;
    }

    Input& input_;
    std::uint32_t inputLeft_ = 0;
    std::uint32_t compressed_ = 0;
    std::uint32_t outputLeft_ = 0;
    std::uint32_t produced_ = 0;
    int method_ = 0;
    std::vector<std::uint8_t> window_;
    std::size_t pos_ = 0;
    std::vector<std::uint8_t> inBuffer_;
    std::size_t inPos_ = 0, inEnd_ = 0;
    std::uint64_t fetched_ = 0;
    std::uint64_t bits_ = 0;
    int count_ = 0;
    std::uint32_t blockLeft_ = 0;
    Code lengthCode_, literals_, positions_;
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
