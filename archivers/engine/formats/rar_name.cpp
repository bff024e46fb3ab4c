#include "engine/formats/rar_name.h"
#include "engine/codecs/bytes.h"

#include <algorithm>
#include <cstring>

#include "engine/input/volumes.h"

namespace dexalo::archivers {

namespace {

constexpr unsigned char kMainHeader = 0x73;
constexpr unsigned char kFileHeader = 0x74;
constexpr unsigned char kEndOfArchive = 0x7B;
constexpr unsigned kVolume = 0x0001;      // main header: one volume of a set
constexpr unsigned kNextVolume = 0x0001;  // end header: another volume follows
constexpr unsigned kLongBlock = 0x8000;   // a data size follows the header
constexpr unsigned kLargeSizes = 0x0100;  // 64-bit sizes: the name starts 8 bytes later
constexpr unsigned kUnicodeName = 0x0200;
// Only a handful of blocks (marker, archive header, comments) ever precede an entry's header.
constexpr int kMaxBlocks = 16;
// A volume's walk to its end header passes every entry's header: bounded all the same.
constexpr int kMaxWalk = 1 << 20;
constexpr std::uint64_t kMaxRar5Header = 2u << 20;  // RAR 5 headers are at most 2 MB




bool ReadAll(JoinedFile& in, void* data, std::size_t size) {
    return in.Read(static_cast<std::uint8_t*>(data), size) == size;
}

// After the marker: the main header's volume flag and the end header's.
RarVolumeFlags Rar4Volume(JoinedFile& in) {
    RarVolumeFlags flags;
    for (int block = 0; block < kMaxWalk; ++block) {
        const std::uint64_t at = in.Position();
        unsigned char head[11];
        if (!ReadAll(in, head, 7)) break;
        const unsigned type = head[2], bits = Le16(head + 3), size = Le16(head + 5);
        if (size < 7) break;
        if (type == kMainHeader && !(flags.volume = bits & kVolume)) break;  // no volume: nothing follows it
        if (type == kEndOfArchive) {
            flags.more = bits & kNextVolume;
            break;
        }
        std::uint64_t data = 0;
        if (bits & kLongBlock) {
            if (size < 11 || !ReadAll(in, head + 7, 4)) break;
            data = Le32(head + 7);
            unsigned char high[4];  // a file's packed size above 4 GB
            if (type == kFileHeader && (bits & kLargeSizes) &&
                (size < 36 || !in.Seek(at + 32) || !ReadAll(in, high, 4)))
                break;
            if (type == kFileHeader && (bits & kLargeSizes)) data |= static_cast<std::uint64_t>(Le32(high)) << 32;
        }
        if (!in.Seek(at + size + data)) break;
    }
    return flags;
}

RarVolumeFlags Rar5Volume(JoinedFile& in, bool wholeArchive) {
    constexpr unsigned kMain = 1, kCrypt = 4, kEnd = 5, kHasExtra = 1, kHasData = 2;
    RarVolumeFlags flags;
    flags.cut = true;  // until the end header, or what hides it, is met
    for (int block = 0;; ++block) {
        if (block == kMaxWalk) {
            flags.cut = false;  // too long a walk to tell
            break;
        }
        const std::uint64_t at = in.Position();
        unsigned char start[7];  // the header's CRC, then its size (a number of 1 to 3 bytes)
        const unsigned char* p = start + 4;
        std::uint64_t size = 0;
        if (!ReadAll(in, start, sizeof start) || !ReadRar5Number(p, start + 7, size) || size == 0 || size > kMaxRar5Header)
            break;
        const auto sizeLength = static_cast<std::uint64_t>(p - (start + 4));
        std::string header(static_cast<std::size_t>(size), '\0');
        if (!in.Seek(at + 4 + sizeLength) || !ReadAll(in, header.data(), header.size())) break;
        p = reinterpret_cast<const unsigned char*>(header.data());
        const unsigned char* end = p + header.size();
        std::uint64_t type = 0, bits = 0, extra = 0, data = 0, own = 0;
        if (!ReadRar5Number(p, end, type) || !ReadRar5Number(p, end, bits) || ((bits & kHasExtra) && !ReadRar5Number(p, end, extra)) ||
            ((bits & kHasData) && !ReadRar5Number(p, end, data)))
            break;
        // Behind an encryption header (rar -hp) the flags cannot be read without the password:
        // the file's name says it is a volume, and the last one found is taken to be the last.
        if (type == kCrypt) {
            flags.volume = true;
            flags.cut = false;
            break;
        }
        if ((type == kMain || type == kEnd) && !ReadRar5Number(p, end, own)) break;
        if (type == kMain && !(flags.volume = own & kVolume) && !wholeArchive) {
            flags.cut = false;
            break;
        }
        if (type == kEnd) {
            flags.more = own & kNextVolume;
            flags.cut = false;
            break;
        }
        if (!in.Seek(at + 4 + sizeLength + size + data)) break;
    }
    return flags;
}

} // namespace

bool ReadRar5Number(const unsigned char*& p, const unsigned char* end, std::uint64_t& value) {
    value = 0;
    for (int shift = 0; p < end && shift < 64; shift += 7) {
        const unsigned char c = *p++;
        value |= static_cast<std::uint64_t>(c & 0x7F) << shift;
        if ((c & 0x80) == 0) return true;
    }
    return false;
}

std::optional<RarVolumeFlags> RarVolume(const std::wstring& path, bool wholeArchive) {
    JoinedFile in({path});
    unsigned char marker[8];
    if (!ReadAll(in, marker, 7) || std::memcmp(marker, "Rar!\x1A\x07", 6) != 0) return std::nullopt;
    if (marker[6] == 0) return Rar4Volume(in);
    if (marker[6] == 1 && ReadAll(in, marker + 7, 1) && marker[7] == 0) return Rar5Volume(in, wholeArchive);
    return std::nullopt;
}

std::optional<std::string> Rar4CodePageName(const std::vector<std::wstring>& pieces, std::int64_t headerPosition) {
    JoinedFile in(pieces);
    if (headerPosition < 0 || !in.Seek(static_cast<std::uint64_t>(headerPosition))) return std::nullopt;
    for (int block = 0; block < kMaxBlocks; ++block) {
        unsigned char head[7];
        if (!ReadAll(in, head, sizeof head)) return std::nullopt;
        if (std::memcmp(head, "Rar!\x1A\x07\x00", sizeof head) == 0) continue;
        const unsigned type = head[2], flags = Le16(head + 3), size = Le16(head + 5);
        if (size < sizeof head || type == kEndOfArchive) return std::nullopt;
        std::string body(size - sizeof head, '\0');
        if (!ReadAll(in, body.data(), body.size())) return std::nullopt;
        const auto* b = reinterpret_cast<const unsigned char*>(body.data());
        if (type != kFileHeader) {
            if ((flags & kLongBlock) && body.size() >= 4 && !in.Skip(Le32(b))) return std::nullopt;
            continue;
        }
        // The header's own CRC makes sure this is the header libarchive read, not stray bytes.
        const std::uint32_t crc = Crc32(Crc32(0, head + 2, sizeof head - 2), b, body.size());
        if ((crc & 0xFFFF) != Le16(head) || (flags & kUnicodeName) || body.size() < 25) return std::nullopt;
        const std::size_t at = (flags & kLargeSizes) ? 33 : 25;
        const std::size_t length = Le16(b + 19);
        if (at + length > body.size()) return std::nullopt;
        return body.substr(at, length);
    }
    return std::nullopt;
}

Rar5FileData Rar5File(JoinedFile& in, std::int64_t headerPosition) {
    constexpr unsigned kFile = 2, kEnd = 5, kHasExtra = 1, kHasData = 2, kSplit = 0x08 | 0x10, kCryptRecord = 1, kHashRecord = 2;
    constexpr unsigned kHasTime = 0x02, kHasCrc = 0x04;
    Rar5FileData file;
    if (headerPosition < 0 || !in.Seek(static_cast<std::uint64_t>(headerPosition))) return file;
    for (int block = 0; block < kMaxBlocks; ++block) {
        const std::uint64_t at = in.Position();
        unsigned char start[8];  // the header's CRC, then its size (a number of 1 to 3 bytes)
        if (!ReadAll(in, start, sizeof start)) return file;
        if (std::memcmp(start, "Rar!\x1A\x07\x01\x00", sizeof start) == 0) continue;
        const unsigned char* p = start + 4;
        std::uint64_t size = 0;
        if (!ReadRar5Number(p, start + 7, size) || size == 0 || size > kMaxRar5Header) return file;
        const auto sizeLength = static_cast<std::size_t>(p - (start + 4));
        std::string header(sizeLength + size, '\0');
        if (!in.Seek(at + 4) || !ReadAll(in, header.data(), header.size())) return file;
        const auto* h = reinterpret_cast<const unsigned char*>(header.data());
        if (Crc32(0, h, header.size()) != Le32(start)) return file;  // not the header libarchive read
        const unsigned char* end = h + header.size();
        p = h + sizeLength;
        std::uint64_t type = 0, flags = 0, extra = 0, data = 0;
        if (!ReadRar5Number(p, end, type) || !ReadRar5Number(p, end, flags)) return file;
        if ((flags & kHasExtra) && !ReadRar5Number(p, end, extra)) return file;
        if ((flags & kHasData) && !ReadRar5Number(p, end, data)) return file;
        if (type == kEnd || extra > static_cast<std::uint64_t>(end - p)) return file;
        if (type != kFile) {
            if (!in.Skip(data)) return file;
            continue;
        }
        // The file's own fields: flags, size, attributes, time, CRC, method.
        std::uint64_t fileFlags = 0, method = 0, ignored = 0;
        if (!ReadRar5Number(p, end, fileFlags) || !ReadRar5Number(p, end, ignored) || !ReadRar5Number(p, end, ignored) ||
            end - p < ((fileFlags & kHasTime) ? 4 : 0) + ((fileFlags & kHasCrc) ? 4 : 0))
            return file;
        p += (fileFlags & kHasTime) ? 4 : 0;
        const std::optional<std::uint32_t> crc = (fileFlags & kHasCrc) ? std::optional(Le32(p)) : std::nullopt;
        p += crc ? 4 : 0;
        if (!ReadRar5Number(p, end, method)) return file;
        const bool whole = (method >> 7 & 7) == 0 && (flags & kSplit) == 0;
        if (whole) file.storedCrc = crc;
        // The extra area closes the header, after the file's own fields and its name.
        for (p = end - extra; p < end;) {
            std::uint64_t recordSize = 0, recordType = 0, hashType = 0;
            if (!ReadRar5Number(p, end, recordSize) || recordSize > static_cast<std::uint64_t>(end - p)) return file;
            const unsigned char* next = p + recordSize;
            if (!ReadRar5Number(p, next, recordType)) return file;
            file.encrypted = file.encrypted || recordType == kCryptRecord;
            if (whole && recordType == kHashRecord && ReadRar5Number(p, next, hashType) && hashType == 0 && next - p >= 32)
                std::copy_n(p, 32, file.storedBlake2.emplace().begin());
            p = next;
        }
        return file;
    }
    return file;
}

} // namespace dexalo::archivers
