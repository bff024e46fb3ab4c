// What the path check refuses beyond the ways out of the destination.
#include <gtest/gtest.h>

#include "engine/entry_path.h"

namespace dexalo::archivers {
namespace {

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
