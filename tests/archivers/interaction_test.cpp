// The main operation's talk with the user, through a scripted stand-in for the windows:
// cancel, passwords, and what the one report says.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "archiver_test_support.h"
#include "engine/api.h"
#include "engine/errors.h"
#include "engine/extract.h"

namespace dexalo::archivers::testing {
namespace {

struct ScriptedUser final : UserInterface {
    std::vector<std::optional<std::wstring>> answers;  // given in turn to the password questions
    std::vector<bool> questions;                       // `wrong` of each question asked
    std::wstring cancelIn;                             // cancels after this entry's first block
    unsigned blocksSeen = 0;
    std::uint64_t total = 0;
    std::vector<ExtractResult> reports;

    void Progress(const std::wstring&, const std::wstring& entry, std::uint64_t, std::uint64_t all) override {
        if (entry == cancelIn) ++blocksSeen;
        total = all;
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
    int Run(const fs::path& archive, ScriptedUser& user) {
        const std::string line = "x \"" + archive.string() + "\" \"" + (dir_ / "dest").string() + "/\"";
        return archivers::Run(family_, line.c_str(), nullptr, 0, &user);
    }
    std::map<std::string, std::string> Dest() { return Tree(dir_ / "dest"); }

    ScratchDir dir_;
    Family family_ = Family::Zip;
};

TEST_F(Interaction, CancelDropsTheEntryBeingWrittenAndKeepsCompleteOnes) {
    WriteText(dir_ / "src/a.txt", "complete\n");
    Shell(dir_ / "src", "head -c 4000000 /dev/urandom > big.bin && tar -czf ../big.tar.gz a.txt big.bin");
    family_ = Family::Tar;
    ScriptedUser user;
    user.cancelIn = L"big.bin";
    EXPECT_EQ(Run(dir_ / "big.tar.gz", user), kErrorCancelled);
    EXPECT_EQ(Dest(), (std::map<std::string, std::string>{{"a.txt", "complete\n"}}));  // no temporary file either
    EXPECT_TRUE(user.reports.empty());  // no message after a cancel
    EXPECT_EQ(user.total, fs::file_size(dir_ / "big.tar.gz"));
}

// AES (7-Zip), so that a wrong password cannot pass libarchive's check by chance.
class Passwords : public Interaction {
protected:
    void SetUp() override {
        WriteText(dir_ / "src/one.txt", "first secret\n");
        WriteText(dir_ / "src/two.txt", "second secret\n");
        WriteText(dir_ / "src/plain.txt", "open\n");
        Shell(dir_ / "src", "7z a -tzip -mem=AES256 -pright ../locked.zip one.txt two.txt >/dev/null && "
                            "zip -q ../locked.zip plain.txt");
    }
};

TEST_F(Passwords, AWrongOneIsAskedAgainAndTheRightOneKeptForTheArchive) {
    ScriptedUser user;
    user.answers = {L"wrong", L"right"};
    EXPECT_EQ(Run(dir_ / "locked.zip", user), kOk);
    EXPECT_EQ(user.questions, (std::vector<bool>{false, true}));  // not asked again for two.txt
    EXPECT_EQ(Dest(), (std::map<std::string, std::string>{
                          {"one.txt", "first secret\n"}, {"two.txt", "second secret\n"}, {"plain.txt", "open\n"}}));
}

TEST_F(Passwords, DecliningSkipsEveryEncryptedEntryAndReportsThem) {
    ScriptedUser user;
    user.answers = {L"wrong", std::nullopt};
    EXPECT_EQ(Run(dir_ / "locked.zip", user), kErrorUnsupported);
    EXPECT_EQ(user.questions, (std::vector<bool>{false, true}));
    EXPECT_EQ(Dest(), (std::map<std::string, std::string>{{"plain.txt", "open\n"}}));
    ASSERT_EQ(user.reports.size(), 1u);
    EXPECT_EQ(user.reports[0].declined, 2u);
    EXPECT_EQ(user.reports[0].declinedExample, L"one.txt");
}

TEST_F(Interaction, RarEncryptionIsUnsupportedNeitherDamagedNorAsked) {
    // plain.txt, then secret.txt with the password flag over plain stored data.
    family_ = Family::Rar;
    for (const char* rar : {"encrypted4.rar", "encrypted5.rar"}) {
        fs::remove_all(dir_ / "dest");
        ScriptedUser user;
        EXPECT_EQ(Run(Fixture(rar), user), kErrorUnsupported) << rar;
        EXPECT_TRUE(user.questions.empty());
        EXPECT_EQ(Dest(), (std::map<std::string, std::string>{{"plain.txt", "open\n"}}));
        ASSERT_EQ(user.reports.size(), 1u);
        EXPECT_EQ(user.reports[0].unsupportedEntry, L"secret.txt");
        EXPECT_TRUE(user.reports[0].unsupportedEncryption);
    }
}

TEST_F(Interaction, AFolderThatCannotBeMadeIsNamedWithTheSystemsReason) {
    WriteText(dir_ / "src/a.txt", "a");
    WriteText(dir_ / "dest", "a file where the destination should be");
    Shell(dir_ / "src", "zip -q ../plain.zip a.txt");
    ScriptedUser user;
    EXPECT_EQ(Run(dir_ / "plain.zip", user), kErrorCannotWrite);
    ASSERT_EQ(user.reports.size(), 1u);
    EXPECT_EQ(user.reports[0].unwritable, (dir_ / "dest").wstring());
    EXPECT_EQ(user.reports[0].systemReason, fs::path(std::strerror(EEXIST)).wstring());
}

} // namespace
} // namespace dexalo::archivers::testing
