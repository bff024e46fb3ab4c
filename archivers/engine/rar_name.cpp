#include "engine/rar_name.h"

#include <cstring>
#include <fstream>

#include "engine/platform.h"

namespace dexalo::archivers {

namespace {

constexpr unsigned char kFileHeader = 0x74;
constexpr unsigned char kEndOfArchive = 0x7B;
constexpr unsigned kLongBlock = 0x8000;   // a data size follows the header
constexpr unsigned kLargeSizes = 0x0100;  // 64-bit sizes: the name starts 8 bytes later
constexpr unsigned kUnicodeName = 0x0200;
// Only a handful of blocks (marker, archive header, comments) ever precede an entry's header.
constexpr int kMaxBlocks = 16;

unsigned Le16(const unsigned char* p) { return p[0] | (p[1] << 8); }
std::uint32_t Le32(const unsigned char* p) { return Le16(p) | (static_cast<std::uint32_t>(Le16(p + 2)) << 16); }

// CRC-32 (zlib's), bit by bit: only a header's few dozen bytes go through it.
std::uint32_t Crc32(std::uint32_t crc, const unsigned char* p, std::size_t n) {
    crc = ~crc;
    while (n-- > 0) {
        crc ^= *p++;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// RAR 5's variable-length numbers: 7 bits a byte, lowest first, the top bit says more follow.
bool ReadVint(const unsigned char*& p, const unsigned char* end, std::uint64_t& value) {
    value = 0;
    for (int shift = 0; p < end && shift < 64; shift += 7) {
        const unsigned char c = *p++;
        value |= static_cast<std::uint64_t>(c & 0x7F) << shift;
        if ((c & 0x80) == 0) return true;
    }
    return false;
}

} // namespace

std::optional<std::string> Rar4CodePageName(const std::wstring& archivePath, std::int64_t headerPosition) {
    std::ifstream in(platform::SystemPath(platform::ToPath(archivePath)), std::ios::binary);
    if (headerPosition < 0 || !in.seekg(headerPosition)) return std::nullopt;
    for (int block = 0; block < kMaxBlocks; ++block) {
        unsigned char head[7];
        if (!in.read(reinterpret_cast<char*>(head), sizeof head)) return std::nullopt;
        if (std::memcmp(head, "Rar!\x1A\x07\x00", sizeof head) == 0) continue;
        const unsigned type = head[2], flags = Le16(head + 3), size = Le16(head + 5);
        if (size < sizeof head || type == kEndOfArchive) return std::nullopt;
        std::string body(size - sizeof head, '\0');
        if (!in.read(body.data(), static_cast<std::streamsize>(body.size()))) return std::nullopt;
        const auto* b = reinterpret_cast<const unsigned char*>(body.data());
        if (type != kFileHeader) {
            if ((flags & kLongBlock) && body.size() >= 4 && !in.seekg(Le32(b), std::ios::cur)) return std::nullopt;
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

bool Rar5FileEncrypted(const std::wstring& archivePath, std::int64_t headerPosition) {
    constexpr unsigned kFile = 2, kEnd = 5, kHasExtra = 1, kHasData = 2, kCryptRecord = 1;
    constexpr std::uint64_t kMaxHeader = 2u << 20;  // RAR 5 headers are at most 2 MB
    std::ifstream in(platform::SystemPath(platform::ToPath(archivePath)), std::ios::binary);
    if (headerPosition < 0 || !in.seekg(headerPosition)) return false;
    for (int block = 0; block < kMaxBlocks; ++block) {
        const std::streamoff at = in.tellg();
        unsigned char start[8];  // the header's CRC, then its size (a number of 1 to 3 bytes)
        if (!in.read(reinterpret_cast<char*>(start), sizeof start)) return false;
        if (std::memcmp(start, "Rar!\x1A\x07\x01\x00", sizeof start) == 0) continue;
        const unsigned char* p = start + 4;
        std::uint64_t size = 0;
        if (!ReadVint(p, start + 7, size) || size == 0 || size > kMaxHeader) return false;
        const auto sizeLength = static_cast<std::size_t>(p - (start + 4));
        std::string header(sizeLength + size, '\0');
        if (!in.seekg(at + 4) || !in.read(header.data(), static_cast<std::streamsize>(header.size()))) return false;
        const auto* h = reinterpret_cast<const unsigned char*>(header.data());
        if (Crc32(0, h, header.size()) != Le32(start)) return false;  // not the header libarchive read
        const unsigned char* end = h + header.size();
        p = h + sizeLength;
        std::uint64_t type = 0, flags = 0, extra = 0, data = 0;
        if (!ReadVint(p, end, type) || !ReadVint(p, end, flags)) return false;
        if ((flags & kHasExtra) && !ReadVint(p, end, extra)) return false;
        if ((flags & kHasData) && !ReadVint(p, end, data)) return false;
        if (type == kEnd || extra > static_cast<std::uint64_t>(end - p)) return false;
        if (type != kFile) {
            if (!in.seekg(static_cast<std::streamoff>(data), std::ios::cur)) return false;
            continue;
        }
        // The extra area closes the header, after the file's own fields and its name.
        for (p = end - extra; p < end;) {
            std::uint64_t recordSize = 0, recordType = 0;
            if (!ReadVint(p, end, recordSize) || recordSize > static_cast<std::uint64_t>(end - p)) return false;
            const unsigned char* next = p + recordSize;
            if (!ReadVint(p, next, recordType)) return false;
            if (recordType == kCryptRecord) return true;
            p = next;
        }
        return false;
    }
    return false;
}

} // namespace dexalo::archivers
