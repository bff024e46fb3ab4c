// ZIPs that libarchive's central-directory reader refuses are read from their local headers.

#include "archiver_test_support.h"

namespace dexalo::archivers::testing {
namespace {

TEST(ZipLocalHeaders, PaddedExtraFieldsAsAlignmentToolsWriteThem) {
    // libarchive's own test archive, from Debian's source package (fetched by the bootstrap).
    const std::string uu = "/var/cache/dexalo-deps/src/libarchive_3.6.2-1+deb12u5/libarchive-3.6.2/libarchive/"
                           "test/test_read_format_zip_extra_padding.zip.uu";
    if (!fs::exists(uu)) GTEST_SKIP() << "missing " << uu;
    ScratchDir dir;
    Shell(dir.path, "python3 -c \"import binascii,sys; sys.stdout.buffer.write(b''.join(binascii.a2b_uu(l) for l in "
                      "open('" + uu + "').read().split('end')[0].splitlines()[1:]))\" > p.zip");
    EXPECT_EQ(List(Family::Zip, dir / "p.zip", "*"), std::vector<std::string>{"a"});
    EXPECT_EQ(Count(Family::Zip, dir / "p.zip"), 1);
    ASSERT_EQ(Extract(Family::Zip, dir / "p.zip", dir / "out"), 0);
    EXPECT_EQ(Tree(dir / "out"), (Files{{"a", "b\n"}}));
}

TEST(ZipLocalHeaders, ACutZipGivesItsCompleteEntries) {
    ScratchDir dir;
    WriteText(dir / "src/first.txt", "first\n");
    Shell(dir / "src", "head -c 200000 /dev/urandom > second.bin && zip -q -X ../z.zip first.txt second.bin");
    Shell(dir.path, "head -c 150000 z.zip > cut.zip");
    EXPECT_EQ(Count(Family::Zip, dir / "cut.zip"), 2);
    EXPECT_EQ(Extract(Family::Zip, dir / "cut.zip", dir / "out"), kErrorCorrupt);
    EXPECT_EQ(Tree(dir / "out"), (Files{{"first.txt", "first\n"}}));
}

} // namespace
} // namespace dexalo::archivers::testing
