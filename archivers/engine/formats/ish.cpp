// ISH, 7-bit form. The public notes give the line, alphabet, record and block scheme but not
// every byte; this is our reading of them, the layout our tests encode:
// - A line is 78 characters of the 91 from '!' to '~' without '#', '.' and '`', worth 0 to
//   90 in code order. The first 4 carry 6 bits each (values below 64), then 37 pairs carry
//   13 bits each as first * 91 + second (below 8192): 505 bits, most significant first. The
//   first 504 are a 63-byte record, the last is 0.
// - A record is 61 bytes and the inverted CRC-16 of them (see Crc16), high byte first.
//   Byte 0 is its kind; numbers are big-endian.
// - Header (kind 1), sent three times: at 1 the copy (0 to 2), 2 the form (0 jis7, 1 jis8,
//   2 Shift-JIS, 3 non-kana), 3 the volume, 4 the number of volumes, 5 the size (32 bits),
//   9 the name (8 bytes) and 17 its extension (3), blank-padded, 20 the MS-DOS date and time
//   (date in the high word), 24 the OS. Header records are 7-bit lines whatever the form.
// - The file and then its CRC-16 are cut into 58-byte pieces, the last padded with zeros.
//   Data record (kind 2): at 1 its number (16 bits, counting from 0 and wrapping), at 3 the piece.
// - After every 32 data records (and after the last) come the block's vertical sum (kind 3)
//   and diagonal sum (kind 4): at 1 the block number (8 bits, wrapping), at 2 59 bytes. Both
//   sum each data record's bytes 2 to 60 (the low byte of its number and the piece) by XOR;
//   the diagonal one first rotates the record at place k in the block by k bytes (byte m
//   counts at (m + k) mod 59). One lost record is either sum less the others; for two, 59
//   being prime, the diagonal walks every byte from the number byte, which is known.
#include "engine/formats/ish.h"

#include <algorithm>
#include <cstring>

namespace dexalo::archivers::ish {

namespace {

constexpr std::size_t kLine = 78;
constexpr std::size_t kRegion = 59;   // what the sums cover: prime, see above
constexpr std::size_t kPiece = 58;
constexpr std::uint64_t kBlock = 32;  // data records between sums
constexpr std::uint8_t kHeader = 1, kData = 2, kVertical = 3, kDiagonal = 4;

constexpr std::array<std::int8_t, 256> kValues = [] {
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    std::int8_t next = 0;
    for (int c = '!'; c <= '~'; ++c)
        if (c != '#' && c != '.' && c != '`') values[static_cast<std::size_t>(c)] = next++;
    return values;
}();

std::uint32_t Be(const std::uint8_t* p, int bytes) {
    std::uint32_t v = 0;
    while (bytes-- > 0) v = v << 8 | *p++;
    return v;
}

// The 61 bytes a line stands for, when it is one and its CRC holds.
bool Decode(const std::array<std::uint8_t, kLine>& line, Reader::Record& record) {
    std::uint8_t bytes[63];
    std::uint32_t bits = 0;
    int count = 0;
    std::size_t out = 0;
    const auto put = [&](std::uint32_t value, int width) {
        bits = bits << width | value;
        for (count += width; count >= 8 && out < sizeof bytes;) {
            count -= 8;
            bytes[out++] = static_cast<std::uint8_t>(bits >> count);
            bits &= (1u << count) - 1;
        }
    };
    for (std::size_t i = 0; i < 4; ++i) {
        const int v = kValues[line[i]];
        if (v < 0 || v >= 64) return false;
        put(static_cast<std::uint32_t>(v), 6);
    }
    for (std::size_t i = 4; i < kLine; i += 2) {
        const int high = kValues[line[i]], low = kValues[line[i + 1]];
        const int v = high * 91 + low;
        if (high < 0 || low < 0 || v >= 8192) return false;
        put(static_cast<std::uint32_t>(v), 13);
    }
    if (out != sizeof bytes || bits != 0) return false;
    if (static_cast<std::uint16_t>(~Crc16(0xFFFF, bytes, Reader::kPayload)) != Be(bytes + Reader::kPayload, 2))
        return false;
    std::copy_n(bytes, Reader::kPayload, record.begin());
    return true;
}

const char* Unsupported(const Reader::Record& header) {
    static const char* const kForms[] = {nullptr, "unsupported ISH form (jis8)", "unsupported ISH form (sjis)",
                                         "unsupported ISH form (non-kana)"};
    if (header[2] > 3) return "unsupported ISH form";
    if (header[2] != 0) return kForms[header[2]];
    return header[3] > 1 || header[4] > 1 ? "ISH file split over several texts" : nullptr;
}

} // namespace

std::uint16_t Crc16(std::uint16_t crc, const std::uint8_t* data, std::size_t size) {
    static constexpr auto kTable = [] {
        std::array<std::uint16_t, 256> table{};
        for (unsigned n = 0; n < 256; ++n) {
            unsigned c = n << 8;
            for (int b = 0; b < 8; ++b) c = c & 0x8000 ? c << 1 ^ 0x1021 : c << 1;
            table[n] = static_cast<std::uint16_t>(c);
        }
        return table;
    }();
    for (std::size_t i = 0; i < size; ++i)
        crc = static_cast<std::uint16_t>(crc << 8 ^ kTable[(crc >> 8 ^ data[i]) & 0xFF]);
    return crc;
}

Reader::Reader(own::Input& input)
    : input_(input), buffer_(64 * 1024), regions_(kBlock * kRegion), sums_(2 * kRegion) {}

// Lines end in LF, CR or both; blanks after the characters are dropped (mail adds them).
bool Reader::NextLine() {
    std::size_t length = 0;
    bool blank = false, bad = false;
    for (;;) {
        if (pos_ == end_) {
            end_ = eof_ ? 0 : input_.Read(buffer_.data(), buffer_.size());
            pos_ = 0;
            if (end_ == 0) {
                const bool last = !eof_ && length == kLine && !bad;
                eof_ = true;
                return last;
            }
        }
        const std::uint8_t c = buffer_[pos_++];
        // Mail text holds no NUL byte: a binary file (every RAR and later archive the front
        // end asks about after us) is refused at once instead of being read to its end.
        if (c == 0 && !opened_) {
            eof_ = true;
            return false;
        }
        if (c == '\n' || c == '\r') {
            if (length == kLine && !bad) return true;
            length = 0;
            blank = bad = false;
        } else if (c == ' ' || c == '\t') {
            blank = true;
        } else if (blank || length == kLine) {
            bad = true;
        } else {
            line_[length++] = c;
        }
    }
}

bool Reader::NextRecord(Record& record) {
    while (NextLine())
        if (Decode(line_, record)) return true;
    return false;
}

bool Reader::Take(Record& record) {
    if (!pending_) return NextRecord(record);
    record = *pending_;
    pending_.reset();
    return true;
}

bool Reader::IsCopy(const Record& record) const {
    return haveHeader_ && !sawData_ && record[0] == kHeader && record[1] > header_[1] &&
           std::equal(record.begin() + 2, record.end(), header_.begin() + 2);
}

Status Reader::Open() {
    Record record;
    while (NextRecord(record)) {
        if (record[0] == kHeader) {
            pending_ = record;
            opened_ = true;
            return Status::Ok;
        }
    }
    return Status::NotOurs;
}

Status Reader::Next(own::Entry& entry) {
    Record r;
    for (;;) {  // past the rest of the current file
        if (!Take(r)) return Status::End;
        if (r[0] == kHeader && !IsCopy(r)) break;
        if (r[0] >= kData && r[0] <= kDiagonal) sawData_ = true;
    }
    header_ = r;
    haveHeader_ = true;
    sawData_ = false;
    const auto field = [&](std::size_t at, std::size_t size) {
        std::string s(r.begin() + static_cast<std::ptrdiff_t>(at), r.begin() + static_cast<std::ptrdiff_t>(at + size));
        while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
        return s;
    };
    own::Entry e;
    e.name = field(9, 8);
    if (const std::string ext = field(17, 3); !ext.empty()) e.name += "." + ext;
    e.size = Be(&r[5], 4);
    e.mtime = own::DosTimeToUnix(Be(&r[20], 4));
    e.unsupported = Unsupported(r);
    records_ = (e.size + 2 + kPiece - 1) / kPiece;
    blocks_ = (records_ + kBlock - 1) / kBlock;
    block_ = produced_ = 0;
    crc_ = 0xFFFF;
    fileCrcBytes_ = 0;
    damaged_ = verified_ = false;
    current_ = e;
    entry = std::move(e);
    return Status::Ok;
}

bool Reader::LoadBlock() {
    const std::uint64_t first = block_ * kBlock;
    const std::size_t count = static_cast<std::size_t>(std::min(kBlock, records_ - first));
    bool have[kBlock] = {}, haveSum[2] = {};
    Record r;
    // The diagonal sum closes a block; a record of a later block or a header also does.
    while (!haveSum[1] && Take(r)) {
        if (r[0] == kHeader) {
            if (IsCopy(r)) continue;
            pending_ = r;
            break;
        }
        if (r[0] < kData || r[0] > kDiagonal) continue;
        sawData_ = true;
        // Where the record falls from the start of this block; numbers wrap, so half the
        // range counts as behind (repeated records), half as ahead.
        const bool data = r[0] == kData;
        const std::size_t at = data ? static_cast<std::size_t>((Be(&r[1], 2) - first) & 0xFFFF)
                                    : static_cast<std::size_t>((r[1] - block_) & 0xFF);
        if (at >= (data ? 0x8000u : 0x80u)) continue;
        if (data ? at >= count : at > 0) {
            pending_ = r;
            break;
        }
        const std::size_t slot = data ? at : static_cast<std::size_t>(r[0] - kVertical);
        bool& seen = data ? have[slot] : haveSum[slot];
        if (seen) continue;
        seen = true;
        std::memcpy((data ? regions_.data() : sums_.data()) + slot * kRegion, &r[2], kRegion);
    }

    std::size_t lost[2], lostCount = 0;
    for (std::size_t k = 0; k < count; ++k) {
        if (have[k]) continue;
        if (lostCount == 2) return false;
        lost[lostCount++] = k;
    }
    if (lostCount > 0) {
        // What the lost records add up to: each sum less the records that came.
        std::uint8_t* const v = sums_.data();
        std::uint8_t* const d = v + kRegion;
        for (std::size_t k = 0; k < count; ++k) {
            if (!have[k]) continue;
            const std::uint8_t* reg = &regions_[k * kRegion];
            for (std::size_t m = 0; m < kRegion; ++m) {
                v[m] ^= reg[m];
                d[(m + k) % kRegion] ^= reg[m];
            }
        }
        const std::size_t i = lost[0];
        std::uint8_t* const ri = &regions_[i * kRegion];
        if (lostCount == 1) {
            if (!haveSum[0] && !haveSum[1]) return false;
            for (std::size_t m = 0; m < kRegion; ++m) ri[m] = haveSum[0] ? v[m] : d[(m + i) % kRegion];
        } else {
            if (!haveSum[0] || !haveSum[1]) return false;
            // d[u + j] = ri[u + j - i] ^ rj[u] and rj[u] = v[u] ^ ri[u]: each byte of ri gives
            // the one (j - i) further on, round to the known byte 0 again, which checks it.
            const std::size_t j = lost[1], step = j - i;
            std::uint8_t* const rj = &regions_[j * kRegion];
            ri[0] = static_cast<std::uint8_t>(first + i);
            for (std::size_t n = 0, u = 0; n < kRegion; ++n) {
                const std::size_t to = (u + step) % kRegion;
                const auto b = static_cast<std::uint8_t>(d[(u + j) % kRegion] ^ v[u] ^ ri[u]);
                if (to == 0 && b != ri[0]) return false;
                ri[to] = b;
                u = to;
            }
            for (std::size_t m = 0; m < kRegion; ++m) rj[m] = v[m] ^ ri[m];
        }
        for (std::size_t n = 0; n < lostCount; ++n)
            if (regions_[lost[n] * kRegion] != static_cast<std::uint8_t>(first + lost[n])) return false;
    }

    // The pieces: the file's bytes to hand out, then its CRC.
    const std::uint64_t size = current_.size;
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint64_t at = (first + k) * kPiece;
        const std::uint8_t* piece = &regions_[k * kRegion + 1];
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(at < size ? size - at : 0, kPiece));
        out_.insert(out_.end(), piece, piece + take);
        for (std::size_t n = take; n < kPiece && at + n < size + 2; ++n)
            fileCrc_[static_cast<std::size_t>(at + n - size)] = piece[n], ++fileCrcBytes_;
    }
    ++block_;
    return true;
}

Status Reader::Read(const std::uint8_t*& data, std::size_t& size) {
    data = nullptr;
    size = 0;
    if (!haveHeader_ || damaged_) return Status::Damaged;
    if (current_.unsupported) return Status::Unsupported;
    if (verified_) return Status::Ok;
    out_.clear();
    // A block that completes the file is handed out only with the file's CRC checked, and
    // the CRC's last byte can be the next block's.
    while (block_ < blocks_) {
        if (!LoadBlock()) {
            damaged_ = true;
            return Status::Damaged;
        }
        if (produced_ + out_.size() < current_.size || fileCrcBytes_ == 2) break;
    }
    crc_ = Crc16(crc_, out_.data(), out_.size());
    produced_ += out_.size();
    if (produced_ == current_.size) {
        if (fileCrcBytes_ != 2 || static_cast<std::uint16_t>(~crc_) != Be(fileCrc_.data(), 2)) {
            damaged_ = true;
            return Status::Damaged;
        }
        verified_ = true;
    } else if (out_.empty() || produced_ > current_.size) {
        damaged_ = true;
        return Status::Damaged;
    }
    data = out_.data();
    size = out_.size();
    return Status::Ok;
}

} // namespace dexalo::archivers::ish
