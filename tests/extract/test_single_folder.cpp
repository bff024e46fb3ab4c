#include <gtest/gtest.h>

#include <map>
#include <set>

#include "extract/single_folder.h"
#include "extract_fakes.h"

namespace dexalo::test {
namespace {

constexpr auto D = Placement::Direct, S = Placement::SubFolder;
const std::vector<std::wstring> kSlash(5000, L"foo/x"), kBackslash(5000, L"foo\\x");

// Each row: a type, the library's listing and count n, how the library misbehaves, and the
// answer. Whatever happens, no find-next follows a -1, and everything opened is closed.
TEST(SingleFolder, Placements) {
    const struct {
        ArchiveType type;
        std::vector<std::wstring> entries;
        std::int32_t n;
        Placement expected;
        std::int32_t endResult = -1;
        std::map<std::wstring, std::int32_t> firstResultFor = {};
        std::set<std::wstring> missingExports = {};
    } rows[] = {
        // The common procedure: consecutive entries under the first one's top folder.
        {ArchiveType::LZH, {L"foo/a.txt", L"foo/b.txt"}, 2, D},
        {ArchiveType::LZH, {L"a.txt", L"b.txt"}, 2, S},
        {ArchiveType::LZH, {L"foo/a.txt", L"bar/b.txt", L"foo/c.txt"}, 3, S},
        {ArchiveType::LZH, {L"foo/a.txt", L"foobar/b.txt"}, 2, S},
        {ArchiveType::LZH, {L"Foo/a.txt", L"foo/b.txt"}, 2, S},
        {ArchiveType::LZH, {L"foo/", L"foo/a.txt", L"foo/b.txt"}, 2, S},
        {ArchiveType::ZIP, {L"foo/", L"foo/a.txt", L"foo/b.txt"}, 2, D},
        {ArchiveType::ZIP, {L"foo/a.txt", L"bar/b.txt"}, 2, S},
        {ArchiveType::TAR, {L"foo/a.txt", L"foo/b.txt"}, 2, D},
        {ArchiveType::CAB, {L"foo\\a.txt", L"foo\\b.txt"}, 2, D},
        {ArchiveType::CAB, {L"foo/a.txt", L"foo/b.txt"}, 2, S},
        {ArchiveType::ARJ, {L"foo\\a.txt", L"foo\\b.txt", L"foo\\c\\d"}, 3, D},
        {ArchiveType::YZ1, {L"foo\\a.txt", L"foo\\b.txt"}, 3, S},
        {ArchiveType::LZH, {}, 2, S},
        {ArchiveType::LZH, {L"foo/a", L"foo/b"}, 3, S, 0x8012},           // a listing error ends the count
        {ArchiveType::LZH, {L"foo/a", L"foo/b"}, 2, S, -1, {{L"*", -1}}}, // -1 with an entry left in the record
        {ArchiveType::LZH, {L"foo/a", L"foo/b"}, 2, S, -1, {}, {L"OpenArchive", L"FindFirst"}},
        // One entry is direct without a call; the listing is settled one entry past n.
        {ArchiveType::ZIP, {}, 1, D},
        {ArchiveType::RAR, {}, 1, D},
        {ArchiveType::LZH, kSlash, 3, S},
        {ArchiveType::ZIP, kSlash, 3, D},
        {ArchiveType::RAR, kBackslash, 3, S},
        {ArchiveType::BGA, kBackslash, 3, S},
        // RAR reads the first entry, then lists again.
        {ArchiveType::RAR, {L"foo\\a", L"foo\\b"}, 2, D},
        {ArchiveType::RAR, {L"a.txt", L"b.txt"}, 2, S},
        {ArchiveType::RAR, {L"\\abs\\a", L"\\abs\\b"}, 2, S},
        {ArchiveType::RAR, {L"foo\\a", L"foobar\\b"}, 2, S},
        {ArchiveType::RAR, {L"foo\\a", L"foo\\b", L"bar\\c"}, 3, S},
        {ArchiveType::RAR, {L"foo\\a", L"foo\\b", L"foo\\c"}, 3, D},
        {ArchiveType::RAR, {L"foo\\a", L"foo\\b", L"foo\\c"}, 2, S},
        {ArchiveType::RAR, {L"foo\\a", L"foo\\b"}, 2, S, -1, {{L"*", -1}}},
        // BGA lists "top*" after the first entry: direct only when the listing ends right at n.
        {ArchiveType::BGA, {L"top\\a", L"top\\b"}, 2, S},
        {ArchiveType::BGA, {L"top\\a", L"top\\b"}, 3, D},
        {ArchiveType::BGA, {L"a", L"b"}, 2, S},
        {ArchiveType::BGA, {L"top\\a"}, 2, S, -1, {{L"top*", 1}}},
        {ArchiveType::BGA, {L"top\\a"}, 4, S, 7},  // errors other than -1 count as entries
        {ArchiveType::BGA, {L"top\\a", L"top\\b"}, 2, D, -1, {}, {L"FindNext"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        FakeLibraries libs;
        const Library lib = LibraryOf(row.type);
        FakeArchive& a = libs.Add(lib, L"C:\\Arc\\data");
        a.entries = row.entries;
        a.endResult = row.endResult;
        a.firstResultFor = row.firstResultFor;
        for (const auto& e : row.missingExports) libs.missingExports.insert({lib, e});
        libs.callLimit = 40;
        EntryRecord record;
        EXPECT_EQ(CheckSingleFolder(libs, row.type, L"C:\\Arc\\data", row.n, 0x77, record), row.expected);
        EXPECT_FALSE(libs.findNextAfterEnd);
        EXPECT_EQ(libs.OpenHandles(), 0);
        EXPECT_TRUE(libs.misuse.empty());
        if (row.n == 1) {
            EXPECT_TRUE(libs.log.empty());
        }
    }
}

// The wildcards each library is asked with; the libraries filter by them.
TEST(SingleFolder, Wildcards) {
    const std::pair<ArchiveType, std::vector<std::wstring>> rows[] = {
        {ArchiveType::LZH, {L"FindFirst(*)"}},
        {ArchiveType::TAR, {L"FindFirst()"}},
        {ArchiveType::RAR, {L"FindFirst(*.*)", L"FindFirst(*)"}},
        {ArchiveType::BGA, {L"FindFirst(*)", L"FindFirst(top*)"}},
    };
    for (const auto& [type, expected] : rows) {
        FakeLibraries libs;
        libs.Add(LibraryOf(type), L"C:\\Arc\\data").entries = {L"top\\a", L"top\\b", L"top/c"};
        EntryRecord record;
        CheckSingleFolder(libs, type, L"C:\\Arc\\data", 3, 0x77, record);
        std::vector<std::wstring> finds;
        for (const auto& call : libs.log)
            if (call.find(L".FindFirst(") != std::wstring::npos) finds.push_back(call.substr(call.find(L'.') + 1));
        EXPECT_EQ(finds, expected) << static_cast<int>(type);
    }
}

} // namespace
} // namespace dexalo::test
