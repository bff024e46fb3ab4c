#include "startup/settings.h"

#include <gtest/gtest.h>

#include "engine/platform/platform.h"
#include "engine/platform/platform_posix.h"

namespace dexalo {
// The Japanese ANSI code page, by the archiver engine's iconv conversion.
class Cp932 : public AnsiCodec {
public:
    Cp932() { archivers::platform::UseCodePages("CP932", "CP932"); }
    std::string ToAnsi(std::wstring_view text) const override { return archivers::platform::ToAnsi(text); }
    std::wstring FromAnsi(std::string_view bytes) const override { return archivers::platform::FromAnsi(bytes); }
    bool Holds(std::wstring_view text) const override { return FromAnsi(ToAnsi(text)) == text; }
};

const ProgramLocation kProgram{L"C:\\Tools", L"Dexalo"};

// The settings file, the only one there is.
struct OneFile : SettingsStorage {
    std::optional<std::string> ReadAll(const std::wstring& path) override {
        return path == L"C:\\Tools\\設定フォルダ\\設定.ini" ? bytes : std::nullopt;
    }
    bool WriteAll(const std::wstring& path, const std::string& written) override {
        return path == L"C:\\Tools\\設定フォルダ\\設定.ini" && (bytes = written, true);
    }
    std::optional<std::string> bytes;
};

struct SettingsTest : ::testing::Test {
    std::pair<std::int32_t, std::wstring> Read() {
        ModuleState state{L"garbage", 99, 0};
        ReadSettings(state, kProgram, storage, codec);
        return {state.OptionFlags, state.DestFolder};
    }
    Cp932 codec;
    OneFile storage;
};

// Written bytes, and the same folder read back: 解 = 89 F0, 凍 = 93 80; ソ and 表 end in
// the byte of a backslash.
TEST_F(SettingsTest, WritesTwoCrLfLinesInTheAnsiCodePage) {
    const std::tuple<std::int32_t, std::wstring, std::string> rows[] = {
        {2, L"C:\\Temp\\", "2\r\n\"C:\\Temp\\\"\r\n"},
        {0, L"D:\\解凍\\", "0\r\n\"D:\\\x89\xF0\x93\x80\\\"\r\n"},
        {3, L"E:\\ソフト\\表\\", "3\r\n\"E:\\\x83\x5C\x83\x74\x83\x67\\\x95\x5C\\\"\r\n"},
        {1, L"C:\\a,b, c\\", "1\r\n\"C:\\a,b, c\\\"\r\n"},
    };
    for (const auto& [flags, folder, bytes] : rows) {
        ASSERT_TRUE(WriteSettings(ModuleState{folder, flags, 0}, kProgram, storage, codec));
        EXPECT_EQ(storage.bytes, bytes);
        EXPECT_EQ(Read(), std::pair(flags, folder));
    }
    // A folder the code page cannot hold would come back as another: the old file stands.
    EXPECT_FALSE(WriteSettings(ModuleState{L"D:\\한글\\", 3, 0}, kProgram, storage, codec));
    EXPECT_EQ(storage.bytes, "1\r\n\"C:\\a,b, c\\\"\r\n");
}

// Any failure gives both defaults (1 and the program folder), never one value of each.
TEST_F(SettingsTest, ReadsTolerantlyOrFallsBackToBothDefaults) {
    const std::tuple<const char*, std::int32_t, std::wstring> rows[] = {
        {"  3  \r\n  \"C:\\A B\\\"\r\n", 3, L"C:\\A B\\"},
        {"0,\"C:\\X\\\"", 0, L"C:\\X\\"},                    // one line, comma-separated
        {"2\r\nC:\\Plain\\  \r\n", 2, L"C:\\Plain\\"},        // unquoted: trailing blanks dropped
        {"2\r\n\"C:\\NoSlash\"\r\n", 2, L"C:\\NoSlash\\"},    // closing backslash added
        {"3\r\n", 1, L"C:\\Tools\\"},                         // the 3 already read is dropped too
        {"99999999999\r\n\"C:\\X\\\"\r\n", 1, L"C:\\Tools\\"},
        {"4\r\n\"C:\\X\\\"\r\n", 1, L"C:\\Tools\\"},          // outside 0..3: edited by hand
        {"2\r\n\"C:\\X\\\r\n", 1, L"C:\\Tools\\"},            // unterminated quotation
        {"2\n\"C:\\X\\\"\n", 2, L"C:\\X\\"},                  // bare line feeds end lines too
        {"3x\r\n\"C:\\X\\\"\r\n", 1, L"C:\\Tools\\"},        // not a number
        {"", 1, L"C:\\Tools\\"},
    };
    EXPECT_EQ(Read(), std::pair(1, std::wstring(L"C:\\Tools\\"))); // no file at all
    for (const auto& [bytes, flags, folder] : rows) {
        storage.bytes = bytes;
        EXPECT_EQ(Read(), std::pair(flags, folder)) << bytes;
    }
}

} // namespace dexalo
