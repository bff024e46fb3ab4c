#include "engine/names/zip_names.h"
#include "engine/codecs/bytes.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/input/volumes.h"
#include "engine/platform/platform.h"
#include "engine/names/entry_path.h"

namespace dexalo::archivers {

namespace {

constexpr unsigned kUtf8Flag = 1u << 11;
constexpr unsigned kUnicodePath = 0x7075;
constexpr unsigned kZip64 = 0x0001;
constexpr std::uint32_t kFar = 0xFFFFFFFFu;  // the real value is in the Zip64 field
constexpr std::size_t kTail = 16 * 1024;     // libarchive looks for the end record this near the end
constexpr std::uint64_t kLocalHeader = 30;

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

bool ReadAt(own::Input& in, std::uint64_t at, std::string& out, std::size_t size) {
    out.resize(size);
    return in.Seek(at) && in.Read(reinterpret_cast<std::uint8_t*>(out.data()), size) == size;
}

bool ReadOn(own::Input& in, char* out, std::size_t size) {
    return in.Read(reinterpret_cast<std::uint8_t*>(out), size) == size;
}

// Where the central directory starts, and the offset it gives for itself: the difference
// corrects every local header offset. Found as libarchive's seekable reader finds it, so that
// both agree on which header is which.
struct Directory {
    std::uint64_t start, recorded;
};

// In a split ZIP's pieces read as one (`split`), the directory lies just before its end
// record, whatever disks the record names; its offsets count within each piece.
std::optional<Directory> FindDirectory(own::Input& in, std::uint64_t size, bool split) {
    const std::size_t tail = static_cast<std::size_t>(std::min<std::uint64_t>(size, kTail));
    std::string t;
    if (tail < 22 || !ReadAt(in, size - tail, t, tail)) return std::nullopt;
    for (std::size_t i = tail - 22; i > 0; --i) {
        const unsigned char* e = Bytes(t) + i;
        if (std::memcmp(e, "PK\5\6", 4) != 0) continue;
        const std::uint64_t at = size - tail + i, cdSize = Le32(e + 12), cdOffset = Le32(e + 16);
        std::optional<Directory> found;
        if (Le16(e + 4) == 0 && Le16(e + 6) == 0 && Le16(e + 8) == Le16(e + 10) && cdOffset + cdSize <= at)
            found = Directory{at - cdSize, cdOffset};
        else if (split && cdSize <= at)
            found = Directory{at - cdSize, at - cdSize};
        // A Zip64 locator just before it overrides, recorded offsets uncorrected.
        const unsigned char* z = i >= 20 ? e - 20 : nullptr;
        std::string r;
        if (z != nullptr && std::memcmp(z, "PK\6\7", 4) == 0 && Le32(z + 4) == 0 && Le32(z + 16) == 1 &&
            ReadAt(in, Le64(z + 8), r, 56)) {
            const std::uint64_t length = Le64(Bytes(r) + 4) + 12;
            const unsigned char* p = Bytes(r);
            if (length >= 56 && length <= 16384 && Le32(p + 16) == 0 && Le32(p + 20) == 0 && Le64(p + 24) == Le64(p + 32))
                found = Directory{Le64(p + 48), Le64(p + 48)};
        }
        return found;
    }
    return std::nullopt;
}

struct Record {
    std::uint64_t offset;
    std::string name;
    bool flagged;
    std::optional<std::wstring> utf8;  // the stored name, when it is valid UTF-8
    std::optional<std::wstring> unicodePath;
};

// The extra fields of a central record: the Zip64 local header offset, and a Unicode Path
// whose CRC matches the stored name (any other is stale: the name was changed after it).
void ReadExtra(const unsigned char* head, const std::string& extra, Record& record) {
    const unsigned char* p = Bytes(extra);
    for (std::size_t at = 0; at + 4 <= extra.size();) {
        const std::uint32_t id = Le16(p + at), size = Le16(p + at + 2);
        const unsigned char* data = p + at + 4;
        if (at + 4 + size > extra.size()) break;
        at += 4 + size;
        if (id == kZip64 && record.offset == kFar) {
            const std::size_t skip = (Le32(head + 24) == kFar ? 8 : 0) + (Le32(head + 20) == kFar ? 8 : 0);
            if (size >= skip + 8) record.offset = Le64(data + skip);
        } else if (id == kUnicodePath && size > 5 && data[0] == 1) {
            const auto crc = ::crc32(0, Bytes(record.name), static_cast<uInt>(record.name.size()));
            auto text = FromStrictUtf8(std::string_view(reinterpret_cast<const char*>(data) + 5, size - 5));
            if (crc == Le32(data + 1) && text) record.unicodePath = std::move(text);
        }
    }
}

std::optional<std::vector<Record>> ReadRecords(const std::vector<std::wstring>& pieces, std::uint64_t& correction) {
    JoinedFile in(pieces);
    if (!in.IsOpen()) return std::nullopt;
    const std::optional<Directory> dir = FindDirectory(in, in.Size(), pieces.size() > 1);
    std::string head, rest;
    if (!dir || !ReadAt(in, dir->start, head, 4)) return std::nullopt;
    correction = dir->start - std::min(dir->start, dir->recorded);
    std::vector<Record> records;
    for (;;) {
        if (std::memcmp(head.data(), "PK\5\6", 4) == 0 || std::memcmp(head.data(), "PK\6\6", 4) == 0) break;
        if (std::memcmp(head.data(), "PK\1\2", 4) != 0) return std::nullopt;  // libarchive gives up here too
        head.resize(46);
        if (!ReadOn(in, head.data() + 4, 42)) return std::nullopt;
        const unsigned char* h = Bytes(head);
        const std::size_t nameSize = Le16(h + 28), extraSize = Le16(h + 30), commentSize = Le16(h + 32);
        rest.resize(nameSize + extraSize);
        if (!ReadOn(in, rest.data(), rest.size()) || !in.Skip(commentSize)) return std::nullopt;
        std::string name = rest.substr(0, nameSize);
        Record record{Le32(h + 42), name, (Le16(h + 8) & kUtf8Flag) != 0, FromStrictUtf8(name), std::nullopt};
        ReadExtra(h, rest.substr(nameSize), record);
        records.push_back(std::move(record));
        if (!ReadOn(in, head.data(), 4)) return std::nullopt;
    }
    return records;
}

bool Ascii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

std::shared_ptr<const ZipNames> ReadZipNames(const std::vector<std::wstring>& pieces) {
    std::uint64_t correction = 0;
    auto records = ReadRecords(pieces, correction);
    if (!records) return nullptr;
    auto names = std::make_shared<ZipNames>();
    bool any = false, all = true;
    for (const Record& r : *records) {
        if (r.flagged || Ascii(r.name)) continue;
        any = true;
        all = all && r.utf8;
    }
    names->utf8 = any && all;
    for (Record& r : *records) {
        ZipNames::Name name;
        name.utf8 = r.flagged || names->utf8;
        // Among OEM names, one that happens to be valid UTF-8 is OEM text too; a flagged name
        // that is not valid UTF-8 is read in the OEM code page.
        if (!name.utf8) r.utf8.reset();
        name.unicode = r.unicodePath || r.utf8;
        name.text = r.unicodePath ? std::move(*r.unicodePath) : r.utf8 ? std::move(*r.utf8) : platform::FromOem(r.name);
        // Entries that share a local header: libarchive reads the first one only.
        names->entries.emplace(r.offset + correction, std::move(name));
    }
    return names;
}

std::optional<ZipEntryText> ZipEntryAt(const ZipNames& names, bool byEntry, std::uint64_t at) {
    ZipEntryText text{std::nullopt, names.utf8, names.utf8};
    // Just past its local header the reader stands at the entry's data: the header is the
    // nearest one before, at most a header's length (with its name and extra field) away.
    auto it = names.entries.lower_bound(at);
    if (!byEntry || it == names.entries.begin()) return text;
    --it;
    const std::uint64_t distance = at - it->first;
    if (distance < kLocalHeader || distance > kLocalHeader + 2 * 0xFFFF) return text;
    return ZipEntryText{it->second.text, it->second.unicode, it->second.utf8};
}

} // namespace dexalo::archivers
