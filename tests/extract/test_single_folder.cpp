#include <gtest/gtest.h>

#include "extract/single_folder.h"
#include "extract_fakes.h"

namespace dexalo::test {
namespace {

constexpr auto D = Placement::Direct, S = Placement::SubFolder;
constexpr auto LZH = ArchiveType::LZH, ZIP = ArchiveType::ZIP, CAB = ArchiveType::CAB, RAR = ArchiveType::RAR,
               BGA = ArchiveType::BGA;
const std::vector<std::wstring> kMany(5000, L"foo/x"), kManyBack(5000, L"foo\\x");

// Each row: a type, the library's listing and the count n, how the library misbehaves, and
// the answer. Whatever happens, no find-next follows a -1, and everything opened is closed.
TEST(SingleFolder, Placements) {
    const struct {
        ArchiveType type;
        std::vector<std::wstring> entries;
        std::int32_t n;
        Placement expected;
        std::int32_t endResult = -1;
        std::vector<Twist> twists = {};   // open, find-first, find-next...
        const wchar_t* missingExport = L"";
    } rows[] = {
        {LZH, {L"foo/a.txt", L"foo/b.txt"}, 2, D},
        {LZH, {L"foo/a.txt", L"foobar/b.txt"}, 2, S},
        {LZH, {L"foo/", L"foo/a.txt", L"foo/b.txt"}, 2, S},
        {ZIP, {L"foo/", L"foo/a.txt", L"foo/b.txt"}, 2, D},      // folder entries: more is fine
        {CAB, {L"foo\\a.txt", L"foo\\b.txt"}, 2, D},
        {CAB, {L"foo/a.txt", L"foo/b.txt"}, 2, S},
        {LZH, {L"foo/a", L"foo/b"}, 3, S, 0x8012},                 // a listing error ends the count
        {LZH, {L"foo/a", L"foo/b"}, 2, S, -1, {Twist::None, Twist::NoMore}}, // -1 with an entry in the record
        {LZH, {L"foo/a", L"foo/b"}, 2, S, -1, {}, L"FindFirst"},
        // One entry is direct without a call; the listing stops one past n.
        {ZIP, {}, 1, D},
        {LZH, kMany, 3, S},
        {ZIP, kMany, 3, D},
        {BGA, kManyBack, 3, S},
        // RAR reads the first entry, then lists again.
        {RAR, {L"foo\\a", L"foo\\b"}, 2, D},
        {RAR, {L"\\abs\\a", L"\\abs\\b"}, 2, S},
        {RAR, {L"foo\\a", L"foo\\b", L"foo\\c"}, 2, S},
        {RAR, {L"foo\\a", L"foo\\b"}, 2, S, -1, {Twist::None, Twist::None, Twist::None, Twist::NoMore}},
        // BGA lists "top*" after the first entry: direct only when the listing ends right at n.
        {BGA, {L"top\\a", L"top\\b"}, 2, S},
        {BGA, {L"top\\a", L"top\\b"}, 3, D},
        {BGA, {L"top\\a"}, 2, S, -1, {Twist::None, Twist::None, Twist::Error}},
        {BGA, {L"top\\a"}, 4, S, 7},                               // errors other than -1 count as entries
        {BGA, {L"top\\a", L"top\\b"}, 2, D, -1, {}, L"FindNext"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        FakeLibraries libs;
        FakeArchive& a = libs.archives[LibraryOf(row.type)];
        a.entries = row.entries;
        a.endResult = row.endResult;
        a.twists = row.twists;
        libs.missingExports.insert({LibraryOf(row.type), row.missingExport});
        libs.callLimit = 40;
        EntryRecord record;
        EXPECT_EQ(CheckSingleFolder(libs, row.type, L"C:\\Arc\\data", row.n, 0x77, record), row.expected);
        EXPECT_FALSE(libs.findNextAfterEnd);
        EXPECT_FALSE(libs.open);
        EXPECT_FALSE(libs.misuse);
        EXPECT_EQ(libs.log.empty(), row.n == 1);
    }
}

} // namespace
} // namespace dexalo::test
