#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "extract/single_folder.h"
#include "extract_fakes.h"

namespace dexalo::test {
namespace {

using ::testing::ElementsAre;

const std::wstring kPath = L"C:\\Arc\\data";

class SingleFolder : public ::testing::Test {
protected:
    Placement Check(ArchiveType type, std::vector<std::wstring> entries, std::int32_t n) {
        libs.Add(LibraryOf(type), kPath).entries = std::move(entries);
        return Run(type, n);
    }
    Placement Run(ArchiveType type, std::int32_t n) {
        EntryRecord record;
        return CheckSingleFolder(libs, type, kPath, n, 0x77, record);
    }
    void CheckInvariants() {
        EXPECT_FALSE(libs.findNextAfterEnd) << "find-next called after the library said -1";
        EXPECT_EQ(libs.OpenHandles(), 0) << "archive left open";
        EXPECT_TRUE(libs.misuse.empty()) << libs.misuse.front();
    }
    void Fresh() {
        CheckInvariants();
        libs = FakeLibraries{};
    }
    void TearDown() override { CheckInvariants(); }
    FakeLibraries libs;
};

TEST_F(SingleFolder, CommonProcedureCountsConsecutiveEntriesUnderTheFirstFolder) {
    const struct {
        ArchiveType type;
        std::vector<std::wstring> entries;
        std::int32_t n;
        Placement expected;
    } cases[] = {
        {ArchiveType::LZH, {L"foo/a.txt", L"foo/b.txt"}, 2, Placement::Direct},
        {ArchiveType::LZH, {L"a.txt", L"b.txt"}, 2, Placement::SubFolder},
        {ArchiveType::LZH, {L"foo/a.txt", L"bar/b.txt", L"foo/c.txt"}, 3, Placement::SubFolder},
        {ArchiveType::LZH, {L"foo/a.txt", L"foobar/b.txt"}, 2, Placement::SubFolder},
        {ArchiveType::LZH, {L"Foo/a.txt", L"foo/b.txt"}, 2, Placement::SubFolder},
        {ArchiveType::LZH, {L"foo/", L"foo/a.txt", L"foo/b.txt"}, 2, Placement::SubFolder},
        {ArchiveType::ZIP, {L"foo/", L"foo/a.txt", L"foo/b.txt"}, 2, Placement::Direct},
        {ArchiveType::ZIP, {L"foo/a.txt", L"bar/b.txt"}, 2, Placement::SubFolder},
        {ArchiveType::TAR, {L"foo/a.txt", L"foo/b.txt"}, 2, Placement::Direct},
        {ArchiveType::CAB, {L"foo\\a.txt", L"foo\\b.txt"}, 2, Placement::Direct},
        {ArchiveType::CAB, {L"foo/a.txt", L"foo/b.txt"}, 2, Placement::SubFolder},
        {ArchiveType::ARJ, {L"foo\\a.txt", L"foo\\b.txt", L"foo\\c\\d"}, 3, Placement::Direct},
        {ArchiveType::YZ1, {L"foo\\a.txt", L"foo\\b.txt"}, 3, Placement::SubFolder},
        {ArchiveType::LZH, {}, 2, Placement::SubFolder},
    };
    for (const auto& c : cases) {
        Fresh();
        EXPECT_EQ(Check(c.type, c.entries, c.n), c.expected)
            << static_cast<int>(c.type) << " " << (c.entries.empty() ? L"" : c.entries[0]).size();
    }
}

TEST_F(SingleFolder, SingleEntryIsDirectWithoutAnyCall) {
    for (int t = 0; t <= static_cast<int>(ArchiveType::YZ1); ++t) {
        const auto type = static_cast<ArchiveType>(t);
        if (type == ArchiveType::ISH) continue;
        EXPECT_EQ(Run(type, 1), Placement::Direct);
    }
    EXPECT_TRUE(libs.log.empty());
}

TEST_F(SingleFolder, CommonCallSequenceAndWildcards) {
    Check(ArchiveType::LZH, {L"foo/a", L"foo/b"}, 2);
    EXPECT_THAT(libs.log, ElementsAre(L"Unlha.OpenArchive(119,C:\\Arc\\data,512)", L"Unlha.FindFirst(*)",
                                      L"Unlha.FindNext", L"Unlha.FindNext", L"Unlha.CloseArchive"));
    libs.log.clear();
    Check(ArchiveType::TAR, {L"a", L"b"}, 2); // no separator: no find-next at all
    EXPECT_THAT(libs.log, ElementsAre(L"Tar.OpenArchive(119,C:\\Arc\\data,512)", L"Tar.FindFirst()",
                                      L"Tar.CloseArchive"));
}

TEST_F(SingleFolder, FailuresNeverStopTheCheck) {
    // A listing error part-way ends the count.
    FakeArchive& a = libs.Add(Library::Unlha, kPath);
    a.entries = {L"foo/a", L"foo/b"};
    a.endResult = 0x8012;
    EXPECT_EQ(Run(ArchiveType::LZH, 3), Placement::SubFolder);

    // No open or find-first export: the check still closes and picks the sub-folder.
    libs.log.clear();
    libs.missingExports = {{Library::Unlha, L"OpenArchive"}, {Library::Unlha, L"FindFirst"}};
    EXPECT_EQ(Run(ArchiveType::LZH, 2), Placement::SubFolder);
    EXPECT_EQ(libs.log.back(), L"Unlha.CloseArchive");
}

// The library said -1 but left an entry in the record: no find-next follows.
TEST_F(SingleFolder, NoFindNextAfterAnEmptyListing) {
    libs.Add(Library::Unlha, kPath).entries = {L"foo/a", L"foo/b"};
    libs.Add(Library::Unlha, kPath).firstResult = -1;
    EXPECT_EQ(Run(ArchiveType::LZH, 2), Placement::SubFolder);
    EXPECT_EQ(libs.CallsTo(Library::Unlha).size(), 3u);

    Fresh();
    FakeArchive& rar = libs.Add(Library::Unrar, kPath);
    rar.entries = {L"foo\\a", L"foo\\b"};
    rar.firstResultFor = {{L"*", -1}};
    EXPECT_EQ(Run(ArchiveType::RAR, 2), Placement::SubFolder);
    EXPECT_EQ(libs.log.back(), L"Unrar.CloseArchive");
    EXPECT_EQ(libs.log.size(), 6u);
}

TEST_F(SingleFolder, RarReadsTheFirstEntryThenListsAgain) {
    EXPECT_EQ(Check(ArchiveType::RAR, {L"foo\\a", L"foo\\b"}, 2), Placement::Direct);
    EXPECT_THAT(libs.log,
                ElementsAre(L"Unrar.OpenArchive(119,C:\\Arc\\data,512)", L"Unrar.FindFirst(*.*)", L"Unrar.CloseArchive",
                            L"Unrar.OpenArchive(119,C:\\Arc\\data,512)", L"Unrar.FindFirst(*)", L"Unrar.FindNext",
                            L"Unrar.FindNext", L"Unrar.CloseArchive"));
}

TEST_F(SingleFolder, RarEdgeCases) {
    const struct {
        std::vector<std::wstring> entries;
        std::int32_t n;
        Placement expected;
        std::size_t calls;
    } cases[] = {
        {{L"a.txt", L"b.txt"}, 2, Placement::SubFolder, 3},      // no backslash: ends after the first look
        {{L"\\abs\\a", L"\\abs\\b"}, 2, Placement::SubFolder, 3}, // begins with one
        {{L"foo\\a", L"foobar\\b"}, 2, Placement::SubFolder, 7},
        {{L"foo\\a", L"foo\\b", L"bar\\c"}, 3, Placement::SubFolder, 8},
        {{L"foo\\a", L"foo\\b", L"foo\\c"}, 3, Placement::Direct, 9},
        {{L"foo\\a", L"foo\\b", L"foo\\c"}, 2, Placement::SubFolder, 8}, // stops one past n
    };
    for (const auto& c : cases) {
        Fresh();
        EXPECT_EQ(Check(ArchiveType::RAR, c.entries, c.n), c.expected) << c.entries[1];
        EXPECT_EQ(libs.log.size(), c.calls) << c.entries[1];
    }
}

TEST_F(SingleFolder, ListingsLongerThanTheCountStopOnePastIt) {
    // A library whose listing runs far past its own count: the answer is settled one entry
    // past n, so no more calls are made.
    const std::vector<std::wstring> slash(5000, L"foo/x"), backslash(5000, L"foo\\x");
    const struct {
        ArchiveType type;
        const std::vector<std::wstring>& entries;
        Placement expected;
    } cases[] = {
        {ArchiveType::LZH, slash, Placement::SubFolder},
        {ArchiveType::ZIP, slash, Placement::Direct},
        {ArchiveType::RAR, backslash, Placement::SubFolder},
        {ArchiveType::BGA, backslash, Placement::SubFolder},
    };
    for (const auto& c : cases) {
        Fresh();
        EXPECT_EQ(Check(c.type, c.entries, 3), c.expected);
        EXPECT_LE(libs.log.size(), 10u);
    }
}

TEST_F(SingleFolder, BgaIsDirectWhenTheListingEndsRightAtN) {
    // Two entries under top and n = 2: count runs to 3, so the sub-folder.
    EXPECT_EQ(Check(ArchiveType::BGA, {L"top\\a", L"top\\b"}, 2), Placement::SubFolder);
    EXPECT_THAT(libs.log, ElementsAre(L"Bga.OpenArchive(119,C:\\Arc\\data,512)", L"Bga.FindFirst(*)",
                                      L"Bga.FindFirst(top*)", L"Bga.FindNext", L"Bga.CloseArchive"));

    // The same listing with n = 3: the n-th find-next says -1, count stays 3.
    Fresh();
    EXPECT_EQ(Check(ArchiveType::BGA, {L"top\\a", L"top\\b"}, 3), Placement::Direct);
    EXPECT_EQ(libs.CallsTo(Library::Bga).size(), 6u);
}

TEST_F(SingleFolder, BgaEdgeCases) {
    EXPECT_EQ(Check(ArchiveType::BGA, {L"a", L"b"}, 2), Placement::SubFolder); // no backslash
    EXPECT_THAT(libs.log, ElementsAre(L"Bga.OpenArchive(119,C:\\Arc\\data,512)", L"Bga.FindFirst(*)",
                                      L"Bga.CloseArchive"));

    Fresh();
    FakeArchive& failing = libs.Add(Library::Bga, kPath);
    failing.entries = {L"top\\a"};
    failing.firstResultFor = {{L"top*", 1}};
    EXPECT_EQ(Run(ArchiveType::BGA, 2), Placement::SubFolder); // second find-first failed
    EXPECT_EQ(libs.log.size(), 4u);

    // Errors other than -1 count as entries, but the loop stops past n.
    Fresh();
    FakeArchive& a = libs.Add(Library::Bga, kPath);
    a.entries = {L"top\\a"};
    a.endResult = 7;
    EXPECT_EQ(Run(ArchiveType::BGA, 4), Placement::SubFolder);
    EXPECT_EQ(libs.CallsTo(Library::Bga).size(), 3u + 3u + 1u);

    // A find-next that cannot be made ends the listing like -1.
    Fresh();
    libs.missingExports = {{Library::Bga, L"FindNext"}};
    EXPECT_EQ(Check(ArchiveType::BGA, {L"top\\a", L"top\\b"}, 2), Placement::Direct);
}

} // namespace
} // namespace dexalo::test
