// BGA archives made here, member by member, with zlib and libbz2, and read by our own reader.
#include <bzlib.h>
#include <zlib.h>

#include <numeric>

#include "archiver_test_support.h"
#include "engine/formats/bga.h"

namespace dexalo::archivers::testing {
namespace {

using namespace std::string_literals;

std::string Gzip(std::string data) {
    z_stream z{};
    std::string out(data.size() + 100, '\0');
    deflateInit2(&z, 9, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef*>(data.data()), z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data()), z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    return deflateEnd(&z), out.substr(0, z.total_out);
}
std::string Bzip2(std::string data) {
    auto size = static_cast<unsigned>(data.size() + 1000);
    std::string out(size, '\0');
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &size, data.data(), static_cast<unsigned>(data.size()), 9, 0, 0), BZ_OK);
    return out.substr(0, size);
}

std::string Le(std::uint64_t v, int bytes) { return bytes == 0 ? "" : static_cast<char>(v & 0xFF) + Le(v >> 8, bytes - 1); }
// One member, dated 2021-03-04 05:06:08: the header under its byte sum (of signed bytes), the
// names, the data.
std::string Member(const std::string& method, int arc, const std::string& packed, std::size_t original, const std::string& folder,
                   const std::string& file, char attributes = 0x20) {
    const std::string h = method + Le(packed.size(), 4) + Le(original, 4) + Le(kDosTime >> 16, 2) + Le(kDosTime, 2) + attributes + '\0' +
                          Le(arc, 2) + Le(folder.size(), 2) + Le(file.size(), 2) + folder + file;
    return Le(std::accumulate(h.begin(), h.end(), 0u, [](unsigned sum, signed char c) { return sum + c; }), 4) + h + packed;
}
std::string Gz(const std::string& file, const std::string& data) { return Member("GZIP", 1, Gzip(data), data.size(), "", file); }

TEST(BgaArchives, EveryKindOfMemberReadsByteExactInBlocks) {
    const std::string prose = Prose(600000), raw("\0\xFF raw\r\n", 8);
    const std::string archive =
        Member("GZIP", 1, Gzip("hello\n"), 6, "docs\\", "a.txt", 0x21) + Member("BZ2\0"s, 0, Bzip2(prose), prose.size(), "", "big") +
        Member("GZIP", 2, raw, raw.size(), "", "raw.bin") + Member("GZIP", 1, "", 0, "docs\\sub\\", "", 0x10) + Gz("empty", "") +
        Member("BZ2\0"s, 1, "", 0, "", "bare");  // an empty file may come with no stream
    const std::string listing = "docs\\a.txt* big raw.bin docs\\sub\\/ empty bare End";
    const OwnListing all = ReadOwn<bga::Reader>(archive);
    EXPECT_EQ(all.summary, listing);
    EXPECT_EQ(all.data, (Names{"hello\n", prose, raw, "", "", ""}));
    EXPECT_EQ(all.mtimes, std::vector<std::int64_t>(6, DosTimeSeconds()));
    EXPECT_EQ(all.largestBlock, 256u * 1024);
    // The data left unread is passed over.
    for (const int blocks : {0, 1}) EXPECT_EQ(ReadOwn<bga::Reader>(archive, blocks).summary, listing);
}

TEST(BgaArchives, HeadersNamesAndDamage) {
    const std::string one = Gz("one", "1"), two = Gz("two", "2"), so = "\x83\x5C", hyo = "\x95\x5C";  // ソ and 表: both end in 0x5C
    const std::string prose = Prose(300000), gz = Gzip(prose), bz = Bzip2(prose);
    const std::size_t n = prose.size();
    auto sjis = [](std::string folder, std::string file, char attr) { return Member("GZIP", 1, Gzip("?"), 1, folder, file, attr); };
    auto x = [](std::string method, std::string packed, std::size_t size) { return Member(method, 1, packed, size, "", "x"); };
    const struct { std::string archive, summary; } rows[] = {
        {one + two, "one two End"}, {"", "NotOurs"}, {Member("LZMA", 2, "x", 1, "", "x"), "NotOurs"},
        // The byte sum covers the fixed part and the names.
        {Flip(one, 0), "NotOurs"}, {one + Flip(two, 0), "one Damaged"}, {one + Flip(two, 6), "one Damaged"},
        {one + Flip(two, 28), "one Damaged"}, {one + two.substr(0, 20), "one Damaged"}, {one + two.substr(0, 30), "one Damaged"},
        // A self-extracting archive: the first header whose sum holds within the first 64 KiB.
        {Prose(5000) + Flip(two, 0) + Prose(99) + one, "one End"}, {Prose(65535) + one, "one End"}, {Prose(65536) + one, "NotOurs"},
        // Shift-JIS names kept byte for byte; only a '\' of its own makes a folder.
        {sjis(so + "\\", hyo, 0x20), so + "\\" + hyo + " End"}, {sjis("", "\xE0\x5C", 0x20), "\xE0\x5C End"},
        {sjis(hyo + "\\" + so + "\\", "", 0), hyo + "\\" + so + "\\/ End"}, {sjis("", "\xB1\\", 0x20), "\xB1\\/ End"},
        {sjis("", so, 0x10), so + "/ End"},
        // Damaged data: a bad check, a wrong size, cut short (no clean end after that either).
        {x("GZIP", Flip(gz, gz.size() - 8), n), "x! End"}, {x("GZIP", Flip(gz, gz.size() / 2), n), "x! End"},
        {x("GZIP", gz, n + 1), "x! End"}, {x("GZIP", gz, n - 1), "x! End"}, {x("BZ2\0"s, Flip(bz, bz.size() / 2), n), "x! End"},
        {x("BZ2\0"s, bz, n + 1), "x! End"}, {x("GZIP", gz, n).substr(0, 40 + gz.size() / 2), "x! Damaged"},
        {Member("GZIP", 2, prose, n, "", "x").substr(0, 300000), "x! Damaged"}};
    for (const auto& row : rows) EXPECT_EQ(ReadOwn<bga::Reader>(row.archive).summary, row.summary);
}

TEST(BgaArchives, ArcTypeZeroStoresArchivesThatKeptTheirSize) {
    const std::string raw = "PK\3\4 not gzip", one = Gz("one", "1");
    // Raw bytes taken as gzip are damaged ('!'); unknown methods and arc types unsupported ('?').
    const struct { std::string method; int type; bool gzipped; std::string name, mark; } rows[] = {
        {"GZIP", 0, false, "a.zip", ""}, {"BZ2\0"s, 0, false, "d\\x.tar.GZ", ""}, {"GZIP", 0, false, "\x95\x5C.7z", ""},
        {"GZIP", 0, true, "a.zip", ""},  {"GZIP", 0, false, "a.txt", "!"},       {"GZIP", 0, false, "zip", "!"},
        {"GZIP", 0, false, "a.zi", "!"}, {"GZIP", 1, false, "a.zip", "!"},       {"GZIP", 2, false, "a.txt", ""},
        {"GZIP", 2, true, "a.txt", "!"}, {"GZIP", 3, false, "a.txt", "?"},       {"LZMA", 2, false, "a.txt", "?"}};
    for (const auto& row : rows) {
        const std::string member = Member(row.method, row.type, row.gzipped ? Gzip(raw) : raw, raw.size(), "", row.name);
        EXPECT_EQ(ReadOwn<bga::Reader>(one + member + one).summary, "one " + row.name + row.mark + " one End");
    }
}

} // namespace
} // namespace dexalo::archivers::testing
