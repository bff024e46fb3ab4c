// LZH archives read by our own reader: made at test time with Debian's jlha library (the one
// tool here that writes LHarc's -lh1- and LArc's -lzs- and -lz5-) through tools/MakeLzh.java,
// and headers built byte by byte for what jlha never writes.
#include <numeric>

#include "archiver_test_support.h"
#include "engine/formats/lzh.h"

namespace dexalo::archivers::testing {
namespace {

constexpr char kJar[] = "/usr/share/java/jlha.jar";  // Debian's libjlha-java
constexpr std::int64_t kTime = 1600000000;            // 2020-09-13 12:26:40 UTC: even, as MS-DOS keeps it
const std::string kHyo = "\x95\x5C";                  // 表 in Shift-JIS: its trail byte is '\'

const std::string kProse = Prose(300000);
// Runs at the very start, then noise that comes again 30 KiB on: only the 32 and 64 KiB
// windows reach back to it.
const std::string kRuns = std::string(300, ' ') + std::string(300, '\0') + Noise(30000) + Prose(500) + Noise(20000);
const char* const kMethods[] = {"-lh0-", "-lh1-", "-lh4-", "-lh5-", "-lh6-", "-lh7-", "-lzs-", "-lz5-"};
// What each archive of those methods holds (jlha stores the empty file).
const std::string kListing = "prose.txt runs.bin docs/ docs\\empty.txt " + kHyo + "\\" + kHyo + ".txt " + kHyo + "/ End";
const Names kData = {kProse, kRuns, "", "", "hyo\n", ""};

std::string Le(std::uint64_t v, int bytes) { return bytes == 0 ? "" : static_cast<char>(v & 0xFF) + Le(v >> 8, bytes - 1); }
std::size_t Number(const std::string& bytes, std::size_t at, int size) {  // little-endian
    return size == 0 ? 0 : Number(bytes, at + 1, size - 1) << 8 | static_cast<unsigned char>(bytes[at]);
}
bool OnlyOurs(const std::string& bytes) {
    own::MemoryInput input(bytes.data(), bytes.size());
    return lzh::HasMethodsOnlyWeRead(input);
}

class LzhArchives : public ::testing::Test {
protected:
    // One javac and one java run write every archive the tests read: the files with each method
    // at each header level, and two of other methods.
    static void SetUpTestSuite() {
        const fs::path& dir = dir_.emplace().path;
        if (std::system("(command -v javac && command -v java) >/dev/null") != 0 || !fs::exists(kJar)) {
            skip_ = "needs a JDK (javac, java) and Debian's libjlha-java (" + std::string(kJar) + ") to make the archives";
            return;
        }
        for (const auto& [name, data] : {std::pair{"prose.txt", kProse}, {"runs.bin", kRuns}, {"empty.txt", ""}, {"hyo.txt", "hyo\n"}})
            WriteText(dir / name, data);
        std::ofstream plan(dir / "plan");
        for (const std::string method : kMethods)
            for (const char* level : {"0", "1", "2"})
                plan << "archive " << method.substr(1, 3) << "-" << level << ".lzh " << level << " " << kTime << "\n"
                     << method << " prose.txt prose.txt\n" << method << " runs.bin runs.bin\n-lhd- docs -\n"
                     << method << " docs/empty.txt empty.txt\n" << method << " \u8868/\u8868.txt hyo.txt\n-lhd- \u8868 -\n";
        plan << "archive other.lzh 1 " << kTime << "\n-lh2- prose.txt prose.txt\n-lh3- runs.bin runs.bin\n-lh5- hyo.txt hyo.txt\n"
             << "archive mixed.lzh 2 " << kTime << "\n-lh5- a prose.txt\n-lh7- b prose.txt\n-lz5- c prose.txt\n";
        plan.close();
        const fs::path source = fs::absolute(fs::path(__FILE__).parent_path() / "tools" / "MakeLzh.java");
        const std::string classPath = std::string(" -cp ") + kJar + ":. ";
        made_ = std::system(("cd '" + dir.string() + "' && javac -d ." + classPath + "'" + source.string() + "' && java" + classPath +
                             "MakeLzh < plan").c_str()) == 0;
    }
    static void TearDownTestSuite() { dir_.reset(); }

    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(made_) << "MakeLzh failed";
    }
    static std::string Archive(const std::string& name) { return ReadText(dir_->path / name); }

    static inline std::optional<ScratchDir> dir_;
    static inline std::string skip_;
    static inline bool made_ = false;
};

TEST_F(LzhArchives, EveryMethodAndLevelGivesTheFilesBackAndTellsDamage) {
    for (const std::string method : kMethods)
        for (const char* level : {"0", "1", "2"}) {
            const std::string name = method.substr(1, 3) + "-" + level + ".lzh", bytes = Archive(name);
            SCOPED_TRACE(name);
            EXPECT_EQ(bytes.substr(2, 5), method);  // jlha did not fall back to storing the prose
            EXPECT_EQ(OnlyOurs(bytes), std::string("-lh1- -lh4- -lzs- -lz5-").find(method) != std::string::npos);
            const OwnListing all = ReadOwn<lzh::Reader>(bytes);
            EXPECT_EQ(all.summary, kListing);
            EXPECT_TRUE(all.data == kData);
            EXPECT_EQ(all.mtimes, std::vector<std::int64_t>(6, kTime));
            // Entries left after their first block are skipped over, not decoded on.
            const OwnListing part = ReadOwn<lzh::Reader>(bytes, 1);
            EXPECT_EQ(part.summary, kListing);
            EXPECT_EQ(part.data.at(4), kData[4]);
            // A flipped byte in the prose's data: the block that would complete it is withheld,
            // and the entries after it are still read.
            const OwnListing flipped = ReadOwn<lzh::Reader>(Flip(bytes, bytes.size() / 4));
            ASSERT_EQ(flipped.summary, "prose.txt! " + kListing.substr(10));
            EXPECT_TRUE(Names(flipped.data.begin() + 1, flipped.data.end()) == Names(kData.begin() + 1, kData.end()));
            // Cut within it.
            EXPECT_EQ(ReadOwn<lzh::Reader>(bytes.substr(0, bytes.size() / 4)).summary, "prose.txt! Damaged");
            // A flipped byte in the second header, under its checksum (or at level 2 its CRC).
            const std::size_t second = (level[0] == '2' ? Number(bytes, 0, 2) : Number(bytes, 0, 1) + 2) + Number(bytes, 7, 4);
            const OwnListing header = ReadOwn<lzh::Reader>(Flip(bytes, second + 8));
            EXPECT_EQ(header.summary, "prose.txt Damaged");
            EXPECT_TRUE(header.data == Names{kProse});
        }
}

TEST_F(LzhArchives, OtherMethodsAreListedAndSkippedAndOnlyOursAreClaimed) {
    const OwnListing other = ReadOwn<lzh::Reader>(Archive("other.lzh"));
    EXPECT_EQ(other.summary, "prose.txt? runs.bin? hyo.txt End");
    EXPECT_EQ(other.data, (Names{"", "", "hyo\n"}));
    EXPECT_EQ(other.unsupported, (Names{"unsupported LZH method -lh2-", "unsupported LZH method -lh3-"}));
    EXPECT_FALSE(OnlyOurs(Archive("other.lzh")));
    EXPECT_TRUE(OnlyOurs(Archive("mixed.lzh")));  // past two of libarchive's methods
    for (const std::string& junk : {std::string(), std::string(1, '\0'), "PK\3\4" + std::string(60, 'x')}) {
        EXPECT_FALSE(OnlyOurs(junk));
        EXPECT_EQ(ReadOwn<lzh::Reader>(junk).summary, "NotOurs");
    }
}

// ---- headers built by hand, for what jlha does not write

std::string Crc(const std::string& bytes) {  // CRC-16, low bit first, little-endian
    unsigned crc = 0;
    for (const unsigned char b : bytes)
        for (int k = 0; k < 8; ++k) crc = (crc ^ b >> k) & 1 ? crc >> 1 ^ 0xA001 : crc >> 1;
    return Le(crc, 2);
}
std::string Ext(int type, const std::string& data) { return static_cast<char>(type) + data; }
std::string Utf16(const std::u16string& text) {
    return std::accumulate(text.begin(), text.end(), std::string(), [](const std::string& s, char16_t c) { return s + Le(c, 2); });
}
// Extended headers, each after its size (`field` bytes); a size of 0 ends them.
std::string Chain(const std::vector<std::string>& extended, int field) {
    std::string chain;
    for (const std::string& e : extended) chain += Le(e.size() + field, field) + e;
    return chain + Le(0, field);
}

// A level 0 or 1 header and its data; `tail` follows the name's CRC (level 0's extension).
std::string Level01(int level, const std::string& method, const std::string& name, const std::string& data,
                    const std::string& original, int attributes, const std::vector<std::string>& extended = {},
                    const std::string& tail = "") {
    const std::string chain = Chain(extended, 2);  // the first size inside the header, the rest after it
    const std::string body = method + Le(data.size() + chain.size() - 2, 4) + Le(original.size(), 4) + Le(kDosTime, 4) +
                             static_cast<char>(attributes) + static_cast<char>(level) + static_cast<char>(name.size()) + name +
                             Crc(original) + tail + (level == 1 ? "U" + chain.substr(0, 2) : "");
    const auto sum = std::accumulate(body.begin(), body.end(), 0u, [](unsigned s, unsigned char c) { return s + c; });
    return static_cast<char>(body.size()) + std::string(1, static_cast<char>(sum)) + body + (level == 1 ? chain.substr(2) : "") + data;
}

// A level 2 (or 3) header under its CRC, and its data.
std::string Level23(int level, const std::string& method, const std::string& data, const std::string& original,
                    std::vector<std::string> extended, std::uint64_t compressed = ~0ull) {
    const int field = level == 3 ? 4 : 2;
    extended.insert(extended.begin(), Ext(0x00, Le(0, 2)));  // the CRC, filled in below
    const std::string chain = Chain(extended, field);
    const std::size_t size = (level == 3 ? 28 : 24) + chain.size();
    std::string h = Le(level == 3 ? 4 : size, 2) + method + Le(compressed == ~0ull ? data.size() : compressed, 4) +
                    Le(original.size(), 4) + Le(kTime, 4) + " " + static_cast<char>(level) + Crc(original) + "U" +
                    (level == 3 ? Le(size, 4) : "") + chain;
    return h.replace(size - chain.size() + field + 1, 2, Crc(h)) + data;
}

TEST(LzhHeaders, ExtendedHeadersNamesTimesAndPermissions) {
    // LArc's -lz5- ring starts with 13 of each byte, the bytes rising, falling, 128 zeros and
    // spaces: matches of 18 at ring positions 0, 12, 3327, 3328, 3584, 3840, 3968 and 4000
    // (jlha's own decoder gives these bytes too).
    std::string lz5(1, '\0'), ring = std::string(13, '\0') + std::string(5, '\1') + '\0' + std::string(13, '\1') + "\2\2\2\2\xFF";
    for (const int at : {0, 12, 3327, 3328, 3584, 3840, 3968, 4000}) lz5 += Le(at & 0xFF, 1) + Le((at >> 4 & 0xF0) | 15, 1);
    for (int i = 0; i < 18 * 3 - 1; ++i) ring += static_cast<char>(i < 17 ? i : i < 35 ? i - 17 : 255 - (i - 35));
    ring += std::string(18, '\0') + std::string(36, ' ');
    const std::string archive =
        Level01(0, "-lz4-", "a\xFF" "b.txt", "hello", "hello", 0x21) +  // 0xFF separates; read-only
        Level01(0, "-lh0-", "u.txt", "unix", "unix", 0x20, {}, std::string("U\0", 2) + Le(kTime, 4) + Le(0100444, 2) + Le(0, 4)) +
        Level01(1, "-lh0-", "", "one", "one", 0x20,
                {Ext(0x01, "n.txt"), Ext(0x02, "x\xFFy\xFF"), Ext(0x54, Le(kTime, 4)), Ext(0x50, Le(0100644, 2))}) +
        Level23(2, "-lh0-", "wide", "wide",
                {Ext(0x44, Utf16(u"\u30D5\u30A1\u30A4\u30EB.txt")), Ext(0x45, Utf16(u"\u9577\uFFFF\u540D\uFFFF"))}) +
        Level23(2, "-lh0-", "mixed", "mixed", {Ext(0x44, Utf16(u"\u540D.txt")), Ext(0x02, "dir\xFF"), Ext(0x01, "ansi.txt")}) +
        Level23(2, "-lhd-", "", "", {Ext(0x02, kHyo + "\xFF")}) +  // 表 as a folder keeps its '\\'
        Level23(2, "-lhd-", "", "", {Ext(0x01, ""), Ext(0x02, "a\xFF" "b\xFF")}) +
        Level23(3, "-lh0-", "three", "three", {Ext(0x01, "l3.txt"), Ext(0x40, Le(0x01, 2))}) +
        Level23(2, "-lh0-", "large", "large", {Ext(0x01, "big.bin"), Ext(0x42, Le(5, 8) + Le(5, 8))}, 0) +
        Level23(2, "-lz5-", lz5, ring, {Ext(0x01, "ring.bin")}) +
        Level01(0, "-lh0-", "short", "four", "fore!", 0x20) +  // sizes disagree
        Level01(0, "-lh0-", "bad", "data", "date", 0x20) +     // its CRC fails
        Level01(0, "-lh9-", "new", "?", "????", 0x20) + Level01(1, "-lh0-", "last", "z", "z", 0x20) + std::string(1, '\0');
    const OwnListing all = ReadOwn<lzh::Reader>(archive);
    EXPECT_EQ(all.summary, "a\\b.txt* u.txt* x\\y\\n.txt \u9577\\\u540D\\\u30D5\u30A1\u30A4\u30EB.txt+ dir\\\u540D.txt+ " + kHyo +
                               "/ a\\b/ l3.txt* big.bin ring.bin short! bad! new? last End");
    EXPECT_EQ(all.data, (Names{"hello", "unix", "one", "wide", "mixed", "", "", "three", "large", ring, "", "", "", "z"}));
    std::vector<std::int64_t> times(14, kTime);  // the Unix time where a header has one
    times[0] = times[10] = times[11] = times[12] = times[13] = DosTimeSeconds();
    EXPECT_EQ(all.mtimes, times);
    EXPECT_EQ(all.unsupported, Names{"unsupported LZH method -lh9-"});
}

} // namespace
} // namespace dexalo::archivers::testing
