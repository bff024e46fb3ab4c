#pragma once
// The archiver libraries' contract, as the program calls them and our stand-ins answer:
// which libraries there are and their export prefixes, the entry record the find calls fill,
// and the result codes of our stand-ins.
#include <cstddef>
#include <cstdint>

// The ten outside archiver libraries, in the program's archive-type order (the index of its
// association boxes and version lines): file name without ".dll" and export prefix (also the
// main operation's name). OURS rows have a stand-in of ours that reads the named family, one
// DLL each (archivers/CMakeLists.txt reads these rows), with the interface the program calls:
// Count (the count, open, find and close calls, and a main operation of four arguments),
// Check (a check call and a main operation of two) or Join (a check call and the join of a
// split file's pieces, PCombine(path, folder)). OTHER rows have none.
#define DEXALO_ARCHIVER_LIBRARIES(OURS, OTHER) \
    OURS(unlha32, Unlha, Lzh, Count)           \
    OURS(unzip32, UnZip, Zip, Count)           \
    OURS(cab32, Cab, Cab, Count)               \
    OURS(tar32, Tar, Tar, Count)               \
    OURS(unarj32j, Unarj, Arj, Count)          \
    OURS(Ish32, Ish, Ish, Check)               \
    OURS(unrar32, Unrar, Rar, Count)           \
    OURS(bga32, Bga, Bga, Count)               \
    OTHER(Yz1, Yz1)                            \
    OURS(Jack32, Jack, Jak, Join)

namespace dexalo::archivers {

struct LibraryName {
    const char* file;    // for loading, without ".dll"
    const char* prefix;  // export names start with it
};
#define DEXALO_LIBRARY_NAME(file, prefix, ...) LibraryName{#file, #prefix},
inline constexpr LibraryName kLibraryNames[] = {DEXALO_ARCHIVER_LIBRARIES(DEXALO_LIBRARY_NAME, DEXALO_LIBRARY_NAME)};
#undef DEXALO_LIBRARY_NAME

// The entry record that the find calls fill. The program reads the stored path; our
// stand-ins fill the other fields for completeness.

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

// Our stand-ins' results. The main operation: 0 is success; each failure has its own code.
inline constexpr int kOk = 0;
inline constexpr int kErrorCannotOpen = 0x8010;    // missing, unreadable, or not this library's family
inline constexpr int kErrorCorrupt = 0x8020;       // damaged or truncated data
inline constexpr int kErrorUnsupported = 0x8030;   // compression method or encryption we cannot read
inline constexpr int kErrorCannotWrite = 0x8040;   // a folder or file could not be created or replaced
inline constexpr int kErrorRefused = 0x8050;       // entries skipped because their paths were unsafe
inline constexpr int kErrorCommandLine = 0x8060;   // the command line was not understood
inline constexpr int kErrorCancelled = 0x8080;     // the user stopped the extraction

// Find calls: 0 = entry found, -1 = no further entry, this = bad handle or argument.
inline constexpr int kFindEnd = -1;
inline constexpr int kFindError = 0x8070;

} // namespace dexalo::archivers
