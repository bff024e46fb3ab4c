#pragma once
// What the engine reads of RAR headers itself. RAR 4 names stored without the Unicode flag:
// libarchive turns every 0x5C byte of such a name into '/' before decoding it, second bytes
// of double-byte characters included (Shift-JIS ソ, 表, 能, 十...), which no later decoding
// can undo, so the engine decodes the stored bytes instead. RAR 5's encryption records, which
// libarchive 3.6 skips. And what a volume says of the volumes after it.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dexalo::archivers {

class JoinedFile;

// Positions are libarchive's header positions: offsets in the archive's pieces read as one.

// The stored name bytes ('\' separators) of the first RAR 4 file header at or after
// `headerPosition`; nullopt when that header carries the Unicode flag or cannot be read.
std::optional<std::string> Rar4CodePageName(const std::vector<std::wstring>& pieces, std::int64_t headerPosition);

// What the first RAR 5 file header at or after `headerPosition` in `archive` (the pieces read
// as one, kept open from entry to entry) says of its data that libarchive 3.6 passes over:
// whether it has an encryption record (libarchive skips it and would hand out the encrypted
// bytes as the entry's data); and, for a stored file not split between volumes, its CRC-32
// and BLAKE2sp hash, which libarchive checks only for compressed data. Nothing when no such
// header can be read there.
struct Rar5FileData {
    bool encrypted = false;
    std::optional<std::uint32_t> storedCrc;
    std::optional<std::array<std::uint8_t, 32>> storedBlake2;
};
Rar5FileData Rar5File(JoinedFile& archive, std::int64_t headerPosition);

// RAR 5's variable-length numbers: 7 bits a byte, lowest first, the top bit says more follow.
// False when the bytes end first (or after 10 bytes).
bool ReadRar5Number(const unsigned char*& p, const unsigned char* end, std::uint64_t& value);

struct RarVolumeFlags {
    bool volume = false;  // the main header says the file is a volume of a set
    bool more = false;    // its end header says another volume follows
    bool cut = false;     // RAR 5: the headers stop short of the end header (a download cut off)
};
// The flags of a RAR 4 or RAR 5 file (its headers walked to the end, not its data; with
// `wholeArchive`, those of a RAR 5 that is no volume too); nullopt when the file does not
// start as a RAR archive.
std::optional<RarVolumeFlags> RarVolume(const std::wstring& path, bool wholeArchive = false);

} // namespace dexalo::archivers
