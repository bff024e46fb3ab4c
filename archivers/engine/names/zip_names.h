#pragma once
// ZIP names, read by the engine from the central directory.
//
// A ZIP made on a Mac stores UTF-8 names (decomposed) without the UTF-8 flag; one made on a
// Japanese Windows stores Shift-JIS names without it. An archive's unflagged names are read
// as UTF-8 when every non-ASCII one of them is valid UTF-8 (Shift-JIS text practically never
// is), else in the OEM code page; that decision needs all names before libarchive reads the
// first one.
//
// Info-ZIP's Unicode Path field (0x7075) names an entry in UTF-8 beside its stored name, and
// counts only while the CRC-32 it carries matches the stored name's bytes. libarchive 3.6
// reads the field from local headers only, and checks its CRC against the name as converted
// to the C runtime's locale: a Shift-JIS name with a good field keeps its stored name, and
// where that conversion fails the check is skipped, so a stale field wins. The engine
// therefore names each entry from the central directory itself.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dexalo::archivers {

struct ZipNames {
    struct Name {
        std::wstring text;
        bool unicode = false;  // stored as UTF-8 (the entry's flag, the archive's choice, a 0x7075 field)
        bool utf8 = false;     // the entry's own texts (its name, a link target) are UTF-8
    };
    bool utf8 = false;  // names without the UTF-8 flag are UTF-8
    // By where each entry's local header starts in the file (offsets corrected as libarchive
    // corrects them for data glued in front, such as a self-extractor).
    std::map<std::uint64_t, Name> entries;
};

// From the archive's pieces read as one (the central directory lies in the last); nullptr when
// no central directory can be found or read there.
std::shared_ptr<const ZipNames> ReadZipNames(const std::vector<std::wstring>& pieces);

struct ZipEntryText {
    std::optional<std::wstring> name;  // nullopt: libarchive's name stands
    bool unicode = false;              // that name was stored as UTF-8
    bool utf8 = false;                 // the texts libarchive converts for the entry are UTF-8
};
// For the entry whose data starts at `at` (where a reader stands right after its header).
// With `byEntry` false (the reader works from the local headers, where it may meet entries
// the directory does not list) only the choice of charset stands.
std::optional<ZipEntryText> ZipEntryAt(const ZipNames& names, bool byEntry, std::uint64_t at);

} // namespace dexalo::archivers
