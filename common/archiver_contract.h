#pragma once
// The 558-byte entry record that the find calls fill. Callers read the stored path;
// the other fields are filled for completeness.
#include <cstddef>
#include <cstdint>

namespace dexalo::archivers {

inline constexpr std::size_t kRecordPathSize = 513;  // 512 characters and the NUL

#pragma pack(push, 1)
struct EntryRecord {
    std::uint32_t originalSize;    // low 32 bits of the entry's size
    std::uint32_t compressedSize;  // low 32 bits, 0 when the format does not say
    std::uint32_t crc;             // 0: not kept
    std::uint32_t flag;            // 0
    std::uint32_t osType;          // 0
    std::uint16_t ratio;           // compressed / original in tenths of a percent, 0 when unknown
    std::uint16_t date;            // DOS date of the modification time
    std::uint16_t time;            // DOS time of the modification time
    char path[kRecordPathSize];    // stored path, ANSI, NUL-terminated
    char reserved[3];
    char attribute[8];             // "d" for a folder, "l" for a link, "-" otherwise, NUL-terminated
    char method[8];                // compression method, NUL-terminated
};
#pragma pack(pop)

static_assert(sizeof(EntryRecord) == 558, "the entry record is exactly 558 bytes");
static_assert(offsetof(EntryRecord, path) == 26, "the stored path starts at byte 26");

} // namespace dexalo::archivers
