// Deflate and Deflate64, from the public descriptions of the formats: blocks stored, or coded
// with fixed or transmitted canonical Huffman codes, each code read with one table lookup
// (a second for codes longer than the table's first level), into a flat window that slides
// by one copy per 256 KiB of output.
#include "engine/codecs/inflate64.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace dexalo::archivers::inflate64 {

namespace {

constexpr std::size_t kHistory = 64 * 1024;  // the farthest a Deflate64 match reaches
constexpr std::size_t kChunk = 256 * 1024;   // output handed out per Next
constexpr std::size_t kLongest = 65538;      // the longest Deflate64 match
constexpr std::size_t kSlack = kLongest + 8;  // a match begun before the chunk's end, and copies writing 8 bytes at a time

constexpr int kMaxBits = 15;
constexpr int kLiteralRoot = 10, kDistanceRoot = 8, kLengthRoot = 7;
// The first level, then room for a second-level table per code prefix, at most one per symbol.
constexpr std::size_t kLiteralTable = (1u << kLiteralRoot) + 288 * (1u << (kMaxBits - kLiteralRoot));
constexpr std::size_t kDistanceTable = (1u << kDistanceRoot) + 32 * (1u << (kMaxBits - kDistanceRoot));

// A table entry: the code's length in bits 0-4, extra bits to read in 5-9, what it means in
// 10-12, a value (a byte, a base length or distance, a second-level table) in 16-31.
// A zero entry is invalid: no code leads there.
enum Kind : std::uint32_t { kInvalid = 0, kLiteral = 1, kCopy = 2, kEnd = 3, kLink = 4 };

constexpr std::uint32_t Make(Kind kind, std::uint32_t value, std::uint32_t extra = 0) {
    return value << 16 | static_cast<std::uint32_t>(kind) << 10 | extra << 5;
}
inline int Length(std::uint32_t e) { return static_cast<int>(e & 0x1F); }
inline int Extra(std::uint32_t e) { return static_cast<int>(e >> 5 & 0x1F); }
inline std::uint32_t KindOf(std::uint32_t e) { return e >> 10 & 7; }
inline std::uint32_t Value(std::uint32_t e) { return e >> 16; }

// What each symbol means, for Deflate and for Deflate64.
struct Alphabet {
    std::array<std::uint32_t, 288> literals{};
    std::array<std::uint32_t, 32> distances{};
};

constexpr Alphabet MakeAlphabet(bool deflate64) {
    constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    Alphabet a;
    for (std::uint32_t s = 0; s < 256; ++s) a.literals[s] = Make(kLiteral, s);
    a.literals[256] = Make(kEnd, 0);
    for (std::uint32_t i = 0; i < 29; ++i) a.literals[257 + i] = Make(kCopy, kLengthBase[i], i < 8 || i == 28 ? 0 : (i - 4) / 4);
    if (deflate64) a.literals[285] = Make(kCopy, 3, 16);
    // Distance codes 0 to 3 take no extra bits, then each pair one more; 30 and 31 only in Deflate64.
    std::uint32_t base = 1;
    for (std::uint32_t i = 0; i < (deflate64 ? 32u : 30u); ++i) {
        const std::uint32_t extra = i < 4 ? 0 : i / 2 - 1;
        a.distances[i] = Make(kCopy, base, extra);
        base += 1u << extra;
    }
    return a;
}
constexpr Alphabet kDeflate = MakeAlphabet(false), kDeflate64 = MakeAlphabet(true);

constexpr auto kFixedLengths = [] {
    std::array<std::uint8_t, 288 + 32> lengths{};
    for (std::size_t i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    for (std::size_t i = 288; i < lengths.size(); ++i) lengths[i] = 5;
    return lengths;
}();

constexpr auto kLengthSymbols = [] {
    std::array<std::uint32_t, 19> symbols{};
    for (std::uint32_t s = 0; s < 19; ++s) symbols[s] = Make(kLiteral, s);
    return symbols;
}();

// Fills `table` for the canonical code with these lengths, each symbol's entry taken from
// `meaning`; false when the lengths claim more codes than there are. Entries that no code
// reaches stay invalid, so a code that leaves some unused fails only when the data uses them.
bool Build(std::uint32_t* table, int root, const std::uint8_t* lengths, int symbols, const std::uint32_t* meaning) {
    int count[kMaxBits + 1] = {};
    for (int s = 0; s < symbols; ++s) ++count[lengths[s]];
    count[0] = 0;
    int left = 1, longest = 0;
    std::uint32_t next[kMaxBits + 1] = {};
    for (int len = 1; len <= kMaxBits; ++len) {
        left = left * 2 - count[len];
        if (left < 0) return false;
        if (count[len] > 0) longest = len;
        next[len] = (next[len - 1] + static_cast<std::uint32_t>(count[len - 1])) << 1;
    }
    const std::uint32_t rootSize = 1u << root;
    std::fill_n(table, rootSize, 0u);
    const int sub = std::max(longest - root, 0);
    std::uint32_t used = rootSize;
    for (int s = 0; s < symbols; ++s) {
        const int len = lengths[s];
        if (len == 0) continue;
        // Codes go most significant bit first into a stream read from the least: reversed.
        std::uint32_t code = next[len]++, reversed = 0;
        for (int i = 0; i < len; ++i, code >>= 1) reversed = reversed << 1 | (code & 1);
        const std::uint32_t entry = meaning[s] | static_cast<std::uint32_t>(len);
        if (len <= root) {
            for (std::uint32_t k = reversed; k < rootSize; k += 1u << len) table[k] = entry;
            continue;
        }
        std::uint32_t& link = table[reversed & (rootSize - 1)];
        if (KindOf(link) != kLink) {
            link = Make(kLink, used, static_cast<std::uint32_t>(sub));
            std::fill_n(table + used, std::size_t{1} << sub, 0u);
            used += 1u << sub;
        }
        for (std::uint32_t k = reversed >> root; k < (1u << sub); k += 1u << (len - root)) table[Value(link) + k] = entry;
    }
    return true;
}

inline std::uint32_t Lookup(const std::uint32_t* table, int root, std::uint64_t bits) {
    std::uint32_t e = table[bits & ((1u << root) - 1)];
    if (KindOf(e) == kLink) e = table[Value(e) + (bits >> root & ((1u << Extra(e)) - 1))];
    return e;
}

inline std::uint64_t Load64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&v, p, 8);
    } else {
        for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    }
    return v;
}

// `length` bytes from `distance` back; up to 7 bytes past them may be written too.
inline void Copy(std::uint8_t* to, std::size_t distance, std::size_t length) {
    const std::uint8_t* from = to - distance;
    if (distance >= 8) {
        // Each 8 bytes read lie wholly before the 8 written, so a repeating match comes out right.
        for (std::size_t i = 0; i < length; i += 8) std::memcpy(to + i, from + i, 8);
    } else if (distance == 1) {
        std::memset(to, *from, length);
    } else {
        for (std::size_t i = 0; i < length; ++i) to[i] = from[i];
    }
}

} // namespace

Decoder::Decoder() : window_(kHistory + kChunk + kSlack), literals_(kLiteralTable), distances_(kDistanceTable) {}

void Decoder::Start(Source& source, bool deflate64) {
    source_ = &source;
    deflate64_ = deflate64;
    sourceEnded_ = false;
    phantom_ = 0;
    b_ = Bits{};
    mode_ = Mode::Header;
    last_ = false;
    storedLeft_ = 0;
    pos_ = valid_ = kHistory;
}

bool Decoder::Fetch(Bits& b) {
    const std::uint8_t* data = nullptr;
    const std::size_t n = sourceEnded_ ? 0 : source_->Next(data);
    if (n == 0) {
        sourceEnded_ = true;
        b.in = b.end = nullptr;
        return false;
    }
    b.in = data;
    b.end = data + n;
    return true;
}

// At least 57 bits buffered; past the end of the source it reads zeros, which Overrun tells.
Decoder::Bits Decoder::RefillSlow(Bits b) {
    while (b.count <= 56) {
        if (b.in == b.end && !Fetch(b)) {
            ++phantom_;
            b.count += 8;
            continue;
        }
        b.bits |= std::uint64_t{*b.in++} << b.count;
        b.count += 8;
    }
    return b;
}

inline void Decoder::Refill(Bits& b) {
    if (b.end - b.in >= 8) {
        b.bits |= Load64(b.in) << b.count;
        b.in += (63 - b.count) >> 3;
        b.count |= 56;
    } else {
        b = RefillSlow(b);
    }
}

Decoder::Status Decoder::Next(const std::uint8_t*& data, std::size_t& size) {
    data = nullptr;
    size = 0;
    if (mode_ == Mode::Failed) return Status::Damaged;
    if (pos_ > kHistory) {  // keep only what a match can reach, so that copies never wrap
        const std::size_t shift = pos_ - kHistory;
        std::memmove(window_.data(), window_.data() + shift, kHistory);
        pos_ = kHistory;
        valid_ = valid_ > shift ? valid_ - shift : 0;
    }
    const std::size_t start = pos_, limit = kHistory + kChunk;
    while (pos_ < limit && mode_ != Mode::Done) {
        bool ok = false;
        switch (mode_) {
        case Mode::Header: ok = ReadHeader(); break;
        case Mode::Stored: ok = Stored(limit); break;
        case Mode::Codes: ok = Codes(limit); break;
        case Mode::Done:
        case Mode::Failed: break;
        }
        if (!ok || Overrun()) {
            mode_ = Mode::Failed;
            return Status::Damaged;
        }
    }
    if (pos_ == start) return Status::End;
    data = window_.data() + start;
    size = pos_ - start;
    return Status::Ok;
}

std::size_t Decoder::Unused() const {
    const auto buffered = static_cast<std::uint64_t>(b_.count / 8);  // the last byte's unused bits are padding
    return static_cast<std::size_t>(buffered - std::min(buffered, phantom_)) + static_cast<std::size_t>(b_.end - b_.in);
}

bool Decoder::ReadHeader() {
    if (last_) {
        mode_ = Mode::Done;
        return true;
    }
    Bits b = b_;
    Refill(b);
    last_ = (b.bits & 1) != 0;
    const auto type = static_cast<unsigned>(b.bits >> 1 & 3);
    b.bits >>= 3;
    b.count -= 3;
    bool ok = true;
    const Alphabet& alphabet = deflate64_ ? kDeflate64 : kDeflate;
    switch (type) {
    case 0: {  // stored: from the next byte on, its length and that length's complement
        const int padding = b.count % 8;
        b.bits >>= padding;
        b.count -= padding;
        const auto length = static_cast<std::uint32_t>(b.bits & 0xFFFF), complement = static_cast<std::uint32_t>(b.bits >> 16 & 0xFFFF);
        b.bits >>= 32;
        b.count -= 32;
        ok = (length ^ complement) == 0xFFFF;
        storedLeft_ = length;
        mode_ = Mode::Stored;
        break;
    }
    case 1:
        ok = Build(literals_.data(), kLiteralRoot, kFixedLengths.data(), 288, alphabet.literals.data()) &&
             Build(distances_.data(), kDistanceRoot, kFixedLengths.data() + 288, 32, alphabet.distances.data());
        mode_ = Mode::Codes;
        break;
    case 2:
        ok = ReadDynamicCodes(b);
        mode_ = Mode::Codes;
        break;
    default: ok = false; break;
    }
    b_ = b;
    return ok;
}

// The block's two codes, their lengths given in a third code with runs of repeats.
bool Decoder::ReadDynamicCodes(Bits& b) {
    Refill(b);
    const int literals = static_cast<int>(b.bits & 31) + 257, distances = static_cast<int>(b.bits >> 5 & 31) + 1;
    const int lengthCodes = static_cast<int>(b.bits >> 10 & 15) + 4;
    b.bits >>= 14;
    b.count -= 14;
    static constexpr std::uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    std::uint8_t small[19] = {};
    for (int i = 0; i < lengthCodes; ++i) {
        if (b.count < 3) Refill(b);
        small[kOrder[i]] = static_cast<std::uint8_t>(b.bits & 7);
        b.bits >>= 3;
        b.count -= 3;
    }
    std::uint32_t table[1u << kLengthRoot];
    if (!Build(table, kLengthRoot, small, 19, kLengthSymbols.data())) return false;
    std::uint8_t lengths[288 + 32] = {};
    const int total = literals + distances;
    for (int i = 0; i < total;) {
        if (b.count < 14) Refill(b);
        const std::uint32_t e = table[b.bits & ((1u << kLengthRoot) - 1)];
        if (KindOf(e) == kInvalid) return false;
        b.bits >>= Length(e);
        b.count -= Length(e);
        const std::uint32_t symbol = Value(e);
        if (symbol < 16) {
            lengths[i++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        // 16 repeats the last length 3 to 6 times, 17 and 18 give 3 to 10 and 11 to 138 zeros.
        const int bits = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
        const int repeat = (symbol == 16 ? 3 : symbol == 17 ? 3 : 11) + static_cast<int>(b.bits & ((1u << bits) - 1));
        b.bits >>= bits;
        b.count -= bits;
        if ((symbol == 16 && i == 0) || repeat > total - i) return false;
        std::fill_n(lengths + i, repeat, symbol == 16 ? lengths[i - 1] : 0);
        i += repeat;
    }
    const Alphabet& alphabet = deflate64_ ? kDeflate64 : kDeflate;
    return Build(literals_.data(), kLiteralRoot, lengths, literals, alphabet.literals.data()) &&
           Build(distances_.data(), kDistanceRoot, lengths + literals, distances, alphabet.distances.data());
}

bool Decoder::Codes(std::size_t limit) {
    // Locals, not members: the window's byte stores could alias members and force reloads.
    Bits b = b_;
    std::uint8_t* const w = window_.data();
    std::size_t pos = pos_;
    const std::size_t valid = valid_;
    const std::uint32_t* const literals = literals_.data();
    const std::uint32_t* const distances = distances_.data();
    bool ok = true;
    while (pos < limit) {
        Refill(b);
        const std::uint32_t e = Lookup(literals, kLiteralRoot, b.bits);
        b.bits >>= Length(e);
        b.count -= Length(e);
        const std::uint32_t kind = KindOf(e);
        if (kind == kLiteral) {
            w[pos++] = static_cast<std::uint8_t>(Value(e));
            continue;
        }
        if (kind != kCopy) {
            if (kind == kEnd) {
                mode_ = last_ ? Mode::Done : Mode::Header;
            } else {
                ok = false;
            }
            break;
        }
        const std::size_t length = Value(e) + static_cast<std::size_t>(b.bits & ((std::uint64_t{1} << Extra(e)) - 1));
        b.bits >>= Extra(e);
        b.count -= Extra(e);
        if (b.count < kMaxBits + 14) Refill(b);
        const std::uint32_t d = Lookup(distances, kDistanceRoot, b.bits);
        if (KindOf(d) != kCopy) {
            ok = false;
            break;
        }
        b.bits >>= Length(d);
        b.count -= Length(d);
        const std::size_t distance = Value(d) + static_cast<std::size_t>(b.bits & ((1u << Extra(d)) - 1));
        b.bits >>= Extra(d);
        b.count -= Extra(d);
        if (distance > pos - valid) {  // before the stream's first byte
            ok = false;
            break;
        }
        Copy(w + pos, distance, length);
        pos += length;
    }
    b_ = b;
    pos_ = pos;
    return ok;
}

bool Decoder::Stored(std::size_t limit) {
    Bits b = b_;
    bool ok = true;
    while (storedLeft_ > 0 && pos_ < limit) {
        if (b.count >= 8) {  // whole bytes still buffered
            window_[pos_++] = static_cast<std::uint8_t>(b.bits);
            b.bits >>= 8;
            b.count -= 8;
            --storedLeft_;
            continue;
        }
        b.bits = 0;  // the buffer is empty (stored data is whole bytes): the rest is copied straight
        if (b.in == b.end && !Fetch(b)) {
            ok = false;  // cut short
            break;
        }
        const std::size_t n = std::min({static_cast<std::size_t>(storedLeft_), static_cast<std::size_t>(b.end - b.in), limit - pos_});
        std::memcpy(window_.data() + pos_, b.in, n);
        b.in += n;
        pos_ += n;
        storedLeft_ -= static_cast<std::uint32_t>(n);
    }
    if (ok && storedLeft_ == 0) mode_ = last_ ? Mode::Done : Mode::Header;
    b_ = b;
    return ok;
}

} // namespace dexalo::archivers::inflate64
