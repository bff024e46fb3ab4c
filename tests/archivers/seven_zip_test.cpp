// Encrypted 7z, as 7z itself writes it: the password asked for, a wrong one asked again and
// never written with, names that can be counted only with the password.
#include "archiver_test_support.h"

#include <archive.h>

#include "engine/pipeline/family.h"
#include "engine/pipeline/resolve.h"
#include "engine/formats/seven_zip.h"
#include "engine/pipeline/passwords.h"

namespace dexalo::archivers::testing {

namespace {

const Files kFiles = {{"top/", ""}, {"top/a.txt", "alpha\n"}, {"top/sub/", ""}, {"top/sub/b.bin", Noise(300000, 7)},
                      {"top/sub/c.txt", Prose(200000)}};

struct SevenZipEncryption : ::testing::Test {
    ScratchDir dir;
    void SetUp() override {
        for (const auto& [name, data] : kFiles)
            if (name.back() != '/') WriteText(dir / "src" / name, data);
        ForgetPasswords();
        SetRecognitionQuestion(nullptr);
    }
    void TearDown() override { SetRecognitionQuestion(nullptr); }
    fs::path Make(const std::string& name, const std::string& switches) {
        Shell(dir / "src", "7z a -bd -t7z -pright " + switches + " ../" + name + " top");
        return dir / name;
    }
};

} // namespace

// Each way 7z lays out its coders behind AES: one packed stream, BCJ2's four, stored data
// (AES the folder's only coder), PPMd, one folder per file with the names encrypted too.
TEST_F(SevenZipEncryption, WrongPasswordAskedAgainThenEveryByteAsArchived) {
    for (const std::string switches : {"-mx=9", "-mf=BCJ2", "-mx=0", "-m0=PPMd", "-ms=off -mhe=on"}) {
        const fs::path archive = Make("e" + std::to_string(switches.size()) + ".7z", switches);
        const fs::path to = dir / "out" / archive.filename();
        ScriptedUser user;
        user.answers = {L"wrong", L"right"};
        EXPECT_EQ(Extract(Family::Tar, archive, to, &user), kOk) << switches;
        EXPECT_EQ(user.questions, (std::vector<bool>{false, true})) << switches;
        EXPECT_EQ(Tree(to), kFiles) << switches;
        EXPECT_TRUE(user.reports.empty()) << switches;
    }
}

// Names encrypted: counted through the recognition question, and the password that opened
// the archive is not asked for again by the extraction. Declined there, it counts two and lists
// nothing, so that the program's single-folder check, finding no shared top folder, extracts
// it into a folder of its own once the main operation has the password.
TEST_F(SevenZipEncryption, EncryptedNamesAreCountedWithThePassword) {
    const fs::path archive = Make("h.7z", "-mhe=on");
    std::vector<bool> asked;
    SetRecognitionQuestion([&](const std::wstring& name, bool wrong) -> std::optional<std::wstring> {
        EXPECT_EQ(name, archive.wstring());
        asked.push_back(wrong);
        return asked.size() == 1 ? L"wrong" : L"right";
    });
    EXPECT_EQ(Count(Family::Tar, archive), 5);
    EXPECT_EQ(List(Family::Tar, archive, "*"), (Names{"top/", "top/sub/", "top/a.txt", "top/sub/b.bin", "top/sub/c.txt"}));
    EXPECT_EQ(asked, (std::vector<bool>{false, true}));
    ScriptedUser user;
    EXPECT_EQ(Extract(Family::Tar, archive, dir / "out", &user), kOk);
    EXPECT_TRUE(user.questions.empty());
    EXPECT_EQ(Tree(dir / "out"), kFiles);

    ForgetResolved();
    ForgetPasswords();
    SetRecognitionQuestion([](const std::wstring&, bool) { return std::nullopt; });
    EXPECT_EQ(Count(Family::Tar, archive), 2);
    EXPECT_EQ(List(Family::Tar, archive, "*"), Names{});
    EXPECT_EQ(CheckArchive(Family::Tar, archive.c_str(), 0), 0);
}

// Declining writes nothing, not even the folders, and the one report says why.
TEST_F(SevenZipEncryption, DecliningWritesNothing) {
    for (const std::string switches : {"", "-mhe=on"}) {
        const fs::path archive = Make("d" + std::to_string(switches.size()) + ".7z", switches);
        const fs::path to = dir / "out" / archive.filename();
        ScriptedUser user;
        user.answers = {L"wrong", std::nullopt};
        EXPECT_EQ(Extract(Family::Tar, archive, to, &user), kErrorUnsupported) << switches;
        EXPECT_EQ(user.questions, (std::vector<bool>{false, true})) << switches;
        EXPECT_EQ(Tree(to), Files{}) << switches;
        ASSERT_EQ(user.reports.size(), 1u) << switches;
        EXPECT_GE(user.reports[0].declined, 1u) << switches;
        EXPECT_TRUE(user.reports[0].unsupportedEntry.empty()) << switches;
    }
}


// A decryption whose result libarchive will not open leaves the reader spent: that is told
// apart from an open reader (the program then reports unsupported encryption, not libarchive's
// state), and the password that decrypted it is not asked for again.
TEST_F(SevenZipEncryption, DecryptionLibarchiveRefusesIsToldApart) {
    const fs::path archive = Make("r.7z", "-mhe=on");
    static const char kNotAnArchive[] = "decrypted, yet no archive libarchive knows";
    const VolumeSet set{SetKind::Single, {archive.wstring()}, L"", archive.wstring()};
    int asked = 0;
    const PasswordQuestion ask = [&](bool) -> std::optional<std::wstring> { return ++asked, L"right"; };
    const auto attempt = [](const std::wstring&) {
        return PasswordAttempt{std::make_shared<own::MemoryInput>(kNotAnArchive, sizeof kNotAnArchive)};
    };
    for (int round = 0; round < 2; ++round) {
        const ReaderPtr reader(archive_read_new());
        ASSERT_EQ(archive_read_support_format_7zip(reader.get()), ARCHIVE_OK);
        EXPECT_EQ(OpenWithPassword(reader.get(), set, ask, attempt), Decryption::Refused);
    }
    EXPECT_EQ(asked, 1);
}

} // namespace dexalo::archivers::testing
