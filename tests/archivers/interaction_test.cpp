// The main operation's talk with the user, through a scripted stand-in for the windows:
// cancel, passwords, and what the one report says.
#include "archiver_test_support.h"
#include "engine/extract.h"

namespace dexalo::archivers::testing {
struct ScriptedUser final : UserInterface {
    std::vector<std::optional<std::wstring>> answers;  // given in turn to the password questions
    std::vector<bool> questions;                       // `wrong` of each question asked
    std::wstring cancelIn;                             // cancels after this entry's first block
    unsigned blocksSeen = 0;
    std::vector<ExtractResult> reports;

    void Progress(const std::wstring&, const std::wstring& entry, std::uint64_t, std::uint64_t) override {
        blocksSeen += entry == cancelIn;
    }
    bool Cancelled() override { return blocksSeen >= 2; }  // its start, then one block
    std::optional<std::wstring> Passphrase(const std::wstring&, bool wrong) override {
        questions.push_back(wrong);
        return questions.size() <= answers.size() ? answers[questions.size() - 1] : std::nullopt;
    }
    void Report(const std::wstring&, const ExtractResult& result) override { reports.push_back(result); }
};


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

// plain.txt, then secret.txt with the password flag over plain stored data.
TEST(Interaction, RarEncryptionIsUnsupportedNeitherDamagedNorAsked) {
    ScratchDir dir;
    for (const char* rar : {"encrypted4.rar", "encrypted5.rar"}) {
        ScriptedUser user;
        EXPECT_EQ(Extract(Family::Rar, Fixture(rar), dir / rar, &user), kErrorUnsupported) << rar;
        EXPECT_TRUE(user.questions.empty());
        EXPECT_EQ(Tree(dir / rar), (Files{{"plain.txt", "open\n"}}));
        ASSERT_EQ(user.reports.size(), 1u);
        EXPECT_EQ(user.reports[0].unsupportedEntry, L"secret.txt");
        EXPECT_TRUE(user.reports[0].unsupportedEncryption);
    }
}

} // namespace dexalo::archivers::testing
