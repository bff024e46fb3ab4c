// Hostile, damaged and conflicting archives: nothing outside the destination, nothing
// half-written, the user's newer files kept, and a distinct code for each failure.
#include "engine/names/entry_path.h"
#include "archiver_test_support.h"

namespace dexalo::archivers::testing {
// The archives lie beside dest/ inside outer/, so anything escaping lands in outer/.
class Safety : public ::testing::Test {
protected:
    fs::path Dest() const { return outer_ / "dest"; }
    ScratchDir outer_;
};

TEST_F(Safety, UnsafePathsAndLinksAreRefusedAndTheRestExtracted) {
    fs::create_directories(outer_ / "outside");
    for (const char* name : {"unsafe-paths.tar", "links.tar"}) fs::copy_file(Fixture(name), outer_ / name);
    EXPECT_EQ(Extract(Family::Tar, outer_ / "unsafe-paths.tar", Dest()), kErrorRefused);
    EXPECT_EQ(Tree(Dest()), (Files{{"good/", ""}, {"good/ok.txt", "fine"}}));
    EXPECT_FALSE(fs::exists("/abs.txt"));
    fs::remove_all(Dest());
    EXPECT_EQ(Extract(Family::Tar, outer_ / "links.tar", Dest()), kErrorRefused);
    const Files tree = Tree(Dest());
    // The refused link is not there, so "escape/" became a plain folder inside.
    EXPECT_EQ(tree.at("escape/planted.txt"), "planted");
    EXPECT_EQ(tree.at("top/inner"), "-> ../good.txt");
    EXPECT_FALSE(tree.count("abs") || tree.count("hard"));
    Files escaped = Tree(outer_.path);
    std::erase_if(escaped, [](const auto& kv) { return kv.first.starts_with("dest/") || kv.first.ends_with(".tar"); });
    EXPECT_EQ(escaped, (Files{{"outside/", ""}}));

    // A link already in the destination is never written through.
    fs::remove_all(Dest());
    fs::create_directories(Dest());
    fs::create_directory_symlink(outer_ / "outside", Dest() / "data");
    EXPECT_EQ(Extract(Family::Tar, Fixture("through-link.tar"), Dest()), kErrorRefused);
    EXPECT_TRUE(fs::is_empty(outer_ / "outside"));
    EXPECT_EQ(ReadText(Dest() / "y.txt"), "y");
}

// libarchive reports a failed CRC only as a warning once the data is through; the entry
// must still count as damaged, and nothing may take the file's name, not even the
// user's older copy's.
TEST_F(Safety, DamagedDataLeavesNoHalfWrittenFileAndReplacesNothing) {
    std::string big;
    for (int i = 0; i < 60000; ++i) big += std::to_string(i * 7919 % 100003) + ",";
    WriteText(outer_ / "src/first.txt", "first");
    WriteText(outer_ / "src/second.bin", big);
    Shell(outer_ / "src", "tar czf ../full.tgz first.txt second.bin && zip -q ../deflated.zip first.txt second.bin &&"
                          " zip -q -0 ../stored.zip first.txt second.bin && LC_ALL=C.UTF-8 lha czq ../stored.lzh first.txt second.bin");
    const auto damaged = [&](const std::string& file, bool cut) {
        std::string bytes = ReadText(outer_ / file);
        if (cut) bytes.resize(bytes.size() * 2 / 3);
        const std::size_t at = cut ? 0 : file == "deflated.zip" ? bytes.find("second.bin") + 2010 : bytes.find(big.substr(30000, 40));
        if (!cut) bytes[at] = bytes[at] == '1' ? '2' : '1';  // stored data stays plausible digits
        WriteText(outer_ / ("bad-" + file), bytes);
        return outer_ / ("bad-" + file);
    };
    const std::pair<Family, fs::path> rows[] = {{Family::Tar, damaged("full.tgz", true)},
                                                {Family::Zip, damaged("deflated.zip", false)},
                                                {Family::Zip, damaged("stored.zip", false)},
                                                {Family::Lzh, damaged("stored.lzh", false)}};
    for (const auto& [family, archive] : rows) {
        fs::remove_all(Dest());
        EXPECT_EQ(Extract(family, archive, Dest()), kErrorCorrupt) << archive;
        EXPECT_EQ(Tree(Dest()), (Files{{"first.txt", "first"}})) << archive;
        WriteText(Dest() / "second.bin", "mine");
        Shell(Dest(), "touch -d '2001-01-01' second.bin first.txt");
        EXPECT_EQ(Extract(family, archive, Dest()), kErrorCorrupt) << archive;
        EXPECT_EQ(Tree(Dest()), (Files{{"first.txt", "first"}, {"second.bin", "mine"}})) << archive;
    }
}

TEST_F(Safety, OnlyANewerEntryReplacesAFile) {
    WriteText(outer_ / "src/f.txt", "archived");
    Shell(outer_ / "src", "touch -d '2020-01-01' f.txt && tar cf ../t.tar f.txt");
    WriteText(Dest() / "f.txt", "mine, newer");
    EXPECT_EQ(Extract(Family::Tar, outer_ / "t.tar", Dest()), 0);
    EXPECT_EQ(ReadText(Dest() / "f.txt"), "mine, newer");
    Shell(Dest(), "touch -d '2019-01-01' f.txt");
    EXPECT_EQ(Extract(Family::Tar, outer_ / "t.tar", Dest()), 0);
    EXPECT_EQ(Tree(Dest()), (Files{{"f.txt", "archived"}}));  // no temporary left behind
}

// Characters Windows cannot store, streams and device names; ".." after a name could climb
// out of whatever that name links to.
TEST(EntryPath, RefusesWhatWindowsCannotStore) {
    for (const wchar_t* bad : {L"file.txt:stream", L"a/conin$", L"COM\u00B9", L"AUX .txt", L"a\tb", L"what?.txt",
                               L"a|b", L"a/b./c", L""})
        EXPECT_FALSE(SafeComponents(bad)) << bad;
    EXPECT_EQ(SafeComponents(L"..a/b..c/console.txt"), (Components{L"..a", L"b..c", L"console.txt"}));
    EXPECT_FALSE(SafeLinkTarget(Components{L"top", L"link"}, L"x/../y"));
}

} // namespace dexalo::archivers::testing
