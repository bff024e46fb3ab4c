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

class Interaction : public ::testing::Test {
protected:
    int Run(Family family, const fs::path& archive, ScriptedUser& user) {
        fs::remove_all(dir_ / "dest");
        const std::string line = "x \"" + archive.string() + "\" \"" + (dir_ / "dest").string() + "/\"";
        return archivers::Run(family, line.c_str(), nullptr, 0, &user);
    }
    ScratchDir dir_;
};

TEST_F(Interaction, CancelDropsTheEntryBeingWrittenAndKeepsCompleteOnes) {
    WriteText(dir_ / "src/a.txt", "complete\n");
    Shell(dir_ / "src", "head -c 4000000 /dev/urandom > big.bin && tar -czf ../big.tar.gz a.txt big.bin");
    ScriptedUser user;
    user.cancelIn = L"big.bin";
    EXPECT_EQ(Run(Family::Tar, dir_ / "big.tar.gz", user), kErrorCancelled);
    EXPECT_EQ(Tree(dir_ / "dest"), (Files{{"a.txt", "complete\n"}}));  // no temporary file either
    EXPECT_TRUE(user.reports.empty());  // no message after a cancel
}

// AES (7-Zip), so that a wrong password cannot pass libarchive's check by chance: a wrong
// one is asked again, the right one kept for the archive; declining skips every encrypted
// entry and reports them.
TEST_F(Interaction, Passwords) {
    WriteText(dir_ / "src/one.txt", "first secret\n");
    WriteText(dir_ / "src/two.txt", "second secret\n");
    WriteText(dir_ / "src/plain.txt", "open\n");
    Shell(dir_ / "src", "7z a -tzip -mem=AES256 -pright ../locked.zip one.txt two.txt && zip -q ../locked.zip plain.txt");
    ScriptedUser right;
    right.answers = {L"wrong", L"right"};
    EXPECT_EQ(Run(Family::Zip, dir_ / "locked.zip", right), kOk);
    EXPECT_EQ(right.questions, (std::vector<bool>{false, true}));
    EXPECT_EQ(Tree(dir_ / "dest"), (Files{{"one.txt", "first secret\n"}, {"two.txt", "second secret\n"}, {"plain.txt", "open\n"}}));

    ScriptedUser declining;
    declining.answers = {L"wrong", std::nullopt};
    EXPECT_EQ(Run(Family::Zip, dir_ / "locked.zip", declining), kErrorUnsupported);
    EXPECT_EQ(declining.questions, (std::vector<bool>{false, true}));
    EXPECT_EQ(Tree(dir_ / "dest"), (Files{{"plain.txt", "open\n"}}));
    ASSERT_EQ(declining.reports.size(), 1u);
    EXPECT_EQ(declining.reports[0].declined, 2u);
    EXPECT_EQ(declining.reports[0].declinedExample, L"one.txt");
}

// plain.txt, then secret.txt with the password flag over plain stored data.
TEST_F(Interaction, RarEncryptionIsUnsupportedNeitherDamagedNorAsked) {
    for (const char* rar : {"encrypted4.rar", "encrypted5.rar"}) {
        ScriptedUser user;
        EXPECT_EQ(Run(Family::Rar, Fixture(rar), user), kErrorUnsupported) << rar;
        EXPECT_TRUE(user.questions.empty());
        EXPECT_EQ(Tree(dir_ / "dest"), (Files{{"plain.txt", "open\n"}}));
        ASSERT_EQ(user.reports.size(), 1u);
        EXPECT_EQ(user.reports[0].unsupportedEntry, L"secret.txt");
        EXPECT_TRUE(user.reports[0].unsupportedEncryption);
    }
}

} // namespace dexalo::archivers::testing
