// Names stored in a code page rather than in Unicode, as a Japanese Windows sees them:
// the record holds them in the ANSI code page, the disk gets the right characters.
#include "archiver_test_support.h"

namespace dexalo::archivers::testing {
namespace {

const std::string kShiryo = "\x8E\x91\x97\xBF";          // 資料 in Shift-JIS
const std::string kHyo = "\x95\x5C";                     // 表, whose second byte is '\'
const std::string kNichi = "\x93\xFA";                   // 日
const std::string kSofuto = "\x83\x5C\x83\x74\x83\x67";  // ソフト: ソ ends in '\' too

// RAR 4 without the Unicode flag, CAB without the UTF-8 flag; libarchive turns every '\'
// byte of such a name into '/', second bytes included.
TEST(CodePageNames, ListedInTheAnsiCodePageAndWrittenInUnicode) {
    const struct {
        Family family;
        const char* fixture;
        Names listed;
        Files written;
    } rows[] = {
        {Family::Rar, "cp932.rar", {kShiryo + "\\", kShiryo + "\\a.txt", kNichi + ".txt"},
         {{"資料/", ""}, {"資料/a.txt", "alpha\n"}, {"日.txt", "nichi\n"}}},
        {Family::Rar, "cp932-backslash.rar", {kSofuto + "\\" + kHyo + ".txt", kHyo + "\\u.txt"},
         {{"ソフト/", ""}, {"ソフト/表.txt", "hyo\n"}, {"表/", ""}, {"表/u.txt", "utf\n"}}},
        {Family::Cab, "cp932.cab", {kShiryo + "\\" + kHyo + ".txt", kNichi + "\\u.txt"},
         {{"資料/", ""}, {"資料/表.txt", "hyo\n"}, {"日/", ""}, {"日/u.txt", "utf\n"}}},
    };
    JapaneseCodePages japanese;
    for (const auto& row : rows) {
        ScratchDir dir;
        EXPECT_EQ(List(row.family, Fixture(row.fixture), "*"), row.listed) << row.fixture;
        ASSERT_EQ(Extract(row.family, Fixture(row.fixture), dir / "x"), 0) << row.fixture;
        EXPECT_EQ(Tree(dir / "x"), row.written) << row.fixture;
    }
    // A wildcard matches the record's form of the name.
    EXPECT_EQ(List(Family::Rar, Fixture("cp932-backslash.rar"), "*\\" + kHyo + ".txt"), (Names{kSofuto + "\\" + kHyo + ".txt"}));
}

} // namespace
} // namespace dexalo::archivers::testing
