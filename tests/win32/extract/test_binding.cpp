// The archiver binding against the test-double libraries.
#include <gtest/gtest.h>

#include "win32_test.h"
#include "win32/extract/archiver_binding.h"
#include "win32/extract/extract_ansi.h"

namespace dexalo::test {
namespace {

using win32::ArchiverBinding;

// Libraries are looked for in the sandbox only for the length of one test.
class Binding : public ::testing::Test {
protected:
    void SetUp() override {
        folder = MakeSandbox();
        SetEnvironmentVariableW(L"PATH", folder.c_str()); // the binding searches PATH after the program's and system's folders
    }
    void TearDown() override { SetEnvironmentVariableW(L"PATH", nullptr); }
    std::vector<std::string> Calls() { return ReadLines(folder + L"calls.log"); }

    std::wstring folder;
};

TEST_F(Binding, MissingLibraryOrExportIsANegativeAnswer) {
    // Ish's double under the LZH library's name: the file is there, its exports are not.
    ASSERT_TRUE(CopyDouble(L"Ish32.dll", folder, L"unlha32.dll"));
    const std::wstring archive = folder + L"a.lzh";
    ArchiverBinding binding;
    EXPECT_EQ(binding.GetVersion(Library::Unlha), std::nullopt);
    EXPECT_EQ(binding.GetFileCount(Library::Unlha, archive), std::nullopt);
    EXPECT_EQ(binding.Run(Library::Unlha, 0, L"x"), std::nullopt);
    EXPECT_TRUE(binding.IsLoaded(Library::Unlha));
    EXPECT_EQ(binding.GetFileCount(Library::UnZip, archive), std::nullopt);
    EXPECT_FALSE(binding.IsLoaded(Library::UnZip));
    EXPECT_EQ(binding.JackCombine(archive, folder), std::nullopt);
    EntryRecord record{L"kept"};
    EXPECT_EQ(binding.FindFirst(Library::Bga, 0, L"*", record), std::nullopt);
    EXPECT_EQ(record.path, L"kept");
    EXPECT_TRUE(Calls().empty());
}

TEST_F(Binding, VersionsAreSixteenBitsSignExtendedExceptIsh) {
    CopyDoubles(folder);
    WriteBytes(folder + L"versions.dbl", "Unlha=262\nBga=40000\nIsh=123456\n");
    ArchiverBinding binding;
    EXPECT_EQ(binding.GetVersion(Library::Unlha), 262);
    EXPECT_EQ(binding.GetVersion(Library::Bga), 40000 - 65536);
    EXPECT_EQ(binding.GetVersion(Library::Ish), 123456);
}

TEST_F(Binding, RecordPathAndTextTravelInTheAnsiCodePage) {
    CopyDoubles(folder);
    const std::wstring archive = folder + L"資料.lzh";
    const std::string longEntry(512, 'L');
    WriteBytes(archive, "x");
    WriteBytes(archive + L".dbl", "Unlha.count=3\nUnlha.entry=" + Cp932(L"フォルダ/表.txt") +
                                      "\nUnlha.entry=" + longEntry + "\nUnlha.entry=" + longEntry + "X\n");
    ArchiverBinding binding;
    ASSERT_EQ(binding.GetFileCount(Library::Unlha, archive), 3);

    const auto handle = binding.OpenArchive(Library::Unlha, 0x4321, archive, 512);
    ASSERT_TRUE(handle);
    EntryRecord record;
    EXPECT_EQ(binding.FindFirst(Library::Unlha, *handle, L"*", record), 0);
    EXPECT_EQ(record.path, L"フォルダ/表.txt");
    EXPECT_EQ(binding.FindNext(Library::Unlha, *handle, record), 0);
    EXPECT_EQ(record.path, std::wstring(512, L'L')); // all 512, nothing from the bytes after it
    EXPECT_EQ(binding.FindNext(Library::Unlha, *handle, record), 0);
    EXPECT_EQ(record.path, std::wstring(512, L'L')); // the double cuts at 512 as the record does
    EXPECT_EQ(binding.FindNext(Library::Unlha, *handle, record), -1);
    EXPECT_EQ(record.path, std::wstring(512, L'L')); // left as it was
    EXPECT_EQ(binding.CloseArchive(Library::Unlha, *handle), 0);
    EXPECT_EQ(binding.Run(Library::Unlha, 0x4321, L"x -a1 -gq1 -m1 \"" + archive + L"\" \"" + folder + L"表\\\""), 0);

    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 8u);
    EXPECT_EQ(calls[1], "Unlha.OpenArchive(17185," + Cp932(archive) + ",512)");
    EXPECT_EQ(calls[2], "Unlha.FindFirst(*)");
    EXPECT_EQ(calls[7], "Unlha.Run(17185,x -a1 -gq1 -m1 \"" + Cp932(archive) + "\" \"" + Cp932(folder) + "\x95\\\\\",0)");
}

TEST(AnsiPaths, FitsOnlyWhatTheCodePageHolds) {
    win32::Win32AnsiPaths ansi;
    EXPECT_TRUE(ansi.FitsAnsi(L"C:\\書類\\ｶﾅ資料.lzh"));
    EXPECT_FALSE(ansi.FitsAnsi(L"C:\\한글.lzh"));
    EXPECT_FALSE(ansi.FitsAnsi(L"café.zip")); // no best-fit "e"
    EXPECT_EQ(win32::WideFromAnsi(win32::AnsiFromWide(L"解凍")), L"解凍");
    const char buffer[4] = {'a', 'b', 'c', 'd'}; // no NUL: stops at the end of the buffer
    EXPECT_EQ(win32::WideFromAnsiBuffer(buffer, 4), L"abcd");
}

} // namespace
} // namespace dexalo::test
