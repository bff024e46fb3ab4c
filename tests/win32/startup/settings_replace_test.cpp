// The settings file is replaced whole or left as it was, with nothing left beside it.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

#include "common/win32/ansi_text.h"
#include "win32/startup/startup_win32.h"

namespace dexalo::win32 {
namespace {

namespace fs = std::filesystem;

TEST(SettingsFile, IsReplacedWholeOrLeftAsItWas) {
    const fs::path folder = fs::path(LocationFromPath(ModulePath()).folder) / L"sandbox-replace";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::wstring file = (folder / L"設定.ini").wstring();
    FileSettingsStorage storage;
    ASSERT_TRUE(storage.WriteAll(file, "1\r\n\"C:\\Long\\Folder\\\"\r\n"));
    ASSERT_TRUE(storage.WriteAll(file, "2\r\n\"C:\\\"\r\n"));
    EXPECT_EQ(storage.ReadAll(file), "2\r\n\"C:\\\"\r\n");

    // Another program holds the file open: the write fails and the old file stays whole.
    const HANDLE held = ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(storage.WriteAll(file, "3\r\n\"D:\\\"\r\n"));
    ::CloseHandle(held);
    EXPECT_EQ(storage.ReadAll(file), "2\r\n\"C:\\\"\r\n");
    // Without its folder the file is not written, and no folder is made for it.
    EXPECT_FALSE(storage.WriteAll((folder / L"設定フォルダ" / L"設定.ini").wstring(), "0\r\n\"C:\\\"\r\n"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    fs::remove_all(folder);
}

// Text for the ANSI-only calls: a character the code page lacks is refused, never replaced by
// a look-alike that may name another file.
TEST(AnsiText, ExactOrNothing) {
    EXPECT_EQ(ExactAnsi(L"表ソ.lzh"), "\x95\x5C\x83\x5C.lzh");
    EXPECT_EQ(ExactAnsi(L"caf\u00E9.lzh"), std::nullopt);
}

} // namespace
} // namespace dexalo::win32
