#pragma once
// What our LZH and ARJ decoders share: bits read most significant first, canonical Huffman
// codes, a flat output window, and the one scheme both formats use, LZ77 with static Huffman
// codes in blocks (LHA's -lh4- to -lh7-, ARJ's methods 1 to 3).
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/input/own_reader.h"

namespace dexalo::archivers::lz {

inline constexpr std::size_t kChunk = 256 * 1024;   // output handed out per call
inline constexpr std::size_t kHistory = 64 * 1024;  // as far back as any match of either format reaches

// A canonical Huffman code read most significant bit first, codes up to 16 bits: the first
// bits index a root table, longer codes go on in a table of their prefix's own.
class Code {
public:
    // False when the lengths ask for more codes than there are, or, with `complete`, for
    // fewer; an incomplete code that is kept decodes its missing codes as damage.
    bool Build(const std::uint8_t* lengths, int count, int rootBits, bool complete = false) {
        int perLength[17] = {};
        int longest = 0;
        for (int s = 0; s < count; ++s) {
            if (lengths[s] > 16) return false;
            ++perLength[lengths[s]];
            longest = std::max<int>(longest, lengths[s]);
        }
        perLength[0] = 0;
        std::uint32_t next[17] = {};
        for (std::uint32_t l = 1, code = 0; l <= 16; ++l) {
            code = (code + static_cast<std::uint32_t>(perLength[l - 1])) << 1;
            next[l] = code;
            if (code + static_cast<std::uint32_t>(perLength[l]) > (1u << l)) return false;
        }
        if (complete && next[16] + static_cast<std::uint32_t>(perLength[16]) != (1u << 16)) return false;
        root_ = std::min(rootBits, longest);
        extra_ = longest - root_;
        table_.assign(std::size_t{1} << root_, 0);
        for (int s = 0; s < count; ++s) {
            const int len = lengths[s];
            if (len == 0) continue;
            const std::uint32_t code = next[len]++;
            const std::uint32_t entry = kValid | static_cast<std::uint32_t>(len) << 16 | static_cast<std::uint32_t>(s);
            if (len <= root_) {
                std::fill_n(table_.begin() + (static_cast<std::ptrdiff_t>(code) << (root_ - len)), std::ptrdiff_t{1} << (root_ - len), entry);
                continue;
            }
            const std::size_t prefix = code >> (len - root_);
            if ((table_[prefix] & kLink) == 0) {
                table_[prefix] = kLink | static_cast<std::uint32_t>(table_.size());
                table_.resize(table_.size() + (std::size_t{1} << extra_), 0);
            }
            const std::size_t low = (code & ((1u << (len - root_)) - 1)) << (longest - len);
            const auto at = static_cast<std::ptrdiff_t>((table_[prefix] & kOffset) + low);
            std::fill_n(table_.begin() + at, std::ptrdiff_t{1} << (longest - len), entry);
        }
        return true;
    }

    // Every symbol is this one, in no bits at all.
    void Single(int symbol) {
        root_ = extra_ = 0;
        table_.assign(1, kValid | static_cast<std::uint32_t>(symbol));
    }

    // The entry for the code at the front of `peek` (16 bits): its symbol and length.
    std::uint32_t Lookup(std::uint32_t peek) const {
        std::uint32_t e = table_[peek >> (16 - root_)];
        if (e & kLink) e = table_[(e & kOffset) + (peek >> (16 - root_ - extra_) & ((1u << extra_) - 1))];
        return e;
    }

    static constexpr std::uint32_t kLink = 0x80000000u, kValid = 0x40000000u, kOffset = 0xFFFFFF;

private:
    int root_ = 0, extra_ = 0;
    std::vector<std::uint32_t> table_;
};

// An entry's compressed data as bits, most significant first; past its end (or the input's)
// the input reads as zeros.
class BitInput {
public:
    // The buffer is made once per archive, not per entry: archives of many small files.
    explicit BitInput(own::Input& input) : input_(input), buffer_(64 * 1024) {}

    void Start(std::uint64_t compressed) {
        left_ = compressed;
        compressedBits_ = std::min<std::uint64_t>(compressed, std::uint64_t{1} << 56) * 8;
        cut_ = false;
        pos_ = end_ = 0;
        fetched_ = bits_ = 0;
        count_ = 0;
    }

    // Compressed bytes not yet taken from the input; what a cut input lacked is still owed.
    std::uint64_t Left() const { return left_; }
    // The input ended before the compressed data did.
    bool Cut() const { return cut_; }

    std::uint64_t ConsumedBits() const { return fetched_ * 8 - static_cast<std::uint64_t>(count_); }
    // Past the compressed data: damaged or cut short.
    bool Past() const { return ConsumedBits() > compressedBits_; }
    // Past it by more than a refill reads ahead: the decoding loops stop.
    bool Overrun() const { return ConsumedBits() > compressedBits_ + 64; }

    void Refill() {  // at least 49 bits buffered
        if (count_ > 48) return;
        if (end_ - pos_ >= 8) {
            std::uint64_t v = 0;
            for (int i = 0; i < 8; ++i) v = v << 8 | buffer_[pos_ + static_cast<std::size_t>(i)];
            bits_ |= v >> count_;
            const int take = (63 - count_) >> 3;
            pos_ += static_cast<std::size_t>(take);
            fetched_ += static_cast<std::uint64_t>(take);
            count_ += take * 8;
            return;
        }
        while (count_ <= 56) {
            bits_ |= std::uint64_t{NextByte()} << (56 - count_);
            count_ += 8;
        }
    }

    std::uint64_t Peek() const { return bits_; }  // the buffered bits, from the top
    std::uint32_t Peek16() const { return static_cast<std::uint32_t>(bits_ >> 48); }

    void Drop(int n) {
        bits_ <<= n;
        count_ -= n;
    }

    std::uint32_t Take(int n) {  // n <= 16
        if (n == 0) return 0;
        if (count_ < n) Refill();
        const auto v = static_cast<std::uint32_t>(bits_ >> (64 - n));
        Drop(n);
        return v;
    }

    int Bit() {
        if (count_ == 0) Refill();
        const int bit = static_cast<int>(bits_ >> 63);
        Drop(1);
        return bit;
    }

    // The next symbol of `code`, -1 where it has none; needs 16 bits buffered.
    int Symbol(const Code& code) {
        const std::uint32_t e = code.Lookup(Peek16());
        Drop(static_cast<int>(e >> 16 & 0x1F));
        return e & Code::kValid ? static_cast<int>(e & 0xFFFF) : -1;
    }

private:
    std::uint8_t NextByte() {
        ++fetched_;
        if (pos_ < end_) return buffer_[pos_++];
        const std::size_t want = cut_ ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(left_, buffer_.size()));
        const std::size_t got = want == 0 ? 0 : input_.Read(buffer_.data(), want);
        left_ -= got;
        cut_ = cut_ || got < want;
        pos_ = 0;
        end_ = got;
        return got == 0 ? 0 : buffer_[pos_++];
    }

    own::Input& input_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t left_ = 0, compressedBits_ = 0;
    bool cut_ = false;
    std::size_t pos_ = 0, end_ = 0;
    std::uint64_t fetched_ = 0;
    std::uint64_t bits_ = 0;
    int count_ = 0;
};

// The output: a flat window that keeps only what a match can reach before each chunk, so
// that copies never wrap.
class Window {
public:
    Window() : bytes_(kHistory + kChunk + kSlack) {}

    // With `preset`, a match may reach before the first byte, into the kHistory bytes that
    // History() gives to be filled; without, such a match is damage.
    void Start(std::uint64_t original, bool preset) {
        left_ = original;
        produced_ = 0;
        preset_ = preset;
        pos_ = preset ? kHistory : 0;
    }
    std::uint8_t* History() { return bytes_.data(); }

    // Where the next chunk begins.
    std::size_t Begin() {
        if (pos_ > kHistory) {
            std::memmove(bytes_.data(), bytes_.data() + pos_ - kHistory, kHistory);
            pos_ = kHistory;
        }
        return pos_;
    }
    const std::uint8_t* At(std::size_t at) const { return bytes_.data() + at; }
    std::size_t Pos() const { return pos_; }
    std::uint64_t Produced() const { return produced_; }
    bool Full() const { return left_ == 0 || pos_ >= kHistory + kChunk; }

    void Literal(std::uint32_t byte) {
        bytes_[pos_++] = static_cast<std::uint8_t>(byte);
        ++produced_;
        --left_;
    }

    // `length` bytes from `back` (1 to kHistory) bytes before.
    bool Copy(std::uint32_t back, std::uint32_t length) {
        if (!preset_ && back > produced_) return false;
        length = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, left_));
        std::uint8_t* to = bytes_.data() + pos_;
        const std::uint8_t* from = to - back;
        if (back >= length) {
            std::memcpy(to, from, length);
        } else {
            for (std::uint32_t i = 0; i < length; ++i) to[i] = from[i];
        }
        pos_ += length;
        produced_ += length;
        left_ -= length;
        return true;
    }

private:
    static constexpr std::size_t kSlack = 512;  // room for the last match of a chunk
    std::vector<std::uint8_t> bytes_;
    std::size_t pos_ = 0;
    std::uint64_t left_ = 0, produced_ = 0;
    bool preset_ = false;
};

// LZ77 with static Huffman codes in blocks: each block gives its symbol count and three
// codes, one for the lengths of the next, one for bytes and match lengths (256 on: 3 to 256),
// one for the distances' bit counts.
class Blocks {
public:
    // `positionCodes` distance codes (17 for a 64 KiB window, at most 19), counted in `countBits` bits;
    // with `complete`, a code that leaves codes unused is damage.
    void Start(int positionCodes, int countBits, bool complete) {
        positionCodes_ = positionCodes;
        countBits_ = countBits;
        complete_ = complete;
        left_ = 0;
    }

    // Decodes until the window's chunk is full; false on damage.
    bool Decode(BitInput& in, Window& out) {
        while (!out.Full()) {
            if (in.Overrun()) return false;
            in.Refill();
            if (left_ == 0) {
                left_ = in.Take(16);
                if (left_ == 0 || !ReadSmallCode(in, lengthCode_, kLengthCodes, 5, 3) || !ReadLiteralCode(in) ||
                    !ReadSmallCode(in, positions_, positionCodes_, countBits_, -1))
                    return false;
                in.Refill();
            }
            --left_;
            const int c = in.Symbol(literals_);
            if (c < 256) {
                if (c < 0) return false;
                out.Literal(static_cast<std::uint32_t>(c));
                continue;
            }
            const int p = in.Symbol(positions_);
            if (p < 0) return false;
            const std::uint32_t distance = p < 2 ? static_cast<std::uint32_t>(p) : (1u << (p - 1)) + in.Take(p - 1);
            if (!out.Copy(distance + 1, static_cast<std::uint32_t>(c - 253))) return false;
        }
        return true;
    }

private:
    static constexpr int kLiterals = 510;  // 256 bytes, then the match lengths 3 to 256
    static constexpr int kLengthCodes = 19;

    // Lengths of the length code or of the distance code: 3 bits, 7 meaning more 1 bits follow.
    bool ReadSmallCode(BitInput& in, Code& code, int count, int countBits, int skipAfter) {
        const int n = static_cast<int>(in.Take(countBits));
        if (n == 0) {
            const int symbol = static_cast<int>(in.Take(countBits));
            if (symbol >= count) return false;
            code.Single(symbol);
            return true;
        }
        if (n > count) return false;
        std::uint8_t lengths[kLengthCodes] = {};
        for (int i = 0; i < n;) {
            in.Refill();
            int len = static_cast<int>(in.Peek() >> 61);
            if (len < 7) {
                in.Drop(3);
            } else {
                const int ones = std::countl_one(in.Peek() << 3);
                if (ones > 9) return false;  // past 16
                len += ones;
                in.Drop(3 + ones + 1);
            }
            lengths[i++] = static_cast<std::uint8_t>(len);
            if (i == skipAfter)
                for (int zeros = static_cast<int>(in.Take(2)); zeros > 0 && i < count; --zeros) lengths[i++] = 0;
        }
        return code.Build(lengths, count, 8, complete_);
    }

    bool ReadLiteralCode(BitInput& in) {
        const int n = static_cast<int>(in.Take(9));
        if (n == 0) {
            const int symbol = static_cast<int>(in.Take(9));
            if (symbol >= kLiterals) return false;
            literals_.Single(symbol);
            return true;
        }
        if (n > kLiterals) return false;
        std::uint8_t lengths[kLiterals] = {};
        for (int i = 0; i < n;) {
            in.Refill();
            const int c = in.Symbol(lengthCode_);
            if (c < 0) return false;
            if (c > 2) {
                lengths[i++] = static_cast<std::uint8_t>(c - 2);
                continue;
            }
            const int zeros = c == 0 ? 1 : c == 1 ? static_cast<int>(in.Take(4)) + 3 : static_cast<int>(in.Take(9)) + 20;
            if (zeros > n - i) return false;
            i += zeros;
        }
        return literals_.Build(lengths, kLiterals, 12, complete_);
    }

    int positionCodes_ = 17, countBits_ = 5;
    bool complete_ = false;
    std::uint32_t left_ = 0;
    Code lengthCode_, literals_, positions_;
};

} // namespace dexalo::archivers::lz
