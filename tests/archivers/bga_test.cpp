// BGA archives made here, member by member, with zlib and libbz2, and read by our own reader.
#include <bzlib.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "engine/bga.h"

namespace dexalo::archivers::testing {
namespace {

using own::Status;
using namespace std::string_literals;

class Memory final : public own::Input {
public:
    explicit Memory(const std::string& bytes) : bytes_(bytes) {}
    std::size_t Read(std::uint8_t* data, std::size_t size) override {
        const std::size_t n = std::min(size, bytes_.size() - at_);
        if (n > 0) std::memcpy(data, bytes_.data() + at_, n);
        return at_ += n, n;
    }
    bool Skip(std::uint64_t size) override { return size <= bytes_.size() - at_ && (at_ += size, true); }

private:
    const std::string& bytes_;
    std::size_t at_ = 0;
};

std::string Gzip(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string Bzip2(const std::string& data) {
    auto size = static_cast<unsigned>(data.size() + data.size() / 100 + 600);
    std::string out(size, '\0');
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(data.data()), static_cast<unsigned>(data.size()), 9, 0, 0), BZ_OK);
    return out.substr(0, size);
}

// Little-endian, `bytes` wide.
std::string Le(std::uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
    return out;
}

// One member, dated 2021-03-04 05:06:08: the header under its byte sum, the names, the data.
std::string Member(const std::string& method, std::uint16_t arc, const std::string& packed, std::size_t original,
                   const std::string& folder, const std::string& file, std::uint8_t attributes = 0x20) {
    std::string h = method + Le(static_cast<std::uint32_t>(packed.size()), 4) + Le(static_cast<std::uint32_t>(original), 4) +
                    Le(41 << 9 | 3 << 5 | 4, 2) + Le(5 << 11 | 6 << 5 | 4, 2) + static_cast<char>(attributes) + '\0' +
                    Le(arc, 2) + Le(static_cast<std::uint32_t>(folder.size()), 2) + Le(static_cast<std::uint32_t>(file.size()), 2) + folder + file;
    std::uint32_t sum = 0;
    for (const char c : h) sum += static_cast<std::uint32_t>(static_cast<signed char>(c));
    return Le(sum, 4) + h + packed;
}
std::string Gz(const std::string& file, const std::string& data, std::uint8_t attributes = 0x20) {
    return Member("GZIP", 1, Gzip(data), data.size(), "", file, attributes);
}

// Words, so that the coders find something to do, and past one output block when asked.
std::string Prose(std::size_t size) {
    static const char* const kWords[] = {"member ", "header ", "\x95\x5C ", "gzip ", "\n", "bzip2 ", "sum ", "BGA "};
    std::string text;
    for (std::uint32_t x = 1; text.size() < size; x = x * 1103515245u + 12345u) text += kWords[x >> 16 & 7];
    return text;
}

struct Item {
    std::string name;
    bool directory = false, readOnly = false;
    std::uint64_t size = 0;
    std::string data;          // what Read handed out
    Status read = Status::Ok;  // how reading ended
    bool operator==(const Item&) const = default;
};
void PrintTo(const Item& i, std::ostream* os) {
    *os << '"' << i.name << "\" dir " << i.directory << " ro " << i.readOnly << " size " << i.size << " got " << i.data.size()
        << " status " << static_cast<int>(i.read);
}
struct Listing {
    Status open = Status::Ok, end = Status::Ok;
    std::vector<Item> items;
    std::int64_t mtime = 0;
    std::size_t largestBlock = 0;
};

// Reads at most `blocks` blocks of each entry before going on to the next.
Listing ReadAll(const std::string& archive, int blocks = 1 << 20) {
    Memory input(archive);
    bga::Reader reader(input);
    Listing l;
    if ((l.open = reader.Open()) != Status::Ok) return l;
    own::Entry e;
    while (l.items.size() < 20 && (l.end = reader.Next(e)) == Status::Ok) {
        Item item{e.name, e.directory, e.readOnly, e.size, "", Status::Ok};
        const std::uint8_t* data = nullptr;
        std::size_t n = 0;
        for (int b = 0; b < blocks && (item.read = reader.Read(data, n)) == Status::Ok && n > 0; ++b) {
            item.data.append(reinterpret_cast<const char*>(data), n);
            l.largestBlock = std::max(l.largestBlock, n);
        }
        l.items.push_back(item);
        l.mtime = e.mtime;
    }
    return l;
}

TEST(BgaArchives, EveryKindOfMemberReadsByteExactInBlocks) {
    const std::string prose = Prose(600000), raw("\0\xFF raw\r\n", 8);
    const std::string archive = Gz("docs\\a.txt", "hello\n", 0x21) + Member("BZ2\0"s, 0, Bzip2(prose), prose.size(), "docs\\", "big.txt") +
                                Member("GZIP", 2, raw, raw.size(), "", "raw.bin") + Member("GZIP", 1, "", 0, "docs\\sub\\", "", 0x10) +
                                Gz("empty", "") + Member("BZ2\0"s, 1, "", 0, "", "bare");
    const std::vector<Item> expected = {{"docs\\a.txt", false, true, 6, "hello\n"}, {"docs\\big.txt", false, false, prose.size(), prose},
                                        {"raw.bin", false, false, 8, raw},          {"docs\\sub\\", true, false, 0, ""},
                                        {"empty", false, false, 0, ""},             {"bare", false, false, 0, ""}};
    const Listing all = ReadAll(archive);
    EXPECT_EQ(all.items, expected);
    EXPECT_EQ(all.end, Status::End);
    EXPECT_EQ(all.largestBlock, 256u * 1024);
    std::tm tm{};
    tm.tm_year = 121, tm.tm_mon = 2, tm.tm_mday = 4, tm.tm_hour = 5, tm.tm_min = 6, tm.tm_sec = 8, tm.tm_isdst = -1;
    EXPECT_EQ(all.mtime, std::mktime(&tm));
    for (const int blocks : {0, 1}) {  // the data left unread is passed over
        const Listing some = ReadAll(archive, blocks);
        ASSERT_EQ(some.items.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(some.items[i].name, expected[i].name);
    }
}

TEST(BgaArchives, ArcTypeZeroStoresOnlyArchivesOfUnchangedSize) {
    const std::string raw = "PK\3\4 not gzip", packed = Gzip(raw);
    struct Row { const char* method; std::uint16_t arc; std::string folder, file; bool gzipped; Status read; } rows[] = {
        {"GZIP", 0, "", "a.zip", false, Status::Ok},       {"GZIP", 0, "", "B.LZH", false, Status::Ok},
        {"BZ2", 0, "", "x.tar.Gz", false, Status::Ok},     {"GZIP", 0, "", "f.z", false, Status::Ok},
        {"GZIP", 0, "\x95\x5C\\", "\x83\x5C.7z", false, Status::Ok}, {"GZIP", 0, "", "a.txt", false, Status::Damaged},
        {"GZIP", 0, "", "zip", false, Status::Damaged},    {"GZIP", 0, "", "a.zi", false, Status::Damaged},
        {"GZIP", 0, "d\\", "a.ZIP", false, Status::Ok}, {"GZIP", 0, "", "a.zip", true, Status::Ok},
        {"GZIP", 1, "", "a.zip", false, Status::Damaged},  {"GZIP", 2, "", "a.txt", false, Status::Ok},
        {"GZIP", 2, "", "a.txt", true, Status::Damaged},   {"GZIP", 3, "", "a.txt", false, Status::Unsupported},
        {"LZMA", 2, "", "a.txt", false, Status::Unsupported}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.folder + row.file + " arc " + std::to_string(row.arc) + (row.gzipped ? " gzipped" : ""));
        const std::string method = std::string(row.method) + std::string(4 - std::strlen(row.method), '\0');
        // An unknown method does not start an archive: a known member comes first.
        const Listing l = ReadAll(Gz("n", "n") + Member(method, row.arc, row.gzipped ? packed : raw, raw.size(), row.folder, row.file) + Gz("n", "n"));
        ASSERT_EQ(l.items.size(), 3u);
        EXPECT_EQ(l.items[1].read, row.read);
        EXPECT_EQ(l.items[1].data, row.read == Status::Ok ? raw : "");
        EXPECT_EQ(l.items[2].data, "n");  // whatever became of this member, the next one is read
    }
}

TEST(BgaArchives, ShiftJisNamesKeepTheirBytesAndOnlyARealBackslashMakesAFolder) {
    const std::string so = "\x83\x5C", hyo = "\x95\x5C";  // ソ and 表: both end in 0x5C
    struct Row { std::string folder, file; std::uint8_t attributes; bool directory; } rows[] = {
        {so + "\\", hyo, 0x20, false}, {"", hyo, 0x20, false}, {"", "\xE0\x5C", 0x20, false},  {so + "\\", "", 0x20, true},
        {"", "\xB1\\", 0x20, true},    {"", so, 0x10, true},   {hyo + "\\" + so + "\\", "", 0, true}};
    for (const Row& row : rows) {
        const Listing l = ReadAll(Member("GZIP", 1, Gzip("sjis"), 4, row.folder, row.file, row.attributes));
        ASSERT_EQ(l.items.size(), 1u);
        EXPECT_EQ(l.items[0], (Item{row.folder + row.file, row.directory, false, row.directory ? 0u : 4u, row.directory ? "" : "sjis"}));
    }
}

TEST(BgaArchives, BadHeadersRefusedFirstAsNotOursLaterAsDamaged) {
    const std::string one = Gz("one", "1"), two = Gz("two", "2");
    auto flip = [](std::string m, std::size_t at) { return m[at] = static_cast<char>(m[at] ^ 1), m; };
    struct Row { std::string archive; Status open; std::size_t items; Status end; } rows[] = {
        {one + two, Status::Ok, 2, Status::End},          {"", Status::NotOurs, 0, Status::Ok},
        {flip(one, 0), Status::NotOurs, 0, Status::Ok},   {Member("LZMA", 2, "x", 1, "", "x"), Status::NotOurs, 0, Status::Ok},
        {one + flip(two, 0), Status::Ok, 1, Status::Damaged},
        {one + flip(two, 28), Status::Ok, 1, Status::Damaged},  // the names are under the sum too
        {one + flip(two, 6), Status::Ok, 1, Status::Damaged},   {one + two.substr(0, 20), Status::Ok, 1, Status::Damaged},
        {one + two.substr(0, 30), Status::Ok, 1, Status::Damaged}};
    for (const Row& row : rows) {
        const Listing l = ReadAll(row.archive);
        EXPECT_EQ(l.open, row.open);
        EXPECT_EQ(l.items.size(), row.items);
        EXPECT_EQ(l.end, row.end);
    }
}

TEST(BgaArchives, DamagedOrCutDataIsDamagedAndNeverComplete) {
    const std::string prose = Prose(300000), gz = Gzip(prose), bz = Bzip2(prose);
    auto flip = [](std::string m, std::size_t at) { return m[at] = static_cast<char>(m[at] ^ 0x10), m; };
    struct Row { std::string archive; Status end; } rows[] = {  // after a cut, no clean end either
        {Member("GZIP", 1, flip(gz, gz.size() - 8), prose.size(), "", "crc"), Status::End},
        {Member("GZIP", 1, flip(gz, gz.size() / 2), prose.size(), "", "mid"), Status::End},
        {Member("GZIP", 1, gz, prose.size() + 1, "", "long"), Status::End},
        {Member("GZIP", 1, gz, prose.size() - 1, "", "short"), Status::End},
        {Member("BZ2\0"s, 1, flip(bz, bz.size() / 2), prose.size(), "", "b"), Status::End},
        {Member("BZ2\0"s, 1, bz, prose.size() + 1, "", "b"), Status::End},
        {Member("GZIP", 1, gz, prose.size(), "", "cut").substr(0, 40 + gz.size() / 2), Status::Damaged},
        {Member("GZIP", 2, prose, prose.size(), "", "cut").substr(0, 300000), Status::Damaged}};
    for (const Row& row : rows) {
        const Listing l = ReadAll(row.archive);
        EXPECT_EQ(l.end, row.end);
        ASSERT_EQ(l.items.size(), 1u);
        EXPECT_EQ(l.items[0].read, Status::Damaged);
        EXPECT_LT(l.items[0].data.size(), l.items[0].size);
    }
}

TEST(BgaArchives, SelfExtractingArchiveFoundWithinTheFirst64KiB) {
    std::string junk;
    for (std::uint32_t x = 7; junk.size() < 70000; x = x * 2654435761u + 1) junk += static_cast<char>(x >> 13);
    std::string decoy = Gz("decoy", "x");  // a whole member, but under a wrong sum
    decoy[0] = static_cast<char>(decoy[0] + 1);
    for (const std::size_t at : {std::size_t{0}, std::size_t{5000}, std::size_t{65535}, std::size_t{65536}}) {
        std::string prefix = junk.substr(0, at);
        if (at > 0) prefix.replace(at / 2, decoy.size(), decoy);
        const Listing l = ReadAll(prefix + Gz("in.txt", "inside"));
        EXPECT_EQ(l.open, at < 65536 ? Status::Ok : Status::NotOurs) << at;
        const Item inside{"in.txt", false, false, 6, "inside"};
        EXPECT_EQ(l.items, at < 65536 ? std::vector<Item>{inside} : std::vector<Item>{}) << at;
    }
}

} // namespace
} // namespace dexalo::archivers::testing
