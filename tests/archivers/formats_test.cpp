// Listing and extraction of archives made by Debian's own tools.

#include <iconv.h>
#include <zlib.h>

#include "archiver_test_support.h"
#include "engine/platform/platform_posix.h"
#include "engine/pipeline/resolve.h"

namespace dexalo::archivers::testing {
class Formats : public ::testing::Test {
protected:
    // top/a.txt, top/sub/b.txt (compressible), top/empty/, with a fixed time.
    void SetUp() override {
        WriteText(src_ / "top/a.txt", "alpha\n");
        std::string big;
        for (int i = 0; i < 4000; ++i) big += "line " + std::to_string(i) + "\n";
        WriteText(src_ / "top/sub/b.txt", big);
        WriteText(src_ / "top/日本語.txt", "nihongo\n");
        fs::create_directories(src_ / "top/empty");
        Shell(src_.path, "echo data > top/hole.bin && truncate -s 1M top/hole.bin && touch -d '2021-03-04 05:06:07' top/a.txt top/sub/b.txt");
    }
    // Runs a command in src/ with each '@' standing for out/.
    void Make(std::string command) {
        for (std::size_t at; (at = command.find('@')) != std::string::npos;) command.replace(at, 1, out_.path.string() + "/");
        Shell(src_.path, command);
    }
    ScratchDir src_, out_;
};

std::string Le(std::uint64_t value, int bytes) {
    std::string out;
    for (; bytes > 0; --bytes, value >>= 8) out += static_cast<char>(value);
    return out;
}
std::uint32_t Crc(const std::string& s) { return ::crc32(0, reinterpret_cast<const Bytef*>(s.data()), s.size()); }

// Text in another charset, by iconv (not the engine's own conversions).
std::string Iconv(const char* to, const char* from, std::string text) {
    const iconv_t cd = ::iconv_open(to, from);
    std::string out(text.size() * 4, '\0');
    char *in = text.data(), *dst = out.data();
    std::size_t inLeft = text.size(), dstLeft = out.size();
    ::iconv(cd, &in, &inLeft, &dst, &dstLeft);
    ::iconv_close(cd);
    return out.substr(0, out.size() - dstLeft);
}
std::string Sjis(const std::string& utf8) { return Iconv("CP932", "UTF-8", utf8); }

// パ as ハ and U+309A, ダ as タ and U+3099: the form macOS stores names in.
const std::string kPandaNfd = "写真/\u30CF\u309A\u30F3\u30BF\u3099.txt";
const std::string kPanda = "写真/\u30D1\u30F3\u30C0.txt";

// A stored RAR 5 (no tool here writes one): a folder and its file, names as given.
// A stored ZIP written byte by byte, for names no tool here stores: any bytes, with or without
// the UTF-8 flag, a Unicode Path field in either header. Folders end in '/'.
struct ZipItem {
    std::string name;
    bool flagged = false;
    std::string localExtra = {}, centralExtra = {};
};
void WriteZip(const fs::path& file, const std::vector<ZipItem>& items) {
    std::string body, dir;
    for (const ZipItem& item : items) {
        const std::string data = item.name.back() == '/' ? "" : "x";
        const std::string common = Le(item.flagged ? 0x800 : 0, 2) + Le(0, 2) + Le(0, 2) + Le(0x21, 2) + Le(Crc(data), 4) +
                                   Le(data.size(), 4) + Le(data.size(), 4) + Le(item.name.size(), 2);
        dir += "PK\1\2" + Le(20, 2) + Le(20, 2) + common + Le(item.centralExtra.size(), 2) + Le(0, 6) +
               Le(data.empty() ? 0x10 : 0, 4) + Le(body.size(), 4) + item.name + item.centralExtra;
        body += "PK\3\4" + Le(20, 2) + common + Le(item.localExtra.size(), 2) + item.name + item.localExtra + data;
    }
    WriteText(file, body + dir + "PK\5\6" + Le(0, 4) + Le(items.size(), 2) + Le(items.size(), 2) + Le(dir.size(), 4) +
                        Le(body.size(), 4) + Le(0, 2));
}
// An entry with Info-ZIP's Unicode Path field, in the central header and maybe the local one.
ZipItem WithPath(const std::string& stored, const std::string& utf8, bool inLocal, bool crcMatches = true) {
    const std::string field = Le(0x7075, 2) + Le(5 + utf8.size(), 2) + '\1' + Le(Crc(stored) ^ !crcMatches, 4) + utf8;
    return {stored, false, inLocal ? field : "", field};
}

// Each archive's count and listing, and its extraction giving back the source, times kept.
TEST_F(Formats, ListAndExtract) {
    const Names all = {"top/", "top/a.txt", "top/empty/", "top/hole.bin", "top/sub/", "top/sub/b.txt", "top/日本語.txt"};
    const struct {
        Family family;
        std::string make;  // '@' is out/
        Names listed;      // sorted
        std::string name = "a";
    } rows[] = {
        {Family::Zip, "zip -qr @a.zip top && mv @a.zip @a", all},
        // Deflate64 comes to our own reader; NTFS times (-mtc) keep the odd second.
        {Family::Zip, "7z a -bd -tzip -mm=Deflate64 -mtc=on @a.zip top >/dev/null && mv @a.zip @a", all},
        {Family::Tar, "tar cf @a top", all},
        {Family::Tar, "tar cSf @a top", all},   // sparse, ending in a hole
        {Family::Tar, "tar czf @a top", all},
        {Family::Tar, "tar cjf @a top", all},
        {Family::Tar, "tar cJf @a top", all},
        {Family::Tar, "tar c --zstd -f @a top", all},
        {Family::Tar, "tar c --lzma -f @a top", all},
        {Family::Tar, "tar cf - top | compress -c > @a", all},
        // 7z: LZMA2, solid with BCJ2 in front, PPMd, BZip2, Deflate.
        {Family::Tar, "7z a -bd -t7z -mx=9 @a.7z top >/dev/null && mv @a.7z @a", all},
        {Family::Tar, "7z a -bd -t7z -ms=on -mf=BCJ2 @a.7z top >/dev/null && mv @a.7z @a", all},
        {Family::Tar, "7z a -bd -t7z -m0=PPMd @a.7z top >/dev/null && mv @a.7z @a", all},
        {Family::Tar, "7z a -bd -t7z -m0=BZip2 @a.7z top >/dev/null && mv @a.7z @a", all},
        {Family::Tar, "7z a -bd -t7z -m0=Deflate @a.7z top >/dev/null && mv @a.7z @a", all},
        // jlha writes Shift-JIS names when asked to convert multibyte names ("y").
        {Family::Lzh, "LC_ALL=C.UTF-8 lha c0o5y @a.lzh top && mv @a.lzh @a", all},
        {Family::Lzh, "LC_ALL=C.UTF-8 lha c1o6y @a.lzh top && mv @a.lzh @a", all},
        {Family::Lzh, "LC_ALL=C.UTF-8 lha c2o7y @a.lzh top && mv @a.lzh @a", all},
        {Family::Cab, "gcab -c -z @a top/sub/b.txt", {"top\\sub\\b.txt"}},
        // A lone compressed stream is one entry named after the file.
        {Family::Tar, "cp top/sub/b.txt . && bzip2 -c b.txt > @b.txt.bz2 && rm b.txt", {"b.txt"}, "b.txt.bz2"},
    };
    for (const auto& row : rows) {
        const fs::path archive = out_ / row.name;
        Make(row.make);
        const std::string& make = row.make;
        Names listed = List(row.family, archive, "*");
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(listed, row.listed) << make;
        EXPECT_EQ(Count(row.family, archive), static_cast<int>(row.listed.size())) << make;
        ASSERT_EQ(Extract(row.family, archive, out_ / "x"), 0) << make;
        if (row.listed == all) {
            EXPECT_EQ(Tree(out_ / "x"), Tree(src_.path)) << make;
            if (row.family != Family::Lzh) {  // levels 0 and 1 keep local time
                EXPECT_EQ(fs::last_write_time(out_ / "x/top/a.txt"), fs::last_write_time(src_ / "top/a.txt")) << make;
            }
        } else {
            EXPECT_EQ(ReadText(out_ / "x" / (row.name == "a" ? "top/sub/b.txt" : "b.txt")),
                      ReadText(src_ / "top/sub/b.txt")) << make;
        }
        fs::remove_all(out_ / "x");
        fs::remove(archive);
    }
}

// Names stored decomposed (as macOS stores them) come out composed, on disk, in the listing and
// in link targets, whatever format carried them as Unicode.
TEST_F(Formats, DecomposedNamesComeComposed) {
    WriteText(src_ / kPandaNfd, "panda\n");
    fs::create_symlink(fs::path(kPandaNfd).filename(), src_ / "写真/link");
    const std::string panda = fs::path(kPanda).filename().string();
    const std::pair<Family, std::string> rows[] = {  // '@' is out/
        // Info-ZIP on Linux writes UTF-8 names without the flag and without a Unicode Path, as macOS does.
        {Family::Zip, "zip -qry @a.zip 写真 && mv @a.zip @a"},
        {Family::Zip, "zip -qry -fz @a.zip 写真 && mv @a.zip @a"},  // Zip64 end records
        {Family::Tar, "python3 -c \"import tarfile; t = tarfile.open('@a', 'w', format=tarfile.PAX_FORMAT); t.add('写真'); t.close()\""},
        {Family::Tar, "tar cf @a 写真"},
        {Family::Tar, "7z a -bd @a.7z 写真 >/dev/null && mv @a.7z @a"},
    };
    for (const auto& [family, make] : rows) {
        Make(make);
        Names listed = List(family, out_ / "a", "*");
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(listed, (Names{"写真/", "写真/link", kPanda})) << make;
        ASSERT_EQ(Extract(family, out_ / "a", out_ / "x"), 0) << make;
        EXPECT_EQ(Tree(out_ / "x"), (Files{{"写真/", ""}, {kPanda, "panda\n"}, {"写真/link", "-> " + panda}})) << make;
        fs::remove_all(out_ / "x");
        fs::remove(out_ / "a");
    }
}

TEST_F(Formats, WildcardsAndRar4Backslashes) {
    Make("zip -qr @t.zip top");
    EXPECT_EQ(List(Family::Zip, out_ / "t.zip", "top/S?B/*.TXT"), (Names{"top/sub/b.txt"}));
    EXPECT_EQ(List(Family::Rar, Fixture("stored.rar"), "*.*"), (Names{"top\\", "top\\a.txt", "top\\b.txt"}));
    ASSERT_EQ(Extract(Family::Rar, Fixture("stored.rar"), out_ / "x"), 0);
    EXPECT_EQ(Tree(out_ / "x"), (Files{{"top/", ""}, {"top/a.txt", "alpha\n"}, {"top/b.txt", "beta\n"}}));
}

// Recognition asks each library in turn: only the owner may accept a file.
TEST_F(Formats, EachLibraryTakesOnlyItsOwnFamily) {
    Make("zip -qr @a.zip top && tar czf @a.tgz top && gcab -c @a.cab top/a.txt && "
         "LC_ALL=C.UTF-8 lha c2o5 @a.lzh top && 7z a -bd @a.7z top >/dev/null && echo plain > @plain.txt");
    const std::pair<fs::path, Family> owners[] = {{out_ / "a.lzh", Family::Lzh}, {out_ / "a.zip", Family::Zip},
                                                  {out_ / "a.cab", Family::Cab}, {out_ / "a.tgz", Family::Tar},
                                                  {out_ / "a.7z", Family::Tar}, {Fixture("stored.rar"), Family::Rar}};
    for (Family family : {Family::Lzh, Family::Zip, Family::Cab, Family::Tar, Family::Rar}) {
        for (const auto& [file, owner] : owners) EXPECT_EQ(Count(family, file) >= 1, family == owner) << file;
        EXPECT_EQ(Count(family, out_ / "plain.txt"), -1);
        EXPECT_EQ(OpenArchive(family, (out_ / "plain.txt").c_str(), 512), 0u);
    }
}

// What the front end cannot tell apart gets its own code; a handle that is closed or another
// library's is refused; an archive changed since it was scanned is read again.
TEST_F(Formats, ErrorCodesHandlesAndChangedArchives) {
    Make("zip -qr @a.zip top/a.txt && tar cf @b.tar top/sub");
    const std::string dest = " \"" + (out_ / "x").string() + "/\"";
    EXPECT_EQ(archivers::Run(Family::Zip, ("x \"" + (out_ / "none.zip").string() + "\"" + dest).c_str(), nullptr, 0), kErrorCannotOpen);
    EXPECT_EQ(archivers::Run(Family::Zip, ("x \"" + (out_ / "b.tar").string() + "\"" + dest).c_str(), nullptr, 0), kErrorCannotOpen);
    for (const char* line : {"", "x", "q \"a.zip\" \"x/\""})
        EXPECT_EQ(archivers::Run(Family::Zip, line, nullptr, 0), kErrorCommandLine) << line;
    const std::uintptr_t zip = OpenArchive(Family::Zip, (out_ / "a.zip").c_str(), 512);
    EntryRecord record{};
    EXPECT_EQ(FindFirst(Family::Tar, zip, "*", &record), kFindError);
    EXPECT_EQ(CloseArchive(Family::Tar, zip), kFindError);
    EXPECT_EQ(CloseArchive(Family::Zip, zip), 0);
    EXPECT_EQ(FindFirst(Family::Zip, zip, "*", &record), kFindError);
    EXPECT_EQ(CloseArchive(Family::Zip, zip), kFindError);
    EXPECT_EQ(List(Family::Zip, out_ / "a.zip", "*"), (Names{"top/a.txt"}));
    Make("rm @a.zip && zip -qr @a.zip top/sub");
    EXPECT_EQ(List(Family::Zip, out_ / "a.zip", "*"), (Names{"top/sub/", "top/sub/b.txt"}));
}

const std::string kShiryo = "\x8E\x91\x97\xBF";          // 資料 in Shift-JIS
const std::string kHyo = "\x95\x5C";                     // 表, whose second byte is '\'
const std::string kNichi = "\x93\xFA";                   // 日
const std::string kSofuto = "\x83\x5C\x83\x74\x83\x67";  // ソフト: ソ ends in '\' too

// RAR 4 without the Unicode flag, CAB without the UTF-8 flag; libarchive turns every '\'
// byte of such a name into '/', second bytes included.
TEST(CodePageNames, ListedInTheAnsiCodePageAndWrittenInUnicode) {
    const struct {
        Family family;
        const char* fixture;
        Names listed;
        Files written;
    } rows[] = {
        {Family::Rar, "cp932.rar", {kShiryo + "\\", kShiryo + "\\a.txt", kNichi + ".txt"},
         {{"資料/", ""}, {"資料/a.txt", "alpha\n"}, {"日.txt", "nichi\n"}}},
        {Family::Rar, "cp932-backslash.rar", {kSofuto + "\\" + kHyo + ".txt", kHyo + "\\u.txt"},
         {{"ソフト/", ""}, {"ソフト/表.txt", "hyo\n"}, {"表/", ""}, {"表/u.txt", "utf\n"}}},
        {Family::Cab, "cp932.cab", {kShiryo + "\\" + kHyo + ".txt", kNichi + "\\u.txt"},
         {{"資料/", ""}, {"資料/表.txt", "hyo\n"}, {"日/", ""}, {"日/u.txt", "utf\n"}}},
    };
    platform::UseCodePages("CP932", "CP932");  // the code pages of a Japanese Windows
    ForgetResolved();
    for (const auto& row : rows) {
        ScratchDir dir;
        EXPECT_EQ(List(row.family, Fixture(row.fixture), "*"), row.listed) << row.fixture;
        EXPECT_EQ(Extract(row.family, Fixture(row.fixture), dir / "x"), 0) << row.fixture;
        EXPECT_EQ(Tree(dir / "x"), row.written) << row.fixture;
    }
    // ZIP without the UTF-8 flag: UTF-8 when all such names are, else the OEM code page.
    const std::string nihonUtf8 = "日本.txt";  // valid CP932 too
    const struct {
        std::vector<ZipItem> items;
        Names listed;
        Files written;
    } zips[] = {
        {{{"写真/"}, {kPandaNfd}}, {Sjis("写真/"), Sjis(kPanda)}, {{"写真/", ""}, {kPanda, "x"}}},
        // U+212B Å, CP932's own, is no NFC form: a code-page name keeps it.
        {{{Sjis("資料/")}, {Sjis("資料/表.txt")}, {Sjis("1\u212B.txt")}},
         {Sjis("資料/"), Sjis("資料/表.txt"), Sjis("1\u212B.txt")},
         {{"資料/", ""}, {"資料/表.txt", "x"}, {"1\u212B.txt", "x"}}},
        {{{nihonUtf8}, {Sjis("資料.txt")}}, {nihonUtf8, Sjis("資料.txt")},
         {{Iconv("UTF-8", "CP932", nihonUtf8), "x"}, {"資料.txt", "x"}}},
        // Names CP932 cannot hold are listed with '?', and written as they are.
        {{{"한국어😀.txt", true}, {Sjis("資料.txt")}, {"abc.txt"}}, {"????.txt", Sjis("資料.txt"), "abc.txt"},
         {{"한국어😀.txt", "x"}, {"資料.txt", "x"}, {"abc.txt", "x"}}},
        {{{"한국어😀.txt"}}, {"????.txt"}, {{"한국어😀.txt", "x"}}},
        // A Unicode Path counts in either header while its CRC matches the stored name.
        {{WithPath(Sjis("資料.txt"), "ユニ.txt", true), WithPath("abc.txt", "アスキー.txt", false),
          WithPath("p.txt", "\u30CF\u309A.txt", true), WithPath(Sjis("表.txt"), "違う.txt", true, false),
          WithPath("def.txt", "違う.txt", false, false)},
         {Sjis("ユニ.txt"), Sjis("アスキー.txt"), Sjis("パ.txt"), Sjis("表.txt"), "def.txt"},
         {{"ユニ.txt", "x"}, {"アスキー.txt", "x"}, {"パ.txt", "x"}, {"表.txt", "x"}, {"def.txt", "x"}}},
    };
    for (const auto& zip : zips) {
        ScratchDir dir;
        WriteZip(dir / "a.zip", zip.items);
        EXPECT_EQ(List(Family::Zip, dir / "a.zip", "*"), zip.listed) << zip.listed[0];
        EXPECT_EQ(Extract(Family::Zip, dir / "a.zip", dir / "x"), 0) << zip.listed[0];
        EXPECT_EQ(Tree(dir / "x"), zip.written) << zip.listed[0];
    }
    // A wildcard matches the record's form of the name.
    EXPECT_EQ(List(Family::Rar, Fixture("cp932-backslash.rar"), "*\\" + kHyo + ".txt"), (Names{kSofuto + "\\" + kHyo + ".txt"}));
    platform::UseCodePages({}, {});
    ForgetResolved();
}

// The engine finds each entry's central record as libarchive does, glued behind a
// self-extractor too; a damaged directory (cut anywhere, any byte changed) gives an
// extraction code, never a crash (the sanitizers watch).
TEST(ZipNames, FoundBehindAStubAndSafeWhenDamaged) {
    ScratchDir dir;
    WriteZip(dir / "a.zip", {WithPath("abc.txt", "アスキー.txt", false), {"日本.txt"}, WithPath("d.txt", "ど.txt", true)});
    const std::string zip = ReadText(dir / "a.zip");
    WriteText(dir / "sfx.zip", std::string(3000, 'M') + zip);
    EXPECT_EQ(List(Family::Zip, dir / "sfx.zip", "*"), (Names{"アスキー.txt", "日本.txt", "ど.txt"}));
    for (std::size_t i = zip.find("PK\1\2"); i < zip.size(); ++i) {
        for (const std::string& bad : {zip.substr(0, i), zip.substr(0, i) + char(~zip[i]) + zip.substr(i + 1)}) {
            WriteText(dir / "b.zip", bad);
            ForgetResolved();  // the scan before extracting reads the directory too
            EXPECT_NE(Extract(Family::Zip, dir / "b.zip", dir / "x"), kErrorCannotWrite) << i;
        }
    }
}

} // namespace dexalo::archivers::testing
