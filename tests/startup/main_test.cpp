#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "cp932_codec.h"
#include "startup/main.h"

namespace dexalo {
namespace {

using ::testing::ElementsAre;

class FakeHost : public StartupHost {
public:
    ProgramLocation Program() override { return {L"C:\\Tools", L"Dexalo"}; }
    std::wstring ArgumentText() override {
        log.push_back(L"args");
        return args;
    }
    bool IsExistingFile(const std::wstring& path) override { return files.count(path) != 0; }
    void ExtractFile(const std::wstring& path) override {
        log.push_back(L"extract:" + path);
        if (path == L"throws") throw std::runtime_error("library fault");
    }
    void LoadWindow() override { log.push_back(L"window"); }

    std::wstring args;
    std::set<std::wstring> files;
    std::vector<std::wstring> log;
};

class NoFile : public SettingsStorage {
public:
    std::optional<std::string> ReadAll(const std::wstring&) override { return std::nullopt; }
    bool WriteAll(const std::wstring&, const std::string&) override { return false; }
};

struct MainTest : ::testing::Test {
    RunMode Run(const std::wstring& args) {
        host.args = args;
        return Main(state, host, storage, codec);
    }
    FakeHost host;
    NoFile storage;
    testing::Cp932Codec codec;
    ModuleState state;
};

TEST_F(MainTest, EmptyArgumentsOpenTheWindowAfterTheSettings) {
    EXPECT_EQ(Run(L""), RunMode::Window);
    EXPECT_THAT(host.log, ElementsAre(L"args", L"window"));
    EXPECT_EQ(state.OptionFlags, 1); // defaulted before the window opens
    EXPECT_EQ(state.DestFolder, L"C:\\Tools\\");
}

TEST_F(MainTest, PiecesAreExtractedInOrderAndNoWindowOpens) {
    EXPECT_EQ(Run(L"C:\\Arc\\a.lzh C:\\Arc\\b.zip"), RunMode::CommandLine);
    EXPECT_THAT(host.log, ElementsAre(L"args", L"extract:C:\\Arc\\a.lzh", L"extract:C:\\Arc\\b.zip"));
}

TEST_F(MainTest, OneBlankIsNotEmpty) {
    EXPECT_EQ(Run(L" "), RunMode::CommandLine);
    EXPECT_THAT(host.log, ElementsAre(L"args", L"extract:", L"extract:"));
}

TEST_F(MainTest, AFailingPieceDoesNotStopTheRest) {
    Run(L"throws C:\\b.zip");
    EXPECT_THAT(host.log, ElementsAre(L"args", L"extract:throws", L"extract:C:\\b.zip"));
}

TEST_F(MainTest, AnUnquotedPathWithBlanksThatNamesAFileIsOnePiece) {
    host.files = {L"C:\\My Files\\a.lzh"};
    Run(L"C:\\My Files\\a.lzh");
    EXPECT_THAT(host.log, ElementsAre(L"args", L"extract:C:\\My Files\\a.lzh"));
}

TEST_F(MainTest, UnquotedTextThatNamesNoFileStillSplits) {
    Run(L"C:\\My Files\\a.lzh");
    EXPECT_THAT(host.log, ElementsAre(L"args", L"extract:C:\\My", L"extract:Files\\a.lzh"));
}

TEST_F(MainTest, WildcardsNeverCountAsTheWholeFile) {
    host.files = {L"C:\\A B\\*.lzh"};
    Run(L"C:\\A B\\*.lzh");
    EXPECT_THAT(host.log, ElementsAre(L"args", L"extract:C:\\A", L"extract:B\\*.lzh"));
}

TEST(SplitArguments, BlanksSeparateAndEmptyPiecesSurvive) {
    EXPECT_THAT(SplitArguments(L"a.lzh"), ElementsAre(L"a.lzh"));
    EXPECT_THAT(SplitArguments(L"a  b"), ElementsAre(L"a", L"", L"b"));
    EXPECT_THAT(SplitArguments(L" a "), ElementsAre(L"", L"a", L""));
    EXPECT_THAT(SplitArguments(L"a\tb"), ElementsAre(L"a\tb")); // only U+0020 separates
}

TEST(SplitArguments, QuotesGroupBlanksAndAreDropped) {
    EXPECT_THAT(SplitArguments(L"\"C:\\My Files\\a.lzh\""), ElementsAre(L"C:\\My Files\\a.lzh"));
    EXPECT_THAT(SplitArguments(L"\"C:\\a b.zip\" C:\\c.lzh \"D:\\e f\\g.cab\""),
                ElementsAre(L"C:\\a b.zip", L"C:\\c.lzh", L"D:\\e f\\g.cab"));
    EXPECT_THAT(SplitArguments(L"\"\""), ElementsAre(L""));
    EXPECT_THAT(SplitArguments(L"C:\\\"x y\"\\z"), ElementsAre(L"C:\\x y\\z"));
    EXPECT_THAT(SplitArguments(L"\"open ended"), ElementsAre(L"open ended"));
}

} // namespace
} // namespace dexalo
