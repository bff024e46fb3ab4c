#include "engine/formats/seven_zip.h"

#include <lzma.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>

#include "engine/codecs/bytes.h"
#include "engine/platform/platform.h"

namespace dexalo::archivers {

namespace seven_zip {

namespace {

// Property ids of the 7z header.
enum : std::uint8_t {
    kEnd = 0x00, kHeader = 0x01, kArchiveProperties = 0x02, kAdditionalStreamsInfo = 0x03, kMainStreamsInfo = 0x04,
    kPackInfo = 0x06, kUnpackInfo = 0x07, kSize = 0x09, kCrc = 0x0A, kFolder = 0x0B, kCodersUnpackSize = 0x0C,
    kEncodedHeader = 0x17,
};

constexpr std::uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
const std::vector<std::uint8_t> kAesId = {0x06, 0xF1, 0x07, 0x01};
const std::vector<std::uint8_t> kCopyId = {0x00};
const std::vector<std::uint8_t> kLzmaId = {0x03, 0x01, 0x01};
const std::vector<std::uint8_t> kLzma2Id = {0x21};
constexpr std::uint64_t kMaxCoders = 32, kMaxStreams = 32;

// Thrown out of the parse with what the archive turned out to be.
struct Stop {
    Status status;
};
[[noreturn]] void Fail(Status status = Status::Damaged) { throw Stop{status}; }

class Cursor {
public:
    explicit Cursor(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    std::size_t At() const { return at_; }
    std::uint8_t Byte() {
        if (at_ >= bytes_.size()) Fail();
        return bytes_[at_++];
    }
    const std::uint8_t* Bytes(std::uint64_t size) {
        if (size > bytes_.size() - at_) Fail();
        const std::uint8_t* p = bytes_.data() + at_;
        at_ += static_cast<std::size_t>(size);
        return p;
    }
    // The header's variable-length number: the leading one bits of the first byte count the
    // bytes that follow, least significant first; the rest of the first byte is the top.
    std::uint64_t Number() {
        const std::uint8_t first = Byte();
        std::uint64_t value = 0;
        std::uint8_t mask = 0x80;
        for (int i = 0; i < 8; ++i) {
            if ((first & mask) == 0) return value | static_cast<std::uint64_t>(first & (mask - 1)) << (8 * i);
            value |= static_cast<std::uint64_t>(Byte()) << (8 * i);
            mask >>= 1;
        }
        return value;
    }
    // A count of items that take at least a byte each.
    std::uint64_t Count() {
        const std::uint64_t n = Number();
        if (n > bytes_.size() - at_) Fail();
        return n;
    }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t at_ = 0;
};

void PutNumber(std::vector<std::uint8_t>& out, std::uint64_t value) {
    std::uint8_t first = 0, mask = 0x80;
    int extra = 0;
    for (; extra < 8; ++extra) {
        if (value < std::uint64_t{1} << (7 * (extra + 1))) {
            first |= static_cast<std::uint8_t>(value >> (8 * extra));
            break;
        }
        first |= mask;
        mask >>= 1;
    }
    out.push_back(first);
    for (int i = 0; i < extra; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

struct Coder {
    std::vector<std::uint8_t> id, props;
    std::uint64_t in = 1, out = 1;
};

struct Aes {
    unsigned rounds = 0;
    std::vector<std::uint8_t> salt;
    std::array<std::uint8_t, 16> iv{};
    std::uint64_t plainSize = 0;  // what the coder after it reads
};

struct Folder {
    std::vector<Coder> coders;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> binds;  // (in stream, out stream)
    std::vector<std::uint64_t> packed;                           // in streams read from the file
    std::vector<std::uint64_t> sizes;                            // one per out stream
    std::optional<std::uint32_t> crc;
    std::vector<std::optional<Aes>> crypt;  // per packed stream, once the AES coders are taken out

    std::uint64_t MainOut() const {
        std::uint64_t outs = 0;
        for (const Coder& c : coders) outs += c.out;
        for (std::uint64_t o = 0; o < outs; ++o)
            if (std::none_of(binds.begin(), binds.end(), [&](const auto& b) { return b.second == o; })) return o;
        Fail();
    }
};

struct Streams {
    std::uint64_t packPos = 0;
    std::vector<std::uint64_t> packSizes;
    std::vector<Folder> folders;
};

std::vector<std::optional<std::uint32_t>> ReadDigests(Cursor& c, std::uint64_t n) {
    std::vector<bool> defined(static_cast<std::size_t>(n), true);
    if (c.Byte() == 0) {
        std::uint8_t bits = 0;
        for (std::size_t i = 0; i < defined.size(); ++i) {
            if (i % 8 == 0) bits = c.Byte();
            defined[i] = (bits & (0x80 >> (i % 8))) != 0;
        }
    }
    std::vector<std::optional<std::uint32_t>> crcs(defined.size());
    for (std::size_t i = 0; i < defined.size(); ++i)
        if (defined[i]) crcs[i] = Le32(c.Bytes(4));
    return crcs;
}

void ReadPackInfo(Cursor& c, Streams& s) {
    s.packPos = c.Number();
    s.packSizes.assign(static_cast<std::size_t>(c.Count()), 0);
    for (std::uint8_t id; (id = c.Byte()) != kEnd;) {
        if (id == kSize)
            for (auto& size : s.packSizes) size = c.Number();
        else if (id == kCrc)
            ReadDigests(c, s.packSizes.size());
        else
            Fail();
    }
}

Folder ReadFolder(Cursor& c) {
    Folder f;
    const std::uint64_t count = c.Count();
    if (count == 0 || count > kMaxCoders) Fail(Status::Unsupported);
    std::uint64_t ins = 0, outs = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        Coder coder;
        const std::uint8_t flags = c.Byte();
        if (flags & 0xC0) Fail(Status::Unsupported);  // alternative methods: never written
        const std::uint8_t* id = c.Bytes(flags & 0x0F);
        coder.id.assign(id, id + (flags & 0x0F));
        if (flags & 0x10) {
            coder.in = c.Number();
            coder.out = c.Number();
            if (coder.in > kMaxStreams || coder.out > kMaxStreams) Fail(Status::Unsupported);
        }
        if (flags & 0x20) {
            const std::uint64_t size = c.Count();
            const std::uint8_t* p = c.Bytes(size);
            coder.props.assign(p, p + size);
        }
        ins += coder.in;
        outs += coder.out;
        f.coders.push_back(std::move(coder));
    }
    if (outs == 0 || ins + 1 < outs) Fail();  // not `ins < outs - 1`: GCC 12 -O1 and up then lose the packed stream below
    for (std::uint64_t i = 0; i + 1 < outs; ++i) {
        const std::uint64_t in = c.Number(), out = c.Number();
        if (in >= ins || out >= outs) Fail();
        f.binds.emplace_back(in, out);
    }
    const std::uint64_t packed = ins + 1 - outs;
    if (packed == 1) {
        std::uint64_t in = 0;  // the one in stream no coder feeds
        while (in < ins && std::any_of(f.binds.begin(), f.binds.end(), [&](const auto& b) { return b.first == in; })) ++in;
        if (in == ins) Fail();
        f.packed.push_back(in);
    } else {
        for (std::uint64_t i = 0; i < packed; ++i) {
            f.packed.push_back(c.Number());
            if (f.packed.back() >= ins) Fail();
        }
    }
    f.crypt.resize(f.packed.size());
    return f;
}

void ReadUnpackInfo(Cursor& c, Streams& s) {
    if (c.Byte() != kFolder) Fail();
    const std::uint64_t count = c.Count();
    if (c.Byte() != 0) Fail(Status::Unsupported);  // folders kept elsewhere: never written
    for (std::uint64_t i = 0; i < count; ++i) s.folders.push_back(ReadFolder(c));
    if (c.Byte() != kCodersUnpackSize) Fail();
    for (Folder& f : s.folders)
        for (const Coder& coder : f.coders)
            for (std::uint64_t o = 0; o < coder.out; ++o) f.sizes.push_back(c.Number());
    for (std::uint8_t id; (id = c.Byte()) != kEnd;) {
        if (id != kCrc) Fail();
        const auto crcs = ReadDigests(c, s.folders.size());
        for (std::size_t i = 0; i < crcs.size(); ++i) s.folders[i].crc = crcs[i];
    }
    std::uint64_t packed = 0;
    for (const Folder& f : s.folders) packed += f.packed.size();
    if (packed != s.packSizes.size()) Fail();
}

Aes ReadAesProps(const std::vector<std::uint8_t>& props) {
    Aes aes;
    if (props.empty()) Fail(Status::Unsupported);
    aes.rounds = props[0] & 0x3F;
    if ((props[0] & 0xC0) == 0) {
        if (props.size() != 1) Fail(Status::Unsupported);
        return aes;
    }
    if (props.size() < 2) Fail(Status::Unsupported);
    const std::size_t salt = ((props[0] >> 7) & 1u) + (props[1] >> 4);
    const std::size_t iv = ((props[0] >> 6) & 1u) + (props[1] & 0x0Fu);
    if (props.size() != 2 + salt + iv) Fail(Status::Unsupported);
    aes.salt.assign(props.begin() + 2, props.begin() + 2 + static_cast<std::ptrdiff_t>(salt));
    std::copy_n(props.begin() + 2 + static_cast<std::ptrdiff_t>(salt), iv, aes.iv.begin());
    return aes;
}

// Takes the folder's AES coders out: the packed stream each one decrypted then feeds the coder
// that read its output, and is marked to be decrypted as it is read. True when there was one.
bool TakeOutAes(Folder& f) {
    bool found = false;
    for (;;) {
        const auto it = std::find_if(f.coders.begin(), f.coders.end(), [](const Coder& c) { return c.id == kAesId; });
        if (it == f.coders.end()) return found;
        found = true;
        if (it->in != 1 || it->out != 1) Fail(Status::Unsupported);
        std::uint64_t in = 0, out = 0;
        for (auto c = f.coders.begin(); c != it; ++c) in += c->in, out += c->out;
        const auto packed = std::find(f.packed.begin(), f.packed.end(), in);
        if (packed == f.packed.end() || out >= f.sizes.size()) Fail(Status::Unsupported);  // not reading the file
        const std::size_t p = static_cast<std::size_t>(packed - f.packed.begin());
        if (f.crypt[p]) Fail(Status::Unsupported);
        f.crypt[p] = ReadAesProps(it->props);
        f.crypt[p]->plainSize = f.sizes[static_cast<std::size_t>(out)];
        const auto bind = std::find_if(f.binds.begin(), f.binds.end(), [&](const auto& b) { return b.second == out; });
        if (bind == f.binds.end()) {
            // It was the folder's only coder: what it decrypts is stored as it is.
            if (f.coders.size() != 1) Fail(Status::Unsupported);
            *it = Coder{kCopyId, {}, 1, 1};
            return true;
        }
        *packed = bind->first;
        f.binds.erase(bind);
        f.coders.erase(it);
        f.sizes.erase(f.sizes.begin() + static_cast<std::ptrdiff_t>(out));
        for (auto& b : f.binds) {
            if (b.first > in) --b.first;
            if (b.second > out) --b.second;
        }
        for (auto& q : f.packed)
            if (q > in) --q;
    }
}

void PutFolders(std::vector<std::uint8_t>& out, const std::vector<Folder>& folders) {
    out.push_back(kUnpackInfo);
    out.push_back(kFolder);
    PutNumber(out, folders.size());
    out.push_back(0);
    for (const Folder& f : folders) {
        PutNumber(out, f.coders.size());
        for (const Coder& c : f.coders) {
            const bool complex = c.in != 1 || c.out != 1;
            out.push_back(static_cast<std::uint8_t>(c.id.size() | (complex ? 0x10 : 0) | (c.props.empty() ? 0 : 0x20)));
            out.insert(out.end(), c.id.begin(), c.id.end());
            if (complex) {
                PutNumber(out, c.in);
                PutNumber(out, c.out);
            }
            if (!c.props.empty()) {
                PutNumber(out, c.props.size());
                out.insert(out.end(), c.props.begin(), c.props.end());
            }
        }
        for (const auto& [in, o] : f.binds) {
            PutNumber(out, in);
            PutNumber(out, o);
        }
        if (f.packed.size() > 1)
            for (std::uint64_t in : f.packed) PutNumber(out, in);
    }
    out.push_back(kCodersUnpackSize);
    for (const Folder& f : folders)
        for (std::uint64_t size : f.sizes) PutNumber(out, size);
    if (std::any_of(folders.begin(), folders.end(), [](const Folder& f) { return f.crc.has_value(); })) {
        out.push_back(kCrc);
        const bool all = std::all_of(folders.begin(), folders.end(), [](const Folder& f) { return f.crc.has_value(); });
        out.push_back(all ? 1 : 0);
        if (!all) {
            for (std::size_t i = 0; i < folders.size(); i += 8) {
                std::uint8_t bits = 0;
                for (std::size_t j = i; j < std::min(i + 8, folders.size()); ++j)
                    if (folders[j].crc) bits |= static_cast<std::uint8_t>(0x80 >> (j - i));
                out.push_back(bits);
            }
        }
        for (const Folder& f : folders)
            if (f.crc)
                for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(*f.crc >> (8 * i)));
    }
    out.push_back(kEnd);
}

// A folder of one LZMA, LZMA2 or stored coder, decoded whole: how 7-Zip packs its headers.
std::vector<std::uint8_t> DecodeHeaderFolder(const Folder& f, const std::vector<std::uint8_t>& packed,
                                             std::uint64_t limit) {
    const std::uint64_t size = f.sizes.at(static_cast<std::size_t>(f.MainOut()));
    if (f.coders.size() != 1 || size > limit) Fail(Status::Unsupported);
    const Coder& coder = f.coders.front();
    std::vector<std::uint8_t> out;
    if (coder.id == kCopyId) {
        if (packed.size() < size) Fail();
        out.assign(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(size));
    } else {
        lzma_filter filters[2] = {{coder.id == kLzmaId ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA2, nullptr},
                                  {LZMA_VLI_UNKNOWN, nullptr}};
        if ((coder.id != kLzmaId && coder.id != kLzma2Id) ||
            lzma_properties_decode(&filters[0], nullptr, coder.props.data(), coder.props.size()) != LZMA_OK)
            Fail(Status::Unsupported);
        // The window never needs to exceed what is decoded: a header's claim of more costs nothing.
        auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
        options->dict_size = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(options->dict_size, std::max<std::uint64_t>(size, LZMA_DICT_SIZE_MIN)));
        lzma_stream stream = LZMA_STREAM_INIT;
        const lzma_ret ready = lzma_raw_decoder(&stream, filters);
        free(filters[0].options);  // the decoder keeps its own copy
        if (ready != LZMA_OK) Fail(Status::Unsupported);
        stream.next_in = packed.data();
        stream.avail_in = packed.size();
        lzma_ret r = LZMA_OK;
        // Grown as it decodes: a size the header merely claims costs nothing.
        while (r == LZMA_OK && out.size() < size) {
            const std::size_t done = out.size();
            out.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, done + (1u << 20))));
            stream.next_out = out.data() + done;
            stream.avail_out = out.size() - done;
            r = lzma_code(&stream, LZMA_RUN);
            out.resize(out.size() - stream.avail_out);
            if (r == LZMA_OK && stream.avail_in == 0 && out.size() < size) r = LZMA_BUF_ERROR;
        }
        lzma_end(&stream);
        if (out.size() != size) Fail();
    }
    if (f.crc && Crc32(0, out.data(), out.size()) != *f.crc) Fail();
    return out;
}

} // namespace

std::optional<std::array<std::uint8_t, 32>> DeriveKey(const std::u16string& password, const std::vector<std::uint8_t>& salt,
                                                      unsigned rounds) {
    std::vector<std::uint8_t> text(salt);
    for (char16_t c : password) {
        text.push_back(static_cast<std::uint8_t>(c & 0xFF));
        text.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    if (rounds == 0x3F) {
        std::array<std::uint8_t, 32> key{};
        std::copy_n(text.begin(), std::min<std::size_t>(text.size(), key.size()), key.begin());
        return key;
    }
    platform::Sha256 hash;
    // Hashed a batch at a time: one call per round would cost far more than the hashing.
    std::vector<std::uint8_t> batch;
    const std::size_t each = text.size() + 8;
    batch.reserve(each * 4096);
    for (std::uint64_t round = 0, total = std::uint64_t{1} << rounds; round < total; ++round) {
        batch.insert(batch.end(), text.begin(), text.end());
        for (int i = 0; i < 8; ++i) batch.push_back(static_cast<std::uint8_t>(round >> (8 * i)));
        if (batch.size() + each > batch.capacity()) {
            hash.Update(batch.data(), batch.size());
            batch.clear();
        }
    }
    hash.Update(batch.data(), batch.size());
    return hash.Finish();
}

namespace {

// Keys derived in this process: recognising, checking and extracting one archive each open it,
// and a key costs 2^19 hashes.
std::mutex gKeysMutex;
std::map<std::tuple<std::u16string, std::vector<std::uint8_t>, unsigned>, std::array<std::uint8_t, 32>> gKeys;

std::optional<std::array<std::uint8_t, 32>> RememberedKey(const std::u16string& password,
                                                          const std::vector<std::uint8_t>& salt, unsigned rounds) {
    auto id = std::make_tuple(password, salt, rounds);
    {
        std::lock_guard lock(gKeysMutex);
        if (const auto it = gKeys.find(id); it != gKeys.end()) return it->second;
    }
    const auto key = DeriveKey(password, salt, rounds);
    std::lock_guard lock(gKeysMutex);
    if (key && gKeys.size() < 64) gKeys.emplace(std::move(id), *key);
    return key;
}

} // namespace

DecryptedView::DecryptedView(std::unique_ptr<own::Input> input, Limits limits) : view_(std::move(input)), limits_(limits) {}
DecryptedView::~DecryptedView() = default;

Status DecryptedView::Open(const std::optional<std::u16string>& password) {
    own::Input* const input_ = &view_.Source();
    try {
        std::uint8_t start[32];
        if (!input_->Seek(0) || input_->Read(start, 32) != 32 || !std::equal(kSignature, kSignature + 6, start))
            return Status::NotEncrypted;  // not a 7z that starts at its first byte: libarchive's to read
        if (Crc32(0, start + 12, 20) != Le32(start + 8)) Fail();
        const std::uint64_t offset = Le64(start + 12), size = Le64(start + 20);
        if (offset > input_->Size() - 32 || size > input_->Size() - 32 - offset || size > limits_.maxHeader)
            Fail();
        std::vector<std::uint8_t> header(static_cast<std::size_t>(size));
        if (!input_->Seek(32 + offset) || input_->Read(header.data(), header.size()) != header.size()) Fail();
        if (Crc32(0, header.data(), header.size()) != Le32(start + 28)) Fail();

        // The key and IV of an AES coder; a key is derived once per password, salt and rounds.
        auto key = [&](const Aes& aes) -> CbcKey {
            if (aes.rounds > limits_.maxKeyRounds && aes.rounds != 0x3F) Fail(Status::Unsupported);
            const auto derived = RememberedKey(*password, aes.salt, aes.rounds);
            if (!derived) Fail(Status::Unsupported);
            return CbcKey{*derived, aes.iv};
        };

        // A header packed in folders of its own, perhaps encrypted: decoded here, since the
        // data folders it describes must be rewritten too.
        for (int depth = 0; !header.empty() && header[0] == kEncodedHeader; ++depth) {
            if (depth == 4) Fail(Status::Unsupported);
            Cursor c(header);
            c.Byte();
            Streams s;
            if (c.Byte() != kPackInfo) Fail();
            ReadPackInfo(c, s);
            if (c.Byte() != kUnpackInfo) Fail();
            ReadUnpackInfo(c, s);
            bool encrypted = false;
            for (Folder& f : s.folders) encrypted = TakeOutAes(f) || encrypted;
            if (encrypted) {
                namesEncrypted_ = true;
                if (!password) return Status::NeedsPassword;
            }
            std::vector<std::uint8_t> decoded;
            std::uint64_t at = 32 + s.packPos;
            std::size_t stream = 0;
            for (const Folder& f : s.folders) {
                if (f.packed.size() != 1) Fail(Status::Unsupported);
                const std::uint64_t packedSize = s.packSizes[stream++];
                if (at > input_->Size() || packedSize > input_->Size() - at || packedSize > limits_.maxHeader) Fail();
                std::vector<std::uint8_t> packed(static_cast<std::size_t>(packedSize));
                if (!input_->Seek(at) || input_->Read(packed.data(), packed.size()) != packed.size()) Fail();
                at += packedSize;
                if (const auto& aes = f.crypt[0]) {
                    if (packed.size() % 16 != 0 || aes->plainSize > packed.size()) Fail(Status::WrongPassword);
                    const CbcKey k = key(*aes);
                    if (!platform::DecryptAes256Cbc(k.key, k.iv, packed.data(), packed.data(), packed.size()))
                        Fail(Status::Unsupported);
                    packed.resize(static_cast<std::size_t>(aes->plainSize));
                }
                try {
                    const auto part = DecodeHeaderFolder(f, packed, limits_.maxHeader - decoded.size());
                    decoded.insert(decoded.end(), part.begin(), part.end());
                } catch (const Stop& stop) {
                    throw Stop{f.crypt[0] && stop.status == Status::Damaged ? Status::WrongPassword : stop.status};
                }
            }
            header = std::move(decoded);
        }

        Cursor c(header);
        if (c.Byte() != kHeader) Fail(namesEncrypted_ ? Status::WrongPassword : Status::Damaged);
        std::uint8_t id = c.Byte();
        if (id == kArchiveProperties) {
            while (c.Byte() != 0) c.Bytes(c.Number());
            id = c.Byte();
        }
        if (id == kAdditionalStreamsInfo) Fail(Status::Unsupported);  // never written by today's tools
        Streams s;
        std::size_t head = c.At(), tail = c.At();
        bool packInfo = false, unpackInfo = false;
        if (id == kMainStreamsInfo) {
            head = c.At();
            id = c.Byte();
            if (id == kPackInfo) {
                ReadPackInfo(c, s);
                packInfo = true;
                id = c.Byte();
            }
            if (id == kUnpackInfo) {
                ReadUnpackInfo(c, s);
                unpackInfo = true;
                c.Byte();
            }
            tail = c.At() - 1;
        }
        bool dataEncrypted = false;
        for (Folder& f : s.folders) dataEncrypted = TakeOutAes(f) || dataEncrypted;
        if (!dataEncrypted && !namesEncrypted_) return Status::NotEncrypted;
        if (!password) return Status::NeedsPassword;

        // The packed streams, one after another as in the file, decrypted where they were encrypted.
        struct Stream {
            std::uint64_t source, stored, size;
            std::optional<CbcKey> crypt;
        };
        std::vector<Stream> streams;
        std::uint64_t source = 32 + s.packPos, packedEnd = 32;
        std::size_t stream = 0;
        for (const Folder& f : s.folders) {
            for (const auto& aes : f.crypt) {
                const std::uint64_t packedSize = s.packSizes[stream++];
                if (source > input_->Size() || packedSize > input_->Size() - source) Fail();
                Stream run{source, packedSize, packedSize, std::nullopt};
                if (aes) {
                    if (packedSize % 16 != 0 || aes->plainSize > packedSize) Fail();
                    run.size = aes->plainSize;
                    run.crypt = key(*aes);
                }
                streams.push_back(run);
                packedEnd += run.size;
                source += packedSize;
            }
        }

        std::vector<std::uint8_t> plain(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(head));
        if (packInfo) {
            plain.push_back(kPackInfo);
            PutNumber(plain, 0);
            PutNumber(plain, streams.size());
            plain.push_back(kSize);
            for (const Stream& run : streams) PutNumber(plain, run.size);
            plain.push_back(kEnd);
        }
        if (unpackInfo) PutFolders(plain, s.folders);
        plain.insert(plain.end(), header.begin() + static_cast<std::ptrdiff_t>(tail), header.end());

        std::uint8_t front[32] = {};
        std::copy_n(start, 8, front);
        const std::uint64_t next[2] = {packedEnd - 32, plain.size()};
        for (int n = 0; n < 2; ++n)
            for (int i = 0; i < 8; ++i) front[12 + 8 * n + i] = static_cast<std::uint8_t>(next[n] >> (8 * i));
        const std::uint32_t headerCrc = Crc32(0, plain.data(), plain.size());
        for (int i = 0; i < 4; ++i) front[28 + i] = static_cast<std::uint8_t>(headerCrc >> (8 * i));
        const std::uint32_t startCrc = Crc32(0, front + 12, 20);
        for (int i = 0; i < 4; ++i) front[8 + i] = static_cast<std::uint8_t>(startCrc >> (8 * i));
        view_.AddBytes(front, 32);
        for (const Stream& run : streams) view_.AddRange(run.source, run.size, run.crypt, run.stored);
        view_.AddBytes(plain);
        return Status::Ok;
    } catch (const Stop& stop) {
        return stop.status;
    }
}

} // namespace seven_zip

} // namespace dexalo::archivers
