// The main operation's talk with the user, through a scripted stand-in for the windows:
// cancel, passwords, and what the one report says.
#include "archiver_test_support.h"

namespace dexalo::archivers::testing {

TEST(Interaction, CancelDropsTheEntryBeingWrittenAndKeepsCompleteOnes) {
    ScratchDir dir;
    WriteText(dir / "src/a.txt", "complete\n");
    Shell(dir / "src", "head -c 4000000 /dev/urandom > big.bin && tar -czf ../big.tar.gz a.txt big.bin");
    ScriptedUser user;
    user.cancelIn = L"big.bin";
    EXPECT_EQ(Extract(Family::Tar, dir / "big.tar.gz", dir / "dest", &user), kErrorCancelled);
    EXPECT_EQ(Tree(dir / "dest"), (Files{{"a.txt", "complete\n"}}));  // no temporary file either
    EXPECT_TRUE(user.reports.empty());  // no message after a cancel
}

// AES (7-Zip), so that a wrong password cannot pass libarchive's check by chance: a wrong
// one is asked again, the right one kept for the archive; declining skips every encrypted
// entry and reports them.
TEST(Interaction, Passwords) {
    ScratchDir dir;
    WriteText(dir / "src/one.txt", "first secret\n");
    WriteText(dir / "src/two.txt", "second secret\n");
    WriteText(dir / "src/plain.txt", "open\n");
    Shell(dir / "src", "7z a -tzip -mem=AES256 -pright ../locked.zip one.txt two.txt && zip -q ../locked.zip plain.txt");
    ScriptedUser right;
    right.answers = {L"wrong", L"right"};
    EXPECT_EQ(Extract(Family::Zip, dir / "locked.zip", dir / "dest", &right), kOk);
    EXPECT_EQ(right.questions, (std::vector<bool>{false, true}));
    EXPECT_EQ(Tree(dir / "dest"), (Files{{"one.txt", "first secret\n"}, {"two.txt", "second secret\n"}, {"plain.txt", "open\n"}}));

    ScriptedUser declining;
    declining.answers = {L"wrong", std::nullopt};
    EXPECT_EQ(Extract(Family::Zip, dir / "locked.zip", dir / "declined", &declining), kErrorUnsupported);
    EXPECT_EQ(declining.questions, (std::vector<bool>{false, true}));
    EXPECT_EQ(Tree(dir / "declined"), (Files{{"plain.txt", "open\n"}}));
    ASSERT_EQ(declining.reports.size(), 1u);
    EXPECT_EQ(declining.reports[0].declined, 2u);
    EXPECT_EQ(declining.reports[0].declinedExample, L"one.txt");
}

// RAR: plain.txt, then secret.txt with the password flag over plain stored data. 7z: the same
// made by 7z with a password, and with its names encrypted too (counted as one, listed as none).
TEST(Interaction, RarAnd7zEncryptionIsUnsupportedNeitherDamagedNorAsked) {
    ScratchDir dir;
    Shell(dir.path, "echo open > plain.txt && echo hidden > secret.txt && 7z a -bd -pright e.7z plain.txt secret.txt"
                    " >/dev/null && 7z a -bd -pright -mhe=on h.7z plain.txt secret.txt >/dev/null");
    const struct {
        Family family;
        fs::path archive;
        Files left;
        std::wstring named;
    } rows[] = {{Family::Rar, Fixture("encrypted4.rar"), {{"plain.txt", "open\n"}}, L"secret.txt"},
                {Family::Rar, Fixture("encrypted5.rar"), {{"plain.txt", "open\n"}}, L"secret.txt"},
                {Family::Tar, dir / "e.7z", {}, L"plain.txt"},
                {Family::Tar, dir / "h.7z", {}, L"h.7z"}};
    for (const auto& row : rows) {
        ScriptedUser user;
        const fs::path to = dir / "out" / row.archive.filename();
        EXPECT_EQ(Count(row.family, row.archive), row.named == L"h.7z" ? 1 : 2) << row.archive;
        EXPECT_EQ(Extract(row.family, row.archive, to, &user), kErrorUnsupported) << row.archive;
        EXPECT_TRUE(user.questions.empty());
        EXPECT_EQ(Tree(to), row.left);
        ASSERT_EQ(user.reports.size(), 1u);
        EXPECT_EQ(user.reports[0].unsupportedEntry, row.named);
        EXPECT_TRUE(user.reports[0].unsupportedEncryption);
    }
}

} // namespace dexalo::archivers::testing
