// The main operation's patterns, the find calls' wildcards and the names the path check
// refuses beyond those that would leave the destination.
#include <gtest/gtest.h>

#include "engine/command_line.h"
#include "engine/entry_path.h"
#include "engine/wildcard.h"

namespace dexalo::archivers {
namespace {

TEST(CommandLine, PatternsAndRejectedLines) {
    const auto parsed = ParseCommandLine(LR"(x "a.zip" "out\" *.txt "doc\*")");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->patterns, (std::vector<std::wstring>{L"*.txt", LR"(doc\*)"}));
    EXPECT_FALSE(ParseCommandLine(L"x -a1 -m1"));  // no archive
    EXPECT_FALSE(ParseCommandLine(LR"(x "" "out\")"));
}

TEST(Wildcard, MatchesDosStyleOverTheWholePath) {
    const std::tuple<const wchar_t*, const wchar_t*, bool> rows[] = {
        {L"", L"dir/sub/", true},  {L"*.*", L"README", true}, {L"*.TXT", L"dir/a.txt", true},
        {L"top*", LR"(top\a\b.c)", true}, {L"?.c", L"a.c", true}, {L"?.c", L"ab.c", false},
        {L"*.txt", L"a.txt.bak", false}, {L"a*b*c", L"aXbYbZc", true}, {L"a*b*c", L"aXbYbZ", false},
    };
    for (const auto& [pattern, path, matches] : rows) EXPECT_EQ(MatchesWildcard(pattern, path), matches) << pattern;
}

// Characters Windows cannot store, streams and device names; ".." after a name could climb
// out of whatever that name links to.
TEST(EntryPath, RefusesWhatWindowsCannotStore) {
    for (const wchar_t* bad : {L"file.txt:stream", L"a/conin$", L"COM\u00B9", L"AUX .txt", L"a\tb", L"what?.txt",
                               L"a|b", L"a/b./c", L""})
        EXPECT_FALSE(SafeComponents(bad)) << bad;
    EXPECT_EQ(SafeComponents(L"..a/b..c/console.txt"), (Components{L"..a", L"b..c", L"console.txt"}));
    EXPECT_FALSE(SafeLinkTarget(Components{L"top", L"link"}, L"x/../y"));
}

} // namespace
} // namespace dexalo::archivers
