// Hostile, damaged and conflicting archives: nothing outside the destination, nothing
// half-written, the user's newer files kept, and a distinct code for each failure.
#include "engine/names/written_names.h"
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
    // A device name is no way out: it is written under another name, and listed so.
    EXPECT_EQ(Extract(Family::Tar, outer_ / "unsafe-paths.tar", Dest()), kErrorRefused);
    EXPECT_EQ(Tree(Dest()), (Files{{"_con.txt", "device"}, {"good/", ""}, {"good/ok.txt", "fine"}}));
    EXPECT_EQ(List(Family::Tar, outer_ / "unsafe-paths.tar", "*"),
              (Names{"../up.txt", "/abs.txt", "C:/drive.txt", "C:drive2.txt", "//server/share/unc.txt",
                     "sub/../../up2.txt", "_con.txt", "good/ok.txt"}));
    EXPECT_FALSE(fs::exists("/abs.txt"));
    fs::remove_all(Dest());
    EXPECT_EQ(Extract(Family::Tar, outer_ / "links.tar", Dest()), kErrorRefused);
    const Files tree = Tree(Dest());
    // The folder's name is the refused link's, so it is numbered, and inside.
    EXPECT_EQ(tree.at("escape (2)/planted.txt"), "planted");
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

// gzip as gzip and tar write it, damaged where only its trailer tells (libarchive skips the
// trailer unread): a .tar.gz's CRC, and a lone .gz's length, whose file is not kept. Members
// one after another, and zeros after the last, still read as before.
TEST_F(Safety, GzipTrailersAreChecked) {
    WriteText(outer_ / "src/a.txt", Prose(300000));
    WriteText(outer_ / "src/b.txt", "beta\n");
    Shell(outer_ / "src", "tar cf ../ab.tar a.txt b.txt && gzip -c ../ab.tar > ../ab.tar.gz && gzip -c a.txt > ../a.txt.gz &&"
                          " head -c 200000 ../ab.tar | gzip > ../two.tar.gz && tail -c +200001 ../ab.tar | gzip >> ../two.tar.gz &&"
                          " cat ../ab.tar.gz /dev/zero | head -c $(( $(stat -c %s ../ab.tar.gz) + 1024 )) > ../padded.tar.gz");
    const Files ab = {{"a.txt", Prose(300000)}, {"b.txt", "beta\n"}};
    for (const char* archive : {"two.tar.gz", "padded.tar.gz"}) {
        fs::remove_all(Dest());
        EXPECT_EQ(Extract(Family::Tar, outer_ / archive, Dest()), kOk) << archive;
        EXPECT_EQ(Tree(Dest()), ab) << archive;
    }
    const std::string tgz = ReadText(outer_ / "ab.tar.gz"), gz = ReadText(outer_ / "a.txt.gz");
    WriteText(outer_ / "bad.tar.gz", Flip(tgz, tgz.size() - 8));  // the CRC-32
    WriteText(outer_ / "bad.txt.gz", Flip(gz, gz.size() - 4));    // the length
    for (const char* archive : {"bad.tar.gz", "bad.txt.gz"}) {
        fs::remove_all(Dest());
        ForgetHandledSets();
        EXPECT_EQ(CheckArchive(Family::Tar, (outer_ / archive).c_str(), 0), 0) << archive;
        EXPECT_EQ(Extract(Family::Tar, outer_ / archive, Dest()), kErrorCorrupt) << archive;
    }
    EXPECT_EQ(Tree(Dest()), Files{});
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

// Entries of one archive, in order, and where each is written ("" when refused): names only
// Windows cannot hold are renamed, entries that would land on one file numbered, and only what
// leaves the destination refused.
TEST(EntryPath, WrittenNamesOfOneArchive) {
    const std::pair<const wchar_t*, const wchar_t*> rows[] = {
        {L"Q&A: what?.txt", L"Q&A\uFF1A what\uFF1F.txt"},
        {L"a<b>c|d*e\"f.txt", L"a\uFF1Cb\uFF1Ec\uFF5Cd\uFF0Ae\uFF02f.txt"},
        {L"a.txt:x", L"a.txt\uFF1Ax"},
        {L"tab\there\x1f", L"tab_here_"},
        {L"CON.txt", L"_CON.txt"}, {L"dir/aux", L"dir/_aux"}, {L"Com1.tar.gz", L"_Com1.tar.gz"},
        {L"AUX .txt", L"_AUX .txt"}, {L"lpt9/x", L"_lpt9/x"}, {L"conin$", L"_conin$"},
        {L"console.txt", L"console.txt"}, {L"..a/b..c", L"..a/b..c"}, {L"./x/./y", L"x/y"},
        {L"trailing.", L"trailing_"}, {L"space ", L"space_"}, {L"nul. ", L"nul__"}, {L"CON.", L"CON_"},
        {L"... /. ./x", L"____/___/x"},
        // Equal but for case, or made equal: the later one numbered; a stored name again, the same file.
        {L"Readme.txt", L"Readme.txt"}, {L"README.txt", L"README (2).txt"}, {L"readme.TXT", L"readme (3).TXT"},
        {L"Readme.txt", L"Readme.txt"}, {L"what?.txt", L"what\uFF1F.txt"}, {L"what\uFF1F.txt", L"what\uFF1F (2).txt"},
        {L"\u00C4rger", L"\u00C4rger"}, {L"\u00E4rger", L"\u00E4rger (2)"}, {L"v1.2/", L"v1.2/"},
        {L"V1.2", L"V1 (2).2"}, {L"notes", L"notes"}, {L"NOTES/x", L"NOTES (2)/x"},
        // Folders equal but for case are one folder, spelt as first written.
        {L"Docs/", L"Docs/"}, {L"docs/a.txt", L"Docs/a.txt"}, {L"DOCS/A.TXT", L"Docs/A (2).TXT"},
        {L"docs\\sub\\b", L"Docs/sub/b"},
        {L"../up.txt", L""}, {L"a/../../b", L""}, {L"a/..", L""}, {L"/abs", L""}, {L"\\abs", L""},
        {L"C:x", L""}, {L"C:\\x", L""}, {L"\\\\server\\share\\x", L""}, {L"\\\\?\\C:\\x", L""},
        {L"\\\\.\\pipe\\x", L""}, {L"", L""}};
    WrittenNames names;
    for (const auto& [stored, written] : rows) {
        const std::optional<Components> got = names.Next(stored);
        EXPECT_EQ(got ? WrittenNames::Shown(got, stored) : L"", written) << stored;
    }
    // A hard link finds its file where it went; a link's text is written as its names are.
    EXPECT_EQ(names.WrittenAs(L"README.txt"), (Components{L"README (2).txt"}));
    EXPECT_EQ(SafeLinkTarget(Components{L"top", L"link"}, L"../what?"), (Components{L"what\uFF1F"}));
    EXPECT_EQ(WindowsLinkText(L"..\\what?/./CON"), L"../what\uFF1F/./_CON");
    EXPECT_FALSE(SafeLinkTarget(Components{L"top", L"link"}, L"x/../y"));
}

} // namespace dexalo::archivers::testing
