// ISH, 7-bit jis7 form, as the public Unix port of ish (2.01) writes it:
// - A data line is 78 characters of the 91 from '!' to '~' without '#', '.' and '`', worth 0
//   to 90 in code order. It carries a 63-byte record as a bit string, least significant bit
//   of byte 0 first: the first 4 characters 6 bits each (values below 64), then 37 pairs 13
//   bits each as first * 91 + second (below 8192). The 505th bit is 0. Lines end in LF or
//   CR LF; anything that is not such a line (mail headers, prose) is passed over.
// - A record is 61 bytes and their inverted CRC-16 (see Crc16), high byte first. Byte 0 is
//   its number: 0 the header, 1 to 60 a data row, 61 the vertical sum, 63 the diagonal sum.
//   Numbers inside records are little-endian.
// - Header (record 0), sent three times: at 1 the volume (0 for a file in one text), 2 the
//   size (32 bits), 10 and 11 the form (16 and 13 for jis7), 12 the name (8 bytes) and 20 its
//   extension (3), blank-padded, 27 the MS-DOS time and date (date in the high word) in the
//   writer's zone, 31 that zone in seconds west of UTC (24 bits, signed).
// - The file and then its CRC-16 are cut into 60-byte pieces, the last padded with zeros;
//   a piece is bytes 1 to 60 of a data row. A block is 60 rows, numbered 1 to 60 (the last
//   block may be shorter), followed by its vertical and its diagonal sum.
// - Vertical sum: byte c is minus the sum of byte c of the block's rows, modulo 256. Rows a
//   short block lacks count as their number and zeros. Diagonal sum: with the vertical sum as
//   row 61, byte m of row r goes to slot (m - r + 1) mod 61, and bytes 1 to 60 are minus the
//   sums of slots 0 to 59 (slot 60 is not sent). A line that is lost or fails its CRC loses
//   its row; with both sums any two rows of a block come back (61 being prime, the two kinds
//   of sums chain through every byte of both), with the vertical one alone a single row.
// - Each file is opened by a title line "<<< NAME for OS ( use jis7 ish ) [ N lines ] >>>".
//   A title naming another form (jis8, Shift-JIS, non-kana), a header giving another form,
//   or one volume of a file split over several texts: we name that file, report it not
//   supported, and pass over its records.
#include "engine/formats/ish.h"

#include <algorithm>

namespace dexalo::archivers::ish {

namespace {

constexpr std::size_t kLine = 78;
constexpr std::size_t kLongest = 200;  // of the lines we look at; the rest is cut off
constexpr std::size_t kPiece = 60;
constexpr unsigned kRows = 60;          // data rows in a block
constexpr unsigned kHeader = 0, kVertical = 61, kDiagonal = 63;
constexpr const char* kOtherForm =
    "ISH texts other than jis7 (jis8, Shift-JIS, non-kana, a file split over several texts) are not supported yet";

constexpr std::array<std::int8_t, 256> kValues = [] {
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    std::int8_t next = 0;
    for (int c = '!'; c <= '~'; ++c)
        if (c != '#' && c != '.' && c != '`') values[static_cast<std::size_t>(c)] = next++;
    return values;
}();

std::uint32_t Le(const std::uint8_t* p, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes; i-- > 0;) v = v << 8 | p[i];
    return v;
}

// The 61 bytes a line stands for, when it is one and its CRC holds.
bool Decode(const std::string& line, Reader::Record& record) {
    if (line.size() != kLine) return false;
    std::uint8_t bytes[63] = {};
    std::size_t bit = 0;
    const auto put = [&](int value, int width) {
        for (int i = 0; i < width; ++i, ++bit)
            if (value >> i & 1) {
                if (bit / 8 == sizeof bytes) return false;  // the 505th bit is 0
                bytes[bit / 8] = static_cast<std::uint8_t>(bytes[bit / 8] | 1 << bit % 8);
            }
        return true;
    };
    for (std::size_t i = 0; i < kLine; i += i < 4 ? 1 : 2) {
        const int first = kValues[static_cast<std::uint8_t>(line[i])];
        const int second = i < 4 ? 0 : kValues[static_cast<std::uint8_t>(line[i + 1])];
        const int value = i < 4 ? first : first * 91 + second;
        if (first < 0 || second < 0 || value >= (i < 4 ? 64 : 8192) || !put(value, i < 4 ? 6 : 13)) return false;
    }
    if (static_cast<std::uint16_t>(~Crc16(0xFFFF, bytes, Reader::kRecord)) != (bytes[61] << 8 | bytes[62])) return false;
    std::copy_n(bytes, Reader::kRecord, record.begin());
    return true;
}

// "<<< NAME for OS ( use FORM ish ) [ N lines ] >>>": a title, or no title at all.
bool Title(const std::string& line, Reader::Item& item) {
    const std::size_t use = line.find(" ( use "), form = use + 7, end = line.find(" ish )", form);
    if (line.compare(0, 4, "<<< ") != 0 || use == std::string::npos || end == std::string::npos) return false;
    const std::size_t name = line.rfind(" for ", use);
    item.kind = line.compare(form, end - form, "jis7") == 0 ? Reader::Item::Title : Reader::Item::OtherForm;
    item.name = line.substr(4, (name == std::string::npos || name < 4 ? use : name) - 4);
    return true;
}

// The writer's MS-DOS local time, with the zone it gives, in seconds since 1970.
std::int64_t UtcSeconds(std::uint32_t dos, std::int32_t west) {
    const int year = static_cast<int>(dos >> 25) + 1980, month = static_cast<int>(dos >> 21 & 15);
    const int day = static_cast<int>(dos >> 16 & 31);
    if (month < 1 || month > 12 || day < 1) return 0;
    // Days since 1970 by the civil calendar, counted from March so that leap days fall last.
    const int y = year - (month <= 2), era = y / 400, yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t days = std::int64_t{era} * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    const std::int64_t t = days * 86400 + (dos >> 11 & 31) * 3600 + (dos >> 5 & 63) * 60 + (dos & 31) * 2 + west;
    return std::max<std::int64_t>(t, 0);
}

// Where byte m of row r counts in the diagonal sum, and back.
std::size_t Slot(unsigned r, std::size_t m) { return (m + Reader::kRecord + 1 - r) % Reader::kRecord; }
std::size_t ByteOf(unsigned r, std::size_t slot) { return (slot + r - 1) % Reader::kRecord; }

// Bytes 1 to 60 of the lost rows (at most two of 1 to 61; byte 0 is the row's number) from
// the sums: every column of rows 1 to 61 adds up to 0, and so does every diagonal slot with
// its byte of the diagonal sum. An equation left with one unknown byte gives it, which can
// leave another equation with one.
bool Rebuild(Reader::Block& rows, const std::vector<unsigned>& lost,
             const Reader::Record* diagonal) {
    constexpr std::size_t n = Reader::kRecord;
    std::array<std::uint8_t, n> column{}, slot{};
    for (unsigned r = 1; r <= kVertical; ++r) {
        if (std::find(lost.begin(), lost.end(), r) != lost.end()) continue;
        for (std::size_t m = 0; m < n; ++m) column[m] += rows[r][m], slot[Slot(r, m)] += rows[r][m];
    }
    for (std::size_t s = 0; diagonal && s + 1 < n; ++s) slot[s] += (*diagonal)[s + 1];
    std::array<std::array<bool, n>, 2> known{};
    for (auto& k : known) k[0] = true;
    for (bool progress = true; progress;) {
        progress = false;
        // Columns 1 to 60, then slots 0 to 59.
        for (std::size_t e = 1; e < (diagonal ? 2 * n - 1 : n); ++e) {
            const bool isSlot = e >= n;
            const std::size_t s = isSlot ? e - n : e;
            std::uint8_t sum = isSlot ? slot[s] : column[s];
            std::size_t unknowns = 0, k = 0, at = 0;
            for (std::size_t i = 0; i < lost.size(); ++i) {
                const std::size_t m = isSlot ? ByteOf(lost[i], s) : s;
                if (known[i][m]) sum = static_cast<std::uint8_t>(sum + rows[lost[i]][m]);
                else ++unknowns, k = i, at = m;
            }
            if (unknowns != 1) continue;
            rows[lost[k]][at] = static_cast<std::uint8_t>(-sum);
            known[k][at] = progress = true;
        }
    }
    for (std::size_t i = 0; i < lost.size(); ++i)
        if (std::find(known[i].begin(), known[i].end(), false) != known[i].end()) return false;
    return true;
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

Reader::Reader(own::Input& input) : input_(input), buffer_(64 * 1024) {}

// Lines end in LF, CR or both (empty lines between them are passed over by the caller).
bool Reader::NextLine() {
    line_.clear();
    bool any = false;
    for (;;) {
        if (pos_ == end_) {
            end_ = eof_ ? 0 : input_.Read(buffer_.data(), buffer_.size());
            pos_ = 0;
            if (end_ == 0) {
                const bool last = !eof_ && any;
                eof_ = true;
                return last;
            }
        }
        const std::uint8_t c = buffer_[pos_++];
        // Mail text holds no NUL byte: a binary file (every RAR and later archive the front
        // end asks about after us) is refused at once instead of being read to its end.
        if (c == 0 && !opened_) {
            eof_ = true;
            pos_ = end_ = 0;
            return false;
        }
        if (c == '\n' || c == '\r') return true;
        any = true;
        if (line_.size() < kLongest) line_ += static_cast<char>(c);
    }
}

bool Reader::NextItem(Item& item) {
    while (NextLine()) {
        // Mail may add blanks at a line's end.
        while (!line_.empty() && (line_.back() == ' ' || line_.back() == '\t')) line_.pop_back();
        if (Title(line_, item)) return true;
        if (!Decode(line_, item.record) || last_ == item.record) continue;
        last_ = item.record;
        item.kind = Item::Decoded;
        return true;
    }
    return false;
}

bool Reader::Take(Item& item) {
    if (!pending_) return NextItem(item);
    item = std::move(*pending_);
    pending_.reset();
    return true;
}

Status Reader::Open() {
    Item item;
    while (NextItem(item)) {
        if (item.kind == Item::OtherForm || (item.kind == Item::Decoded && item.record[0] == kHeader)) {
            pending_ = std::move(item);
            opened_ = true;
            return Status::Ok;
        }
    }
    return Status::NotOurs;
}

Status Reader::Next(own::Entry& entry) {
    Item item;
    for (;;) {  // past the rest of the current file
        if (!Take(item)) return Status::End;
        if (item.kind != Item::Decoded) otherForm_ = item.kind == Item::OtherForm;  // a title opens a file
        if (item.kind == Item::OtherForm || (item.kind == Item::Decoded && !otherForm_ && item.record[0] == kHeader)) break;
    }
    own::Entry e;
    const Record& r = item.record;
    if (item.kind == Item::OtherForm) {
        e.name = std::move(item.name);
        e.size = 1;  // unknown; any size has the pipeline ask for the data, and hear why it is refused
        e.unsupported = kOtherForm;
    } else {
        const auto field = [&](std::size_t at, std::size_t size) {
            std::string s(r.begin() + static_cast<std::ptrdiff_t>(at), r.begin() + static_cast<std::ptrdiff_t>(at + size));
            while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
            return s;
        };
        e.name = field(12, 8);
        if (const std::string ext = field(20, 3); !ext.empty()) e.name += "." + ext;
        e.size = Le(&r[2], 4);
        const auto west = static_cast<std::int32_t>(Le(&r[31], 3) << 8) >> 8;
        e.mtime = UtcSeconds(Le(&r[27], 4), west);
        if (r[1] != 0 || r[10] != 16 || r[11] != 13) e.unsupported = kOtherForm;
    }
    rows_ = e.unsupported ? 0 : (e.size + 2 + kPiece - 1) / kPiece;
    blocks_ = (rows_ + kRows - 1) / kRows;
    block_ = produced_ = 0;
    crc_ = 0xFFFF;
    fileCrcBytes_ = 0;
    damaged_ = verified_ = false;
    inFile_ = true;
    current_ = e;
    entry = std::move(e);
    return Status::Ok;
}

bool Reader::LoadBlock() {
    const std::uint64_t first = block_ * kRows;
    const auto count = static_cast<unsigned>(std::min<std::uint64_t>(kRows, rows_ - first));
    bool have[kVertical + 1] = {};
    for (unsigned r = 1; r <= kVertical; ++r) {
        table_[r].fill(0);
        table_[r][0] = static_cast<std::uint8_t>(r);
        have[r] = r > count && r < kVertical;  // a short block's missing rows: known to be zeros
    }
    Record diagonal{};
    bool haveDiagonal = false;
    unsigned last = 0;
    Item item;
    // The diagonal sum closes a block; a row numbered no higher than the one before, a
    // header or a title also does, and belongs to what follows.
    while (Take(item)) {
        const unsigned r = item.record[0];
        if (item.kind != Item::Decoded || r == kHeader || (r <= last && r <= kVertical)) {
            pending_ = std::move(item);
            break;
        }
        if (r == kDiagonal) {
            diagonal = item.record;
            haveDiagonal = true;
            break;
        }
        if (r > kVertical || (r > count && r != kVertical)) continue;  // no row of this block
        table_[r] = item.record;
        have[r] = true;
        last = r;
    }
    std::vector<unsigned> lost;
    for (unsigned r = 1; r <= kVertical; ++r)
        if (!have[r]) lost.push_back(r);
    if (lost.size() > 2 || (!lost.empty() && !Rebuild(table_, lost, haveDiagonal ? &diagonal : nullptr))) return false;

    // The pieces: the file's bytes to hand out, then its CRC.
    const std::uint64_t size = current_.size;
    for (unsigned k = 0; k < count; ++k) {
        const std::uint64_t at = (first + k) * kPiece;
        const std::uint8_t* piece = &table_[k + 1][1];
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
    if (!inFile_ || damaged_) return Status::Damaged;
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
        if (fileCrcBytes_ != 2 || static_cast<std::uint16_t>(~crc_) != (fileCrc_[0] << 8 | fileCrc_[1])) {
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
