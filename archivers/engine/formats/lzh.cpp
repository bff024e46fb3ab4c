// LZH, from the public descriptions of its format: headers of levels 0 to 3 (the later ones
// carry typed extended headers), each followed by its entry's data, stored or compressed:
//   -lh1-           LZ77 over 4 KiB; bytes and match lengths under one adaptive Huffman code,
//                   the upper 6 bits of a distance under a fixed one (LHarc 1.x)
//   -lh4- to -lh7-  LZ77 over 4 to 64 KiB with static Huffman codes in blocks (LHA 2.x)
//   -lzs-, -lz5-    LZSS over 2 and 4 KiB ring buffers, matches by ring position (LArc)
#include "engine/formats/lzh.h"
#include "engine/codecs/bytes.h"
#include "engine/codecs/lz_blocks.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace dexalo::archivers::lzh {

using own::Status;

namespace {

constexpr std::size_t kChunk = 256 * 1024;  // stored data handed out per Read
constexpr std::size_t kMaxHeader = 1 << 20;  // far beyond any real header: damage


constexpr auto kCrcTable = [] {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned c = i;
        for (int k = 0; k < 8; ++k) c = c & 1 ? (c >> 1) ^ 0xA001u : c >> 1;
        table[i] = static_cast<std::uint16_t>(c);
    }
    return table;
}();

enum class Kind { Stored, Folder, Adaptive, Blocks, Lzs, Lz5 };

struct Method {
    char id[6];
    Kind kind;
    int windowBits;
    bool onlyOurs;  // libarchive does not decode it
};

constexpr Method kMethods[] = {
    {"-lh0-", Kind::Stored, 0, false},   {"-lz4-", Kind::Stored, 0, false},   {"-lhd-", Kind::Folder, 0, false},
    {"-lh1-", Kind::Adaptive, 12, true}, {"-lh4-", Kind::Blocks, 12, true},   {"-lh5-", Kind::Blocks, 13, false},
    {"-lh6-", Kind::Blocks, 15, false},  {"-lh7-", Kind::Blocks, 16, false},  {"-lzs-", Kind::Lzs, 11, true},
    {"-lz5-", Kind::Lz5, 12, true},
};

const Method* FindMethod(const char* id) {
    for (const Method& m : kMethods)
        if (std::memcmp(m.id, id, 5) == 0) return &m;
    return nullptr;
}

} // namespace

std::uint16_t Crc16(std::uint16_t crc, const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) crc = static_cast<std::uint16_t>(crc >> 8 ^ kCrcTable[(crc ^ data[i]) & 0xFF]);
    return crc;
}

// ---- headers

struct Header {
    char method[5] = {};
    std::uint64_t compressed = 0, original = 0;
    std::uint32_t dosTime = 0;
    bool hasUnixTime = false;
    std::int64_t unixTime = 0;
    std::uint16_t attributes = 0;  // MS-DOS
    bool hasMode = false;
    std::uint16_t mode = 0;  // Unix
    std::uint16_t crc = 0;
    std::string name, folder;  // as stored
    bool hasWideName = false, hasWideFolder = false;
    std::u16string wideName, wideFolder;
    bool largeSizes = false;
};

namespace {

std::u16string Utf16(const std::uint8_t* p, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(Le16(p + 2 * i));
    return text;
}

// One extended header: its type, then `size` bytes of data.
void Extended(Header& h, std::uint8_t type, const std::uint8_t* data, std::size_t size) {
    switch (type) {
    case 0x01: h.name.assign(reinterpret_cast<const char*>(data), size); break;
    case 0x02: h.folder.assign(reinterpret_cast<const char*>(data), size); break;
    case 0x40:
        if (size >= 2) h.attributes = Le16(data);
        break;
    case 0x42:  // sizes past 4 GiB
        if (size >= 16) {
            h.compressed = Le64(data);
            h.original = Le64(data + 8);
            h.largeSizes = true;
        }
        break;
    case 0x44: h.wideName = Utf16(data, size), h.hasWideName = true; break;
    case 0x45: h.wideFolder = Utf16(data, size), h.hasWideFolder = true; break;
    case 0x50:
        if (size >= 2) h.mode = Le16(data), h.hasMode = true;
        break;
    case 0x54:
        if (size >= 4) h.unixTime = Le32(data), h.hasUnixTime = true;
        break;
    default: break;  // the header's CRC (checked by the caller), comments, owners...
    }
}

bool ReadFully(own::Input& input, std::uint8_t* data, std::size_t size) {
    return size == 0 || input.Read(data, size) == size;
}

// Reads the next header: End at the end mark (a zero byte) or the end of the input.
Status ReadHeader(own::Input& input, Header& h, std::vector<std::uint8_t>& b) {
    h = Header{};
    b.resize(21);  // up to the level, which every header has at offset 20
    if (input.Read(b.data(), 1) != 1 || b[0] == 0) return Status::End;
    if (!ReadFully(input, b.data() + 1, 20) || b[2] != '-' || b[6] != '-') return Status::Damaged;
    std::memcpy(h.method, &b[2], 5);
    h.compressed = Le32(&b[7]);
    h.original = Le32(&b[11]);
    const std::uint32_t time = Le32(&b[15]);
    h.attributes = b[19];
    const int level = b[20];
    if (level <= 1) {
        const std::size_t size = b[0] + 2u;
        if (size < 24) return Status::Damaged;
        b.resize(size);
        if (!ReadFully(input, b.data() + 21, size - 21)) return Status::Damaged;
        unsigned sum = 0;
        for (std::size_t i = 2; i < size; ++i) sum += b[i];
        const std::size_t n = b[21];
        if ((sum & 0xFF) != b[1] || 24 + n + (level == 1 ? 3 : 0) > size) return Status::Damaged;
        h.name.assign(reinterpret_cast<const char*>(&b[22]), n);
        h.crc = Le16(&b[22 + n]);
        h.dosTime = time;
        if (level == 0) {
            // LHa for UNIX adds 'U', a version, its Unix time, mode, owner and group.
            if (size >= 24 + n + 12 && b[24 + n] == 'U') {
                h.unixTime = Le32(&b[26 + n]), h.hasUnixTime = true;
                h.mode = Le16(&b[30 + n]), h.hasMode = true;
            }
            return Status::Ok;
        }
        // The extended headers follow, counted in the size given for the data.
        std::uint64_t extended = 0;
        std::vector<std::uint8_t> e;
        for (std::size_t next = Le16(&b[size - 2]); next != 0; next = Le16(&e[next - 2])) {
            if (next < 3 || (extended += next) > kMaxHeader) return Status::Damaged;
            e.resize(next);
            if (!ReadFully(input, e.data(), next)) return Status::Damaged;
            Extended(h, e[0], &e[1], next - 3);
        }
        if (!h.largeSizes) {
            if (extended > h.compressed) return Status::Damaged;
            h.compressed -= extended;
        }
        return Status::Ok;
    }
    if (level > 3) return Status::Damaged;
    // Levels 2 and 3 give the whole header's size; their extended headers lie inside it, each
    // ending in the next one's size (2 bytes, or 4 at level 3).
    const bool wide = level == 3;
    const std::size_t base = wide ? 32 : 26, field = wide ? 4 : 2;
    b.resize(base);
    if (!ReadFully(input, b.data() + 21, base - 21)) return Status::Damaged;
    const std::size_t size = wide ? Le32(&b[24]) : Le16(&b[0]);
    if ((wide && Le16(&b[0]) != 4) || size < base || size > kMaxHeader) return Status::Damaged;
    b.resize(size);
    if (!ReadFully(input, b.data() + base, size - base)) return Status::Damaged;
    h.crc = Le16(&b[21]);
    h.unixTime = time, h.hasUnixTime = true;
    std::size_t crcAt = 0, at = base;
    for (std::size_t next = wide ? Le32(&b[28]) : Le16(&b[24]); next != 0;) {
        if (next < 1 + field || next > size - at) return Status::Damaged;
        if (b[at] == 0 && next >= 3 + field) crcAt = at + 1;
        Extended(h, b[at], &b[at + 1], next - 1 - field);
        at += next;
        next = wide ? Le32(&b[at - 4]) : Le16(&b[at - 2]);
    }
    // The header's own CRC, taken with its field zeroed; what follows the last extended
    // header (a padding byte) counts too.
    if (crcAt != 0) {
        const std::uint16_t stored = Le16(&b[crcAt]);
        b[crcAt] = b[crcAt + 1] = 0;
        if (Crc16(0, b.data(), size) != stored) return Status::Damaged;
    }
    return Status::Ok;
}

// ---- names: 0xFF separates folders where the stored bytes are in a code page (a trail byte
// of Shift-JIS may be '\\', so that byte proves nothing); U+FFFF where they are UTF-16.

std::string JoinNarrow(const std::string& folder, const std::string& name, bool directory) {
    constexpr char kMark = '\xFF';
    std::string path = folder;
    if (!path.empty() && path.back() != kMark && path.back() != '/') path += kMark;
    path += name;
    if (directory)
        while (!path.empty() && (path.back() == kMark || path.back() == '/')) path.pop_back();
    std::replace(path.begin(), path.end(), kMark, '\\');
    return path;
}

// ASCII names widened, so that they can join UTF-16 ones; false for any other byte.
bool Widen(const std::string& narrow, std::u16string& wide) {
    wide.clear();
    for (const char c : narrow) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 && b != 0xFF) return false;
        wide += b == 0xFF ? u'\\' : static_cast<char16_t>(b);
    }
    return true;
}

std::string JoinWide(std::u16string folder, const std::u16string& name, bool directory) {
    std::u16string path = std::move(folder);
    const auto separator = [](char16_t c) { return c == u'\\' || c == u'/' || c == 0xFFFF; };
    if (!path.empty() && !separator(path.back())) path += u'\\';
    path += name;
    if (directory)
        while (!path.empty() && separator(path.back())) path.pop_back();
    std::string out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        char32_t c = path[i] == 0xFFFF ? U'\\' : path[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < path.size() && path[i + 1] >= 0xDC00 && path[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (path[++i] - 0xDC00u);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;  // half a pair
        const int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        static constexpr unsigned kLead[] = {0, 0xC0, 0xE0, 0xF0};
        out += static_cast<char>(kLead[extra] | c >> (6 * extra));
        for (int k = extra - 1; k >= 0; --k) out += static_cast<char>(0x80 | (c >> (6 * k) & 0x3F));
    }
    return out;
}

void Describe(const Header& h, own::Entry& e) {
    const Method* method = FindMethod(h.method);
    e = own::Entry{};
    e.directory = method != nullptr && method->kind == Kind::Folder;
    std::u16string folder, name;
    // UTF-16 names win, unless the other part has a code-page name that cannot join them.
    const bool wide = (h.hasWideName || h.hasWideFolder) &&
                      (h.hasWideFolder ? (folder = h.wideFolder, true) : Widen(h.folder, folder)) &&
                      (h.hasWideName ? (name = h.wideName, true) : Widen(h.name, name));
    e.utf8 = wide;
    e.name = wide ? JoinWide(folder, name, e.directory) : JoinNarrow(h.folder, h.name, e.directory);
    e.mtime = h.hasUnixTime ? h.unixTime : own::DosTimeToUnix(h.dosTime);
    e.readOnly = h.hasMode ? (h.mode & 0200) == 0 : (h.attributes & 0x01) != 0;
    e.size = e.directory ? 0 : h.original;
}

} // namespace

// ---- the compressed methods: the bit input, a flat output window, and the codes

class Decoder {
public:
    explicit Decoder(own::Input& input) : in_(input) {
        // -lh1-: the upper 6 bits of a distance take 3 to 8 bits, shorter for nearer matches.
        std::uint8_t lengths[64];
        for (int i = 0; i < 64; ++i) lengths[i] = static_cast<std::uint8_t>(i < 1 ? 3 : i < 4 ? 4 : i < 12 ? 5 : i < 24 ? 6 : i < 48 ? 7 : 8);
        fixedPositions_.Build(lengths, 64, 8);
    }

    void Start(const Method& method, std::uint64_t compressed, std::uint64_t original) {
        kind_ = method.kind;
        in_.Start(compressed);
        out_.Start(original, true);
        // No extra bits for distances 0 and 1, then one more each.
        blocks_.Start(method.windowBits + 1, method.windowBits > 13 ? 5 : 4, false);
        flagsLeft_ = 0;
        // Before the first byte a match finds spaces, as LHA's decoders start with them, and
        // LArc's -lz5- finds a fixed pattern of runs.
        std::uint8_t* history = out_.History();
        std::memset(history, ' ', lz::kHistory);
        if (kind_ == Kind::Lz5) {
            for (std::uint32_t back = 1; back <= 4096; ++back) {
                const std::uint32_t at = (kLz5Start - back) & 4095;
                history[lz::kHistory - back] =
                    static_cast<std::uint8_t>(at < 3328 ? at / 13 : at < 3584 ? at - 3328 : at < 3840 ? 3839 - at : at < 3968 ? 0 : ' ');
            }
        }
        if (kind_ == Kind::Adaptive) adaptive_.Reset();
    }

    // Compressed bytes not yet taken from the input.
    std::uint64_t InputLeft() const { return in_.Left(); }

    // The next block of output; false when the data is damaged.
    bool Next(const std::uint8_t*& data, std::size_t& size) {
        const std::size_t start = out_.Begin();
        const bool ok = kind_ == Kind::Blocks ? blocks_.Decode(in_, out_) : kind_ == Kind::Adaptive ? DecodeAdaptive() : DecodeLzss();
        data = out_.At(start);
        size = out_.Pos() - start;
        // Reading past the compressed data means it is damaged or cut short.
        return ok && !in_.Past();
    }

private:
    static constexpr std::uint32_t kLzsStart = 2048 - 17, kLz5Start = 4096 - 18;  // LArc's first ring positions

    // -lh1-'s code for bytes and match lengths: a tree kept ordered by counts, so that each
    // symbol read moves up as it grows more frequent (counts halve when the root reaches
    // 0x8000). Nodes lie in ascending order of count, the root last.
    class AdaptiveCode {
    public:
        void Reset() {
            for (int s = 0; s < kSymbols; ++s) {
                count_[s] = 1;
                child_[s] = static_cast<std::int16_t>(kNodes + s);
                leaf_[s] = static_cast<std::int16_t>(s);
            }
            for (int n = kSymbols, i = 0; n < kNodes; ++n, i += 2) {
                count_[n] = static_cast<std::uint16_t>(count_[i] + count_[i + 1]);
                Attach(n, i);
            }
            count_[kNodes] = 0xFFFF;  // stops the search for a node to swap with
        }

        int Decode(lz::BitInput& in) {
            int node = child_[kRoot];
            while (node < kNodes) node = child_[node + in.Bit()];
            const int symbol = node - kNodes;
            Update(symbol);
            return symbol;
        }

        static constexpr int kSymbols = 256 + 58;  // bytes, then match lengths 3 to 60

    private:
        static constexpr int kNodes = 2 * kSymbols - 1, kRoot = kNodes - 1;

        // Node `n` takes `child` below it: a leaf's symbol (kNodes on), or a pair of nodes.
        void Attach(int n, int child) {
            child_[n] = static_cast<std::int16_t>(child);
            if (child >= kNodes) {
                leaf_[child - kNodes] = static_cast<std::int16_t>(n);
            } else {
                parent_[child] = parent_[child + 1] = static_cast<std::int16_t>(n);
            }
        }

        void Update(int symbol) {
            if (count_[kRoot] == 0x8000) Rebuild();
            for (int n = leaf_[symbol];; n = parent_[n]) {
                const std::uint16_t c = ++count_[n];
                if (c > count_[n + 1]) {
                    // Out of order: trade places with the last node of a lower count.
                    int m = n + 1;
                    while (c > count_[m + 1]) ++m;
                    count_[n] = count_[m];
                    count_[m] = c;
                    const int below = child_[n];
                    Attach(n, child_[m]);
                    Attach(m, below);
                    n = m;
                }
                if (n == kRoot) break;
            }
        }

        // Halves the leaves' counts, kept in their order, and pairs them up again from the rarest.
        void Rebuild() {
            int leaves = 0;
            for (int n = 0; n < kNodes; ++n) {
                if (child_[n] < kNodes) continue;
                count_[leaves] = static_cast<std::uint16_t>((count_[n] + 1) / 2);
                child_[leaves++] = child_[n];
            }
            for (int n = kSymbols, i = 0; n < kNodes; ++n, i += 2) {
                const auto c = static_cast<std::uint16_t>(count_[i] + count_[i + 1]);
                int at = n;
                while (c < count_[at - 1]) --at;  // after every node of the same count
                std::memmove(&count_[at + 1], &count_[at], sizeof count_[0] * static_cast<std::size_t>(n - at));
                std::memmove(&child_[at + 1], &child_[at], sizeof child_[0] * static_cast<std::size_t>(n - at));
                count_[at] = c;
                child_[at] = static_cast<std::int16_t>(i);
            }
            for (int n = 0; n < kNodes; ++n) Attach(n, child_[n]);
        }

        std::uint16_t count_[kNodes + 1] = {};
        std::int16_t child_[kNodes] = {};  // the first of two nodes, or kNodes + a symbol
        std::int16_t parent_[kNodes] = {};
        std::int16_t leaf_[kSymbols] = {};
    };

    // ---- -lh1-
    bool DecodeAdaptive() {
        while (!out_.Full()) {
            if (in_.Overrun()) return false;
            const int c = adaptive_.Decode(in_);
            if (c < 256) {
                out_.Literal(static_cast<std::uint32_t>(c));
                continue;
            }
            in_.Refill();
            const auto high = static_cast<std::uint32_t>(in_.Symbol(fixedPositions_));  // a complete code
            out_.Copy((high << 6 | in_.Take(6)) + 1, static_cast<std::uint32_t>(c - 253));
        }
        return true;
    }

    // ---- -lzs- and -lz5-: a match names a position in a ring that writing began at kLzsStart
    // or kLz5Start; the byte at the position being written is the one a ring's length ago.
    std::uint32_t RingBack(std::uint32_t at, std::uint32_t ring, std::uint32_t start) const {
        const auto now = static_cast<std::uint32_t>((start + out_.Produced()) & (ring - 1));
        return ((now - at - 1) & (ring - 1)) + 1;
    }

    bool DecodeLzss() {
        while (!out_.Full()) {
            if (in_.Overrun()) return false;
            in_.Refill();
            if (kind_ == Kind::Lzs) {  // a 1 bit and a byte, or a 0 bit, 11 bits of position and 4 of length
                if (in_.Take(1)) {
                    out_.Literal(in_.Take(8));
                    continue;
                }
                const std::uint32_t at = in_.Take(11);
                out_.Copy(RingBack(at, 2048, kLzsStart), in_.Take(4) + 2);
                continue;
            }
            // -lz5-: a byte of flags for the next eight items, low bit first, 1 for a byte; a
            // match in two bytes: 12 bits of position, 4 of length.
            if (flagsLeft_ == 0) {
                flags_ = in_.Take(8);
                flagsLeft_ = 8;
            }
            const bool literal = flags_ & 1;
            flags_ >>= 1;
            --flagsLeft_;
            if (literal) {
                out_.Literal(in_.Take(8));
                continue;
            }
            const std::uint32_t low = in_.Take(8), high = in_.Take(8);
            out_.Copy(RingBack(low | (high & 0xF0) << 4, 4096, kLz5Start), (high & 0x0F) + 3);
        }
        return true;
    }

    Kind kind_ = Kind::Stored;
    lz::BitInput in_;
    lz::Window out_;
    lz::Blocks blocks_;
    std::uint32_t flags_ = 0;
    int flagsLeft_ = 0;
    lz::Code fixedPositions_;
    AdaptiveCode adaptive_;
};

// ---- the reader

Reader::Reader(own::Input& input) : input_(input) {}
Reader::~Reader() = default;

Status Reader::Open() {
    auto header = std::make_unique<Header>();
    std::vector<std::uint8_t> scratch;
    if (ReadHeader(input_, *header, scratch) != Status::Ok) return Status::NotOurs;
    pending_ = std::move(header);
    return Status::Ok;
}

Status Reader::Next(own::Entry& entry) {
    if (failed_) return Status::Damaged;
    if (ended_) return Status::End;
    const std::uint64_t skip = decoding_ ? decoder_->InputLeft() : left_;
    decoding_ = false;
    left_ = 0;
    current_.reset();
    if (skip > 0 && !input_.Skip(skip)) return failed_ = true, Status::Damaged;
    auto header = std::move(pending_);
    if (header == nullptr) {
        header = std::make_unique<Header>();
        std::vector<std::uint8_t> scratch;
        const Status status = ReadHeader(input_, *header, scratch);
        if (status != Status::Ok) {
            (status == Status::End ? ended_ : failed_) = true;  // nothing past either is read
            return status;
        }
    }
    Describe(*header, entry_);
    const Method* method = FindMethod(header->method);
    unsupported_.clear();
    if (method == nullptr) {
        unsupported_ = "unsupported LZH method ";
        for (const char c : header->method) unsupported_ += c >= 0x20 && c < 0x7F ? c : '?';
        entry_.unsupported = unsupported_.c_str();
    }
    left_ = header->compressed;
    broken_ = false;
    produced_ = 0;
    crc_ = 0;
    current_ = std::move(header);
    entry = entry_;
    return Status::Ok;
}

Status Reader::Read(const std::uint8_t*& data, std::size_t& size) {
    data = nullptr;
    size = 0;
    if (current_ == nullptr || entry_.directory) return Status::Ok;
    if (entry_.unsupported) return Status::Unsupported;
    if (broken_) return Status::Damaged;
    if (produced_ == entry_.size) return crc_ == current_->crc ? Status::Ok : Status::Damaged;
    const Method& method = *FindMethod(current_->method);
    const std::uint8_t* block = nullptr;
    std::size_t got = 0;
    if (method.kind == Kind::Stored) {
        if (current_->compressed != entry_.size) return Status::Damaged;
        buffer_.resize(kChunk);
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left_, kChunk));
        got = input_.Read(buffer_.data(), want);
        left_ -= got;
        if (got < want) return broken_ = true, Status::Damaged;
        block = buffer_.data();
    } else {
        if (!decoding_) {
            if (!decoder_) decoder_ = std::make_unique<Decoder>(input_);
            decoder_->Start(method, left_, entry_.size);
            decoding_ = true;
            left_ = 0;
        }
        if (!decoder_->Next(block, got)) return broken_ = true, Status::Damaged;
    }
    produced_ += got;
    crc_ = Crc16(crc_, block, got);
    if (produced_ == entry_.size && crc_ != current_->crc) return Status::Damaged;
    data = block;
    size = got;
    return Status::Ok;
}

bool HasMethodsOnlyWeRead(own::Input& input) {
    Header h;
    std::vector<std::uint8_t> scratch;
    while (ReadHeader(input, h, scratch) == Status::Ok) {
        const Method* method = FindMethod(h.method);
        if (method != nullptr && method->onlyOurs) return true;
        if (!input.Skip(h.compressed)) return false;
    }
    return false;
}

} // namespace dexalo::archivers::lzh
