// Start-up against the real platform: code page, program location, settings bytes on disk.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "startup/settings.h"
#include "win32/startup/startup_win32.h"

namespace dexalo::win32 {
namespace {

namespace fs = std::filesystem;

TEST(Win32Startup, TheWinePrefixRunsTheJapaneseAnsiCodePage) {
    EXPECT_EQ(::GetACP(), 932u);
}

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

TEST(Win32Startup, SettingsFileUnderTheJapaneseFolderIsByteExact) {
    const fs::path program = fs::path(LocationFromPath(ModulePath()).folder) / L"sandbox-startup";
    fs::remove_all(program);
    const ProgramLocation location{program.wstring(), L"Dexalo"};
    fs::create_directories(SettingsFolderPath(location));

    FileSettingsStorage storage;
    AnsiCodePage codec;
    ModuleState state;
    state.OptionFlags = 3;
    state.DestFolder = L"D:\\圧縮,解凍\\";
    ASSERT_TRUE(WriteSettings(state, location, storage, codec));

    const auto bytes = storage.ReadAll(program.wstring() + L"\\設定フォルダ\\設定.ini");
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(*bytes, "3\r\n\"D:\\\x88\xB3\x8F\x6B,\x89\xF0\x93\x80\\\"\r\n");

    ModuleState back;
    ReadSettings(back, location, storage, codec);
    EXPECT_EQ(back.OptionFlags, 3);
    EXPECT_EQ(back.DestFolder, L"D:\\圧縮,解凍\\");

    // Without the settings folder the file cannot be created, and nothing creates the folder.
    fs::remove_all(program);
    fs::create_directories(program);
    EXPECT_FALSE(WriteSettings(state, location, storage, codec));
    EXPECT_FALSE(fs::exists(SettingsFolderPath(location)));
    ReadSettings(back, location, storage, codec);
    EXPECT_EQ(back.OptionFlags, 1);
    EXPECT_EQ(back.DestFolder, program.wstring() + L"\\");
    fs::remove_all(program);
}

} // namespace
} // namespace dexalo::win32
