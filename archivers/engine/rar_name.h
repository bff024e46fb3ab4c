#pragma once
// RAR 4 names stored without the Unicode flag, read from the archive itself. libarchive
// turns every 0x5C byte of such a name into '/' before decoding it, second bytes of
// double-byte characters included (Shift-JIS ソ, 表, 能, 十...), which no later decoding
// can undo: the engine decodes the stored bytes instead.
#include <cstdint>
#include <optional>
#include <string>

namespace dexalo::archivers {

// The stored name bytes ('\' separators) of the first RAR 4 file header at or after
// `headerPosition`; nullopt when that header carries the Unicode flag or cannot be read.
std::optional<std::string> Rar4CodePageName(const std::wstring& archivePath, std::int64_t headerPosition);

// True when the first RAR 5 file header at or after `headerPosition` has an encryption
// record. libarchive 3.6 skips that record and would hand out the encrypted bytes as the
// entry's data; false when no such header can be read there.
bool Rar5FileEncrypted(const std::wstring& archivePath, std::int64_t headerPosition);

} // namespace dexalo::archivers
