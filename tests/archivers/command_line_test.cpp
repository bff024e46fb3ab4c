// The main operation's command line, the find calls' wildcards and the path checks.
#include <gtest/gtest.h>

#include "engine/command_line.h"
#include "engine/entry_path.h"
#include "engine/wildcard.h"

namespace dexalo::archivers {
namespace {

TEST(CommandLine, ReadsTheLinesTheFrontEndBuilds) {
    struct Case {
        const wchar_t* line;
        const wchar_t* archive;
        const wchar_t* destination;
    };
    const Case cases[] = {
        {LR"(x -a1 -gq1 -m1 "C:\Arc\data.lzh" "C:\Arc\")", LR"(C:\Arc\data.lzh)", LR"(C:\Arc)"},
        {LR"(-u -qq "C:\Arc\data.zip" "D:\Out\data\")", LR"(C:\Arc\data.zip)", LR"(D:\Out\data)"},
        {LR"(-x -n "C:\My Files\a.cab" "D:\Out Dir\")", LR"(C:\My Files\a.cab)", LR"(D:\Out Dir)"},
        {LR"(x -f "C:\Arc\a.tar.gz" "D:\")", LR"(C:\Arc\a.tar.gz)", LR"(D:\)"},
        {LR"(x -u "C:\Arc\a.rar" "\\server\share\out\")", LR"(C:\Arc\a.rar)", LR"(\\server\share\out)"},
        // The direct form without quotation marks, ending in a doubled backslash.
        {LR"(x "C:\Arc\pics.yz1" D:\Out\\)", LR"(C:\Arc\pics.yz1)", LR"(D:\Out)"},
        {LR"(x "C:\Arc\pics.yz1" D:\My  Files\\)", LR"(C:\Arc\pics.yz1)", LR"(D:\My  Files)"},
        // A bare archive name next to which nothing was named: the current folder.
        {LR"(x -f "data.tar" "")", L"data.tar", L"."},
        {LR"(x "data.lzh")", L"data.lzh", L"."},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseCommandLine(c.line);
        ASSERT_TRUE(parsed) << c.line;
        EXPECT_EQ(parsed->archive, c.archive) << c.line;
        EXPECT_EQ(parsed->destination, c.destination) << c.line;
        EXPECT_TRUE(parsed->patterns.empty()) << c.line;
    }
}

TEST(CommandLine, PatternsAndRejectedLines) {
    const auto parsed = ParseCommandLine(LR"(x "a.zip" "out\" *.txt "doc\*")");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->patterns, (std::vector<std::wstring>{L"*.txt", LR"(doc\*)"}));

    EXPECT_FALSE(ParseCommandLine(L""));
    EXPECT_FALSE(ParseCommandLine(L"x -a1 -m1"));           // no archive
    EXPECT_FALSE(ParseCommandLine(LR"(l "a.lzh" "out\")"));  // listing is not ours to do
    EXPECT_FALSE(ParseCommandLine(LR"(x "" "out\")"));
}

TEST(Wildcard, MatchesDosStyleOverTheWholePath) {
    for (const wchar_t* all : {L"", L"*", L"*.*"}) {
        EXPECT_TRUE(MatchesWildcard(all, L"README")) << all;  // "*.*" too, without a dot
        EXPECT_TRUE(MatchesWildcard(all, L"dir/sub/")) << all;
    }
    EXPECT_TRUE(MatchesWildcard(L"*.TXT", L"dir/a.txt"));
    EXPECT_TRUE(MatchesWildcard(L"top*", LR"(top\a\b.c)"));
    EXPECT_TRUE(MatchesWildcard(L"?.c", L"a.c"));
    EXPECT_FALSE(MatchesWildcard(L"?.c", L"ab.c"));
    EXPECT_FALSE(MatchesWildcard(L"*.txt", L"a.txt.bak"));
    EXPECT_TRUE(MatchesWildcard(L"a*b*c", L"aXbYbZc"));
    EXPECT_FALSE(MatchesWildcard(L"a*b*c", L"aXbYbZ"));
}

TEST(EntryPath, SafeNamesSplitIntoComponents) {
    EXPECT_EQ(SafeComponents(L"a/b\\c.txt"), (Components{L"a", L"b", L"c.txt"}));
    EXPECT_EQ(SafeComponents(L"./a//b/"), (Components{L"a", L"b"}));
    EXPECT_EQ(SafeComponents(L"./"), Components{});
    EXPECT_EQ(SafeComponents(L"..a/b..c/console.txt"), (Components{L"..a", L"b..c", L"console.txt"}));
}

TEST(EntryPath, RefusesEveryWayOut) {
    for (const wchar_t* bad : {L"../x", L"a/../../x", L"a/..", L"/etc/passwd", L"\\x", L"C:x", L"C:\\x", L"c:/x",
                               L"\\\\server\\share\\x", L"//server/share/x", L"\\\\?\\C:\\x", L"a/.. /x",
                               L"a/... /x", L"a/b./c", L"file.txt:stream", L"a/CON", L"nul.txt", L"Com1.log",
                               L"lpt9", L"AUX .txt", L"a/conin$", L"COM\u00B9", L"a\tb", L"what?.txt", L"a|b", L""}) {
        EXPECT_FALSE(SafeComponents(bad)) << bad;
    }
}

TEST(EntryPath, LinkTargetsStayInsideAndClimbOnlyRealFolders) {
    const Components link{L"top", L"sub", L"link"};
    EXPECT_EQ(SafeLinkTarget(link, L"file"), (Components{L"top", L"sub", L"file"}));
    EXPECT_EQ(SafeLinkTarget(link, L"../../other/x"), (Components{L"other", L"x"}));
    EXPECT_EQ(SafeLinkTarget(link, L"./../.."), Components{});
    EXPECT_FALSE(SafeLinkTarget(link, L"../../.."));
    EXPECT_FALSE(SafeLinkTarget(link, L"/etc"));
    EXPECT_FALSE(SafeLinkTarget(link, L"C:\\Windows"));
    // ".." after a name could climb out of whatever that name links to.
    EXPECT_FALSE(SafeLinkTarget(link, L"x/../y"));
    EXPECT_FALSE(SafeLinkTarget(Components{L"top"}, L".."));
}

} // namespace
} // namespace dexalo::archivers
