#include "engine/formats/rar5.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <tuple>

#include "engine/codecs/bytes.h"
#include "engine/formats/rar_name.h"
#include "engine/platform/platform.h"

namespace dexalo::archivers {

namespace rar5 {

namespace {

constexpr std::uint8_t kSignature[8] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
enum : std::uint64_t { kFile = 2, kCrypt = 4, kEnd = 5 };
enum : std::uint64_t { kHasExtra = 0x01, kHasData = 0x02, kSplitBefore = 0x08, kSplitAfter = 0x10 };
enum : std::uint64_t { kFileTime = 0x02, kFileCrc = 0x04, kSizeUnknown = 0x08 };
enum : std::uint64_t { kCryptRecord = 1, kHashRecord = 2 };
constexpr std::uint64_t kBlake2sp = 0;  // a hash record's type
enum : std::uint64_t { kHasCheck = 0x01, kMacChecksums = 0x02 };
constexpr std::uint64_t kNotLastVolume = 0x01;  // an end header's flag
constexpr std::uint64_t kMaxHeader = 2u << 20;  // as RAR itself: headers are at most 2 MB

struct Stop {
    Status status;
};
[[noreturn]] void Fail(Status status = Status::Damaged) { throw Stop{status}; }

struct Cursor {
    const std::uint8_t* p;
    const std::uint8_t* end;
    std::uint64_t Number() {
        std::uint64_t value = 0;
        if (!ReadRar5Number(p, end, value)) Fail();
        return value;
    }
    const std::uint8_t* Bytes(std::uint64_t size) {
        if (size > static_cast<std::uint64_t>(end - p)) Fail();
        const std::uint8_t* at = p;
        p += size;
        return at;
    }
};

void PutNumber(std::vector<std::uint8_t>& out, std::uint64_t value) {
    do {
        const auto low = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
        out.push_back(static_cast<std::uint8_t>(low | (value != 0 ? 0x80 : 0)));
    } while (value != 0);
}

// An encryption header's or record's fields after the version.
struct Crypt {
    unsigned kdfCount = 0;
    const std::uint8_t* salt = nullptr;
    std::array<std::uint8_t, 16> iv{};
    const std::uint8_t* check = nullptr;  // 8 bytes and their checksum, when present
    bool macs = false;                    // the file's checksums are MACs
};

Crypt ReadCrypt(Cursor& c, bool withIv, const Limits& limits) {
    if (c.Number() != 0) Fail(Status::Unsupported);  // 0: AES-256, the only one there is
    const std::uint64_t flags = c.Number();
    Crypt crypt;
    crypt.kdfCount = *c.Bytes(1);
    crypt.salt = c.Bytes(16);
    if (withIv) std::copy_n(c.Bytes(16), 16, crypt.iv.begin());
    if (flags & kHasCheck) crypt.check = c.Bytes(12);
    crypt.macs = (flags & kMacChecksums) != 0;
    if (crypt.kdfCount > limits.maxKdfCount) Fail(Status::Unsupported);  // before any password is asked for
    return crypt;
}

std::mutex gKeysMutex;
std::map<std::tuple<std::string, std::vector<std::uint8_t>, unsigned>, Keys> gKeys;

// Keys derived in this process: recognising, checking and extracting each open the archive,
// and a volume of an archive made with -hp has a salt of its own.
Keys KeysFor(const Crypt& crypt, const std::string& password) {
    auto id = std::make_tuple(password, std::vector<std::uint8_t>(crypt.salt, crypt.salt + 16), crypt.kdfCount);
    std::optional<Keys> keys;
    {
        std::lock_guard lock(gKeysMutex);
        if (const auto it = gKeys.find(id); it != gKeys.end()) keys = it->second;
    }
    if (!keys) {
        keys = DeriveKeys(password, crypt.salt, crypt.kdfCount);
        if (!keys) Fail(Status::Unsupported);
        std::lock_guard lock(gKeysMutex);
        if (gKeys.size() < 64) gKeys.emplace(std::move(id), *keys);
    }
    // The check counts only when its own checksum (SHA-256's first 4 bytes) holds.
    if (crypt.check != nullptr) {
        platform::Sha256 sum;
        sum.Update(crypt.check, 8);
        const auto digest = sum.Finish();
        if (digest && std::equal(digest->begin(), digest->begin() + 4, crypt.check + 8) &&
            !std::equal(keys->check.begin(), keys->check.end(), crypt.check))
            Fail(Status::WrongPassword);
    }
    return *keys;
}

bool ReadAt(own::Input& in, std::uint64_t at, std::uint8_t* out, std::size_t size) {
    return in.Seek(at) && in.Read(out, size) == size;
}

// One header: its plain bytes (CRC, size, body) and how many bytes of the file it took.
struct Header {
    std::vector<std::uint8_t> bytes;
    std::size_t body = 0;  // where the body starts in `bytes`
    std::uint64_t stored = 0;
};

Header ReadHeader(own::Input& in, std::uint64_t at, const std::optional<Keys>& keys) {
    Header h;
    std::uint8_t first[16] = {};
    std::array<std::uint8_t, 16> iv{};
    std::uint64_t from = at;
    const std::size_t head = keys ? 16 : static_cast<std::size_t>(std::min<std::uint64_t>(7, in.Size() - at));
    if (keys) {
        if (!ReadAt(in, at, iv.data(), 16)) Fail();
        from += 16;
    }
    if (!ReadAt(in, from, first, head)) Fail();
    if (keys && !platform::DecryptAes256Cbc(keys->key, iv, first, first, 16)) Fail(Status::Unsupported);
    const std::uint8_t* p = first + 4;
    std::uint64_t size = 0;
    if (!ReadRar5Number(p, first + head, size) || size == 0 || size > kMaxHeader) Fail();
    h.body = static_cast<std::size_t>(p - first);
    const std::uint64_t total = h.body + size;
    const std::uint64_t stored = keys ? (total + 15) / 16 * 16 : total;
    h.bytes.resize(static_cast<std::size_t>(stored));
    if (!ReadAt(in, from, h.bytes.data(), h.bytes.size())) Fail();
    if (keys && !platform::DecryptAes256Cbc(keys->key, iv, h.bytes.data(), h.bytes.data(), h.bytes.size()))
        Fail(Status::Unsupported);
    h.bytes.resize(static_cast<std::size_t>(total));
    if (Crc32(0, h.bytes.data() + 4, h.bytes.size() - 4) != Le32(h.bytes.data())) Fail();
    h.stored = (from - at) + stored;
    return h;
}

// Where the next signature starts at or after `at`; the input's size when none does.
std::uint64_t NextSignature(own::Input& in, std::uint64_t at) {
    std::vector<std::uint8_t> chunk(64 * 1024);
    for (const std::uint64_t size = in.Size(); at < size;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size - at));
        if (!ReadAt(in, at, chunk.data(), n)) break;
        const auto found = std::search(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n), kSignature, kSignature + 8);
        if (found != chunk.begin() + static_cast<std::ptrdiff_t>(n)) return at + static_cast<std::uint64_t>(found - chunk.begin());
        if (n < 8 || at + n == size) break;
        at += n - 7;  // a signature may straddle two chunks
    }
    return in.Size();
}

// One volume's piece of a file's encrypted data, and where it starts in the file's packed stream.
struct Piece {
    std::uint64_t source = 0, stored = 0, streamStart = 0;
    CbcKey key;
};

// The packed stream of the file being read, which may go on in the next volume. The data is
// padded to whole blocks, and libarchive reads a compressed file's blocks up to its data's end:
// the end of the last block, found from the block headers, is where the data really ends.
struct Packed {
    std::uint64_t storedLeft = 0;  // a stored file's bytes still to come
    std::uint64_t blockAt = 0;     // where the next block header starts in the stream
    bool ended = false;            // the last block is found
    bool lost = false;             // a block header did not read: libarchive will say so
    std::optional<Piece> previous, current;

    // The block of the IV for the piece after `current`: CBC goes on across volumes.
    std::optional<std::array<std::uint8_t, 16>> chain;

    std::optional<std::uint8_t> PlainByte(own::Input& in, std::uint64_t at) const {
        const Piece* piece = current && at >= current->streamStart ? &*current : previous ? &*previous : nullptr;
        if (piece == nullptr || at < piece->streamStart || at - piece->streamStart >= piece->stored) return std::nullopt;
        const std::uint64_t offset = at - piece->streamStart, block = offset / 16 * 16;
        std::array<std::uint8_t, 16> iv = piece->key.iv;
        std::uint8_t plain[16];
        if ((block != 0 && !ReadAt(in, piece->source + block - 16, iv.data(), 16)) ||
            !ReadAt(in, piece->source + block, plain, 16) || !platform::DecryptAes256Cbc(piece->key.key, iv, plain, plain, 16))
            return std::nullopt;
        return plain[offset - block];
    }

    // Follows the block headers through the current piece, as far as they lie in it.
    void WalkBlocks(own::Input& in) {
        const std::uint64_t end = current->streamStart + current->stored;
        while (!ended && !lost && blockAt + 2 <= end) {
            const auto flags = PlainByte(in, blockAt), sum = PlainByte(in, blockAt + 1);
            const unsigned count = flags ? ((*flags >> 3) & 3) + 1 : 4;
            if (!sum || count == 4) {
                lost = true;
                return;
            }
            if (blockAt + 2 + count > end) return;  // the rest is in the next piece
            std::uint32_t size = 0;
            for (unsigned i = 0; i < count; ++i) {
                const auto b = PlainByte(in, blockAt + 2 + i);
                if (!b) lost = true;
                size |= static_cast<std::uint32_t>(b.value_or(0)) << (8 * i);
            }
            if (lost || static_cast<std::uint8_t>(0x5A ^ *flags ^ size ^ size >> 8 ^ size >> 16) != *sum) {
                lost = true;
                return;
            }
            blockAt += 2 + count + size;
            ended = (*flags & 0x40) != 0;
        }
    }
};

// HMAC-SHA256 (the key is shorter than SHA-256's block, so it is only padded).
std::optional<std::array<std::uint8_t, 32>> Hmac(const std::array<std::uint8_t, 32>& key, const std::uint8_t* data,
                                                std::size_t size) {
    std::uint8_t pad[64];
    platform::Sha256 inner, outer;
    std::fill(std::copy(key.begin(), key.end(), pad), pad + 64, 0);
    for (auto& b : pad) b ^= 0x36;
    inner.Update(pad, 64);
    inner.Update(data, size);
    const auto innerDigest = inner.Finish();
    for (auto& b : pad) b ^= 0x36 ^ 0x5C;
    outer.Update(pad, 64);
    if (!innerDigest) return std::nullopt;
    outer.Update(innerDigest->data(), innerDigest->size());
    return outer.Finish();
}

std::vector<std::uint8_t> WithCrc(const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> header(4);
    PutNumber(header, body.size());
    header.insert(header.end(), body.begin(), body.end());
    const std::uint32_t crc = Crc32(0, header.data() + 4, header.size() - 4);
    for (int i = 0; i < 4; ++i) header[i] = static_cast<std::uint8_t>(crc >> (8 * i));
    return header;
}

} // namespace

std::optional<Keys> DeriveKeys(const std::string& password, const std::uint8_t* salt, unsigned kdfCount) {
    // The rounds after the key's go on from it: PBKDF2 run for 16 and 32 rounds more gives them.
    if (kdfCount > 30) return std::nullopt;
    const std::uint32_t rounds = std::uint32_t{1} << kdfCount;
    const auto key = platform::Pbkdf2Sha256(password, salt, 16, rounds);
    const auto hashKey = platform::Pbkdf2Sha256(password, salt, 16, rounds + 16);
    const auto check = platform::Pbkdf2Sha256(password, salt, 16, rounds + 32);
    if (!key || !hashKey || !check) return std::nullopt;
    Keys keys{*key, *hashKey, {}};
    for (std::size_t i = 0; i < check->size(); ++i) keys.check[i % 8] ^= (*check)[i];
    return keys;
}

std::optional<std::uint32_t> CrcMac(const std::array<std::uint8_t, 32>& hashKey, std::uint32_t crc) {
    // The HMAC of the CRC's four bytes, little-endian, folded into 32 bits.
    const std::uint8_t raw[4] = {static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8),
                                 static_cast<std::uint8_t>(crc >> 16), static_cast<std::uint8_t>(crc >> 24)};
    const auto digest = Hmac(hashKey, raw, sizeof raw);
    if (!digest) return std::nullopt;
    std::uint32_t mac = 0;
    for (std::size_t i = 0; i < digest->size(); ++i) mac ^= static_cast<std::uint32_t>((*digest)[i]) << (8 * (i % 4));
    return mac;
}

DecryptedView::DecryptedView(std::unique_ptr<own::Input> input, Limits limits)
    : view_(std::move(input)), limits_(limits) {}

std::optional<DecryptedView::Mac> DecryptedView::MacAt(std::int64_t headerPosition) const {
    if (headerPosition < 0) return std::nullopt;
    const auto it = files_.lower_bound(static_cast<std::uint64_t>(headerPosition));
    return it == files_.end() ? std::nullopt : it->second;
}

Status DecryptedView::Open(const std::optional<std::string>& password) {
    own::Input& in = view_.Source();
    bool unchecked = false;  // the headers' key came with no check value
    const std::uint64_t size = in.Size();
    std::uint8_t start[8];
    if (!ReadAt(in, 0, start, 8) || !std::equal(start, start + 8, kSignature)) return Status::NotEncrypted;
    bool encrypted = false;
    std::optional<Keys> headerKeys;  // the current volume's, once its encryption header is read
    std::uint64_t fileAt = 0;  // where the header of the file being read lies in the view
    Packed packed;
    std::uint64_t at = 0;
    bool ended = false;  // the current volume's end header was read
    try {
        while (at < size) {
            std::uint8_t marker[8];
            if (size - at >= 8 && ReadAt(in, at, marker, 8) && std::equal(marker, marker + 8, kSignature)) {
                view_.AddRange(at, 8);
                at += 8;
                headerKeys.reset();
                ended = false;
                continue;
            }
            Header h;
            try {
                h = ReadHeader(in, at, headerKeys);
            } catch (const Stop& stop) {
                // With no check value to go by, a header that fails its CRC once decrypted
                // says the password is wrong.
                throw Stop{stop.status == Status::Damaged && unchecked ? Status::WrongPassword : stop.status};
            }
            Cursor c{h.bytes.data() + h.body, h.bytes.data() + h.bytes.size()};
            const std::uint64_t type = c.Number(), flags = c.Number();
            const std::uint64_t extraSize = (flags & kHasExtra) ? c.Number() : 0;
            const std::uint64_t dataSize = (flags & kHasData) ? c.Number() : 0;
            if (extraSize > static_cast<std::uint64_t>(c.end - c.p)) Fail();
            const std::uint64_t dataAt = at + h.stored;
            if (dataSize > size - std::min(size, dataAt)) Fail();

            if (type == kCrypt) {
                if (headerKeys) Fail();
                const Crypt crypt = ReadCrypt(c, false, limits_);
                namesEncrypted_ = encrypted = true;
                if (!password) return Status::NeedsPassword;
                headerKeys = KeysFor(crypt, *password);
                unchecked = crypt.check == nullptr;
                at = dataAt;
                continue;
            }

            // A file's encryption record, among the records that close its header. (Service
            // headers, such as the quick-open index, libarchive passes over unread.)
            std::optional<Crypt> crypt;
            std::optional<std::array<std::uint8_t, 32>> blake2;  // the hash record's, when a MAC
            const std::uint8_t* extraStart = c.end - extraSize;
            std::vector<std::uint8_t> extra;  // the records that stay
            if (type == kFile) {
                for (Cursor r{extraStart, c.end}; r.p < r.end;) {
                    const std::uint64_t recordSize = r.Number();
                    const std::uint8_t* record = r.p;
                    Cursor body{r.Bytes(recordSize), r.p};
                    const std::uint64_t recordType = body.Number();
                    if (recordType == kCryptRecord && !crypt) {
                        crypt = ReadCrypt(body, true, limits_);
                        continue;
                    }
                    if (recordType == kHashRecord && crypt && crypt->macs) {  // a MAC too: ours to check
                        if (body.Number() == kBlake2sp) std::copy_n(body.Bytes(32), 32, blake2.emplace().begin());
                        continue;
                    }
                    PutNumber(extra, recordSize);
                    extra.insert(extra.end(), record, r.p);
                }
            }
            const bool firstPart = (flags & kSplitBefore) == 0;
            if (type == kFile && firstPart) {
                fileAt = view_.Size();
                files_[fileAt] = std::nullopt;
            }
            if (!crypt) {
                if (headerKeys)
                    view_.AddBytes(h.bytes);
                else
                    view_.AddRange(at, h.stored);
                view_.AddRange(dataAt, dataSize);
            } else {
                encrypted = true;
                if (!password) return Status::NeedsPassword;
                const Keys keys = KeysFor(*crypt, *password);
                // The file's own fields, up to its name; its CRC may have to go.
                const std::uint64_t fileFlags = c.Number();
                const std::uint8_t* afterFlags = c.p;
                const std::uint64_t unpacked = c.Number();
                c.Number();  // attributes
                if (fileFlags & kFileTime) c.Bytes(4);
                const std::uint8_t* crcAt = c.p;
                const std::uint32_t crc = (fileFlags & kFileCrc) ? Le32(c.Bytes(4)) : 0;
                const std::uint8_t* afterCrc = c.p;
                const std::uint64_t method = c.Number() >> 7 & 7;
                if (extraStart < c.p) Fail();
                // A MAC, or a checksum of the stored bytes of a piece that goes on in the next
                // volume: neither is libarchive's to check.
                const bool dropCrc = (fileFlags & kFileCrc) && (crypt->macs || (flags & kSplitAfter));
                const std::uint64_t stored = dataSize / 16 * 16;
                if (firstPart) {
                    packed = Packed{};
                    packed.storedLeft = (fileFlags & kSizeUnknown) ? UINT64_MAX : unpacked;
                }
                packed.previous = packed.current;
                packed.current = Piece{dataAt, stored, packed.previous ? packed.previous->streamStart + packed.previous->stored : 0,
                                       CbcKey{keys.key, firstPart || !packed.chain ? crypt->iv : *packed.chain}};
                packed.chain.reset();
                if (stored >= 16) {
                    packed.chain.emplace();
                    if (!ReadAt(in, dataAt + stored - 16, packed.chain->data(), 16)) Fail();
                }
                // Only the last piece is padded: a stored file ends with its size, a compressed
                // one with its last block.
                std::uint64_t plain = stored;
                if (method == 0) {
                    plain = std::min(plain, packed.storedLeft);
                    packed.storedLeft -= plain;
                } else if (type == kFile) {
                    packed.WalkBlocks(in);
                    if (!(flags & kSplitAfter) && packed.ended && packed.blockAt >= packed.current->streamStart &&
                        packed.blockAt <= packed.current->streamStart + stored)
                        plain = packed.blockAt - packed.current->streamStart;
                }

                std::vector<std::uint8_t> body;
                PutNumber(body, type);
                PutNumber(body, (flags & ~std::uint64_t{kHasExtra}) | (extra.empty() ? 0 : std::uint64_t{kHasExtra}));
                if (!extra.empty()) PutNumber(body, extra.size());
                if (flags & kHasData) PutNumber(body, plain);
                PutNumber(body, dropCrc ? fileFlags & ~kFileCrc : fileFlags);
                body.insert(body.end(), afterFlags, dropCrc ? crcAt : afterCrc);
                body.insert(body.end(), afterCrc, extraStart);
                body.insert(body.end(), extra.begin(), extra.end());
                view_.AddBytes(WithCrc(body));
                view_.AddRange(dataAt, plain, packed.current->key, stored);
                if (type == kFile && (flags & kSplitAfter) == 0 && crypt->macs && ((fileFlags & kFileCrc) || blake2)) {
                    files_[fileAt] = Mac{keys.hashKey, std::nullopt, blake2};
                    if (fileFlags & kFileCrc) files_[fileAt]->crc = crc;
                }
            }
            at = dataAt + dataSize;
            if (type == kEnd) {
                ended = true;
                volumeFollows_ = (c.Number() & kNotLastVolume) != 0;
                // A volume may be padded after its end: the next one starts at its signature.
                const std::uint64_t next = NextSignature(in, at);
                view_.AddRange(at, next - at);
                at = next;
            }
        }
    } catch (const Stop& stop) {
        if (stop.status != Status::Damaged) return stop.status;
        // Damage ends the walk: libarchive reads on to it, and says so.
        view_.AddRange(at, size - std::min(size, at));
    }
    cut_ = !ended;
    return encrypted ? Status::Ok : Status::NotEncrypted;
}

DataCheck::DataCheck(DecryptedView::Mac mac) : mac_(std::move(mac)) {
    if (mac_.blake2) blake2_.emplace();
}

void DataCheck::Update(const std::uint8_t* data, std::size_t size) {
    if (mac_.crc) crc_ = Crc32(crc_, data, size);
    if (blake2_) blake2_->Update(data, size);
}

bool DataCheck::Matches() {
    const auto& key = mac_.hashKey;
    if (mac_.crc && (key ? CrcMac(*key, crc_) : crc_) != mac_.crc) return false;
    if (!blake2_) return true;
    // A BLAKE2sp hash is kept as its HMAC, whole.
    const auto hash = blake2_->Finish();
    return (key ? Hmac(*key, hash.data(), hash.size()) : hash) == mac_.blake2;
}

} // namespace rar5

} // namespace dexalo::archivers
