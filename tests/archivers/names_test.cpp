// Names stored in a code page rather than in Unicode, as a Japanese Windows sees them:
// the record holds them in the ANSI code page, the disk gets the right characters.
#include <gtest/gtest.h>

#include <archive.h>
#include <archive_entry.h>


#include "archiver_test_support.h"
#include "engine/family.h"
#include "engine/platform.h"

namespace dexalo::archivers::testing {
namespace {

using Names = std::vector<std::string>;
using Files = std::map<std::string, std::string>;

const std::string kShiryo = "\x8E\x91\x97\xBF";  // 資料 in Shift-JIS
const std::string kHyo = "\x95\x5C";             // 表, whose second byte is '\'
const std::string kNichi = "\x93\xFA";           // 日
const std::string kSofuto = "\x83\x5C\x83\x74\x83\x67";  // ソフト: ソ ends in '\' too

class CodePageNames : public ::testing::Test {
protected:
    // The names libarchive itself hands over once the engine has configured the reader.
    // On Windows its fallback maps each byte to U+00xx, so the engine must name the code page.
    std::vector<std::wstring> WideNames(Family family, const fs::path& file) {
        std::vector<std::wstring> names;
        platform::PrepareLocale();
        archive* reader = archive_read_new();
        ConfigureReader(reader, family);
        if (archive_read_open_filename(reader, file.c_str(), 10240) == ARCHIVE_OK) {
            archive_entry* entry = nullptr;
            for (int r; (r = archive_read_next_header(reader, &entry)) == ARCHIVE_OK || r == ARCHIVE_WARN;) {
                const wchar_t* name = archive_entry_pathname_w(entry);
                names.emplace_back(name ? name : L"(none)");
            }
        }
        archive_read_free(reader);
        return names;
    }

    JapaneseCodePages japanese_;
    ScratchDir dir_;
};

TEST_F(CodePageNames, Rar4NamesWithoutTheUnicodeFlag) {
    const fs::path rar = Fixture("cp932.rar");
    EXPECT_EQ(WideNames(Family::Rar, rar), (std::vector<std::wstring>{L"資料", L"資料/a.txt", L"日.txt"}));
    EXPECT_EQ(List(Family::Rar, rar, "*"), (Names{kShiryo + "\\", kShiryo + "\\a.txt", kNichi + ".txt"}));
    EXPECT_EQ(Count(Family::Rar, rar), 3);
    ASSERT_EQ(Extract(Family::Rar, rar, dir_ / "x"), 0);
    EXPECT_EQ(Tree(dir_ / "x"), (Files{{"資料/", ""}, {"資料/a.txt", "alpha\n"}, {"日.txt", "nichi\n"}}));
}

// libarchive turns every '\' byte of such a name into '/', second bytes included.
TEST_F(CodePageNames, Rar4NamesWithBackslashAsSecondByte) {
    const fs::path rar = Fixture("cp932-backslash.rar");
    EXPECT_EQ(List(Family::Rar, rar, "*"), (Names{kSofuto + "\\" + kHyo + ".txt", kHyo + "\\u.txt"}));
    EXPECT_EQ(List(Family::Rar, rar, "*\\" + kHyo + ".txt"), (Names{kSofuto + "\\" + kHyo + ".txt"}));
    ASSERT_EQ(Extract(Family::Rar, rar, dir_ / "x"), 0);
    EXPECT_EQ(Tree(dir_ / "x"),
              (Files{{"ソフト/", ""}, {"ソフト/表.txt", "hyo\n"}, {"表/", ""}, {"表/u.txt", "utf\n"}}));
}

TEST_F(CodePageNames, CabNamesWithoutTheUtf8Flag) {
    const fs::path cab = Fixture("cp932.cab");
    EXPECT_EQ(WideNames(Family::Cab, cab), (std::vector<std::wstring>{L"資料/表.txt", L"日/u.txt"}));
    EXPECT_EQ(List(Family::Cab, cab, "*"), (Names{kShiryo + "\\" + kHyo + ".txt", kNichi + "\\u.txt"}));
    ASSERT_EQ(Extract(Family::Cab, cab, dir_ / "x"), 0);
    EXPECT_EQ(Tree(dir_ / "x"), (Files{{"資料/", ""}, {"資料/表.txt", "hyo\n"}, {"日/", ""}, {"日/u.txt", "utf\n"}}));
}

} // namespace
} // namespace dexalo::archivers::testing
