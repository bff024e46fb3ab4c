// ARJ archives made at test time with Debian's arj (and one it cannot write), read by our own
// reader.
#include <chrono>

#include "archiver_test_support.h"
#include "engine/platform/platform_posix.h"

namespace dexalo::archivers::testing {
namespace {


// Words from a small vocabulary: compressible, yet long matches and literals both occur.
std::string Prose(std::size_t size) {
    static const char* const kWords[] = {"archive ", "header ", "window ", "Huffman ", "\n", "0x5C ", "table ", "ARJ "};
    std::string text;
    for (std::uint32_t x = 12345; text.size() < size;) {
        x = x * 1103515245u + 12345u;
        text += kWords[x >> 16 & 7];
        if ((x >> 20 & 15) == 0) text += std::to_string(x);
    }
    return text;
}

// Archives everything under `from` with arj, folders included.
void Arj(const fs::path& from, const fs::path& archive, const std::string& switches) {
    Shell(from, "arj a " + switches + " -r -a1 '" + archive.string() + "' .");
}

class ArjArchives : public ::testing::Test {
protected:
    int ExtractAsFrontEnd(const fs::path& archive, const fs::path& to) {
        const std::string line = "x -u+ -hq+ -y+ \"" + archive.string() + "\" \"" + to.string() + "/\"";
        watcher_ = ScriptedUser{};
        return archivers::Run(Family::Arj, line.c_str(), nullptr, 0, &watcher_);
    }

    ScriptedUser watcher_;
    ScratchDir dir_;
};

TEST_F(ArjArchives, EveryMethodExtractsByteExact) {
    const fs::path src = dir_ / "src";
    WriteText(src / "docs/deep/prose.txt", Prose(1500000));  // past several output blocks
    WriteText(src / "docs/short.txt", "short\n");
    std::string noise(70000, '\0');
    for (std::size_t i = 0, x = 7; i < noise.size(); ++i) noise[i] = static_cast<char>((x = x * 2654435761u + 1) >> 13);
    WriteText(src / "noise.bin", noise);  // incompressible: arj stores it
    WriteText(src / "empty", "");
    fs::create_directories(src / "nothing");
    Shell(src, "chmod a-w docs/short.txt && find . -exec touch -d '2021-03-04 05:06:08' {} +");
    const Files expected = Tree(src);
    for (const char* method : {"1", "2", "3", "4"}) {
        SCOPED_TRACE(method);
        const fs::path archive = dir_ / (std::string("m") + method + ".arj");
        Arj(src, archive, std::string("-m") + method);
        const fs::path out = dir_ / (std::string("out") + method);
        ASSERT_EQ(ExtractAsFrontEnd(archive, out), 0);
        EXPECT_EQ(Tree(out), expected);
        EXPECT_EQ(fs::status(out / "docs/short.txt").permissions() & fs::perms::owner_write, fs::perms::none);
        EXPECT_NE(fs::status(out / "docs/deep/prose.txt").permissions() & fs::perms::owner_write, fs::perms::none);
        EXPECT_GT(watcher_.furthest, watcher_.total / 2);  // progress in the archive's own bytes
        EXPECT_LE(watcher_.furthest, watcher_.total);
        EXPECT_EQ(fs::last_write_time(out / "docs/deep/prose.txt"), fs::last_write_time(src / "docs/deep/prose.txt"));
        const std::vector<std::string> listed = List(Family::Arj, archive, "*");
        EXPECT_EQ(Count(Family::Arj, archive), static_cast<int>(listed.size()));
        EXPECT_EQ(std::count(listed.begin(), listed.end(), "docs\\deep\\"), 1);
        EXPECT_EQ(List(Family::Arj, archive, "*\\prose.txt"), std::vector<std::string>{"docs\\deep\\prose.txt"});
    }
}

// The ANSI and OEM code pages of a Japanese Windows, while alive.
struct JapaneseCodePages {
    JapaneseCodePages() { platform::UseCodePages("CP932", "CP932"); }
    ~JapaneseCodePages() { platform::UseCodePages({}, {}); }
};

TEST_F(ArjArchives, ShiftJisNamesKeepTheirTrailBytes) {
    JapaneseCodePages japanese;
    const std::string hyo = "\x95\x5C", so = "\x83\x5C";  // 表 and ソ: both end in '\'
    WriteText(dir_ / "src" / (so + "/" + hyo + ".txt"), "hyo\n");
    Arj(dir_ / "src", dir_ / "j.arj", "");
    EXPECT_EQ(List(Family::Arj, dir_ / "j.arj", "*"), (std::vector<std::string>{so + "\\" + hyo + ".txt", so + "\\"}));
    ASSERT_EQ(Extract(Family::Arj, dir_ / "j.arj", dir_ / "out"), 0);
    EXPECT_EQ(Tree(dir_ / "out"), (Files{{"ソ/", ""}, {"ソ/表.txt", "hyo\n"}}));
}

TEST_F(ArjArchives, DamageIsReportedAndLeavesNoFileUnderARealName) {
    WriteText(dir_ / "src/prose.txt", Prose(300000));
    Arj(dir_ / "src", dir_ / "d.arj", "-m1");
    std::string bytes = ReadText(dir_ / "d.arj");
    const std::string cut = bytes.substr(0, bytes.size() / 2);
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x10);
    WriteText(dir_ / "flipped.arj", bytes);
    WriteText(dir_ / "cut.arj", cut);
    for (const char* name : {"flipped.arj", "cut.arj"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Count(Family::Arj, dir_ / name), 1);
        EXPECT_EQ(Extract(Family::Arj, dir_ / name, dir_ / "out"), kErrorCorrupt);
        EXPECT_EQ(Tree(dir_ / "out"), Files{});  // not even a temporary file is left
    }
    // Garbled (password-protected) entries are listed, but not read.
    Arj(dir_ / "src", dir_ / "g.arj", "-gsecret");
    EXPECT_EQ(Count(Family::Arj, dir_ / "g.arj"), 1);
    EXPECT_EQ(ExtractAsFrontEnd(dir_ / "g.arj", dir_ / "gout"), kErrorUnsupported);
    EXPECT_FALSE(fs::exists(dir_ / "gout/prose.txt"));
    EXPECT_TRUE(watcher_.questions.empty());  // no password can help
    ASSERT_EQ(watcher_.reports.size(), 1u);
    EXPECT_EQ(watcher_.reports[0].unsupportedEntry, L"prose.txt");
    EXPECT_TRUE(watcher_.reports[0].unsupportedEncryption);
}

TEST_F(ArjArchives, DosArchiveHostileNamesRefusedLocalTimesKept) {
    // Stored files as DOS arj writes them (host 0, local DOS times 2021-03-04 11:19:22), named
    // ../up.txt, /abs.txt, C:drive.txt, C:\root.txt, a\..\..\b.txt and ok.txt.
    const fs::path arj = Fixture("dos-unsafe-paths.arj");
    EXPECT_EQ(Count(Family::Arj, arj), 6);
    EXPECT_EQ(Extract(Family::Arj, arj, dir_ / "out/in"), kErrorRefused);
    EXPECT_EQ(Tree(dir_ / "out"), (Files{{"in/", ""}, {"in/ok.txt", "fine"}}));
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::file_clock::to_sys(fs::last_write_time(dir_ / "out/in/ok.txt")).time_since_epoch());
    Shell(dir_.path, "date -d '2021-03-04 11:19:22' +%s > local");
    EXPECT_EQ(std::to_string(seconds.count()) + "\n", ReadText(dir_ / "local"));
}

} // namespace
} // namespace dexalo::archivers::testing
