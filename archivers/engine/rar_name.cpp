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

} // namespace dexalo::archivers
