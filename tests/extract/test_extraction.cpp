#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "extract/extraction.h"
#include "extract_fakes.h"

namespace dexalo::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Entries = std::vector<std::wstring>;

const Entries kOne = {L"a.txt"};
const Entries kLoose = {L"a.txt", L"b.txt"};   // a sub-folder for every type
const Entries kInFoo = {L"foo/a", L"foo/b"};   // direct for LZH

void MakeArchive(Harness& h, const std::wstring& path, ArchiveType type, Entries entries,
                 std::optional<std::int32_t> runResult = 0) {
    h.files.Put(path);
    FakeArchive& a = h.libs.Add(LibraryOf(type), path);
    if (type == ArchiveType::ISH || type == ArchiveType::JAK) a.check = 1;
    else a.count = static_cast<std::int32_t>(entries.size());
    a.entries = std::move(entries);
    a.runResult = runResult;
}

// One file through EXTRACT_FILE, D:\Out\ configured: the library call and the folder windows.
TEST(ExtractFile, CommandLinesDestinationsAndFolderWindows) {
    const struct {
        std::wstring path;
        ArchiveType type;
        std::int32_t flags;
        Entries entries;
        std::wstring call;
        std::vector<std::wstring> started;
        std::optional<std::int32_t> result = 0;
    } rows[] = {
        {L"C:\\Arc\\d.lzh", ArchiveType::LZH, 1, kInFoo, L"Run(0,x -a1 -gq1 -m1 \"C:\\Arc\\d.lzh\" \"C:\\Arc\\\")", {}},
        {L"C:\\Arc\\d.lzh", ArchiveType::LZH, 0, kLoose, L"Run(0,x -a1 -gq1 -m1 \"C:\\Arc\\d.lzh\" \"D:\\Out\\d\\\")", {}},
        {L"C:\\Arc\\d.lzh", ArchiveType::LZH, 2, kLoose, L"Run(0,x -a1 -gq1 -m1 \"C:\\Arc\\d.lzh\" \"D:\\Out\\d\\\")",
         {L"explorer /n,D:\\Out\\d"}},
        {L"C:\\Arc\\d.lzh", ArchiveType::LZH, 3, kInFoo, L"Run(0,x -a1 -gq1 -m1 \"C:\\Arc\\d.lzh\" \"C:\\Arc\\\")",
         {L"explorer /n,C:\\Arc\\"}},
        // A hand-edited settings file can hold other values: they are compared, not masked.
        {L"C:\\Arc\\d.cab", ArchiveType::CAB, 5, kLoose, L"Run(0,-x -n \"C:\\Arc\\d.cab\" \"D:\\Out\\d\\\")",
         {L"explorer /n,D:\\Out\\d"}},
        {L"C:\\Arc\\d.cab", ArchiveType::CAB, -1, kLoose, L"Run(0,-x -n \"C:\\Arc\\d.cab\" \"D:\\Out\\d\\\")", {}},
        {L"C:\\Arc\\d.zip", ArchiveType::ZIP, 1, kOne, L"Run(0,-u -qq \"C:\\Arc\\d.zip\" \"C:\\Arc\\\")", {}},
        {L"C:\\Arc\\d.zip", ArchiveType::ZIP, 0, kLoose, L"Run(0,-u -qq \"C:\\Arc\\d.zip\" \"D:\\Out\\d\\\")", {}},
        {L"C:\\Arc\\d.tgz", ArchiveType::TAR, 1, kOne, L"Run(0,x -f \"C:\\Arc\\d.tgz\" \"C:\\Arc\\\")", {}},
        {L"C:\\Arc\\d.tgz", ArchiveType::TAR, 0, kLoose, L"Run(0,x -f \"C:\\Arc\\d.tgz\" \"D:\\Out\\d\\\")", {}},
        {L"C:\\Arc\\d.arj", ArchiveType::ARJ, 1, kOne, L"Run(0,x -u+ -hq+ -y+ \"C:\\Arc\\d.arj\" \"C:\\Arc\\\")", {}},
        {L"C:\\Arc\\d.arj", ArchiveType::ARJ, 0, kLoose, L"Run(0,x -u+ -hq+ -y+ \"C:\\Arc\\d.arj\" \"D:\\Out\\d\\\")", {}},
        {L"C:\\Arc\\d.rar", ArchiveType::RAR, 1, kOne, L"Run(0,x -u \"C:\\Arc\\d.rar\" \"C:\\Arc\\\")", {}},
        {L"C:\\Arc\\d.rar", ArchiveType::RAR, 0, kLoose, L"Run(0,x -u \"C:\\Arc\\d.rar\" \"D:\\Out\\d\\\")", {}},
        {L"C:\\Arc\\d.gza", ArchiveType::BGA, 1, kOne, L"Run(0,x -n \"C:\\Arc\\d.gza\" \"C:\\Arc\\\")", {}},
        {L"C:\\Arc\\d.gza", ArchiveType::BGA, 0, kLoose, L"Run(0,x -n \"C:\\Arc\\d.gza\" \"D:\\Out\\d\\\")", {}},
        // YZ1's direct form is unquoted with a doubled backslash; an empty root stays the current folder.
        {L"C:\\Arc\\d.yz1", ArchiveType::YZ1, 0, kOne, L"Run(0,x \"C:\\Arc\\d.yz1\" D:\\Out\\\\)", {}},
        {L"C:\\Arc\\d.yz1", ArchiveType::YZ1, 1, kLoose, L"Run(0,x \"C:\\Arc\\d.yz1\" \"C:\\Arc\\d\\\")", {}},
        {L"pics.yz1", ArchiveType::YZ1, 1, kOne, L"Run(0,x \"pics.yz1\" .\\\\)", {}},
        // ISH always gets a folder of its own, made beforehand.
        {L"C:\\Arc\\mail.ish", ArchiveType::ISH, 2, {}, L"Run(0,C:\\Arc\\mail.ish /f=D:\\Out\\mail\\)",
         {L"explorer /n,D:\\Out\\mail"}},
        // JAK joins into the destination root.
        {L"C:\\Arc\\big.001", ArchiveType::JAK, 1, {}, L"JackCombine(C:\\Arc\\big.001,C:\\Arc\\)", {}},
        {L"C:\\Arc\\big.001", ArchiveType::JAK, 2, {}, L"JackCombine(C:\\Arc\\big.001,D:\\Out\\)",
         {L"explorer /n,D:\\Out\\"}},
        // A library error opens no folder window and shows no message.
        {L"C:\\Arc\\big.001", ArchiveType::JAK, 3, {}, L"JackCombine(C:\\Arc\\big.001,C:\\Arc\\)", {}, 1},
        {L"C:\\Arc\\d.zip", ArchiveType::ZIP, 3, kLoose, L"Run(0,-u -qq \"C:\\Arc\\d.zip\" \"C:\\Arc\\d\\\")", {}, 0x8001},
        {L"C:\\Arc\\d.zip", ArchiveType::ZIP, 3, kLoose, L"Run(0,-u -qq \"C:\\Arc\\d.zip\" \"C:\\Arc\\d\\\")", {},
         std::nullopt},
        // Base names: no extension, nothing before the dot, two dots, no folder at all.
        {L"C:\\Arc\\README", ArchiveType::LZH, 3, kLoose, L"Run(0,x -a1 -gq1 -m1 \"C:\\Arc\\README\" \"C:\\Arc\\README\\\")",
         {L"explorer /n,C:\\Arc\\README"}},
        {L"C:\\Arc\\.lzh", ArchiveType::LZH, 3, kLoose, L"Run(0,x -a1 -gq1 -m1 \"C:\\Arc\\.lzh\" \"C:\\Arc\\\\\")",
         {L"explorer /n,C:\\Arc\\"}},
        {L"C:\\Arc\\a.b.lzh", ArchiveType::LZH, 2, kLoose, L"Run(0,x -a1 -gq1 -m1 \"C:\\Arc\\a.b.lzh\" \"D:\\Out\\a.b\\\")",
         {L"explorer /n,D:\\Out\\a.b"}},
        {L"data.lzh", ArchiveType::LZH, 3, kLoose, L"Run(0,x -a1 -gq1 -m1 \"data.lzh\" \"data\\\")", {L"explorer /n,data"}},
        {L"data.lzh", ArchiveType::LZH, 1, kInFoo, L"Run(0,x -a1 -gq1 -m1 \"data.lzh\" \"\")", {}},
        // Japanese names fit the code page and pass unchanged.
        {L"C:\\書類\\資料.lzh", ArchiveType::LZH, 1, kLoose,
         L"Run(0,x -a1 -gq1 -m1 \"C:\\書類\\資料.lzh\" \"C:\\書類\\資料\\\")", {}},
    };
    for (const auto& row : rows) {
        Harness h;
        h.state.OptionFlags = row.flags;
        MakeArchive(h, row.path, row.type, row.entries, row.result);
        h.Extract(row.path);
        EXPECT_EQ(h.LastRun(), row.call);
        EXPECT_EQ(h.shell.started, row.started) << row.call;
        EXPECT_THAT(h.shell.messages, IsEmpty()) << row.call;
        if (row.type == ArchiveType::ISH) {
            EXPECT_THAT(h.files.madeFolders, ElementsAre(L"D:\\Out\\mail"));
        } else {
            EXPECT_THAT(h.files.madeFolders, IsEmpty()) << row.call;
        }
    }
}

TEST(ExtractFile, OwnerWindowReachesEveryLibraryCall) {
    Harness h;
    h.state.MainWindowHandle = 0x1234;
    MakeArchive(h, L"C:\\Arc\\d.lzh", ArchiveType::LZH, kLoose);
    h.Extract(L"C:\\Arc\\d.lzh");
    EXPECT_THAT(h.libs.log, ::testing::Contains(L"Unlha.OpenArchive(4660,C:\\Arc\\d.lzh,512)"));
    EXPECT_EQ(h.LastRun(), L"Run(4660,x -a1 -gq1 -m1 \"C:\\Arc\\d.lzh\" \"C:\\Arc\\d\\\")");
}

TEST(ExtractFile, WildcardPathReachesTheLibraryUnchanged) {
    Harness h;
    h.files.Put(L"C:\\Arc\\data.lzh");
    FakeArchive& a = h.libs.Add(Library::Unlha, L"C:\\Arc\\*.lzh");
    a.count = 2;
    a.entries = kLoose;
    h.Extract(L"C:\\Arc\\*.lzh");
    EXPECT_EQ(h.LastRun(), L"Run(0,x -a1 -gq1 -m1 \"C:\\Arc\\*.lzh\" \"C:\\Arc\\data\\\")");
}

void ExpectOneMessage(const Harness& h, const std::wstring& text, const std::wstring& title, WindowHandle owner) {
    ASSERT_EQ(h.shell.messages.size(), 1u);
    EXPECT_EQ(h.shell.messages[0].text, text);
    EXPECT_EQ(h.shell.messages[0].title, title);
    EXPECT_EQ(h.shell.messages[0].style, 0x10010u);
    EXPECT_EQ(h.shell.messages[0].owner, owner);
}

// Missing files, folders, system files and names the code page cannot carry without a short form.
TEST(ExtractFile, FilesThatCannotReachALibraryGetTheFirstMessageOnly) {
    for (const std::wstring path : {L"C:\\Arc\\none.lzh", L"C:\\Arc\\folder", L"C:\\Arc\\system.lzh", L"",
                                    L"C:\\Arc\\자료.lzh"}) {
        Harness h;
        h.state.MainWindowHandle = 0x55;
        h.files.files[L"C:\\Arc\\folder"] = {"", true};
        h.files.files[L"C:\\Arc\\system.lzh"] = {"", true};
        h.files.Put(L"C:\\Arc\\자료.lzh");
        h.Extract(path);
        ExpectOneMessage(h, L"解凍不可能なファイルです｡", L"エラー発生", 0x55);
        EXPECT_THAT(h.libs.log, IsEmpty());
        EXPECT_THAT(h.shell.started, IsEmpty());
    }
}

TEST(ExtractFile, UnrepresentablePathsTravelInShortForm) {
    Harness h; // the name has no ANSI form either, so the sub-folder takes the short one's base
    h.files.Put(L"C:\\한글\\자료.lzh");
    h.ansi.shortForms[L"C:\\한글\\자료.lzh"] = L"C:\\4D8A~1\\5B2F~1.LZH";
    MakeArchive(h, L"C:\\4D8A~1\\5B2F~1.LZH", ArchiveType::LZH, kLoose);
    h.Extract(L"C:\\한글\\자료.lzh");
    EXPECT_EQ(h.LastRun(), L"Run(0,x -a1 -gq1 -m1 \"C:\\4D8A~1\\5B2F~1.LZH\" \"C:\\4D8A~1\\5B2F~1\\\")");

    Harness folderOnly; // only the folder is Korean: the long file name stays the base name
    folderOnly.files.Put(L"C:\\한글\\data.lzh");
    folderOnly.ansi.shortForms[L"C:\\한글\\data.lzh"] = L"C:\\4D8A~1\\data.lzh";
    MakeArchive(folderOnly, L"C:\\4D8A~1\\data.lzh", ArchiveType::LZH, kLoose);
    folderOnly.Extract(L"C:\\한글\\data.lzh");
    EXPECT_EQ(folderOnly.LastRun(), L"Run(0,x -a1 -gq1 -m1 \"C:\\4D8A~1\\data.lzh\" \"C:\\4D8A~1\\data\\\")");

    Harness dest; // the configured destination must reach the library too
    dest.state.OptionFlags = 0;
    dest.state.DestFolder = L"D:\\출력\\";
    MakeArchive(dest, L"C:\\Arc\\d.lzh", ArchiveType::LZH, kLoose);
    dest.Extract(L"C:\\Arc\\d.lzh");
    ExpectOneMessage(dest, L"解凍不可能なファイルです｡", L"エラー発生", 0);
    EXPECT_THAT(dest.libs.log, IsEmpty());
    dest.ansi.shortForms[L"D:\\출력\\"] = L"D:\\OUT~1\\";
    dest.Extract(L"C:\\Arc\\d.lzh");
    EXPECT_EQ(dest.LastRun(), L"Run(0,x -a1 -gq1 -m1 \"C:\\Arc\\d.lzh\" \"D:\\OUT~1\\d\\\")");
}

const std::string kSzdd = std::string("SZDD\x88\xF0\x27\x33\x41", 9) + "_payload";

TEST(LzFiles, ExpandUnderTheMarkedNameWithoutOverwriting) {
    const struct {
        std::wstring path;
        std::int32_t flags;
        std::wstring output;
        std::vector<std::wstring> started;
    } rows[] = {
        {L"C:\\Arc\\SETUP.EX_", 1, L"C:\\Arc\\SETUP.EX###", {}}, // .EX# and .EX## are taken
        {L"C:\\Arc\\SETUP.EX_", 0, L"D:\\Out\\SETUP.EX#", {}},
        {L"C:\\Arc\\SETUP.EX_", 3, L"C:\\Arc\\SETUP.EX###", {L"explorer /n,C:\\Arc\\"}},
        {L"C:\\Arc\\X", 1, L"C:\\Arc\\#", {}},
    };
    for (const auto& row : rows) {
        Harness h;
        h.state.OptionFlags = row.flags;
        h.files.Put(row.path, kSzdd);
        h.files.Put(L"C:\\Arc\\SETUP.EX#", "keep1");
        h.files.Put(L"C:\\Arc\\SETUP.EX##", "keep2");
        h.Extract(row.path);
        EXPECT_EQ(h.files.files[row.output].bytes.size(), 100u) << row.output;
        EXPECT_EQ(h.files.files[L"C:\\Arc\\SETUP.EX#"].bytes, "keep1");
        EXPECT_EQ(h.files.files[L"C:\\Arc\\SETUP.EX##"].bytes, "keep2");
        EXPECT_EQ(h.lz.closed.size(), 2u);
        EXPECT_EQ(h.shell.started, row.started);
        EXPECT_THAT(h.shell.messages, IsEmpty());
    }
}

TEST(LzFiles, WhatIsNotExpandedIsRefusedAndOnlyItsOwnOutputRemoved) {
    enum Twist { Unsigned, SameLength, Unopenable, NoLibrary };
    for (const Twist twist : {Unsigned, SameLength, Unopenable, NoLibrary}) {
        Harness h;
        h.files.Put(L"C:\\Arc\\a.tx_", twist == Unsigned ? "plain text" : kSzdd);
        h.files.Put(L"C:\\Arc\\a.tx##", "someone else's");
        if (twist == SameLength) h.lz.expandedSize = kSzdd.size();
        if (twist == Unopenable) h.lz.unopenable.insert(L"C:\\Arc\\a.tx#");
        h.lz.available = twist != NoLibrary;
        h.Extract(L"C:\\Arc\\a.tx_");
        ExpectOneMessage(h, L"解凍可能なファイルではありません。", L"Dexalo", 0);
        EXPECT_EQ(h.files.files.size(), 2u) << twist;
        EXPECT_EQ(h.files.files[L"C:\\Arc\\a.tx##"].bytes, "someone else's");
        EXPECT_THAT(h.shell.started, IsEmpty());
    }
}

} // namespace
} // namespace dexalo::test
