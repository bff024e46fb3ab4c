#include <gtest/gtest.h>

#include "extract/single_folder.h"
#include "extract_fakes.h"

namespace dexalo::test {
using Entries = std::vector<std::wstring>;
const Entries kOne = {L"a.txt"}, kLoose = {L"a.txt", L"b.txt"}, kInFoo = {L"foo/a", L"foo/b"};

FakeArchive& Add(Harness& h, const std::wstring& path, ArchiveType type, const Entries& entries) {
    h.files[path] = "data";
    const bool byCheck = type == ArchiveType::ISH || type == ArchiveType::JAK;
    return h.libs.archives[LibraryOf(type)] = FakeArchive{static_cast<std::int32_t>(entries.size()), byCheck, entries};
}

// One file through EXTRACT_FILE, D:\Out\ configured: the library call and the folder window.
TEST(ExtractFile, LibraryCallsAndFolderWindows) {
    const struct {
        std::wstring path;
        ArchiveType type;
        std::int32_t flags;
        Entries entries;
        std::wstring call, started;
        std::optional<std::int32_t> result = 0;
        std::wstring missingFolder = L"";
    } rows[] = {
        {L"C:\\Arc\\d.lzh", ArchiveType::LZH, 0, kLoose, L"Run(0,x -a1 -gq1 -m1 \"C:\\Arc\\d.lzh\" \"D:\\Out\\d\\\")", L""},
        {L"C:\\Arc\\d.lzh", ArchiveType::LZH, 3, kInFoo, L"Run(0,x -a1 -gq1 -m1 \"C:\\Arc\\d.lzh\" \"C:\\Arc\\\")",
         L"explorer /n,C:\\Arc\\"},
        {L"C:\\Arc\\d.cab", ArchiveType::CAB, 0, kLoose, L"Run(0,-x -n \"C:\\Arc\\d.cab\" \"D:\\Out\\d\\\")", L""},
        {L"C:\\Arc\\d.zip", ArchiveType::ZIP, 1, kOne, L"Run(0,-u -qq \"C:\\Arc\\d.zip\" \"C:\\Arc\\\")", L""},
        {L"C:\\Arc\\d.tgz", ArchiveType::TAR, 0, kLoose, L"Run(0,x -f \"C:\\Arc\\d.tgz\" \"D:\\Out\\d\\\")", L""},
        {L"C:\\Arc\\d.arj", ArchiveType::ARJ, 1, kOne, L"Run(0,x -u+ -hq+ -y+ \"C:\\Arc\\d.arj\" \"C:\\Arc\\\")", L""},
        {L"C:\\Arc\\d.rar", ArchiveType::RAR, 0, kLoose, L"Run(0,x -u \"C:\\Arc\\d.rar\" \"D:\\Out\\d\\\")", L""},
        {L"C:\\Arc\\d.gza", ArchiveType::BGA, 1, kOne, L"Run(0,x -n \"C:\\Arc\\d.gza\" \"C:\\Arc\\\")", L""},
        // YZ1's direct form is unquoted with a doubled backslash; an empty root stays the current folder.
        {L"C:\\Arc\\d.yz1", ArchiveType::YZ1, 0, kOne, L"Run(0,x \"C:\\Arc\\d.yz1\" D:\\Out\\\\)", L""},
        {L"C:\\Arc\\d.yz1", ArchiveType::YZ1, 1, kLoose, L"Run(0,x \"C:\\Arc\\d.yz1\" \"C:\\Arc\\d\\\")", L""},
        {L"pics.yz1", ArchiveType::YZ1, 1, kOne, L"Run(0,x \"pics.yz1\" .\\\\)", L""},
        // ISH always gets a folder of its own; JAK joins into the destination root.
        {L"C:\\Arc\\mail.ish", ArchiveType::ISH, 2, {}, L"Run(0,C:\\Arc\\mail.ish /f=D:\\Out\\mail\\)",
         L"explorer /n,D:\\Out\\mail"},
        {L"C:\\Arc\\big.001", ArchiveType::JAK, 2, {}, L"JackCombine(C:\\Arc\\big.001,D:\\Out\\)", L"explorer /n,D:\\Out\\"},
        // A library error or a missing call opens no folder window.
        {L"C:\\Arc\\big.001", ArchiveType::JAK, 3, {}, L"JackCombine(C:\\Arc\\big.001,C:\\Arc\\)", L"", 1},
        {L"C:\\Arc\\d.zip", ArchiveType::ZIP, 3, kLoose, L"Run(0,-u -qq \"C:\\Arc\\d.zip\" \"C:\\Arc\\d\\\")", L"", {}},
        // Success that wrote nothing (a later piece of a set): no window on a folder that is not there.
        {L"C:\\Arc\\d.part2.rar", ArchiveType::RAR, 2, kLoose, L"Run(0,x -u \"C:\\Arc\\d.part2.rar\" \"D:\\Out\\d.part2\\\")", L"",
         0, L"D:\\Out\\d.part2"},
        // Base names: no extension; two dots and no folder.
        {L"C:\\Arc\\README", ArchiveType::LZH, 3, kLoose, L"Run(0,x -a1 -gq1 -m1 \"C:\\Arc\\README\" \"C:\\Arc\\README\\\")",
         L"explorer /n,C:\\Arc\\README"},
        {L"d.v2.lzh", ArchiveType::LZH, 3, kLoose, L"Run(0,x -a1 -gq1 -m1 \"d.v2.lzh\" \"d.v2\\\")", L"explorer /n,d.v2"},
    };
    for (const auto& row : rows) {
        Harness h;
        h.state.OptionFlags = row.flags;
        Add(h, row.path, row.type, row.entries).runResult = row.result;
        if (!row.missingFolder.empty()) h.missingFolders.insert(row.missingFolder);
        h.extraction.EXTRACT_FILE(row.path);
        EXPECT_EQ(h.libs.log.back(), row.call);
        EXPECT_EQ(h.started, (row.started.empty() ? Entries{} : Entries{row.started})) << row.call;
        EXPECT_EQ(h.madeFolders, (row.type == ArchiveType::ISH ? Entries{L"D:\\Out\\mail"} : Entries{}));
    }
}

// Every library takes the file: taking each taker's answer away in turn (no archive, no
// export, an error count or a check answer of 2) hands it to the next in the fixed order, and
// at last to LZ.
TEST(Recognition, LibrariesAreAskedInAFixedOrder) {
    using T = ArchiveType;
    FakeLibraries libs;
    for (int i = 0; i < 10; ++i) libs.archives[static_cast<Library>(i)] = {7, i == 5 || i == 9};
    std::vector<T> order;
    for (Recognition r; r = Recognise(libs, L"C:\\Arc\\data.lzh"), order.push_back(r.type), r.type != T::LZ;) {
        EXPECT_EQ(r.entryCount, libs.archives[LibraryOf(r.type)].byCheck ? 0 : 7);
        FakeArchive& taker = libs.archives[LibraryOf(r.type)];
        const std::size_t way = (order.size() + 1) % 3; // ISH loses its export, JAK answers 2
        if (way == 0) taker = {};
        if (way == 1) libs.missingExports.insert({LibraryOf(r.type), taker.byCheck ? L"CheckArchive" : L"GetFileCount"});
        if (way == 2) taker.count = -0x8000, taker.checkAnswer = 2; // each probe reads its own
    }
    EXPECT_EQ(order, (std::vector<T>{T::LZH, T::ZIP, T::CAB, T::TAR, T::BGA, T::ISH, T::RAR, T::YZ1, T::ARJ, T::JAK, T::LZ}));
}

// A name the code page cannot carry gets the message unless a short form stands in for it,
// sub-folder name included; so does a missing file.
TEST(ExtractFile, PathsOutsideTheCodePage) {
    Harness h;
    h.state.MainWindowHandle = 0x55;
    h.files[L"C:\\한글\\자료.lzh"] = "data";
    for (const std::wstring path : {L"C:\\Arc\\none.lzh", L"C:\\한글\\자료.lzh"}) h.extraction.EXTRACT_FILE(path);
    EXPECT_EQ(h.messages, Entries(2, L"85 エラー発生 65552 解凍不可能なファイルです｡"));
    h.shortForms[L"C:\\한글\\자료.lzh"] = L"C:\\4D8A~1\\5B2F~1.LZH";
    Add(h, L"C:\\4D8A~1\\5B2F~1.LZH", ArchiveType::LZH, kLoose);
    h.extraction.EXTRACT_FILE(L"C:\\한글\\자료.lzh");
    EXPECT_EQ(h.libs.log.back(), L"Run(85,x -a1 -gq1 -m1 \"C:\\4D8A~1\\5B2F~1.LZH\" \"C:\\4D8A~1\\5B2F~1\\\")");
    // So does a destination folder.
    h.state = {L"D:\\출력\\", 0, 85};
    h.extraction.EXTRACT_FILE(L"C:\\한글\\자료.lzh");
    EXPECT_EQ(h.messages.size(), 3u);
}

// An LZ file (8 bytes here) expands beside itself under a marked name. A copy that did not
// expand (the same length) or an output that could not be made is told, and only an output
// this call made is removed.
TEST(ExtractFile, LzFiles) {
    const struct {
        std::int32_t created, copied;
        Entries removed, started;
    } rows[] = {{2, 9, {}, {L"explorer /n,C:\\Arc\\"}}, {2, 8, {L"C:\\Arc\\a.tx#"}, {}}, {-1, 9, {}, {}}};
    for (const auto& row : rows) {
        Harness h;
        h.state.OptionFlags = 3;
        h.files[L"C:\\Arc\\a.tx_"] = "SZDD\x88\xF0\x27\x33";
        h.lzCreated = row.created;
        h.lzCopied = row.copied;
        h.extraction.EXTRACT_FILE(L"C:\\Arc\\a.tx_");
        EXPECT_EQ(h.removed, row.removed);
        EXPECT_EQ(h.started, row.started);
        EXPECT_EQ(h.messages.size(), row.started.empty() ? 1u : 0u);
    }
}

// An empty piece of the command line is refused before the lookup, which would list a folder.
TEST(ExtractFile, EmptyNameIsRefused) {
    Harness h;
    Add(h, L"", ArchiveType::LZH, kLoose);
    h.extraction.EXTRACT_FILE(L"");
    EXPECT_EQ(h.messages.size(), 1u);
    EXPECT_TRUE(h.libs.log.empty());
}

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
        {ZIP, {L"foo/", L"foo/a.txt", L"foo/b.txt"}, 2, D},      // folder entries: more is fine
        {CAB, {L"foo/a.txt", L"foo/b.txt"}, 2, S},
        {LZH, {L"foo/a", L"foo/b"}, 3, S, 0x8012},                 // a listing error ends the count
        {LZH, {L"foo/a", L"foo/b"}, 2, S, -1, {Twist::None, Twist::NoMore}}, // -1 with an entry in the record
        // One entry is direct without a call; the listing stops one past n.
        {ZIP, {}, 1, D},
        {LZH, kMany, 3, S},
        {BGA, kManyBack, 3, S},
        // RAR reads the first entry, then lists again.
        {RAR, {L"\\abs\\a", L"\\abs\\b"}, 2, S},
        {RAR, {L"foo\\a", L"foo\\b", L"foo\\c"}, 2, S},
        {RAR, {L"foo\\a", L"foo\\b"}, 2, S, -1, {Twist::None, Twist::None, Twist::None, Twist::NoMore}},
        // BGA lists "top*" after the first entry: direct only when the listing ends right at n.
        {BGA, {L"top\\a", L"top\\b"}, 2, S},
        {BGA, {L"top\\a", L"top\\b"}, 3, D},
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

} // namespace dexalo::test
