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

TEST_F(MainTest, PiecesAreExtractedInOrderWithoutAWindow) {
    const struct {
        std::wstring args;
        std::set<std::wstring> files;
        std::vector<std::wstring> extracted;
    } cases[] = {
        {L"C:\\Arc\\a.lzh C:\\Arc\\b.zip", {}, {L"C:\\Arc\\a.lzh", L"C:\\Arc\\b.zip"}},
        {L" ", {}, {L"", L""}},                              // one blank: two empty pieces
        {L"throws C:\\b.zip", {}, {L"throws", L"C:\\b.zip"}}, // a failing piece does not stop the rest
        // Unquoted text with blanks is one path only when it names a file, never through wildcards.
        {L"C:\\My Files\\a.lzh", {L"C:\\My Files\\a.lzh"}, {L"C:\\My Files\\a.lzh"}},
        {L"C:\\My Files\\a.lzh", {}, {L"C:\\My", L"Files\\a.lzh"}},
        {L"C:\\A B\\*.lzh", {L"C:\\A B\\*.lzh"}, {L"C:\\A", L"B\\*.lzh"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.args.size() << " characters, " << c.files.size() << " files");
        host = FakeHost{};
        host.files = c.files;
        EXPECT_EQ(Run(c.args), RunMode::CommandLine);
        std::vector<std::wstring> expected = {L"args"};
        for (const auto& piece : c.extracted) expected.push_back(L"extract:" + piece);
        EXPECT_EQ(host.log, expected);
    }
}

// Only U+0020 separates, empty pieces survive; quotation marks group blanks and are dropped.
TEST(SplitArguments, BlanksSeparateOutsideQuotes) {
    const std::pair<std::wstring, std::vector<std::wstring>> cases[] = {
        {L"a.lzh", {L"a.lzh"}},
        {L"a  b", {L"a", L"", L"b"}},
        {L" a ", {L"", L"a", L""}},
        {L"a\tb", {L"a\tb"}},
        {L"\"C:\\My Files\\a.lzh\"", {L"C:\\My Files\\a.lzh"}},
        {L"\"C:\\a b.zip\" C:\\c.lzh \"D:\\e f\\g.cab\"", {L"C:\\a b.zip", L"C:\\c.lzh", L"D:\\e f\\g.cab"}},
        {L"\"\"", {L""}},
        {L"C:\\\"x y\"\\z", {L"C:\\x y\\z"}},
        {L"\"open ended", {L"open ended"}},
    };
    for (const auto& [text, pieces] : cases) EXPECT_EQ(SplitArguments(text), pieces) << text.size();
}

} // namespace
} // namespace dexalo
