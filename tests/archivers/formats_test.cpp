// Listing and extraction of archives made by Debian's own tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "archiver_test_support.h"
#include "engine/api.h"

namespace dexalo::archivers::testing {
namespace {

using Names = std::vector<std::string>;

class Formats : public ::testing::Test {
protected:
    // top/a.txt, top/sub/b.txt (compressible), top/empty/, with a fixed time.
    void SetUp() override {
        WriteText(src_ / "top/a.txt", "alpha\n");
        std::string big;
        for (int i = 0; i < 4000; ++i) big += "line " + std::to_string(i) + "\n";
        WriteText(src_ / "top/sub/b.txt", big);
        fs::create_directories(src_ / "top/empty");
        Shell(src_.path(), "touch -d '2021-03-04 05:06:07' top/a.txt top/sub/b.txt");
    }

    // Extracts and checks the result is exactly the source tree, times kept.
    void ExpectRoundTrip(Family family, const fs::path& archive) {
        const fs::path dest = out_ / "dest";
        ASSERT_EQ(Extract(family, archive, dest), 0);
        EXPECT_EQ(Tree(dest), Tree(src_.path()));
        EXPECT_EQ(fs::last_write_time(dest / "top/a.txt"), fs::last_write_time(src_ / "top/a.txt"));
        fs::remove_all(dest);
    }

    ScratchDir src_, out_;
};

TEST_F(Formats, ZipListsEveryEntryAndFiltersByWildcard) {
    Shell(src_.path(), "zip -qr " + (out_ / "t.zip").string() + " top");
    const fs::path zip = out_ / "t.zip";
    Names all = List(Family::Zip, zip, "*");
    EXPECT_EQ(Count(Family::Zip, zip), 5);
    EXPECT_EQ(List(Family::Zip, zip, "*.*"), all);
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, (Names{"top/", "top/a.txt", "top/empty/", "top/sub/", "top/sub/b.txt"}));
    Names texts = List(Family::Zip, zip, "*.TXT");
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (Names{"top/a.txt", "top/sub/b.txt"}));
    EXPECT_EQ(List(Family::Zip, zip, "top/s?b/?*"), (Names{"top/sub/b.txt"}));
    ExpectRoundTrip(Family::Zip, zip);
}

TEST_F(Formats, TarWithEveryFilter) {
    for (const std::string option : {"-z", "-j", "-J", "--lzma", "--zstd", "-Z", ""}) {
        const fs::path tar = out_ / ("t.tar" + option);
        const std::string make = option == "-Z" ? "tar cf - top | compress -c > '" + tar.string() + "'"
                                                : "tar c " + option + " -f '" + tar.string() + "' top";
        Shell(src_.path(), make);
        EXPECT_EQ(Count(Family::Tar, tar), 5) << option;
        const Names listed = List(Family::Tar, tar, "");
        EXPECT_EQ(listed.size(), 5u) << option;
        EXPECT_EQ(listed.front(), "top/") << option;
        ExpectRoundTrip(Family::Tar, tar);
    }
}

// A sparse file that ends in a hole has fewer data bytes than its size: that is not damage.
TEST_F(Formats, SparseTarEntryEndingInAHoleKeepsItsSize) {
    Shell(src_.path(), "printf head > sparse.bin && truncate -s 1M sparse.bin && tar cSf " +
                           (out_ / "s.tar").string() + " sparse.bin");
    ASSERT_EQ(Extract(Family::Tar, out_ / "s.tar", out_ / "x"), 0);
    const std::string data = ReadText(out_ / "x/sparse.bin");
    EXPECT_EQ(data.size(), 1u << 20);
    EXPECT_EQ(data.substr(0, 4), "head");
    EXPECT_EQ(data.find_first_not_of('\0', 4), std::string::npos);
}

TEST_F(Formats, LoneCompressedStreamIsOneEntryNamedAfterTheFile) {
    for (const std::string tool : {"gzip", "bzip2", "xz", "compress"}) {
        fs::copy_file(src_ / "top/sub/b.txt", out_ / "notes.txt", fs::copy_options::overwrite_existing);
        Shell(out_.path(), tool + " -f notes.txt");
        fs::path packed;
        for (const auto& e : fs::directory_iterator(out_.path()))
            if (e.path().filename().string().starts_with("notes.txt.")) packed = e.path();
        ASSERT_FALSE(packed.empty()) << tool;
        EXPECT_EQ(Count(Family::Tar, packed), 1) << tool;
        EXPECT_EQ(List(Family::Tar, packed, "*"), Names{"notes.txt"}) << tool;
        ASSERT_EQ(Extract(Family::Tar, packed, out_ / "x"), 0) << tool;
        EXPECT_EQ(ReadText(out_ / "x/notes.txt"), ReadText(src_ / "top/sub/b.txt")) << tool;
        fs::remove_all(out_ / "x");
        fs::remove(packed);
    }
}

TEST_F(Formats, CabUsesBackslashes) {
    Shell(src_.path(), "gcab -c -z " + (out_ / "t.cab").string() + " top/a.txt top/sub/b.txt");
    const fs::path cab = out_ / "t.cab";
    EXPECT_EQ(List(Family::Cab, cab, "*"), (Names{"top\\a.txt", "top\\sub\\b.txt"}));
    EXPECT_EQ(Count(Family::Cab, cab), 2);
    ASSERT_EQ(Extract(Family::Cab, cab, out_ / "x"), 0);
    EXPECT_EQ(ReadText(out_ / "x/top/sub/b.txt"), ReadText(src_ / "top/sub/b.txt"));
}

TEST_F(Formats, LzhMethodsAndHeaderLevels) {
    // jlha writes Shift-JIS names when asked to convert multibyte names ("y").
    WriteText(src_ / "top/日本語.txt", "nihongo\n");
    for (const std::string method : {"5", "6", "7"}) {
        for (const std::string level : {"0", "1", "2"}) {
            const std::string name = "t" + method + level + ".lzh";
            const fs::path lzh = out_ / name;
            Shell(src_.path(), "LC_ALL=C.UTF-8 lha c" + level + "o" + method + "y " + lzh.string() + " top");
            Names listed = List(Family::Lzh, lzh, "*");
            EXPECT_EQ(Count(Family::Lzh, lzh), static_cast<int>(listed.size())) << name;
            std::sort(listed.begin(), listed.end());
            EXPECT_EQ(listed, (Names{"top/", "top/a.txt", "top/empty/", "top/sub/", "top/sub/b.txt",
                                     "top/日本語.txt"}))
                << name;
            ASSERT_EQ(Extract(Family::Lzh, lzh, out_ / "x"), 0) << name;
            EXPECT_EQ(ReadText(out_ / "x/top/sub/b.txt"), ReadText(src_ / "top/sub/b.txt")) << name;
            EXPECT_EQ(ReadText(out_ / "x/top/日本語.txt"), "nihongo\n") << name;
            fs::remove_all(out_ / "x");
        }
    }
}

TEST_F(Formats, StoredRar4UsesBackslashes) {
    const fs::path rar = Fixture("stored.rar");
    EXPECT_EQ(List(Family::Rar, rar, "*.*"), (Names{"top\\", "top\\a.txt", "top\\b.txt"}));
    EXPECT_EQ(Count(Family::Rar, rar), 3);
    ASSERT_EQ(Extract(Family::Rar, rar, out_ / "x"), 0);
    EXPECT_EQ(Tree(out_ / "x"), (std::map<std::string, std::string>{
                                    {"top/", ""}, {"top/a.txt", "alpha\n"}, {"top/b.txt", "beta\n"}}));
}

TEST_F(Formats, EachLibraryTakesOnlyItsOwnFamily) {
    Shell(src_.path(), "zip -qr " + (out_ / "a.zip").string() + " top && tar czf " + (out_ / "a.tgz").string() +
                           " top && gcab -c " + (out_ / "a.cab").string() + " top/a.txt && LC_ALL=C.UTF-8 lha c2o5 " +
                           (out_ / "a.lzh").string() + " top");
    fs::copy_file(Fixture("stored.rar"), out_ / "a.rar");
    WriteText(out_ / "plain.txt", "not an archive at all\n");
    const std::pair<const char*, Family> owners[] = {{"a.lzh", Family::Lzh}, {"a.zip", Family::Zip},
                                                     {"a.cab", Family::Cab}, {"a.tgz", Family::Tar},
                                                     {"a.rar", Family::Rar}};
    for (const auto& [file, owner] : owners) {
        for (Family family : {Family::Lzh, Family::Zip, Family::Cab, Family::Tar, Family::Rar}) {
            const int count = Count(family, out_ / file);
            if (family == owner)
                EXPECT_GE(count, 1) << file << " by " << NameOf(family);
            else
                EXPECT_EQ(count, -1) << file << " by " << NameOf(family);
        }
    }
    for (Family family : {Family::Lzh, Family::Zip, Family::Cab, Family::Tar, Family::Rar}) {
        EXPECT_EQ(Count(family, out_ / "plain.txt"), -1) << NameOf(family);
        EXPECT_EQ(Count(family, out_ / "missing.zip"), -1) << NameOf(family);
        EXPECT_EQ(OpenArchive(family, (out_ / "plain.txt").c_str(), 512), 0u);
    }
}

// Counts and listings may be remembered, but never for a file that changed since.
TEST_F(Formats, AChangedFileIsReadAgain) {
    const fs::path tgz = out_ / "t.tgz";
    Shell(src_.path(), "tar czf " + tgz.string() + " top");
    EXPECT_EQ(Count(Family::Tar, tgz), 5);
    Shell(src_.path(), "tar czf " + tgz.string() + " top/a.txt && touch -d '2001-01-01' " + tgz.string());
    EXPECT_EQ(Count(Family::Tar, tgz), 1);
    EXPECT_EQ(List(Family::Tar, tgz, ""), Names{"top/a.txt"});
}

TEST_F(Formats, FindCallsOnBadHandlesAndRecords) {
    Shell(src_.path(), "zip -qr " + (out_ / "t.zip").string() + " top");
    EntryRecord record{};
    EXPECT_EQ(FindFirst(Family::Zip, 0, "*", &record), 0x8070);
    EXPECT_EQ(FindNext(Family::Zip, 12345, &record), 0x8070);
    const std::uintptr_t handle = OpenArchive(Family::Zip, (out_ / "t.zip").c_str(), 512);
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(FindFirst(Family::Tar, handle, "*", &record), 0x8070);  // another library's handle
    EXPECT_EQ(FindFirst(Family::Zip, handle, "*", nullptr), 0x8070);
    EXPECT_EQ(FindFirst(Family::Zip, handle, "nothing*", &record), -1);
    EXPECT_EQ(CloseArchive(Family::Zip, handle), 0);
    EXPECT_EQ(CloseArchive(Family::Zip, handle), 0x8070);
}

} // namespace
} // namespace dexalo::archivers::testing
