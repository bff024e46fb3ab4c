// Hostile, damaged and conflicting archives: nothing outside the destination, nothing
// half-written, the user's newer files kept, and a distinct code for each failure.
#include <gtest/gtest.h>

#include <fstream>

#include "archiver_test_support.h"
#include "engine/api.h"
#include "engine/errors.h"

namespace dexalo::archivers::testing {
namespace {

class Safety : public ::testing::Test {
protected:
    // The archive lies beside `dest` inside `outer`, so anything escaping lands in `outer`.
    fs::path Write(const std::string& name, const std::string& bytes) {
        std::ofstream(outer_ / name, std::ios::binary) << bytes;
        return outer_ / name;
    }
    // Everything in `outer` besides the destination and the archives.
    std::map<std::string, std::string> Escaped() {
        auto tree = Tree(outer_.path());
        std::erase_if(tree, [](const auto& kv) {
            return kv.first.starts_with("dest/") || kv.first.ends_with(".tar") || kv.first.ends_with(".gz") ||
                   kv.first.ends_with(".zip");
        });
        return tree;
    }
    fs::path Dest() const { return outer_ / "dest"; }

    ScratchDir outer_;
};

TEST_F(Safety, UnsafePathsAreRefusedAndTheRestExtracted) {
    const fs::path tar = Write("evil.tar", ReadText(Fixture("unsafe-paths.tar")));
    EXPECT_EQ(Extract(Family::Tar, tar, Dest()), kErrorRefused);
    EXPECT_EQ(Tree(Dest()), (std::map<std::string, std::string>{{"good/", ""}, {"good/ok.txt", "fine"}}));
    EXPECT_TRUE(Escaped().empty());
    EXPECT_FALSE(fs::exists("/abs.txt"));
}

TEST_F(Safety, LinksNeverLeadOutside) {
    fs::create_directories(outer_ / "outside");
    const fs::path tar = Write("links.tar", ReadText(Fixture("links.tar")));
    EXPECT_EQ(Extract(Family::Tar, tar, Dest()), kErrorRefused);
    EXPECT_TRUE(fs::is_empty(outer_ / "outside"));
    const auto tree = Tree(Dest());
    // The refused link is not there, so "escape/" became a plain folder inside.
    EXPECT_EQ(tree.at("escape/planted.txt"), "planted");
    EXPECT_EQ(tree.at("top/inner"), "-> ../good.txt");
    EXPECT_FALSE(tree.count("abs"));
    EXPECT_FALSE(tree.count("hard"));
}

TEST_F(Safety, AnExistingLinkInTheDestinationIsNeverWrittenThrough) {
    fs::create_directories(outer_ / "outside");
    fs::create_directories(Dest());
    fs::create_directory_symlink(outer_ / "outside", Dest() / "data");
    const fs::path tar = Write("t.tar", ReadText(Fixture("through-link.tar")));
    EXPECT_EQ(Extract(Family::Tar, tar, Dest()), kErrorRefused);
    EXPECT_TRUE(fs::is_empty(outer_ / "outside"));
    EXPECT_EQ(ReadText(Dest() / "y.txt"), "y");
}

TEST_F(Safety, TruncatedOrDamagedDataLeavesNoHalfWrittenFile) {
    std::string big;
    for (int i = 0; i < 200000; ++i) big += std::to_string(i * 7919) + ",";
    WriteText(outer_ / "src/first.txt", "first");
    WriteText(outer_ / "src/second.bin", big);
    Shell(outer_ / "src", "tar czf ../full.tar.gz first.txt second.bin && zip -q ../full.zip first.txt second.bin");
    fs::remove_all(outer_ / "src");

    const std::string gz = ReadText(outer_ / "full.tar.gz");
    const fs::path cut = Write("cut.tar.gz", gz.substr(0, gz.size() * 2 / 3));
    EXPECT_EQ(Extract(Family::Tar, cut, Dest()), kErrorCorrupt);
    EXPECT_EQ(Tree(Dest()), (std::map<std::string, std::string>{{"first.txt", "first"}}));

    std::string zip = ReadText(outer_ / "full.zip");
    const std::size_t at = zip.find("second.bin") + 10 + 2000;  // inside the deflated data
    zip[at] = static_cast<char>(zip[at] ^ 0x55);
    const fs::path bad = Write("bad.zip", zip);
    fs::remove_all(Dest());
    EXPECT_EQ(Extract(Family::Zip, bad, Dest()), kErrorCorrupt);
    EXPECT_EQ(Tree(Dest()), (std::map<std::string, std::string>{{"first.txt", "first"}}));
}

// libarchive reports a failed CRC or a short entry only as a warning once the data is
// through; the entry must still count as damaged, and nothing may take the file's name.
TEST_F(Safety, DataThatFailsItsCheckIsCorruptAndReplacesNothing) {
    std::string big;
    for (int i = 0; i < 60000; ++i) big += std::to_string(i * 7919 % 100003) + ",";
    WriteText(outer_ / "src/first.txt", "first");
    WriteText(outer_ / "src/second.bin", big);
    Shell(outer_ / "src", "zip -q -0 ../stored.zip first.txt second.bin && zip -q ../deflated.zip first.txt second.bin"
                          " && LC_ALL=C.UTF-8 lha czq ../stored.lzh first.txt second.bin");
    fs::remove_all(outer_ / "src");
    const auto flipped = [&](const std::string& file) {
        std::string bytes = ReadText(outer_ / file);
        const std::size_t at = bytes.find(big.substr(30000, 40));  // inside the stored data
        EXPECT_NE(at, std::string::npos) << file;
        bytes[at] = bytes[at] == '1' ? '2' : '1';  // still plausible digits
        return bytes;
    };
    std::string shorter = ReadText(outer_ / "deflated.zip");
    PatchZipHeaders(shorter, "second.bin", 8, static_cast<std::uint32_t>(big.size() + 4));
    const std::pair<Family, fs::path> damaged[] = {{Family::Zip, Write("crc.zip", flipped("stored.zip"))},
                                                   {Family::Zip, Write("short.zip", shorter)},
                                                   {Family::Lzh, Write("crc.lzh", flipped("stored.lzh"))}};
    // Names with short contents, or the size of long ones.
    const auto shape = [&] {
        std::map<std::string, std::string> tree = Tree(Dest());
        for (auto& [name, data] : tree)
            if (data.size() > 16) data = std::to_string(data.size()) + " bytes";
        return tree;
    };
    for (const auto& [family, archive] : damaged) {
        fs::remove_all(Dest());
        EXPECT_EQ(Extract(family, archive, Dest()), kErrorCorrupt) << archive;
        EXPECT_EQ(shape(), (std::map<std::string, std::string>{{"first.txt", "first"}})) << archive;
        // The user's older copy stays as it is, although the entry is newer.
        WriteText(Dest() / "second.bin", "mine");
        Shell(Dest(), "touch -d '2001-01-01' second.bin first.txt");
        EXPECT_EQ(Extract(family, archive, Dest()), kErrorCorrupt) << archive;
        EXPECT_EQ(shape(), (std::map<std::string, std::string>{{"first.txt", "first"}, {"second.bin", "mine"}}))
            << archive;
    }
}

TEST_F(Safety, OnlyANewerEntryReplacesAFile) {
    WriteText(outer_ / "src/f.txt", "archived");
    Shell(outer_ / "src", "touch -d '2020-01-01' f.txt && tar cf ../t.tar f.txt");
    const fs::path tar = outer_ / "t.tar";
    WriteText(Dest() / "f.txt", "mine, newer");
    EXPECT_EQ(Extract(Family::Tar, tar, Dest()), 0);
    EXPECT_EQ(ReadText(Dest() / "f.txt"), "mine, newer");

    Shell(Dest(), "touch -d '2019-01-01' f.txt");
    EXPECT_EQ(Extract(Family::Tar, tar, Dest()), 0);
    EXPECT_EQ(ReadText(Dest() / "f.txt"), "archived");
    EXPECT_EQ(Tree(Dest()).size(), 1u);  // no temporary left behind
}

TEST_F(Safety, DistinctCodesForEachFailure) {
    WriteText(outer_ / "src/a.txt", "a");
    Shell(outer_ / "src", "zip -q -P secret ../locked.zip a.txt && zip -q ../plain.zip a.txt");
    char out[256] = {};
    const std::string locked = "-u -qq \"" + (outer_ / "locked.zip").string() + "\" \"" + Dest().string() + "/\"";
    EXPECT_EQ(archivers::Run(Family::Zip, locked.c_str(), out, sizeof out), kErrorUnsupported);
    EXPECT_NE(std::string(out).find("code"), std::string::npos);  // a summary when there is room

    EXPECT_EQ(Extract(Family::Zip, outer_ / "missing.zip", Dest()), kErrorCannotOpen);
    EXPECT_EQ(Extract(Family::Tar, outer_ / "plain.zip", Dest()), kErrorCannotOpen);  // not a tar
    WriteText(outer_ / "blocker", "a file where the destination should be");
    EXPECT_EQ(Extract(Family::Zip, outer_ / "plain.zip", outer_ / "blocker"), kErrorCannotWrite);
    EXPECT_EQ(archivers::Run(Family::Zip, "-u -qq", out, 0), kErrorCommandLine);
    EXPECT_EQ(archivers::Run(Family::Zip, nullptr, nullptr, 0), kErrorCommandLine);
}

} // namespace
} // namespace dexalo::archivers::testing
