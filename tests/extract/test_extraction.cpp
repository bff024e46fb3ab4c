#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "extract/command_line.h"
#include "extract/extraction.h"
#include "extract_fakes.h"

namespace dexalo::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Makes path an archive of the given type with the given listing (n = its size).
void MakeArchive(Harness& h, const std::wstring& path, ArchiveType type, std::vector<std::wstring> entries,
                 std::optional<std::int32_t> runResult = 0) {
    h.files.Put(path);
    FakeArchive& a = h.libs.Add(LibraryOf(type), path);
    if (type == ArchiveType::ISH || type == ArchiveType::JAK) a.check = 1;
    else a.count = static_cast<std::int32_t>(entries.size());
    a.entries = std::move(entries);
    a.runResult = runResult;
}

const std::vector<std::wstring> kOneEntry = {L"a.txt"};
const std::vector<std::wstring> kLoose = {L"a.txt", L"b.txt"};  // sub-folder for every type
const std::vector<std::wstring> kInFoo = {L"foo/a", L"foo/b"};  // direct for LZH

TEST(ExtractFile, ExamplesTable) {
    const struct {
        std::wstring path;
        ArchiveType type;
        std::int32_t flags;
        std::vector<std::wstring> entries;
        std::wstring line;
        std::vector<std::wstring> afterwards;
    } rows[] = {
        {L"C:\\Arc\\data.lzh", ArchiveType::LZH, 1, kInFoo, L"x -a1 -gq1 -m1 \"C:\\Arc\\data.lzh\" \"C:\\Arc\\\"", {}},
        {L"C:\\Arc\\data.lzh", ArchiveType::LZH, 1, kLoose, L"x -a1 -gq1 -m1 \"C:\\Arc\\data.lzh\" \"C:\\Arc\\data\\\"", {}},
        {L"C:\\Arc\\data.lzh", ArchiveType::LZH, 0, kInFoo, L"x -a1 -gq1 -m1 \"C:\\Arc\\data.lzh\" \"D:\\Out\\\"", {}},
        {L"C:\\Arc\\data.lzh", ArchiveType::LZH, 2, kLoose, L"x -a1 -gq1 -m1 \"C:\\Arc\\data.lzh\" \"D:\\Out\\data\\\"",
         {L"explorer /n,D:\\Out\\data"}},
        {L"C:\\Arc\\pics.yz1", ArchiveType::YZ1, 0, kOneEntry, L"x \"C:\\Arc\\pics.yz1\" D:\\Out\\\\", {}},
        {L"C:\\Arc\\mail.ish", ArchiveType::ISH, 1, {}, L"C:\\Arc\\mail.ish /f=C:\\Arc\\mail\\", {}},
    };
    for (const auto& row : rows) {
        Harness h;
        h.state.OptionFlags = row.flags;
        MakeArchive(h, row.path, row.type, row.entries);
        h.Extract(row.path);
        EXPECT_EQ(h.RunLine(LibraryOf(row.type)), row.line);
        EXPECT_EQ(h.shell.started, row.afterwards) << row.line;
        EXPECT_THAT(h.shell.messages, IsEmpty());
    }
}

// Each type's line for the folder C:\Arc\, direct and in the sub-folder.
struct TypeLines {
    ArchiveType type;
    const wchar_t* path;
    const wchar_t* direct;
    const wchar_t* sub;
};
const TypeLines kTypeLines[] = {
    {ArchiveType::LZH, L"C:\\Arc\\d.lzh", L"x -a1 -gq1 -m1 \"C:\\Arc\\d.lzh\" \"C:\\Arc\\\"",
     L"x -a1 -gq1 -m1 \"C:\\Arc\\d.lzh\" \"C:\\Arc\\d\\\""},
    {ArchiveType::ZIP, L"C:\\Arc\\d.zip", L"-u -qq \"C:\\Arc\\d.zip\" \"C:\\Arc\\\"",
     L"-u -qq \"C:\\Arc\\d.zip\" \"C:\\Arc\\d\\\""},
    {ArchiveType::CAB, L"C:\\Arc\\d.cab", L"-x -n \"C:\\Arc\\d.cab\" \"C:\\Arc\\\"",
     L"-x -n \"C:\\Arc\\d.cab\" \"C:\\Arc\\d\\\""},
    {ArchiveType::TAR, L"C:\\Arc\\d.tgz", L"x -f \"C:\\Arc\\d.tgz\" \"C:\\Arc\\\"",
     L"x -f \"C:\\Arc\\d.tgz\" \"C:\\Arc\\d\\\""},
    {ArchiveType::ARJ, L"C:\\Arc\\d.arj", L"x -u+ -hq+ -y+ \"C:\\Arc\\d.arj\" \"C:\\Arc\\\"",
     L"x -u+ -hq+ -y+ \"C:\\Arc\\d.arj\" \"C:\\Arc\\d\\\""},
    {ArchiveType::RAR, L"C:\\Arc\\d.rar", L"x -u \"C:\\Arc\\d.rar\" \"C:\\Arc\\\"",
     L"x -u \"C:\\Arc\\d.rar\" \"C:\\Arc\\d\\\""},
    {ArchiveType::BGA, L"C:\\Arc\\d.gza", L"x -n \"C:\\Arc\\d.gza\" \"C:\\Arc\\\"",
     L"x -n \"C:\\Arc\\d.gza\" \"C:\\Arc\\d\\\""},
    {ArchiveType::YZ1, L"C:\\Arc\\d.yz1", L"x \"C:\\Arc\\d.yz1\" C:\\Arc\\\\", L"x \"C:\\Arc\\d.yz1\" \"C:\\Arc\\d\\\""},
};

// The same line with the destination under D:\Out\ (the part after the quoted path).
std::wstring InDestFolder(std::wstring line) {
    const auto at = line.find(L"C:\\Arc\\", line.find(L"\" ") + 2);
    return line.replace(at, 7, L"D:\\Out\\");
}

TEST(ExtractFile, EveryTypeLineAndFolderWindowForEachOptionFlags) {
    for (const auto& t : kTypeLines) {
        for (std::int32_t flags = 0; flags <= 3; ++flags) {
            for (const bool direct : {true, false}) {
                Harness h;
                h.state.OptionFlags = flags;
                MakeArchive(h, t.path, t.type, direct ? kOneEntry : kLoose);
                h.Extract(t.path);
                const bool nextToArchive = flags == 1 || flags == 3;
                const std::wstring line = direct ? t.direct : t.sub;
                EXPECT_EQ(h.RunLine(LibraryOf(t.type)), nextToArchive ? line : InDestFolder(line))
                    << t.path << " flags " << flags;
                std::vector<std::wstring> expectedStarts;
                if (flags >= 2) {
                    const std::wstring root = nextToArchive ? L"C:\\Arc\\" : L"D:\\Out\\";
                    expectedStarts.push_back(L"explorer /n," + root + (direct ? L"" : L"d"));
                }
                EXPECT_EQ(h.shell.started, expectedStarts) << t.path << " flags " << flags;
                EXPECT_THAT(h.files.madeFolders, IsEmpty());
            }
        }
    }
}

// A hand-edited settings file can hold other values: they are compared, not masked.
TEST(ExtractFile, OptionFlagsOutsideZeroToThreeAreValuesNotBits) {
    const struct {
        std::int32_t flags;
        std::vector<std::wstring> started;
    } cases[] = {{5, {L"explorer /n,D:\\Out\\d"}}, {-1, {}}, {7, {L"explorer /n,D:\\Out\\d"}}};
    for (const auto& c : cases) {
        Harness h;
        h.state.OptionFlags = c.flags;
        MakeArchive(h, L"C:\\Arc\\d.cab", ArchiveType::CAB, kLoose);
        h.Extract(L"C:\\Arc\\d.cab");
        EXPECT_EQ(h.RunLine(Library::Cab), L"-x -n \"C:\\Arc\\d.cab\" \"D:\\Out\\d\\\"");
        EXPECT_EQ(h.shell.started, c.started);
    }
}

TEST(ExtractFile, LibraryErrorGivesNoWindowAndNoMessage) {
    for (const std::optional<std::int32_t> result : {std::optional<std::int32_t>(0x8001), std::optional<std::int32_t>()}) {
        Harness h;
        h.state.OptionFlags = 3;
        MakeArchive(h, L"C:\\Arc\\d.zip", ArchiveType::ZIP, kLoose, result);
        h.Extract(L"C:\\Arc\\d.zip");
        EXPECT_THAT(h.shell.started, IsEmpty());
        EXPECT_THAT(h.shell.messages, IsEmpty());
    }
}

TEST(ExtractFile, OwnerWindowReachesEveryLibraryCall) {
    Harness h;
    h.state.MainWindowHandle = 0x1234;
    MakeArchive(h, L"C:\\Arc\\d.lzh", ArchiveType::LZH, kLoose);
    h.Extract(L"C:\\Arc\\d.lzh");
    EXPECT_EQ(h.libs.CallsTo(Library::Unlha)[1], L"Unlha.OpenArchive(4660,C:\\Arc\\d.lzh,512)");
    EXPECT_EQ(h.libs.CallsTo(Library::Unlha).back(),
              L"Unlha.Run(4660,x -a1 -gq1 -m1 \"C:\\Arc\\d.lzh\" \"C:\\Arc\\d\\\")");
}

TEST(ExtractFile, MissingFilesGetTheFirstMessageOnly) {
    for (const std::wstring path : {L"C:\\Arc\\none.lzh", L"C:\\Arc\\folder", L"C:\\Arc\\system.lzh", L""}) {
        Harness h;
        h.state.MainWindowHandle = 0x55;
        h.files.files[L"C:\\Arc\\folder"] = {"", true};
        h.files.files[L"C:\\Arc\\system.lzh"] = {"", true};
        h.Extract(path);
        ASSERT_EQ(h.shell.messages.size(), 1u);
        EXPECT_EQ(h.shell.messages[0].text, L"解凍不可能なファイルです｡");
        EXPECT_EQ(h.shell.messages[0].title, L"エラー発生");
        EXPECT_EQ(h.shell.messages[0].style, 0x10010u);
        EXPECT_EQ(h.shell.messages[0].owner, 0x55u);
        EXPECT_THAT(h.libs.log, IsEmpty());
        EXPECT_THAT(h.shell.started, IsEmpty());
        if (path.empty()) {
            EXPECT_THAT(h.files.lookups, IsEmpty());
        }
    }
}

TEST(ExtractFile, WildcardPathReachesTheLibraryUnchanged) {
    Harness h;
    h.files.Put(L"C:\\Arc\\data.lzh");
    FakeArchive& a = h.libs.Add(Library::Unlha, L"C:\\Arc\\*.lzh");
    a.count = 2;
    a.entries = kLoose;
    h.Extract(L"C:\\Arc\\*.lzh");
    EXPECT_EQ(h.RunLine(Library::Unlha), L"x -a1 -gq1 -m1 \"C:\\Arc\\*.lzh\" \"C:\\Arc\\data\\\"");
}

TEST(ExtractFile, BaseNames) {
    const struct {
        std::wstring path;
        std::int32_t flags;
        std::wstring line;
        std::wstring shown;
    } cases[] = {
        {L"C:\\Arc\\README", 3, L"x -a1 -gq1 -m1 \"C:\\Arc\\README\" \"C:\\Arc\\README\\\"", L"explorer /n,C:\\Arc\\README"},
        {L"C:\\Arc\\.lzh", 3, L"x -a1 -gq1 -m1 \"C:\\Arc\\.lzh\" \"C:\\Arc\\\\\"", L"explorer /n,C:\\Arc\\"},
        {L"C:\\Arc\\a.b.lzh", 2, L"x -a1 -gq1 -m1 \"C:\\Arc\\a.b.lzh\" \"D:\\Out\\a.b\\\"", L"explorer /n,D:\\Out\\a.b"},
        {L"data.lzh", 3, L"x -a1 -gq1 -m1 \"data.lzh\" \"data\\\"", L"explorer /n,data"},
    };
    for (const auto& c : cases) {
        Harness h;
        h.state.OptionFlags = c.flags;
        MakeArchive(h, c.path, ArchiveType::LZH, kLoose);
        h.Extract(c.path);
        EXPECT_EQ(h.RunLine(Library::Unlha), c.line);
        EXPECT_THAT(h.shell.started, ElementsAre(c.shown));
    }
    Harness bare; // no backslash, direct: the destination is empty
    MakeArchive(bare, L"data.lzh", ArchiveType::LZH, kInFoo);
    bare.Extract(L"data.lzh");
    EXPECT_EQ(bare.RunLine(Library::Unlha), L"x -a1 -gq1 -m1 \"data.lzh\" \"\"");

    // YZ1's unquoted form must not turn the empty destination into the drive's root.
    Harness yz1;
    MakeArchive(yz1, L"pics.yz1", ArchiveType::YZ1, kOneEntry);
    yz1.Extract(L"pics.yz1");
    EXPECT_EQ(yz1.RunLine(Library::Yz1), L"x \"pics.yz1\" .\\\\");
}

TEST(ExtractFile, IshAlwaysGoesIntoItsOwnFolder) {
    Harness h;
    h.state.OptionFlags = 2;
    MakeArchive(h, L"C:\\Arc\\mail.ish", ArchiveType::ISH, {});
    h.Extract(L"C:\\Arc\\mail.ish");
    EXPECT_THAT(h.files.madeFolders, ElementsAre(L"D:\\Out\\mail"));
    EXPECT_EQ(h.libs.CallsTo(Library::Ish).back(), L"Ish.Run(0,C:\\Arc\\mail.ish /f=D:\\Out\\mail\\)");
    EXPECT_THAT(h.shell.started, ElementsAre(L"explorer /n,D:\\Out\\mail"));
}

TEST(ExtractFile, JakJoinsIntoTheDestinationRoot) {
    const struct {
        std::int32_t flags;
        std::int32_t result;
        std::wstring call;
        std::vector<std::wstring> started;
    } cases[] = {
        {1, 0, L"Jack.JackCombine(C:\\Arc\\big.001,C:\\Arc\\)", {}},
        {2, 0, L"Jack.JackCombine(C:\\Arc\\big.001,D:\\Out\\)", {L"explorer /n,D:\\Out\\"}},
        {3, 0, L"Jack.JackCombine(C:\\Arc\\big.001,C:\\Arc\\)", {L"explorer /n,C:\\Arc\\"}},
        {3, 1, L"Jack.JackCombine(C:\\Arc\\big.001,C:\\Arc\\)", {}},
    };
    for (const auto& c : cases) {
        Harness h;
        h.state.OptionFlags = c.flags;
        MakeArchive(h, L"C:\\Arc\\big.001", ArchiveType::JAK, {}, c.result);
        h.Extract(L"C:\\Arc\\big.001");
        EXPECT_EQ(h.libs.log.back(), c.call);
        EXPECT_EQ(h.shell.started, c.started);
        EXPECT_THAT(h.files.madeFolders, IsEmpty());
        EXPECT_THAT(h.shell.messages, IsEmpty());
    }
}

const std::string kSzdd = std::string("SZDD\x88\xF0\x27\x33\x41", 9) + "_payload";

TEST(LzFiles, ExpandsUnderTheMarkedNameAndNeverOverwrites) {
    Harness h;
    h.files.Put(L"C:\\Arc\\SETUP.EX_", kSzdd);
    h.files.Put(L"C:\\Arc\\SETUP.EX#", "keep1");
    h.files.Put(L"C:\\Arc\\SETUP.EX##", "keep2");
    h.Extract(L"C:\\Arc\\SETUP.EX_");
    EXPECT_THAT(h.lz.log, ElementsAre(L"LzOpen(C:\\Arc\\SETUP.EX_,0)", L"LzOpen(C:\\Arc\\SETUP.EX###,4096)", L"LzCopy",
                                      L"LzClose(C:\\Arc\\SETUP.EX###)", L"LzClose(C:\\Arc\\SETUP.EX_)"));
    EXPECT_EQ(h.files.files[L"C:\\Arc\\SETUP.EX###"].bytes.size(), 100u);
    EXPECT_EQ(h.files.files[L"C:\\Arc\\SETUP.EX#"].bytes, "keep1");
    EXPECT_EQ(h.files.files[L"C:\\Arc\\SETUP.EX##"].bytes, "keep2");
    EXPECT_THAT(h.shell.messages, IsEmpty());
    EXPECT_THAT(h.shell.started, IsEmpty());
}

TEST(LzFiles, MarkedNameFollowsTheDestinationRoot) {
    const struct {
        std::wstring path;
        std::int32_t flags;
        std::wstring output;
        std::vector<std::wstring> started;
    } cases[] = {
        {L"C:\\Arc\\SETUP.EX_", 0, L"D:\\Out\\SETUP.EX#", {}},
        {L"C:\\Arc\\SETUP.EX_", 3, L"C:\\Arc\\SETUP.EX#", {L"explorer /n,C:\\Arc\\"}},
        {L"C:\\Arc\\X", 1, L"C:\\Arc\\#", {}},
    };
    for (const auto& c : cases) {
        Harness h;
        h.state.OptionFlags = c.flags;
        h.files.Put(c.path, kSzdd);
        h.Extract(c.path);
        EXPECT_TRUE(h.files.files.count(c.output)) << c.output;
        EXPECT_EQ(h.shell.started, c.started);
    }
}

void ExpectNotLzMessage(const Harness& h) {
    ASSERT_EQ(h.shell.messages.size(), 1u);
    EXPECT_EQ(h.shell.messages[0].text, L"解凍可能なファイルではありません。");
    EXPECT_EQ(h.shell.messages[0].title, L"Dexalo");
    EXPECT_EQ(h.shell.messages[0].style, 0x10010u);
}

TEST(LzFiles, UnsignedFileIsRejectedWithoutACopy) {
    Harness h;
    h.state.OptionFlags = 3;
    h.files.Put(L"C:\\Arc\\notes.txt", "plain text");
    h.Extract(L"C:\\Arc\\notes.txt");
    ExpectNotLzMessage(h);
    EXPECT_THAT(h.lz.log, IsEmpty());
    EXPECT_EQ(h.files.files.size(), 1u);
    EXPECT_EQ(h.files.files[L"C:\\Arc\\notes.txt"].bytes, "plain text");
    EXPECT_EQ(h.libs.log.size(), 10u);
}

TEST(LzFiles, SameLengthOrFailureRemovesOnlyItsOwnOutput) {
    Harness same;
    same.files.Put(L"C:\\Arc\\a.tx_", kSzdd);
    same.lz.expandedSize = kSzdd.size();
    same.Extract(L"C:\\Arc\\a.tx_");
    ExpectNotLzMessage(same);
    EXPECT_FALSE(same.files.files.count(L"C:\\Arc\\a.tx#"));

    Harness unopenable; // the output could not be created: nothing of anyone else's is deleted
    unopenable.files.Put(L"C:\\Arc\\a.tx_", kSzdd);
    unopenable.lz.unopenable.insert(L"C:\\Arc\\a.tx#");
    unopenable.Extract(L"C:\\Arc\\a.tx_");
    ExpectNotLzMessage(unopenable);
    EXPECT_THAT(unopenable.files.removed, IsEmpty());

    Harness noLibrary;
    noLibrary.files.Put(L"C:\\Arc\\a.tx_", kSzdd);
    noLibrary.lz.available = false;
    noLibrary.Extract(L"C:\\Arc\\a.tx_");
    ExpectNotLzMessage(noLibrary);
}

TEST(AnsiPaths, UnrepresentablePathTravelsInShortForm) {
    Harness h;
    const std::wstring longPath = L"C:\\한글\\자료.lzh", shortPath = L"C:\\4D8A~1\\5B2F~1.LZH";
    h.files.Put(longPath);
    h.ansi.shortForms[longPath] = shortPath;
    FakeArchive& a = h.libs.Add(Library::Unlha, shortPath);
    a.count = 2;
    a.entries = kLoose;
    h.Extract(longPath);
    // The name has no ANSI form either, so the sub-folder takes the short one's base.
    EXPECT_EQ(h.RunLine(Library::Unlha), L"x -a1 -gq1 -m1 \"C:\\4D8A~1\\5B2F~1.LZH\" \"C:\\4D8A~1\\5B2F~1\\\"");
    EXPECT_THAT(h.shell.messages, IsEmpty());

    Harness folderOnly; // only the folder is Korean: the long file name stays the base name
    folderOnly.files.Put(L"C:\\한글\\data.lzh");
    folderOnly.ansi.shortForms[L"C:\\한글\\data.lzh"] = L"C:\\4D8A~1\\data.lzh";
    MakeArchive(folderOnly, L"C:\\4D8A~1\\data.lzh", ArchiveType::LZH, kLoose);
    folderOnly.Extract(L"C:\\한글\\data.lzh");
    EXPECT_EQ(folderOnly.RunLine(Library::Unlha), L"x -a1 -gq1 -m1 \"C:\\4D8A~1\\data.lzh\" \"C:\\4D8A~1\\data\\\"");
}

TEST(AnsiPaths, NoShortFormMeansTheFirstMessageAndNoLibraryCall) {
    Harness h;
    h.files.Put(L"C:\\Arc\\자료.lzh");
    h.Extract(L"C:\\Arc\\자료.lzh");
    ASSERT_EQ(h.shell.messages.size(), 1u);
    EXPECT_EQ(h.shell.messages[0].text, L"解凍不可能なファイルです｡");
    EXPECT_THAT(h.libs.log, IsEmpty());

    Harness dest; // the configured destination cannot reach the library either
    dest.state.OptionFlags = 0;
    dest.state.DestFolder = L"D:\\출력\\";
    MakeArchive(dest, L"C:\\Arc\\d.lzh", ArchiveType::LZH, kLoose);
    dest.Extract(L"C:\\Arc\\d.lzh");
    EXPECT_EQ(dest.shell.messages.size(), 1u);
    EXPECT_THAT(dest.libs.log, IsEmpty());

    dest.ansi.shortForms[L"D:\\출력\\"] = L"D:\\OUT~1\\";
    dest.Extract(L"C:\\Arc\\d.lzh");
    EXPECT_EQ(dest.RunLine(Library::Unlha), L"x -a1 -gq1 -m1 \"C:\\Arc\\d.lzh\" \"D:\\OUT~1\\d\\\"");
}

TEST(AnsiPaths, JapaneseNamesPassUnchanged) {
    Harness h;
    MakeArchive(h, L"C:\\書類\\資料.lzh", ArchiveType::LZH, kLoose);
    h.Extract(L"C:\\書類\\資料.lzh");
    EXPECT_EQ(h.RunLine(Library::Unlha), L"x -a1 -gq1 -m1 \"C:\\書類\\資料.lzh\" \"C:\\書類\\資料\\\"");
}

} // namespace
} // namespace dexalo::test
