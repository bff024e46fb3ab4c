// LZH archives read by our own reader: made at test time with Debian's jlha library (the one
// tool here that writes LHarc's -lh1- and LArc's -lzs- and -lz5-) through tools/MakeLzh.java,
// and headers built byte by byte for what jlha never writes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/lzh.h"

namespace dexalo::archivers::testing {
namespace {

namespace fs = std::filesystem;
using own::Status;

constexpr char kJar[] = "/usr/share/java/jlha.jar";  // Debian's libjlha-java
constexpr std::int64_t kTime = 1600000000;            // 2020-09-13 12:26:40 UTC: even, as MS-DOS keeps it
const std::string kHyo = "\x95\x5C";                  // 表 in Shift-JIS: its trail byte is '\'

struct Item {
    Item(std::string n, std::string d = "", bool dir = false, bool wide = false, bool ro = false, std::int64_t time = kTime,
         std::string why = "", Status how = Status::Ok)
        : name(std::move(n)), data(std::move(d)), directory(dir), utf8(wide), readOnly(ro), mtime(time), unsupported(std::move(why)), read(how) {}
    std::string name, data;
    bool directory, utf8, readOnly;
    std::int64_t mtime;
    std::string unsupported;
    Status read;  // how reading the data ended
    bool operator==(const Item&) const = default;
};
void PrintTo(const Item& i, std::ostream* os) {
    *os << i.name << ": " << i.data.size() << " bytes #" << std::hash<std::string>{}(i.data) % 10000 << ", dir " << i.directory
        << " utf8 " << i.utf8 << " ro " << i.readOnly << " mtime " << i.mtime << " [" << i.unsupported << "] read " << static_cast<int>(i.read);
}

struct Listing {
    std::vector<Item> items;
    Status end = Status::End, open = Status::Ok;  // the last Next, and Open
    bool operator==(const Listing&) const = default;
};
void PrintTo(const Listing& l, std::ostream* os) { *os << ::testing::PrintToString(l.items) << " then " << static_cast<int>(l.end); }

// Every entry with its data, or only the first block of each (the rest left to Next to skip).
Listing ReadAll(const std::string& bytes, bool firstBlockOnly = false) {
    own::MemoryInput input(bytes.data(), bytes.size());
    lzh::Reader reader(input);
    Listing out;
    if ((out.open = reader.Open()) != Status::Ok) return out;
    own::Entry e;
    while ((out.end = reader.Next(e)) == Status::Ok) {
        Item& item = out.items.emplace_back(e.name, "", e.directory, e.utf8, e.readOnly, e.mtime, e.unsupported ? e.unsupported : "");
        const std::uint8_t* block = nullptr;
        std::size_t n = 0;
        while ((item.read = reader.Read(block, n)) == Status::Ok && n > 0 && !(firstBlockOnly && !item.data.empty())) {
            item.data.append(reinterpret_cast<const char*>(block), n);
            EXPECT_LE(item.data.size(), e.size) << e.name;
        }
        EXPECT_TRUE(item.read == Status::Ok || n == 0) << e.name << ": nothing comes with a failure";
    }
    return out;
}

std::size_t Number(const std::string& bytes, std::size_t at, int size) {  // little-endian
    return size == 0 ? 0 : Number(bytes, at + 1, size - 1) << 8 | static_cast<unsigned char>(bytes[at]);
}

// Words from a small vocabulary and numbers: long matches and literals both.
std::string Prose(std::size_t size) {
    static const char* const kWords[] = {"archive ", "header ", "window ", "Huffman ", "\n", "0x5C ", "table ", "LZH "};
    std::string text;
    for (std::uint32_t x = 12345; text.size() < size;) {
        x = x * 1103515245u + 12345u;
        text += kWords[x >> 16 & 7] + ((x >> 20 & 15) == 0 ? std::to_string(x) : "");
    }
    return text;
}
std::string Noise(std::size_t size) {
    std::string bytes;
    for (std::uint32_t x = 7; bytes.size() < size;) bytes += static_cast<char>((x = x * 2654435761u + 1) >> 13);
    return bytes;
}

const std::string kProse = Prose(300000);
// Runs at the very start, then noise that comes again 40 KiB on: only the 32 and 64 KiB
// windows reach back to it.
const std::string kRuns = std::string(300, ' ') + std::string(300, '\0') + Noise(40000) + Prose(500) + Noise(20000);
const char* const kMethods[] = {"-lh0-", "-lh1-", "-lh4-", "-lh5-", "-lh6-", "-lh7-", "-lzs-", "-lz5-"};
const std::vector<Item> kFiles = {{"prose.txt", kProse}, {"runs.bin", kRuns}, {"docs", "", true}, {"docs\\empty.txt"},
                                  {kHyo + "\\" + kHyo + ".txt", "hyo\n"}, {kHyo, "", true}};

class LzhArchives : public ::testing::Test {
protected:
    // One javac and one java run write every archive the tests read: kFiles with each method
    // (jlha stores the empty file) at each header level, and two of other methods.
    static void SetUpTestSuite() {
        fs::create_directories(dir_ = fs::temp_directory_path() / ("dexalo-lzh-" + std::to_string(::getpid())));
        if (std::system("(command -v javac && command -v java) >/dev/null") != 0 || !fs::exists(kJar)) {
            skip_ = "needs a JDK (javac, java) and Debian's libjlha-java (" + std::string(kJar) + ") to make the archives";
            return;
        }
        for (const auto& [name, data] : {std::pair{"prose.txt", kProse}, {"runs.bin", kRuns}, {"empty.txt", ""}, {"hyo.txt", "hyo\n"}})
            std::ofstream(dir_ / name, std::ios::binary) << data;
        std::ofstream plan(dir_ / "plan");
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
        const std::string run = "cd '" + dir_.string() + "' && javac -d ." + classPath + "'" + source.string() + "' && java" + classPath + "MakeLzh < plan";
        made_ = std::system(run.c_str()) == 0;
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(made_) << "MakeLzh failed";
    }
    static std::string Archive(const std::string& name) {
        std::ifstream in(dir_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    static inline fs::path dir_;
    static inline std::string skip_;
    static inline bool made_ = false;
};

TEST_F(LzhArchives, EveryMethodAndLevelGivesTheFilesBackAndTellsDamage) {
    for (const std::string method : kMethods)
        for (const char* level : {"0", "1", "2"}) {
            const std::string name = method.substr(1, 3) + "-" + level + ".lzh", bytes = Archive(name);
            SCOPED_TRACE(name);
            EXPECT_EQ(bytes.substr(2, 5), method);  // jlha did not fall back to storing the prose
            EXPECT_EQ(ReadAll(bytes), Listing{kFiles});
            // Entries left after their first block are skipped over, not decoded on.
            Listing got = ReadAll(bytes, true);
            ASSERT_EQ(got.items.size(), kFiles.size());
            EXPECT_EQ(got.items[4], kFiles[4]);
            // A flipped byte in the prose's data: the block that would complete it is withheld,
            // and the entries after it are still read.
            std::string flipped = bytes;
            flipped[bytes.size() / 4] ^= 0x10;
            got = ReadAll(flipped);
            ASSERT_EQ(got.items.size(), kFiles.size());
            EXPECT_EQ(got.items[0].read, Status::Damaged);
            EXPECT_LT(got.items[0].data.size(), kProse.size());
            EXPECT_EQ(std::vector(got.items.begin() + 1, got.items.end()), std::vector(kFiles.begin() + 1, kFiles.end()));
            // Cut within it.
            got = ReadAll(bytes.substr(0, bytes.size() / 4));
            ASSERT_EQ(got.items.size(), 1u);
            EXPECT_EQ(std::pair(got.items[0].read, got.end), std::pair(Status::Damaged, Status::Damaged));
            // A flipped byte in the second header, under its checksum (or at level 2 its CRC).
            flipped = bytes;
            flipped[(level[0] == '2' ? Number(bytes, 0, 2) : Number(bytes, 0, 1) + 2) + Number(bytes, 7, 4) + 8] ^= 0x01;
            EXPECT_EQ(ReadAll(flipped), (Listing{{kFiles[0]}, Status::Damaged}));
        }
}

TEST_F(LzhArchives, OtherMethodsAreListedAndSkippedAndOnlyOursAreClaimed) {
    EXPECT_EQ(ReadAll(Archive("other.lzh")),
              (Listing{{{"prose.txt", "", false, false, false, kTime, "unsupported LZH method -lh2-", Status::Unsupported},
                        {"runs.bin", "", false, false, false, kTime, "unsupported LZH method -lh3-", Status::Unsupported},
                        {"hyo.txt", "hyo\n"}}}));
    for (const auto& [archive, ours] : {std::pair{"lh1-1.lzh", true}, {"lh4-0.lzh", true}, {"lzs-2.lzh", true}, {"lz5-1.lzh", true},
                                        {"mixed.lzh", true}, {"lh0-1.lzh", false}, {"lh5-0.lzh", false}, {"lh6-2.lzh", false},
                                        {"lh7-1.lzh", false}, {"other.lzh", false}}) {
        const std::string bytes = Archive(archive);
        own::MemoryInput input(bytes.data(), bytes.size());
        EXPECT_EQ(lzh::HasMethodsOnlyWeRead(input), ours) << archive;
    }
    for (const std::string& junk : {std::string(), std::string(1, '\0'), "PK\3\4" + std::string(60, 'x')}) {
        own::MemoryInput input(junk.data(), junk.size());
        EXPECT_FALSE(lzh::HasMethodsOnlyWeRead(input));
        EXPECT_EQ(ReadAll(junk).open, Status::NotOurs);
    }
}

// ---- headers built by hand, for what jlha does not write

std::string Le(std::uint64_t v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i) & 0xFF);
    return out;
}
std::uint16_t Crc(const std::string& bytes) {
    unsigned crc = 0;
    for (const unsigned char b : bytes) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) crc = crc & 1 ? crc >> 1 ^ 0xA001 : crc >> 1;
    }
    return static_cast<std::uint16_t>(crc);
}
std::string Ext(int type, const std::string& data) { return std::string(1, static_cast<char>(type)) + data; }
std::string Utf16(const std::u16string& text) {
    std::string out;
    for (const char16_t c : text) out += Le(c, 2);
    return out;
}

// A level 0 or 1 header and its data; `tail` follows the name's CRC (level 0's extension).
std::string Level01(int level, const std::string& method, const std::string& name, const std::string& data, const std::string& original,
                    int attributes, std::uint32_t dosTime, const std::vector<std::string>& extended = {}, const std::string& tail = "") {
    std::string chain;  // each extended header ends in the next one's size
    for (std::size_t i = 0; i < extended.size(); ++i) chain += extended[i] + Le(i + 1 < extended.size() ? extended[i + 1].size() + 2 : 0, 2);
    std::string body = method + Le(data.size() + chain.size(), 4) + Le(original.size(), 4) + Le(dosTime, 4) + static_cast<char>(attributes) +
                       static_cast<char>(level) + static_cast<char>(name.size()) + name + Le(Crc(original), 2) + tail;
    if (level == 1) body += "U" + Le(extended.empty() ? 0 : extended[0].size() + 2, 2);
    unsigned sum = 0;
    for (const unsigned char b : body) sum += b;
    return static_cast<char>(body.size()) + std::string(1, static_cast<char>(sum)) + body + chain + data;
}

// A level 2 (or 3) header under its CRC, and its data.
std::string Level23(int level, const std::string& method, const std::string& data, const std::string& original, std::uint32_t time,
                    std::vector<std::string> extended, std::uint64_t compressed = ~0ull) {
    const int field = level == 3 ? 4 : 2;
    extended.insert(extended.begin(), Ext(0x00, std::string(2, '\0')));
    std::size_t size = level == 3 ? 32 : 26;
    for (const std::string& e : extended) size += e.size() + field;
    std::string h = (level == 3 ? Le(4, 2) : Le(size, 2)) + method + Le(compressed == ~0ull ? data.size() : compressed, 4) +
                    Le(original.size(), 4) + Le(time, 4) + " " + static_cast<char>(level) + Le(Crc(original), 2) + "U" +
                    (level == 3 ? Le(size, 4) : "") + Le(extended[0].size() + field, field);
    for (std::size_t i = 0; i < extended.size(); ++i) h += extended[i] + Le(i + 1 < extended.size() ? extended[i + 1].size() + field : 0, field);
    const std::uint16_t crc = Crc(h);
    const std::size_t at = (level == 3 ? 32 : 26) + 1;
    h[at] = static_cast<char>(crc & 0xFF), h[at + 1] = static_cast<char>(crc >> 8);
    return h + data;
}

std::int64_t Local(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{second, minute, hour, day, month - 1, year - 1900, 0, 0, -1, 0, nullptr};
    return std::mktime(&tm);
}

TEST(LzhHeaders, ExtendedHeadersNamesTimesAndPermissions) {
    const std::uint32_t dos = (41u << 25 | 3u << 21 | 4u << 16) | (5u << 11 | 6u << 5 | 4u);  // 2021-03-04 05:06:08, local
    // LArc's -lz5- ring starts with 13 of each byte, the bytes rising, falling, 128 zeros and
    // spaces: matches of 18 at ring positions 0, 12, 3327, 3328, 3584, 3840, 3968 and 4000
    // (jlha's own decoder gives these bytes too).
    std::string lz5(1, '\0'), ring = std::string(13, '\0') + std::string(5, '\1') + '\0' + std::string(13, '\1') + std::string(4, '\2') + '\xFF';
    for (const int at : {0, 12, 3327, 3328, 3584, 3840, 3968, 4000}) lz5 += Le(at & 0xFF, 1) + Le((at >> 4 & 0xF0) | 15, 1);
    for (int i = 0; i < 18 * 3 - 1; ++i) ring += static_cast<char>(i < 17 ? i : i < 35 ? i - 17 : 255 - (i - 35));
    ring += std::string(18, '\0') + std::string(36, ' ');
    const std::string archive =
        Level01(0, "-lz4-", "a\xFF" "b.txt", "hello", "hello", 0x21, dos) +  // 0xFF separates; read-only
        Level01(0, "-lh0-", "u.txt", "unix", "unix", 0x20, dos, {}, std::string("U\0", 2) + Le(kTime, 4) + Le(0100444, 2) + Le(0, 4)) +
        Level01(1, "-lh0-", "", "one", "one", 0x20, dos,
                {Ext(0x01, "n.txt"), Ext(0x02, "x\xFFy\xFF"), Ext(0x54, Le(kTime, 4)), Ext(0x50, Le(0100644, 2))}) +
        Level23(2, "-lh0-", "wide", "wide", kTime,
                {Ext(0x44, Utf16(u"\u30D5\u30A1\u30A4\u30EB.txt")), Ext(0x45, Utf16(u"\u9577\uFFFF\u540D\uFFFF"))}) +
        Level23(2, "-lh0-", "mixed", "mixed", kTime, {Ext(0x44, Utf16(u"\u540D.txt")), Ext(0x02, "dir\xFF"), Ext(0x01, "ansi.txt")}) +
        Level23(2, "-lhd-", "", "", kTime, {Ext(0x02, kHyo + "\xFF")}) +  // 表 as a folder keeps its '\\'
        Level23(2, "-lhd-", "", "", kTime, {Ext(0x01, ""), Ext(0x02, "a\xFF" "b\xFF")}) +
        Level23(3, "-lh0-", "three", "three", kTime, {Ext(0x01, "l3.txt"), Ext(0x40, Le(0x01, 2))}) +
        Level23(2, "-lh0-", "large", "large", kTime, {Ext(0x01, "big.bin"), Ext(0x42, Le(5, 8) + Le(5, 8))}, 0) +
        Level23(2, "-lz5-", lz5, ring, kTime, {Ext(0x01, "ring.bin")}) +
        Level01(0, "-lh0-", "short", "four", "fore!", 0x20, dos) +  // sizes disagree
        Level01(0, "-lh0-", "bad", "data", "date", 0x20, dos) +     // its CRC fails
        Level01(0, "-lh9-", "new", "?", "????", 0x20, dos) + Level01(1, "-lh0-", "last", "z", "z", 0x20, dos) + std::string(1, '\0');
    const std::int64_t local = Local(2021, 3, 4, 5, 6, 8);
    const Listing expected{{{"a\\b.txt", "hello", false, false, true, local}, {"u.txt", "unix", false, false, true}, {"x\\y\\n.txt", "one"},
                            {"\u9577\\\u540D\\\u30D5\u30A1\u30A4\u30EB.txt", "wide", false, true}, {"dir\\\u540D.txt", "mixed", false, true},
                            {kHyo, "", true}, {"a\\b", "", true}, {"l3.txt", "three", false, false, true}, {"big.bin", "large"}, {"ring.bin", ring},
                            {"short", "", false, false, false, local, "", Status::Damaged},
                            {"bad", "", false, false, false, local, "", Status::Damaged},
                            {"new", "", false, false, false, local, "unsupported LZH method -lh9-", Status::Unsupported},
                            {"last", "z", false, false, false, local}}};
    EXPECT_EQ(ReadAll(archive), expected);
}

} // namespace
} // namespace dexalo::archivers::testing
