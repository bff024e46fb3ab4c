// Links the user made (a linked Desktop or Documents, an archive that is a link) are followed;
// links inside the destination never are.

#include "archiver_test_support.h"

namespace dexalo::archivers::testing {
namespace {

TEST(Links, ArchiveAndDestinationReachedThroughLinksAreExtractedButNoLinkBelowTheRoot) {
    ScratchDir dir;
    fs::create_directories(dir / "real/store");
    fs::create_directories(dir / "real/out");
    WriteText(dir / "s/top/a.txt", "alpha");
    Shell(dir.path, "tar cf real/store/a.tar -C s top/a.txt");
    fs::create_directory_symlink(dir / "real", dir / "linked");
    fs::create_symlink(dir / "linked/store/a.tar", dir / "shortcut.tar");

    EXPECT_EQ(Count(Family::Tar, dir / "shortcut.tar"), 1);
    // The root itself is a link, and so is a parent of a root still to be made.
    EXPECT_EQ(Extract(Family::Tar, dir / "shortcut.tar", dir / "linked/out"), kOk);
    EXPECT_EQ(Extract(Family::Tar, dir / "shortcut.tar", dir / "linked/new/deeper"), kOk);
    EXPECT_EQ(ReadText(dir / "real/out/top/a.txt"), "alpha");
    EXPECT_EQ(ReadText(dir / "real/new/deeper/top/a.txt"), "alpha");

    fs::create_directories(dir / "outside");
    fs::create_directory_symlink(dir / "outside", dir / "real/out/top/data");
    WriteText(dir / "s/top/data/x.txt", "x");
    WriteText(dir / "s/y.txt", "y");
    Shell(dir.path, "tar cf t.tar -C s top/data/x.txt y.txt");
    EXPECT_EQ(Extract(Family::Tar, dir / "t.tar", dir / "linked/out"), kErrorRefused);
    EXPECT_TRUE(fs::is_empty(dir / "outside"));
    EXPECT_EQ(ReadText(dir / "real/out/y.txt"), "y");
}

TEST(Attributes, AReadOnlyEntryIsExtractedReadOnlyAndReplacedByANewerOne) {
    ScratchDir dir;
    fs::create_directories(dir / "src");
    WriteText(dir / "src/locked.txt", "v1");
    WriteText(dir / "src/open.txt", "free");
    Shell(dir.path, "chmod 444 src/locked.txt && touch -d 2001-01-01 src/* && tar cf old.tar -C src locked.txt open.txt");
    Shell(dir.path, "chmod 644 src/locked.txt && echo v2 > src/locked.txt && tar cf new.tar -C src locked.txt");

    ASSERT_EQ(Extract(Family::Tar, dir / "old.tar", dir / "out"), kOk);
    const auto write = fs::perms::owner_write;
    EXPECT_EQ(fs::status(dir / "out/locked.txt").permissions() & write, fs::perms::none);
    EXPECT_NE(fs::status(dir / "out/open.txt").permissions() & write, fs::perms::none);
    EXPECT_EQ(Extract(Family::Tar, dir / "new.tar", dir / "out"), kOk);
    EXPECT_EQ(ReadText(dir / "out/locked.txt"), "v2\n");
}

} // namespace
} // namespace dexalo::archivers::testing
