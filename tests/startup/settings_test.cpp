#include <gtest/gtest.h>

#include <map>

#include "cp932_codec.h"
#include "startup/settings.h"

namespace dexalo {
namespace {

class MemoryStorage : public SettingsStorage {
public:
    std::optional<std::string> ReadAll(const std::wstring& path) override {
        const auto it = files.find(path);
        if (it == files.end()) return std::nullopt;
        return it->second;
    }
    bool WriteAll(const std::wstring& path, const std::string& bytes) override {
        files[path] = bytes;
        return true;
    }
    std::map<std::wstring, std::string> files;
};

const ProgramLocation kProgram{L"C:\\Tools", L"Dexalo"};
const std::wstring kFile = L"C:\\Tools\\設定フォルダ\\設定.ini";

struct SettingsTest : ::testing::Test {
    ModuleState Read() {
        ModuleState state;
        state.OptionFlags = 99;
        state.DestFolder = L"garbage";
        ReadSettings(state, kProgram, storage, codec);
        return state;
    }
    void ExpectDefaults() {
        const ModuleState state = Read();
        EXPECT_EQ(state.OptionFlags, 1);
        EXPECT_EQ(state.DestFolder, L"C:\\Tools\\");
    }
    testing::Cp932Codec codec;
    MemoryStorage storage;
};

TEST_F(SettingsTest, WritesTwoCrLfLinesInTheAnsiCodePage) {
    ModuleState state;
    state.OptionFlags = 2;
    state.DestFolder = L"C:\\Temp\\";
    ASSERT_TRUE(WriteSettings(state, kProgram, storage, codec));
    EXPECT_EQ(storage.files.at(kFile), "2\r\n\"C:\\Temp\\\"\r\n");

    state.DestFolder = L"D:\\解凍\\";
    ASSERT_TRUE(WriteSettings(state, kProgram, storage, codec));
    // 解 = 89 F0, 凍 = 93 80 in Shift-JIS.
    EXPECT_EQ(storage.files.at(kFile), "2\r\n\"D:\\\x89\xF0\x93\x80\\\"\r\n");
}

TEST_F(SettingsTest, AFolderTheCodePageCannotHoldIsNotSavedAsAnotherFolder) {
    storage.files[kFile] = "2\r\n\"C:\\Temp\\\"\r\n";
    ModuleState state;
    state.OptionFlags = 3;
    state.DestFolder = L"D:\\한글\\"; // would come back as "D:\??\"
    EXPECT_FALSE(WriteSettings(state, kProgram, storage, codec));
    EXPECT_EQ(storage.files.at(kFile), "2\r\n\"C:\\Temp\\\"\r\n"); // the old file stands
}

TEST_F(SettingsTest, RoundTripsWhatTheWindowCanProduce) {
    // ソ and 表 end in the byte of a backslash in Shift-JIS.
    for (const std::wstring folder : {L"C:\\", L"C:\\a,b, c\\", L"E:\\ソフト\\表示\\"}) {
        ModuleState out{folder, 3, 0};
        ASSERT_TRUE(WriteSettings(out, kProgram, storage, codec));
        const ModuleState in = Read();
        EXPECT_EQ(in.OptionFlags, 3);
        EXPECT_EQ(in.DestFolder, folder);
    }
}

TEST_F(SettingsTest, EveryReadFailureGivesBothDefaults) {
    ExpectDefaults(); // no file at all
    const char* broken[] = {
        "",                        // empty file
        "3\r\n",                   // only the first line: the 3 already read is dropped too
        "3",                       // no line end, no second value
        "abc\r\n\"C:\\X\\\"\r\n",  // first value not a number
        "3x\r\n\"C:\\X\\\"\r\n",   // trailing junk
        "99999999999\r\n\"C:\\X\\\"\r\n", // out of 32-bit range
        "4\r\n\"C:\\X\\\"\r\n",    // outside 0..3: edited by hand
        "-1\r\n\"C:\\X\\\"\r\n",
        "2\r\n\"C:\\X\\\r\n",      // unterminated quotation
        "2\r\n\"\"\r\n",           // empty folder
        "\r\n\r\n",
    };
    for (const char* bytes : broken) {
        SCOPED_TRACE(bytes);
        storage.files[kFile] = bytes;
        ExpectDefaults();
    }
}

TEST_F(SettingsTest, ReadsFieldsTheTolerantWay) {
    struct Case {
        const char* bytes;
        std::int32_t flags;
        std::wstring folder;
    };
    const Case cases[] = {
        {"  3  \r\n  \"C:\\A B\\\"\r\n", 3, L"C:\\A B\\"},
        {"0,\"C:\\X\\\"", 0, L"C:\\X\\"},           // one line, comma-separated, no final CR LF
        {"1\n\"C:\\X\\\"\n", 1, L"C:\\X\\"},         // bare LF
        {"2\r\nC:\\Plain\\  \r\n", 2, L"C:\\Plain\\"}, // unquoted: trailing blanks dropped
        {"2\r\n\"C:\\NoSlash\"\r\n", 2, L"C:\\NoSlash\\"}, // closing backslash added
        {"+2\r\n\"C:\\X\\\"\r\nextra\r\n", 2, L"C:\\X\\"},  // extra lines never read
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        storage.files[kFile] = c.bytes;
        const ModuleState state = Read();
        EXPECT_EQ(state.OptionFlags, c.flags);
        EXPECT_EQ(state.DestFolder, c.folder);
    }
}

} // namespace
} // namespace dexalo
