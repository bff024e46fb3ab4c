// BGA: little-endian member headers of 28 bytes under a byte-sum checksum, the folder name and
// the file name (Shift-JIS) after them, then the member's data: a gzip member (method
// "GZIP"), a bzip2 stream ("BZ2\0") or, by the arc type, the bytes stored.
#include "engine/formats/bga.h"
#include "engine/codecs/bytes.h"
#include "engine/codecs/gunzip.h"

#include <bzlib.h>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace dexalo::archivers::bga {

namespace {

constexpr std::size_t kFixed = 28;
constexpr std::size_t kMaxNames = 4096;        // folder and file name together
constexpr std::size_t kSearch = 64 * 1024;     // where a self-extracting archive's first header may start
constexpr std::size_t kChunk = 256 * 1024;     // output handed out per Read
constexpr std::size_t kInputChunk = 64 * 1024;

constexpr std::uint8_t kReadOnly = 0x01, kFolder = 0x10;
constexpr std::uint16_t kArcCompressed = 1, kArcStored = 2;

enum class Method { Gzip, Bzip2, Unknown };


Method MethodOf(const std::uint8_t* h) {
    if (std::memcmp(h + 4, "GZIP", 4) == 0) return Method::Gzip;
    if (std::memcmp(h + 4, "BZ2\0", 4) == 0) return Method::Bzip2;
    return Method::Unknown;
}

std::size_t NamesSize(const std::uint8_t* h) { return std::size_t{Le16(h + 24)} + Le16(h + 26); }
bool NamesSane(const std::uint8_t* h) { return NamesSize(h) > 0 && NamesSize(h) <= kMaxNames; }

// `h` holds the fixed part and the names.
bool ChecksumHolds(const std::uint8_t* h) {
    std::uint32_t sum = 0;
    for (std::size_t i = 4; i < kFixed + NamesSize(h); ++i)
        sum += static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(h[i])));
    return sum == Le32(h);
}

// A trailing '\' that is a character of its own, not the trail byte of a Shift-JIS pair
// such as 表 (0x95 0x5C).
bool EndsInSeparator(std::string_view name) {
    bool separator = false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        separator = c == '\\';
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ++i;
    }
    return separator;
}

// Archives, which are stored rather than compressed again. A plain byte match is safe in
// Shift-JIS: '.' is never a trail byte, and no letter or digit after it a lead byte.
bool HasArchiveExtension(std::string_view name) {
    static constexpr std::string_view kExtensions[] = {".lzh", ".lha", ".zip", ".cab", ".tar", ".tgz", ".gz",
                                                       ".bz2", ".gza", ".bza", ".arj", ".rar", ".yz1", ".7z",
                                                       ".z",   ".taz", ".tbz", ".jak"};
    return std::any_of(std::begin(kExtensions), std::end(kExtensions), [&](std::string_view ext) {
        return name.size() >= ext.size() &&
               std::equal(ext.begin(), ext.end(), name.end() - static_cast<std::ptrdiff_t>(ext.size()), [](char e, char c) {
                   return e == (c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
               });
    });
}

} // namespace

// One compressed stream, decoded step by step: Run says -1 on damage, 1 at the stream's end
// (its check passed), 0 otherwise.
class Codec {
public:
    virtual ~Codec() = default;
    virtual bool Start() = 0;
    virtual int Run(const std::uint8_t* in, std::size_t inSize, std::size_t& used, std::uint8_t* out, std::size_t outSize,
                    std::size_t& made) = 0;
};

namespace {

class Gzip final : public Codec {
public:
    bool Start() override { return member_.Start(); }
    int Run(const std::uint8_t* in, std::size_t inSize, std::size_t& used, std::uint8_t* out, std::size_t outSize,
            std::size_t& made) override {
        return member_.Run(in, inSize, used, out, outSize, made);
    }

private:
    GzipMember member_;
};

class Bzip2 final : public Codec {
public:
    ~Bzip2() override {
        if (ready_) BZ2_bzDecompressEnd(&s_);
    }
    bool Start() override {  // libbz2 has no reset
        if (ready_) BZ2_bzDecompressEnd(&s_);
        s_ = {};
        ready_ = BZ2_bzDecompressInit(&s_, 0, 0) == BZ_OK;
        return ready_;
    }
    int Run(const std::uint8_t* in, std::size_t inSize, std::size_t& used, std::uint8_t* out, std::size_t outSize,
            std::size_t& made) override {
        s_.next_in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(in));
        s_.avail_in = static_cast<unsigned>(inSize);
        s_.next_out = reinterpret_cast<char*>(out);
        s_.avail_out = static_cast<unsigned>(outSize);
        const int r = BZ2_bzDecompress(&s_);
        used = inSize - s_.avail_in;
        made = outSize - s_.avail_out;
        return r == BZ_STREAM_END ? 1 : r == BZ_OK ? 0 : -1;
    }

private:
    bz_stream s_{};
    bool ready_ = false;
};

} // namespace

Reader::Reader(own::Input& input) : input_(input) {}
Reader::~Reader() = default;

std::size_t Reader::Take(std::uint8_t* data, std::size_t size) {
    const std::size_t n = std::min(size, ahead_.size() - aheadAt_);
    if (n > 0) std::memcpy(data, ahead_.data() + aheadAt_, n);
    aheadAt_ += n;
    if (aheadAt_ == ahead_.size()) ahead_ = {}, aheadAt_ = 0;
    return n < size ? n + input_.Read(data + n, size - n) : n;
}

bool Reader::Pass(std::uint64_t size) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, ahead_.size() - aheadAt_));
    aheadAt_ += n;
    if (aheadAt_ == ahead_.size()) ahead_ = {}, aheadAt_ = 0;
    return n == size || input_.Skip(size - n);
}

own::Status Reader::Open() {
    // A header starting anywhere in the first 64 KiB, with the longest names it may have.
    ahead_.resize(kSearch - 1 + kFixed + kMaxNames);
    ahead_.resize(input_.Read(ahead_.data(), ahead_.size()));
    for (std::size_t at = 0; at < kSearch && at + kFixed <= ahead_.size(); ++at) {
        const std::uint8_t* h = ahead_.data() + at;
        // Only a known method counts: in a program's bytes a checksum alone holds too easily.
        if (MethodOf(h) == Method::Unknown || !NamesSane(h) || at + kFixed + NamesSize(h) > ahead_.size() ||
            !ChecksumHolds(h))
            continue;
        header_.assign(h, h + kFixed + NamesSize(h));
        aheadAt_ = at + header_.size();
        found_ = true;
        return own::Status::Ok;
    }
    ahead_ = {};
    return own::Status::NotOurs;
}

own::Status Reader::Next(own::Entry& entry) {
    current_ = {};
    finished_ = true;  // no entry to read until one is handed out
    if (!found_) {
        const std::uint32_t skip = left_;
        left_ = 0;
        if (broken_ || !Pass(skip)) return broken_ = true, own::Status::Damaged;
        header_.resize(kFixed);
        const std::size_t got = Take(header_.data(), kFixed);
        if (got == 0) return own::Status::End;
        if (got < kFixed || !NamesSane(header_.data())) return broken_ = true, own::Status::Damaged;
        const std::size_t names = NamesSize(header_.data());
        header_.resize(kFixed + names);
        if (Take(header_.data() + kFixed, names) != names || !ChecksumHolds(header_.data()))
            return broken_ = true, own::Status::Damaged;
    }
    found_ = false;
    const std::uint8_t* h = header_.data();
    const std::uint32_t original = Le32(h + 12);
    const std::uint16_t arc = Le16(h + 22);  // the header type (byte 21) tells nothing we use
    const Method method = MethodOf(h);
    own::Entry e;
    e.name.assign(h + kFixed, h + header_.size());
    e.directory = (h[20] & kFolder) != 0 || EndsInSeparator(e.name);
    e.readOnly = (h[20] & kReadOnly) != 0;
    e.mtime = own::DosTimeToUnix(static_cast<std::uint32_t>(Le16(h + 16)) << 16 | Le16(h + 18));
    e.size = e.directory ? 0 : original;
    if (!e.directory) {
        e.unsupported = method == Method::Unknown ? "unsupported BGA method"
                      : arc > kArcStored          ? "unsupported BGA arc type"
                                                  : nullptr;
    }
    packed_ = left_ = Le32(h + 8);
    stored_ = arc == kArcStored || (arc != kArcCompressed && packed_ == original && HasArchiveExtension(e.name));
    codec_ = nullptr;
    if (!stored_ && method == Method::Gzip) codec_ = (gzip_ ? gzip_ : gzip_ = std::make_unique<Gzip>()).get();
    if (!stored_ && method == Method::Bzip2) codec_ = (bzip2_ ? bzip2_ : bzip2_ = std::make_unique<Bzip2>()).get();
    produced_ = 0;
    started_ = ended_ = failed_ = false;
    inAt_ = inEnd_ = 0;
    finished_ = e.directory;
    current_ = e;
    entry = std::move(e);
    return own::Status::Ok;
}

// Up to `want` bytes of output; fewer only when the stream ended. False on damage, or when the
// member's data ends before its stream does.
bool Reader::Decode(std::uint8_t* out, std::size_t want, std::size_t& got) {
    got = 0;
    in_.resize(kInputChunk);
    if (!started_) {
        if (!codec_->Start()) return false;
        started_ = true;
    }
    while (!ended_ && got < want) {
        if (inAt_ == inEnd_ && left_ > 0) {
            const std::size_t ask = std::min<std::size_t>(left_, kInputChunk);
            inAt_ = 0;
            inEnd_ = Take(in_.data(), ask);
            left_ -= static_cast<std::uint32_t>(inEnd_);
            if (inEnd_ < ask) broken_ = true, left_ = 0;
        }
        std::size_t used = 0, made = 0;
        const int r = codec_->Run(in_.data() + inAt_, inEnd_ - inAt_, used, out + got, want - got, made);
        inAt_ += used;
        got += made;
        if (r < 0) return false;
        ended_ = r > 0;
        // With input and room, both codecs always move; no move means the input ran out.
        if (!ended_ && used == 0 && made == 0) return false;
    }
    return true;
}

own::Status Reader::Read(const std::uint8_t*& data, std::size_t& size) {
    data = nullptr;
    size = 0;
    if (current_.unsupported) return own::Status::Unsupported;
    if (failed_) return own::Status::Damaged;
    if (finished_) return own::Status::Ok;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, current_.size - produced_));
    out_.resize(kChunk);
    std::size_t got = 0;
    bool ok = true;
    if (stored_) {
        if (packed_ != current_.size) return failed_ = true, own::Status::Damaged;
        got = Take(out_.data(), want);
        left_ -= static_cast<std::uint32_t>(got);
        ok = got == want;
        broken_ = broken_ || !ok;
    } else if (packed_ > 0 || current_.size > 0) {  // an empty file may come with no stream at all
        ok = Decode(out_.data(), want, got) && got == want;
        // The block that completes the entry goes out only once the stream has ended there
        // with its check: no byte more, none less.
        std::uint8_t extra = 0;
        std::size_t more = 0;
        if (ok && produced_ + got == current_.size) ok = Decode(&extra, 1, more) && more == 0;
    }
    if (!ok) return failed_ = true, own::Status::Damaged;
    produced_ += got;
    finished_ = produced_ == current_.size;
    data = out_.data();
    size = got;
    return own::Status::Ok;
}

} // namespace dexalo::archivers::bga
