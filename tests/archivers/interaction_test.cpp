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

// RAR: plain.txt, then secret.txt with the password flag over plain stored data.
TEST(Interaction, RarEncryptionIsUnsupportedNeitherDamagedNorAsked) {
    ScratchDir dir;
    for (const char* name : {"encrypted4.rar", "encrypted5.rar"}) {
        ScriptedUser user;
        const fs::path archive = Fixture(name), to = dir / "out" / name;
        EXPECT_EQ(Count(Family::Rar, archive), 2) << name;
        EXPECT_EQ(Extract(Family::Rar, archive, to, &user), kErrorUnsupported) << name;
        EXPECT_TRUE(user.questions.empty());
        EXPECT_EQ(Tree(to), (Files{{"plain.txt", "open\n"}}));
        ASSERT_EQ(user.reports.size(), 1u);
        EXPECT_EQ(user.reports[0].unsupportedEntry, L"secret.txt");
        EXPECT_TRUE(user.reports[0].unsupportedEncryption);
    }
}

} // namespace dexalo::archivers::testing
