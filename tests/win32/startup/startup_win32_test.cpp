// Start-up against the real platform: the program location and the argument text. The settings
// file on disk, in the Japanese folder, is checked byte for byte by the window round trip.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "win32/startup/startup_win32.h"

namespace dexalo::win32 {
namespace {

namespace fs = std::filesystem;

TEST(Win32Startup, ProgramLocationComesFromTheRunningExecutable) {
    const ProgramLocation here = LocationFromPath(ModulePath());
    EXPECT_EQ(here.name, L"test_win32_startup");
    EXPECT_TRUE(fs::is_directory(here.folder));
    EXPECT_NE(here.folder.back(), L'\\');

    EXPECT_EQ(LocationFromPath(L"C:\\Dexalo.exe").folder, L"C:\\");
    EXPECT_EQ(LocationFromPath(L"C:\\Tools\\v2.66\\Dexalo.exe").name, L"Dexalo");
    EXPECT_EQ(LocationFromPath(L"C:\\Tools\\v2.66\\Dexalo.exe").folder, L"C:\\Tools\\v2.66");
}

TEST(Win32Startup, ArgumentTextFollowsTheProgramName) {
    EXPECT_EQ(ArgumentTextFrom(L"C:\\Tools\\Dexalo.exe C:\\Arc\\a.lzh"), L"C:\\Arc\\a.lzh");
    EXPECT_EQ(ArgumentTextFrom(L"\"C:\\Program Files\\Dexalo\\Dexalo.exe\" \"C:\\My Files\\a.lzh\""),
              L"\"C:\\My Files\\a.lzh\"");
    EXPECT_EQ(ArgumentTextFrom(L"Dexalo"), L"");
    EXPECT_EQ(ArgumentTextFrom(L"\"C:\\P Q\\Dexalo.exe\""), L"");
    EXPECT_EQ(ArgumentTextFrom(L"Dexalo.exe a  b"), L"a  b");
}

} // namespace
} // namespace dexalo::win32
