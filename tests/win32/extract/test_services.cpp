// File lookup, the existence test, lz32 and the short-path road, on the real system.
#include <gtest/gtest.h>

#include <memory>

#include "sandbox.h"
#include "win32/extract_files.h"
#include "win32/extract_services.h"

namespace dexalo::test {
namespace {

std::wstring Sandbox() { return MakeSandbox(TestName()); }

bool SetAttributes(const std::wstring& path, DWORD attributes) {
    return SetFileAttributesW(path.c_str(), attributes) && (GetFileAttributesW(path.c_str()) & attributes) == attributes;
}

TEST(LookUpFile, MatchesPlainReadOnlyHiddenAndArchiveFilesOnly) {
    const std::wstring folder = Sandbox();
    win32::Win32ExtractFiles files;
    for (const wchar_t* name : {L"plain.lzh", L"readonly.lzh", L"hidden.lzh", L"archive.lzh"}) WriteBytes(folder + name, "x");
    ASSERT_TRUE(SetAttributes(folder + L"readonly.lzh", FILE_ATTRIBUTE_READONLY));
    const bool hiddenKept = SetAttributes(folder + L"hidden.lzh", FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(SetAttributes(folder + L"archive.lzh", FILE_ATTRIBUTE_ARCHIVE));
    CreateDirectoryW((folder + L"sub.lzh").c_str(), nullptr);

    EXPECT_EQ(files.LookUpFile(folder + L"plain.lzh"), L"plain.lzh");
    EXPECT_EQ(files.LookUpFile(folder + L"readonly.lzh"), L"readonly.lzh");
    EXPECT_EQ(files.LookUpFile(folder + L"archive.lzh"), L"archive.lzh");
    if (hiddenKept) {
        EXPECT_EQ(files.LookUpFile(folder + L"hidden.lzh"), L"hidden.lzh");
    }
    EXPECT_EQ(files.LookUpFile(folder + L"sub.lzh"), std::nullopt);
    EXPECT_EQ(files.LookUpFile(folder + L"none.lzh"), std::nullopt);
    EXPECT_EQ(files.LookUpFile(L""), std::nullopt);
    EXPECT_EQ(files.LookUpFile(folder), std::nullopt);

    // Wildcards as the system's search reads them; folders are passed over.
    const auto any = files.LookUpFile(folder + L"*.lzh");
    ASSERT_TRUE(any);
    EXPECT_NE(*any, L"sub.lzh");
    EXPECT_EQ(files.LookUpFile(folder + L"pl?in.*"), L"plain.lzh");
    EXPECT_EQ(files.LookUpFile(folder + L"su*"), std::nullopt);
    SetAttributes(folder + L"readonly.lzh", FILE_ATTRIBUTE_NORMAL);
}

TEST(LookUpFile, SystemFilesDoNotMatch) {
    const std::wstring folder = Sandbox();
    WriteBytes(folder + L"system.lzh", "x");
    if (!SetAttributes(folder + L"system.lzh", FILE_ATTRIBUTE_SYSTEM))
        GTEST_SKIP() << "this file system keeps no system attribute";
    win32::Win32ExtractFiles files;
    EXPECT_EQ(files.LookUpFile(folder + L"system.lzh"), std::nullopt);
}

TEST(FileExists, ScriptingRuntimeAnswersForFilesOnly) {
    const std::wstring folder = Sandbox();
    WriteBytes(folder + L"here.txt", "x");
    const auto here = win32::ScriptingFileExists(folder + L"here.txt");
    ASSERT_TRUE(here.has_value()) << "Scripting.FileSystemObject could not be used";
    EXPECT_TRUE(*here);
    EXPECT_EQ(win32::ScriptingFileExists(folder + L"gone.txt"), false);
    EXPECT_EQ(win32::ScriptingFileExists(folder), false);

    win32::Win32ExtractFiles files; // the same answers, with or without the object
    EXPECT_TRUE(files.FileExists(folder + L"here.txt"));
    EXPECT_FALSE(files.FileExists(folder + L"gone.txt"));
    EXPECT_FALSE(files.FileExists(folder));
}

std::string SampleText() {
    std::string text;
    for (int i = 0; i < 300; ++i) text += "line " + std::to_string(i % 37) + ": the quick brown fox, again and again\r\n";
    for (int i = 0; i < 256; ++i) text.push_back(static_cast<char>(i));
    return text;
}

// No archiver library is reachable here, so every file goes to the LZ step. A stray
// message box would block the test: the watcher answers it and the test fails on it.
class LzExpansion : public ::testing::Test {
protected:
    void SetUp() override {
        folder = Sandbox();
        SetDllDirectoryW(folder.c_str());
        watcher = std::make_unique<Watcher>(folder);
        ASSERT_TRUE(watcher->running());
    }
    void TearDown() override {
        SetDllDirectoryW(nullptr);
        EXPECT_EQ(watcher->Stop(), std::vector<std::string>{});
    }
    std::wstring folder;
    std::unique_ptr<Watcher> watcher;
};

TEST_F(LzExpansion, RealLz32ExpandsBesideTheFileUnderTheMarkedName) {
    const std::string original = SampleText();
    const std::string packed = SzddCompress(original);
    ASSERT_LT(packed.size(), original.size());
    WriteBytes(folder + L"DATA.TX_", packed);
    WriteBytes(folder + L"DATA.TX#", "existing");

    ModuleState state{L"C:\\unused\\", 1, 0};
    win32::Win32Extraction extraction(state);
    extraction.EXTRACT_FILE(folder + L"DATA.TX_");
    EXPECT_EQ(ReadBytes(folder + L"DATA.TX##"), original);
    EXPECT_EQ(ReadBytes(folder + L"DATA.TX#"), "existing");
    EXPECT_EQ(ReadBytes(folder + L"DATA.TX_"), packed);
}

TEST_F(LzExpansion, UnrepresentableNameTravelsInShortForm) {
    if (GetACP() != 932) GTEST_SKIP() << "ANSI code page is " << GetACP() << ", not 932";
    const std::wstring name = folder + L"한글파일.TX_";
    WriteBytes(name, SzddCompress(SampleText()));
    win32::Win32AnsiPaths ansi;
    const auto shortName = ansi.ShortForm(name);
    if (!shortName || !ansi.FitsAnsi(*shortName)) GTEST_SKIP() << "no ANSI short name on this volume";

    ModuleState state{L"C:\\unused\\", 1, 0};
    win32::Win32Extraction extraction(state);
    extraction.EXTRACT_FILE(name);
    // The marked name comes from the short name, which lz32 can be given.
    const std::wstring shortFile = shortName->substr(shortName->rfind(L'\\') + 1);
    const std::wstring marked = folder + shortFile.substr(0, shortFile.size() - 1) + L"#";
    EXPECT_EQ(ReadBytes(marked), SampleText()) << Utf8(marked);
}

} // namespace
} // namespace dexalo::test
