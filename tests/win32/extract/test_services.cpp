// File lookup, the existence test, lz32 and the short-path road, on the real system.
#include <gtest/gtest.h>

#include <memory>

#include "win32_test.h"
#include "win32/extract/extract_files.h"
#include "win32/extract/extract_services.h"

namespace dexalo::test {
namespace {

bool SetAttributes(const std::wstring& path, DWORD attributes) {
    return SetFileAttributesW(path.c_str(), attributes) && (GetFileAttributesW(path.c_str()) & attributes) == attributes;
}

TEST(LookUpFile, MatchesFilesButNeitherFoldersNorSystemFiles) {
    const std::wstring folder = MakeSandbox();
    win32::Win32ExtractFiles files;
    const std::pair<const wchar_t*, DWORD> made[] = {{L"plain.lzh", 0},
                                                     {L"readonly.lzh", FILE_ATTRIBUTE_READONLY},
                                                     {L"hidden.lzh", FILE_ATTRIBUTE_HIDDEN},
                                                     {L"archive.lzh", FILE_ATTRIBUTE_ARCHIVE},
                                                     {L"system.lzh", FILE_ATTRIBUTE_SYSTEM}};
    for (const auto& [name, attributes] : made) {
        WriteBytes(folder + name, "x");
        if (attributes && !SetAttributes(folder + name, attributes)) {
            // Wine keeps hidden and system only where the file system can.
            EXPECT_NE(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), 0u) << Utf8(name);
            continue;
        }
        const bool system = attributes == FILE_ATTRIBUTE_SYSTEM;
        EXPECT_EQ(files.LookUpFile(folder + name), system ? std::nullopt : std::optional<std::wstring>(name))
            << Utf8(name);
    }
    CreateDirectoryW((folder + L"sub.lzh").c_str(), nullptr);
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

TEST(FileExists, ScriptingRuntimeAnswersForFilesOnly) {
    const std::wstring folder = MakeSandbox();
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

// No archiver library is reachable here, so every file goes to the LZ step. A stray
// message box would block the test: the watcher answers it and the test fails on it.
class LzExpansion : public ::testing::Test {
protected:
    void SetUp() override {
        folder = MakeSandbox();
        SetEnvironmentVariableW(L"PATH", folder.c_str()); // the binding searches PATH after the program's and system's folders
        watcher = std::make_unique<Watcher>(folder);
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"PATH", nullptr);
        EXPECT_EQ(watcher->Stop(), std::vector<std::string>{});
    }
    std::wstring folder;
    std::unique_ptr<Watcher> watcher;
};

TEST_F(LzExpansion, RealLz32ExpandsBesideTheFileUnderTheMarkedName) {
    const std::string original = LzSampleText(), packed = LzSample();
    ASSERT_LT(packed.size(), original.size() / 4);
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
    const std::wstring name = folder + L"한글파일.TX_";
    WriteBytes(name, LzSample());
    win32::Win32AnsiPaths ansi;
    const auto shortName = ansi.ShortForm(name);
    if (!shortName || !ansi.FitsAnsi(*shortName)) GTEST_SKIP() << "no ANSI short name on this volume";

    ModuleState state{L"C:\\unused\\", 1, 0};
    win32::Win32Extraction extraction(state);
    extraction.EXTRACT_FILE(name);
    // The marked name comes from the short name, which lz32 can be given.
    const std::wstring shortFile = shortName->substr(shortName->rfind(L'\\') + 1);
    const std::wstring marked = folder + shortFile.substr(0, shortFile.size() - 1) + L"#";
    EXPECT_EQ(ReadBytes(marked), LzSampleText()) << Utf8(marked);
}

} // namespace
} // namespace dexalo::test
