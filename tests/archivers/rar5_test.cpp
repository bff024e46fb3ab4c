// RAR 5 as RAR 7.01 writes it (tests/data/archives/make-rar5.sh made the samples; the
// expectations are the files it archived).
#include "archiver_test_support.h"

#include <zlib.h>

#include <cerrno>

#include "engine/codecs/blake2sp.h"
#include "engine/formats/seven_zip.h"
#include "engine/pipeline/family.h"
#include "engine/pipeline/input_reader.h"
#include "engine/pipeline/report.h"
#include "engine/pipeline/entry_reader.h"
#include "engine/pipeline/resolve.h"

// As on 32-bit Windows, where it cannot succeed, an allocation a crafted header asks for
// (more than 1 GiB) fails rather than ending the run.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=1024"; }
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=1024"; }

namespace dexalo::archivers::testing {

namespace {

std::string Bytes1024() {
    std::string bytes;
    for (int round = 0; round < 4; ++round)
        for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    return bytes;
}

const Files kNames = {{"readme.txt", "read me\n"},
                      {"パンダ.txt", "panda\n"},  // stored decomposed, as macOS writes it
                      {"😀.txt", "smile\n"},
                      {"한국어/", ""},
                      {"한국어/안녕.txt", "안녕하세요\n"},
                      {"写真/", ""},
                      {"写真/data.bin", Bytes1024()},
                      {"写真/旅行/", ""},
                      {"写真/旅行/メモ.txt", "旅行のメモ\n"}};

std::string Tails() {
    std::string tails;
    for (int i = 0; i < 50; ++i) tails += "tail\n";
    return tails;
}
std::string Memo(int times) {
    std::string memo;
    for (int i = 0; i < times; ++i) memo += "旅行のメモ\n";
    return memo;
}
const Files kSecret = {{"secret.txt", "behind a password\n"}, {"写真/", ""}, {"写真/メモ.txt", Memo(200)}};

const Files kSolid = {{"a.bin", Noise(9000, 28)},
                      {"資料/", ""},
                      {"資料/b.txt", Noise(9000, 28).substr(0, 4000) + Tails()},
                      {"c.bin", Noise(5000, 29)}};

struct Rar5 : ::testing::Test {
    ScratchDir dir;
    std::vector<std::pair<std::wstring, bool>> asked;  // the recognition questions: archive, wrong
    void SetUp() override {
        ForgetResolved();
        ForgetHandledSets();
        ForgetPasswords();
        SetRecognitionQuestion(nullptr);
    }
    void TearDown() override { SetRecognitionQuestion(nullptr); }
    // Recognition answers in turn, then declines.
    void Answer(std::vector<std::wstring> answers) {
        SetRecognitionQuestion([this, answers](const std::wstring& archive, bool wrong) -> std::optional<std::wstring> {
            asked.emplace_back(archive, wrong);
            if (asked.size() > answers.size()) return std::nullopt;
            return answers[asked.size() - 1];
        });
    }
};

} // namespace

// Every name under its real name, in NFC, whatever its script. (On Windows libarchive's own
// forms of these names come out empty: the Wine tests see to that.)
TEST_F(Rar5, NamesComeOutWhole) {
    EXPECT_EQ(List(Family::Rar, Fixture("names.rar"), "*"),
              (Names{"readme.txt", "パンダ.txt", "😀.txt", "한국어\\안녕.txt", "写真\\data.bin", "写真\\旅行\\メモ.txt",
                     "写真\\旅行\\", "한국어\\", "写真\\"}));
    ScriptedUser user;
    EXPECT_EQ(Extract(Family::Rar, Fixture("names.rar"), dir / "out", &user), kOk);
    EXPECT_EQ(Tree(dir / "out"), kNames);
    EXPECT_TRUE(user.reports.empty());
    // A name that still cannot be read is not shown as what is left of it.
    ExtractResult refused;
    refused.code = kErrorRefused;
    refused.refused = 4;
    refused.refusedExample = L"\\";
    EXPECT_EQ(ReportText(L"a.rar", refused), L"「a.rar」を解凍できませんでした。\n\n安全でないパスの 4 個のファイルを"
                                             L"解凍しませんでした (例: 名前を読み取れないファイル)。");
}

// libarchive ends the process when it cannot convert a name (natively: one that is not UTF-8)
// while errno is ENOMEM, as its own failed allocation leaves it: a header whose name length
// runs far past it (2^40 bytes) makes it try to allocate that much to read the name ahead.
// errno is set here as that would leave it, before each header: the reader lives on, the
// name it cannot read is refused and the rest extracted.
TEST_F(Rar5, AnUnreadableNameAfterAFailedAllocationDoesNotEndTheHost) {
    std::string bytes = ReadText(Fixture("names.rar"));
    const std::size_t name = bytes.find("readme.txt");
    ASSERT_NE(name, std::string::npos);
    bytes[name + 1] = '\xFF';
    // The header's CRC made right again: walk the headers (CRC, size, type, flags, extra and data sizes).
    auto number = [&](std::size_t& at) {
        std::uint64_t value = 0;
        for (int shift = 0;; shift += 7) {
            const auto b = static_cast<unsigned char>(bytes.at(at++));
            value |= static_cast<std::uint64_t>(b & 0x7F) << shift;
            if (!(b & 0x80)) return value;
        }
    };
    for (std::size_t at = 8;;) {
        std::size_t p = at + 4;
        const std::uint64_t size = number(p);
        const std::size_t end = p + size;
        number(p);  // type
        const std::uint64_t flags = number(p);
        if (flags & 1) number(p);
        const std::uint64_t data = (flags & 2) ? number(p) : 0;
        if (name < end) {
            const auto crc = static_cast<std::uint32_t>(
                crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + at + 4), static_cast<uInt>(end - at - 4)));
            for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(crc >> (8 * i));
            break;
        }
        at = end + data;
    }
    const fs::path bad = dir / "bad.rar";
    WriteText(bad, bytes);
    platform::PrepareLocale();
    const auto archive = Resolve(Family::Rar, bad.wstring());
    EntryReader reader(*archive, archive->plan);
    ASSERT_EQ(reader.Open(), ARCHIVE_OK);
    EXPECT_EXIT(
        {
            archive_entry* entry = nullptr;
            int headers = 0;
            for (errno = ENOMEM; ReadNextHeader(reader.get(), &entry) == ARCHIVE_OK; errno = ENOMEM) ++headers;
            std::exit(headers == 9 ? 0 : 2);
        },
        ::testing::ExitedWithCode(0), "");
    Files rest = kNames;
    rest.erase("readme.txt");
    EXPECT_EQ(Extract(Family::Rar, bad, dir / "out"), kErrorRefused);
    EXPECT_EQ(Tree(dir / "out"), rest);
}

// A solid set in volumes, opened at any piece: a.bin is cut between the two, and decodes only
// after b.txt.
TEST_F(Rar5, SolidSetInVolumesFromAnyPiece) {
    for (const char* piece : {"solid.rar", "solid.r00"}) {
        EXPECT_EQ(Count(Family::Rar, Fixture(piece)), 4) << piece;
        const fs::path to = dir / piece;
        EXPECT_EQ(Extract(Family::Rar, Fixture(piece), to), kOk) << piece;
        EXPECT_EQ(Tree(to), kSolid) << piece;
        ForgetHandledSets();
    }
}

// -p: names plain, listed without a question; the data asks, a wrong password again, and the
// MACs in place of the CRCs pass.
TEST_F(Rar5, PasswordAskedAgainWhenWrong) {
    EXPECT_EQ(List(Family::Rar, Fixture("locked.rar"), "*"), (Names{"写真\\メモ.txt", "secret.txt", "写真\\"}));
    ScriptedUser user;
    user.answers = {L"wrong", L"right"};
    EXPECT_EQ(Extract(Family::Rar, Fixture("locked.rar"), dir / "out", &user), kOk);
    EXPECT_EQ(user.questions, (std::vector<bool>{false, true}));
    EXPECT_EQ(Tree(dir / "out"), kSecret);
    EXPECT_TRUE(user.reports.empty());
    // The MACs of BLAKE2sp hashes (-htb) pass too.
    ScriptedUser hashed;
    hashed.answers = {L"right"};
    EXPECT_EQ(Extract(Family::Rar, Fixture("locked-blake2.rar"), dir / "hashed", &hashed), kOk);
    EXPECT_EQ(Tree(dir / "hashed"), kSecret);
    for (const char* plain : {"plain-stored.rar", "plain-blake2.rar"}) {  // and stored files' own checksums
        EXPECT_EQ(Extract(Family::Rar, Fixture(plain), dir / plain), kOk) << plain;
        EXPECT_EQ(Tree(dir / plain), kSecret) << plain;
    }
}

// -hp: asked while the archive is recognised (a wrong password again), then listed and
// extracted with no further question. Declined there, it is one unreadable entry, and its
// extraction writes nothing and says so once.
TEST_F(Rar5, EncryptedNamesAskedAtRecognition) {
    const fs::path archive = Fixture("hidden.rar");
    Answer({L"wrong", L"right"});
    EXPECT_EQ(List(Family::Rar, archive, "*"), (Names{"写真\\メモ.txt", "secret.txt", "写真\\"}));
    EXPECT_EQ(asked, (std::vector<std::pair<std::wstring, bool>>{{archive.wstring(), false}, {archive.wstring(), true}}));
    ScriptedUser user;
    EXPECT_EQ(Extract(Family::Rar, archive, dir / "out", &user), kOk);
    EXPECT_TRUE(user.questions.empty());
    EXPECT_EQ(Tree(dir / "out"), kSecret);

    ForgetResolved();
    ForgetPasswords();
    Answer({});
    EXPECT_EQ(Count(Family::Rar, archive), 2);  // a folder of its own, see the 7z case
    EXPECT_EQ(CheckArchive(Family::Rar, archive.c_str(), 0), 0);
    ScriptedUser declining;
    EXPECT_EQ(Extract(Family::Rar, archive, dir / "declined", &declining), kErrorUnsupported);
    EXPECT_EQ(declining.questions, (std::vector<bool>{false}));
    EXPECT_EQ(Tree(dir / "declined"), Files{});
    ASSERT_EQ(declining.reports.size(), 1u);
    EXPECT_EQ(declining.reports[0].declined, 1u);
}

// -hp, solid, in volumes, with a password that is not ASCII: asked once for the whole set,
// and kept for its other piece.
TEST_F(Rar5, EncryptedSolidSetAskedOnce) {
    Answer({L"秘密"});
    EXPECT_EQ(Count(Family::Rar, Fixture("vault.r00")), 4);
    ForgetResolved();
    EXPECT_EQ(Count(Family::Rar, Fixture("vault.rar")), 4);
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(Extract(Family::Rar, Fixture("vault.rar"), dir / "out"), kOk);
    EXPECT_EQ(Tree(dir / "out"), kSolid);
}

// -hp in volumes, the last one missing: only the first volume's end header, once decrypted,
// says that another follows. That piece is named; the file it cuts short is dropped, the one
// wholly before it extracted.
TEST_F(Rar5, EncryptedSetNamesItsMissingLastVolume) {
    fs::copy_file(Fixture("vault.rar"), dir / "vault.rar");
    Answer({L"秘密"});
    EXPECT_GE(Count(Family::Rar, dir / "vault.rar"), 1);
    ScriptedUser user;
    EXPECT_EQ(Extract(Family::Rar, dir / "vault.rar", dir / "out", &user), kErrorCorrupt);
    EXPECT_EQ(Tree(dir / "out"), (Files{{"資料/", ""}, {"資料/b.txt", kSolid.at("資料/b.txt")}}));
    EXPECT_TRUE(user.questions.empty());
    ASSERT_EQ(user.reports.size(), 1u);
    EXPECT_EQ(user.reports[0].missingPiece, L"vault.r00");
}

// BLAKE2sp as Python's hashlib.blake2s builds it from its tree parameters (fanout 8, depth 2,
// inner size 32; leaves 0 to 7 at depth 0 taking 64-byte blocks in turn, the last a last
// node; the root at depth 1, a last node): whole, and fed in pieces that cut blocks anywhere.
TEST(Blake2sp, AsHashlibBuildsIt) {
    const struct {
        std::size_t size;
        const char* hex;
    } rows[] = {{0, "dd0e891776933f43c7d032b08a917e25741f8aa9a12c12e1cac8801500f2ca4f"},
                {1, "ada7041a17054249d078962f2a16e6a4a31fb496b4cc9df29bdf2674e0491823"},
                {64, "880bdefdcff6cddf1ecff1a873f1e6e2b12707a7f515bc62374596ca5cd0ddfe"},
                {65, "096c69bc66d7b17c60412566b6d6d112ad2158af83c6cd54bbc01468afc93830"},
                {512, "db1178a607f4ff53dc86a1bbe95bdda4ad1d3427ab5cd83ed4b033f9f136fc9c"},
                {513, "3ff17dfb9c77508cc679ec7038f043635f8b00a32859f279423bc6dbbf974b5a"},
                {100000, "cd95ceb511dd0c265f25cd4e5ad7dc42dfcd9b2d950d589fb25c9cfa2e11decc"}};
    for (const auto& row : rows) {
        const std::string data = Noise(row.size, 7);
        for (const std::size_t piece : {row.size + 1, std::size_t{7}, std::size_t{100}}) {
            Blake2sp hash;
            for (std::size_t at = 0; at < data.size(); at += piece)
                hash.Update(reinterpret_cast<const std::uint8_t*>(data.data()) + at, std::min(piece, data.size() - at));
            std::string hex;
            for (const std::uint8_t b : hash.Finish()) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
            EXPECT_EQ(hex, row.hex) << row.size << " bytes in pieces of " << piece;
        }
    }
}

// Damage behind the password, in the first file's first block, by a cut in the last file's
// data, and in stored data that only the MAC of its CRC or of its BLAKE2sp hash (-htb) tells
// from the original; and in stored data without a password, whose CRC or hash libarchive does
// not check: one message naming the file, which is not left behind.
TEST_F(Rar5, DamagedDataIsNotKept) {
    const std::string bytes = ReadText(Fixture("locked.rar")), stored = ReadText(Fixture("locked-stored.rar"));
    const std::string hashed = ReadText(Fixture("locked-blake2.rar"));
    const std::string plain = ReadText(Fixture("plain-stored.rar")), plainHashed = ReadText(Fixture("plain-blake2.rar"));
    const struct {
        std::string archive;
        std::wstring entry;
        Files kept;
    } rows[] = {{Flip(bytes, 0x7A), L"写真\\メモ.txt", {{"写真/", ""}}},
                {bytes.substr(0, bytes.size() - 40), L"secret.txt", {{"写真/", ""}, {"写真/メモ.txt", Memo(200)}}},
                {Flip(stored, 3407), L"secret.txt", {{"写真/", ""}, {"写真/メモ.txt", Memo(200)}}},
                {Flip(hashed, 3470), L"secret.txt", {{"写真/", ""}, {"写真/メモ.txt", Memo(200)}}},
                {Flip(hashed, 149 + 3000), L"写真\\メモ.txt", {{"写真/", ""}}},
                {Flip(plain, plain.find("behind") + 3), L"secret.txt", {{"写真/", ""}, {"写真/メモ.txt", Memo(200)}}},
                {Flip(plainHashed, plainHashed.find("behind") + 3), L"secret.txt", {{"写真/", ""}, {"写真/メモ.txt", Memo(200)}}}};
    for (const auto& row : rows) {
        WriteText(dir / "bad.rar", row.archive);
        fs::remove_all(dir / "out");
        ForgetResolved();
        ScriptedUser user;
        user.answers = {L"right"};
        EXPECT_EQ(Extract(Family::Rar, dir / "bad.rar", dir / "out", &user), kErrorCorrupt);
        EXPECT_EQ(Tree(dir / "out"), row.kept);
        ASSERT_EQ(user.reports.size(), 1u);
        EXPECT_EQ(user.reports[0].corruptEntry, row.entry);
    }
}


// An archive cut short, as a download cut off leaves it, inside a header or just before the
// end header, its headers plain, or only its data behind the password (-p), or every header
// too (-hp); and one whose name length (2^40) no allocation can hold. libarchive takes where
// it stops for the archive's end: each is reported as damaged (not as another format's), and
// what came before is kept.
// One that lists nothing still counts as RAR's (1), so that the program hands it over to be
// reported; so does a 7z whose header, at its end, is cut off.
TEST_F(Rar5, CutShortIsDamageNotASmallerArchive) {
    const std::string names = ReadText(Fixture("names.rar")), locked = ReadText(Fixture("locked.rar"));
    const std::string hidden = ReadText(Fixture("hidden.rar"));
    const struct {
        std::string archive;
        Files kept;
        bool listsNothing = false;
    } rows[] = {{names.substr(0, 140), {{"readme.txt", "read me\n"}, {"パンダ.txt", "panda\n"}}},
                {names.substr(0, 705), kNames},  // the end header at 705
                {names.substr(0, 30), {}, true},
                {locked.substr(0, locked.size() - 4), kSecret},
                {hidden.substr(0, hidden.size() - 4), kSecret},
                {hidden.substr(0, 138), {}},
                {ReadText(fs::path(DEXALO_TEST_DATA_DIR) / "../fuzz/corpus/fuzz_rar5/huge-name"), {}, true}};
    for (const auto& row : rows) {
        WriteText(dir / "cut.rar", row.archive);
        fs::remove_all(dir / "out");
        ForgetResolved();
        if (row.listsNothing) {
            EXPECT_EQ(Count(Family::Rar, dir / "cut.rar"), 1) << row.archive.size();
        }
        EXPECT_EQ(CheckArchive(Family::Rar, (dir / "cut.rar").c_str(), 0), 0) << row.archive.size();
        ScriptedUser user;
        user.answers = {L"right"};
        EXPECT_EQ(Extract(Family::Rar, dir / "cut.rar", dir / "out", &user), kErrorCorrupt) << row.archive.size();
        EXPECT_EQ(Tree(dir / "out"), row.kept) << row.archive.size();
        EXPECT_EQ(user.reports.size(), 1u) << row.archive.size();
    }
    WriteText(dir / "src/a.txt", names);
    Shell(dir / "src", "7z a -bd ../whole.7z a.txt >/dev/null");
    WriteText(dir / "cut.7z", ReadText(dir / "whole.7z").substr(0, 300));
    EXPECT_EQ(Count(Family::Tar, dir / "cut.7z"), 1);
    EXPECT_EQ(Count(Family::Zip, dir / "cut.7z"), -1);
    EXPECT_EQ(Extract(Family::Tar, dir / "cut.7z", dir / "out7z"), kErrorCorrupt);
}

} // namespace dexalo::archivers::testing
