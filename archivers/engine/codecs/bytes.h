#pragma once
// What the formats' own headers are made of: little-endian numbers and the CRC-32 of ZIP,
// ARJ and RAR.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace dexalo::archivers {

inline std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t Le32(const std::uint8_t* p) { return Le16(p) | static_cast<std::uint32_t>(Le16(p + 2)) << 16; }
inline std::uint64_t Le64(const std::uint8_t* p) { return Le32(p) | static_cast<std::uint64_t>(Le32(p + 4)) << 32; }

inline std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {  // zlib takes an unsigned int at a time
        const auto n = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        crc = static_cast<std::uint32_t>(::crc32(crc, data, n));
        data += n;
        size -= n;
    }
    return crc;
}

} // namespace dexalo::archivers
