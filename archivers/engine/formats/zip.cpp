// ZIP, from the public descriptions of its format: each entry a local header (with extra
// fields: Zip64 sizes, Unix times, Info-ZIP's UTF-8 names) and its data, perhaps followed by a
// data descriptor; then the central directory, whose records repeat the headers with the
// entries' attributes, and the end records that point at it.
#include "engine/formats/zip.h"
#include "engine/codecs/bytes.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "engine/codecs/inflate64.h"

namespace dexalo::archivers::zip {

using own::Status;

namespace {

constexpr std::size_t kBuffer = 256 * 1024;  // holds any header: 46 bytes, a name and an extra field of up to 64 KiB each
constexpr std::size_t kKeep = 16;            // bytes kept before the buffer's unread ones, for the decoder to hand back
constexpr std::uint64_t kUnknown = ~std::uint64_t{0};

constexpr std::uint32_t kLocalHeader = 0x04034B50, kCentralHeader = 0x02014B50, kEndRecord = 0x06054B50;
constexpr std::uint32_t kEnd64Record = 0x06064B50, kEnd64Locator = 0x07064B50, kSignature = 0x05054B50;
constexpr std::uint32_t kDescriptor = 0x08074B50;
constexpr std::uint16_t kEncrypted = 0x0001, kSizesAfter = 0x0008, kUtf8 = 0x0800;
constexpr std::uint16_t kStored = 0, kDeflate = 8, kDeflate64 = 9;
constexpr std::uint32_t kMax32 = 0xFFFFFFFF;



// Calls `each(id, data, size)` for every extra field; a field that overruns the rest ends them.
template <class Each>
void ForEachExtra(const std::uint8_t* p, std::size_t size, Each each) {
    while (size >= 4) {
        const std::size_t n = Le16(p + 2);
        if (n > size - 4) return;
        each(Le16(p), p + 4, n);
        p += 4 + n;
        size -= 4 + n;
    }
}

// Zip64's 8-byte sizes (and offset) stand in for those of the header that read 0xFFFFFFFF,
// in this order.
void Widen(const std::uint8_t* p, std::size_t size, std::initializer_list<std::uint64_t*> fields) {
    for (std::uint64_t* field : fields) {
        if (*field != kMax32) continue;
        if (size < 8) return;
        *field = Le64(p);
        p += 8;
        size -= 8;
    }
}

} // namespace

// The archive's bytes through a buffer: headers are read in place, the decoder takes chunks
// of it and hands back what follows its stream, and the reader can go back to where an
// entry's data began.
class Bytes {
public:
    explicit Bytes(own::Input& input) : input_(input), data_(kKeep + kBuffer) {}

    // Reads on from `position`.
    bool Restart(std::uint64_t position) {
        pos_ = end_ = 0;
        read_ = position;
        return input_.Seek(position);
    }

    std::uint64_t Position() const { return read_ - (end_ - pos_); }
    std::size_t Available() const { return end_ - pos_; }
    const std::uint8_t* Peek() const { return data_.data() + pos_; }
    void Take(std::size_t n) { pos_ += n; }

    // At least `n` (at most kBuffer) bytes at Peek(); false, with what there is, at the end.
    bool Ensure(std::size_t n) {
        if (end_ - pos_ >= n) return true;
        const std::size_t keep = std::min(kKeep, pos_);
        std::memmove(data_.data(), data_.data() + pos_ - keep, end_ - pos_ + keep);
        end_ -= pos_ - keep;
        pos_ = keep;
        while (end_ - pos_ < n) {
            const std::size_t got = input_.Read(data_.data() + end_, data_.size() - end_);
            if (got == 0) return false;
            end_ += got;
            read_ += got;
        }
        return true;
    }

    // Up to `limit` bytes, taken; 0 at the end of the input.
    std::size_t Chunk(const std::uint8_t*& data, std::uint64_t limit) {
        if (limit == 0 || (pos_ == end_ && !Ensure(1))) return 0;
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(end_ - pos_, limit));
        data = Peek();
        pos_ += n;
        return n;
    }

    // Gives back the last `n` bytes taken (the decoder's read-ahead: within the last chunk and
    // the kKeep bytes before it).
    void Unread(std::size_t n) { pos_ -= std::min(n, pos_); }

    bool Skip(std::uint64_t n) {
        if (n <= end_ - pos_) {
            pos_ += static_cast<std::size_t>(n);
            return true;
        }
        const std::uint64_t past = n - (end_ - pos_);
        pos_ = end_ = 0;
        if (!input_.Skip(past)) return false;
        read_ += past;
        return true;
    }

    bool Seek(std::uint64_t position) {
        const std::uint64_t first = read_ - end_;  // where data_[0] lies
        if (position >= first && position <= read_) {
            pos_ = static_cast<std::size_t>(position - first);
            return true;
        }
        return Restart(position);
    }

private:
    own::Input& input_;
    std::vector<std::uint8_t> data_;
    std::size_t pos_ = 0, end_ = 0;
    std::uint64_t read_ = 0;  // where the input stands: just past data_[end_ - 1]
};

// An entry's compressed bytes, for the decoder.
class EntrySource final : public inflate64::Source {
public:
    EntrySource(Bytes& bytes, std::uint64_t size) : bytes_(bytes), left_(size) {}
    std::size_t Next(const std::uint8_t*& data) override {
        const std::size_t n = bytes_.Chunk(data, left_);
        left_ -= n;
        return n;
    }
    std::uint64_t Left() const { return left_; }

private:
    Bytes& bytes_;
    std::uint64_t left_;
};

namespace {

struct CentralRecord {
    std::uint16_t madeBy = 0, method = 0;
    std::uint32_t attributes = 0;
    std::uint64_t offset = 0;  // of the local header
    bool timed = false;        // `mtime` came from a Unix or an NTFS time
    std::int64_t mtime = 0;
    std::uint16_t flags = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressed = 0, original = 0;
};

// The modification time of a Unix (0x5455) or NTFS (0x000A) time field, the Unix one first.
void TimeField(std::uint16_t id, const std::uint8_t* data, std::size_t size, bool& unixTime, bool& ntfsTime, std::int64_t& mtime) {
    if (id == 0x5455 && size >= 5 && (data[0] & 0x01) != 0) {
        mtime = static_cast<std::int32_t>(Le32(data + 1));
        unixTime = true;
    }
    for (std::size_t at = 4; id == 0x000A && !unixTime && at + 4 <= size;) {  // after 4 reserved bytes, tagged parts
        const std::size_t n = Le16(data + at + 2);
        if (n > size - at - 4) break;
        if (Le16(data + at) == 0x0001 && n >= 8) {  // 100 ns units since 1601
            mtime = static_cast<std::int64_t>(Le64(data + at + 4) / 10000000) - 11644473600;
            ntfsTime = true;
        }
        at += 4 + n;
    }
}

// Calls `each` for the central directory's records, in order, until it returns false. The end
// record is looked for in the last 64 KiB (behind the archive's comment); a Zip64 locator
// before it points at the wider one. Nothing is read when they cannot be found.
template <class Each>
void ForEachCentralRecord(own::Input& input, Each each) {
    const std::uint64_t size = input.Size();
    const auto tail = static_cast<std::size_t>(std::min<std::uint64_t>(size, 22 + 0xFFFF));
    if (tail < 22) return;
    std::vector<std::uint8_t> t(tail);
    if (!input.Seek(size - tail) || input.Read(t.data(), tail) != tail) return;
    std::size_t at = tail - 22;
    while (Le32(&t[at]) != kEndRecord || at + 22 + Le16(&t[at + 20]) > tail) {
        if (at-- == 0) return;
    }
    std::uint64_t offset = Le32(&t[at + 16]), length = Le32(&t[at + 12]), recordsAt = size - tail + at;
    std::uint8_t z[56];
    if (recordsAt >= 20 && input.Seek(recordsAt - 20) && input.Read(z, 20) == 20 && Le32(z) == kEnd64Locator) {
        const std::uint64_t wideAt = Le64(z + 8);
        if (input.Seek(wideAt) && input.Read(z, 56) == 56 && Le32(z) == kEnd64Record)
            offset = Le64(z + 48), length = Le64(z + 40), recordsAt = wideAt;
    }
    // Where the offset is wrong (Info-ZIP's -fz into a pipe leaves it 0xFFFFFFFF without a
    // Zip64 record), the directory is taken to end where the end records begin.
    Bytes b(input);
    if (!b.Restart(offset) || !b.Ensure(4) || Le32(b.Peek()) != kCentralHeader) {
        if (length > recordsAt || !b.Restart(recordsAt - length)) return;
    }
    // The records are walked while they last: some writers let the count wrap past 65535.
    while (b.Ensure(46) && Le32(b.Peek()) == kCentralHeader) {
        const std::uint8_t* p = b.Peek();
        const std::size_t names = Le16(p + 28), extras = Le16(p + 30), comment = Le16(p + 32);
        if (!b.Ensure(46 + names + extras)) return;
        p = b.Peek();
        CentralRecord r{Le16(p + 4), Le16(p + 10), Le32(p + 38), Le32(p + 42)};
        r.flags = Le16(p + 8);
        r.crc = Le32(p + 16);
        r.original = Le32(p + 24);
        r.compressed = Le32(p + 20);
        bool unixTime = false, ntfsTime = false;
        ForEachExtra(p + 46 + names, extras, [&](std::uint16_t id, const std::uint8_t* data, std::size_t n) {
            if (id == 0x0001) Widen(data, n, {&r.original, &r.compressed, &r.offset});
            TimeField(id, data, n, unixTime, ntfsTime, r.mtime);
        });
        r.timed = unixTime || ntfsTime;
        if (!each(r)) return;
        b.Take(46 + names + extras);
        if (!b.Skip(comment)) return;
    }
}

} // namespace

Reader::Reader(own::Input& input) : input_(input), bytes_(std::make_unique<Bytes>(input)) {}
Reader::~Reader() = default;

Status Reader::Open() {
    std::uint8_t magic[4];
    if (input_.Read(magic, 4) != 4 || Le32(magic) != kLocalHeader) return Status::NotOurs;
    // Local headers carry no attributes, and 7-Zip writes its NTFS times only in the central
    // directory: it has them, when it can be read.
    ForEachCentralRecord(input_, [&](const CentralRecord& r) {
        const std::uint32_t mode = r.attributes >> 16;
        const bool unixMode = r.madeBy >> 8 == 3 && mode != 0;
        central_.push_back({r.offset, unixMode ? (mode & 0200) == 0 : (r.attributes & 0x01) != 0, r.timed, r.mtime});
        return true;
    });
    std::sort(central_.begin(), central_.end(), [](const Central& a, const Central& b) { return a.offset < b.offset; });
    return bytes_->Restart(0) ? Status::Ok : Status::NotOurs;
}

// Decodes the entry's data from where it begins to learn where it ends, without handing
// anything out; the caller comes back to the start.
bool Reader::Measure(bool deflate64, std::uint64_t& compressed, std::uint64_t& original) {
    const std::uint64_t start = bytes_->Position();
    if (!decoder_) decoder_ = std::make_unique<inflate64::Decoder>();
    EntrySource source(*bytes_, kUnknown);
    decoder_->Start(source, deflate64);
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    inflate64::Decoder::Status status;
    original = 0;
    while ((status = decoder_->Next(data, size)) == inflate64::Decoder::Status::Ok) original += size;
    if (status != inflate64::Decoder::Status::End) return false;
    bytes_->Unread(decoder_->Unused());
    compressed = bytes_->Position() - start;
    return true;
}

// The data descriptor at the current position: its length, with the entry's CRC and size
// taken from it; 0 when none of its forms (with or without a signature, 32- or 64-bit sizes)
// gives the compressed size the data showed. Where the original size is known too (0 when
// not), a form that also gives it is preferred: a signed 64-bit descriptor read as a 32-bit
// one shows the right compressed size too when that is below 4 GiB.
std::size_t Reader::ReadDescriptor(std::uint64_t compressed, std::uint64_t original, bool zip64) {
    bytes_->Ensure(24);
    const std::uint8_t* p = bytes_->Peek();
    for (const bool strict : {original != 0, false}) {
        for (const bool signature : {true, false}) {
            for (const bool wide : {zip64, !zip64}) {
                const std::size_t at = signature ? 4 : 0, length = at + (wide ? 20 : 12);
                if (length > bytes_->Available() || (signature && Le32(p) != kDescriptor)) continue;
                const std::uint64_t size = wide ? Le64(p + at + 12) : Le32(p + at + 8);
                if ((wide ? Le64(p + at + 4) : Le32(p + at + 4)) != compressed || (strict && size != original)) continue;
                expectedCrc_ = Le32(p + at);
                entry_.size = size;
                return length;
            }
        }
    }
    return 0;
}

Status Reader::Next(own::Entry& entry) {
    if (failed_ || lost_) return failed_ = true, Status::Damaged;
    if (ended_) return Status::End;
    if (current_) {  // what is left of the last entry's data, and its descriptor
        const std::uint64_t left = decoding_ ? source_->Left() : left_;
        current_ = decoding_ = false;
        if (!bytes_->Skip(left) || !bytes_->Skip(trailer_)) return failed_ = true, Status::Damaged;
    }
    const std::uint64_t offset = bytes_->Position();
    if (!bytes_->Ensure(4)) return failed_ = true, Status::Damaged;  // no central directory: cut short
    const std::uint32_t signature = Le32(bytes_->Peek());
    if (signature == kCentralHeader || signature == kEndRecord || signature == kEnd64Record || signature == kSignature) {
        ended_ = true;
        return Status::End;
    }
    if (signature != kLocalHeader || !bytes_->Ensure(30)) return failed_ = true, Status::Damaged;
    const std::uint8_t* h = bytes_->Peek();
    const std::size_t names = Le16(h + 26), extras = Le16(h + 28);
    if (!bytes_->Ensure(30 + names + extras)) return failed_ = true, Status::Damaged;
    h = bytes_->Peek();
    const std::uint16_t flags = Le16(h + 6);
    method_ = Le16(h + 8);
    std::uint64_t original = Le32(h + 22), compressed = Le32(h + 18);
    bool zip64 = false, unixTime = false, ntfsTime = false;
    std::int64_t mtime = 0;
    std::string name(reinterpret_cast<const char*>(h + 30), names), unicodeName;
    ForEachExtra(h + 30 + names, extras, [&](std::uint16_t id, const std::uint8_t* data, std::size_t n) {
        TimeField(id, data, n, unixTime, ntfsTime, mtime);
        if (id == 0x0001) {
            Widen(data, n, {&original, &compressed});
            zip64 = true;
        } else if (id == 0x7075 && n >= 5 && data[0] == 1 &&  // Info-ZIP's UTF-8 name, while it matches the stored one
                   Le32(data + 1) == Crc32(0, h + 30, names)) {
            unicodeName.assign(reinterpret_cast<const char*>(data + 5), n - 5);
        }
    });
    entry_ = own::Entry{};
    entry_.utf8 = (flags & kUtf8) != 0 || !unicodeName.empty();
    entry_.oem = !entry_.utf8;
    entry_.name = unicodeName.empty() ? std::move(name) : std::move(unicodeName);
    while (!entry_.name.empty() && entry_.name.back() == '/') entry_.name.pop_back(), entry_.directory = true;
    const auto found = std::lower_bound(central_.begin(), central_.end(), offset, [](const Central& c, std::uint64_t at) { return c.offset < at; });
    const Central* central = found != central_.end() && found->offset == offset ? &*found : nullptr;
    entry_.readOnly = central != nullptr && central->readOnly;
    if (unixTime || ntfsTime) {
        entry_.mtime = mtime;
    } else if (central != nullptr && central->timed) {
        entry_.mtime = central->mtime;
    } else {
        entry_.mtime = own::DosTimeToUnix(static_cast<std::uint32_t>(Le16(h + 12) << 16 | Le16(h + 10)));
    }
    entry_.size = entry_.directory ? 0 : original;
    expectedCrc_ = Le32(h + 14);
    unsupported_.clear();
    if (flags & kEncrypted) {
        unsupported_ = "ZIP encryption not supported";
        entry_.encrypted = true;
    } else if (method_ != kStored && method_ != kDeflate && method_ != kDeflate64) {
        unsupported_ = "unsupported ZIP compression method " + std::to_string(method_);
    }
    if (!unsupported_.empty()) entry_.unsupported = unsupported_.c_str();
    bytes_->Take(30 + names + extras);
    trailer_ = 0;
    if (flags & kSizesAfter) {
        // The sizes and CRC follow the data. A compressed stream ends by itself: decoding it
        // finds the descriptor. Then back to the data, to be read again.
        const std::uint64_t start = bytes_->Position();
        const bool decodes = method_ != kStored && entry_.unsupported == nullptr;
        if (compressed == 0 && method_ != kStored && !decodes) {
            lost_ = true;  // listed, but where it ends cannot be known: nothing after it can be found
        } else if ((compressed == 0 && decodes && !Measure(method_ == kDeflate64, compressed, original)) ||
                   !bytes_->Seek(start + compressed) || (trailer_ = ReadDescriptor(compressed, original, zip64)) == 0 ||
                   !bytes_->Seek(start)) {
            return failed_ = true, Status::Damaged;
        }
        if (entry_.directory) entry_.size = 0;
    }
    current_ = true;
    broken_ = false;
    left_ = stored_ = compressed;
    produced_ = 0;
    crc_ = 0;
    entry = entry_;
    return Status::Ok;
}

Status Reader::Read(const std::uint8_t*& data, std::size_t& size) {
    data = nullptr;
    size = 0;
    if (!current_ || entry_.directory) return Status::Ok;
    if (entry_.unsupported) return Status::Unsupported;
    if (broken_) return Status::Damaged;
    if (produced_ == entry_.size) return crc_ == expectedCrc_ ? Status::Ok : Status::Damaged;
    const std::uint8_t* block = nullptr;
    std::size_t got = 0;
    if (method_ == kStored) {
        if (stored_ != entry_.size) return broken_ = true, Status::Damaged;
        got = bytes_->Chunk(block, left_);
        left_ -= got;
    } else {
        if (!decoding_) {
            if (!decoder_) decoder_ = std::make_unique<inflate64::Decoder>();
            source_ = std::make_unique<EntrySource>(*bytes_, left_);
            decoder_->Start(*source_, method_ == kDeflate64);
            decoding_ = true;
            left_ = 0;
        }
        if (decoder_->Next(block, got) == inflate64::Decoder::Status::Damaged) got = 0;
    }
    // Cut short, damaged, or more than the entry's size.
    if (got == 0 || got > entry_.size - produced_) return broken_ = true, Status::Damaged;
    produced_ += got;
    crc_ = Crc32(crc_, block, got);
    if (produced_ == entry_.size && crc_ != expectedCrc_) return broken_ = true, Status::Damaged;
    data = block;
    size = got;
    return Status::Ok;
}

std::optional<Located> Reader::Unread() const {
    if (!current_ || decoding_ || produced_ != 0 || left_ != stored_ || entry_.directory || entry_.unsupported) return std::nullopt;
    Member m;
    m.method = method_;
    m.crc = expectedCrc_;
    m.compressed = stored_;
    m.original = entry_.size;
    return Located{bytes_->Position(), m};
}

std::vector<Member> ReadDirectory(own::Input& input) {
    std::vector<Member> members;
    ForEachCentralRecord(input, [&](const CentralRecord& r) {
        members.push_back({r.offset, r.flags, r.method, r.crc, r.compressed, r.original});
        return true;
    });
    std::stable_sort(members.begin(), members.end(), [](const Member& a, const Member& b) { return a.header < b.header; });
    return members;
}

std::optional<std::uint64_t> DataStart(own::Input& input, const Member& member) {
    std::uint8_t h[30];
    if (!input.Seek(member.header) || input.Read(h, 30) != 30 || Le32(h) != kLocalHeader) return std::nullopt;
    const std::uint16_t flags = Le16(h + 6);
    if (Le16(h + 8) != member.method || ((flags ^ member.flags) & kEncrypted) != 0) return std::nullopt;
    // Without a descriptor the local header's CRC and sizes are the ones a reader of local headers
    // trusts: they must agree with the directory's (Zip64 leaves 0xFFFFFFFF here).
    auto agrees = [](std::uint32_t local, std::uint64_t central) { return local == kMax32 || local == central; };
    if ((flags & kSizesAfter) == 0 &&
        (Le32(h + 14) != member.crc || !agrees(Le32(h + 18), member.compressed) || !agrees(Le32(h + 22), member.original)))
        return std::nullopt;
    return member.header + 30 + Le16(h + 26) + Le16(h + 28);
}

bool UsesDeflate64(own::Input& input) {
    std::uint8_t magic[4];
    if (input.Read(magic, 4) != 4 || Le32(magic) != kLocalHeader) return false;  // as Reader::Open asks
    bool found = false;
    ForEachCentralRecord(input, [&](const CentralRecord& r) { return !(found = r.method == kDeflate64); });
    return found;
}

} // namespace dexalo::archivers::zip
