#include <gtest/gtest.h>

#include "form_fakes.h"
#include "window/version_panel.h"

namespace dexalo::test {
namespace {

// The panel below shows the usual values; here the edges of the four characters.
TEST(VersionText, FormatsHundredthsCutToFourCharacters) {
    EXPECT_EQ(VersionText(1234, L'.'), L"12.3");
    EXPECT_EQ(VersionText(-32768, L'.'), L"-327");
    EXPECT_EQ(VersionText(139, L','), L"1,39");
}

std::wstring LineOf(Rig& rig, int i) { return rig.form().Control(Label1(i)).caption; }

TEST(VersionPanel, PresentLinesShowTheVersion) {
    Rig rig;
    rig.libraries.versions = {139, 5, 1000, 65535 - 65536, 250, 65535, 520, 3, 12, 1};
    rig.form().Form_Load();
    const wchar_t* expected[10] = {
        L"UNLHA32.DLL ..........Version. 1.39",        L"UNZIP32.DLL ............Version. 0.05",
        L"CAB32.DLL .................Version. 10.0",   L"TAR32.DLL .................Version. -0.0",
        L"UNARJ32.DLL .........Version. 2.50",         L"ISH32.DLL ....................Version. 655.",
        L"UNRAR32.DLL .........Version. 5.20",         L"BGA32.DLL .................Version. 0.03",
        L"YZ1.DLL .........................Version. 0.12", L"JACK32.DLL ..............Version. 0.01",
    };
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(LineOf(rig, i), expected[i]);
        EXPECT_TRUE(rig.form().Control(Check1(i)).enabled);
        EXPECT_NE(rig.form().Control(Label1(i)).foreColor, Color{kMidGrey});
    }
    EXPECT_EQ(rig.associations.tested, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

size_t DotsBeforeVersion(const std::wstring& line) {
    const size_t v = line.find(L"Version.");
    size_t dots = 0;
    for (size_t i = v; i > 0 && line[i - 1] == L'.'; --i) ++dots;
    return dots;
}

TEST(VersionPanel, MissingLinesAreGreyWithOneDotFewerExceptJack) {
    Rig all;
    all.form().Form_Load();
    Rig none;
    none.libraries.versions.fill(std::nullopt);
    none.associations.associated = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    none.form().Form_Load();

    EXPECT_EQ(LineOf(none, 0), L"UNLHA32.DLL .........Version. なし");
    EXPECT_EQ(LineOf(none, 4), L"UNARJ32.DLL ........Version. なし");
    EXPECT_EQ(LineOf(none, 6), L"UNRAR32.DLL ........Version. なし");
    EXPECT_EQ(LineOf(none, 9), L"JACK32.DLL ..............Version. なし");
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        const std::wstring present = LineOf(all, i), missing = LineOf(none, i);
        EXPECT_EQ(present.substr(0, present.find(L' ')), missing.substr(0, missing.find(L' ')));
        EXPECT_EQ(DotsBeforeVersion(missing) + (i == 9 ? 0 : 1), DotsBeforeVersion(present));
        EXPECT_EQ(none.form().Control(Label1(i)).foreColor, Color{kMidGrey});
        EXPECT_FALSE(none.form().Control(Check1(i)).enabled);
        EXPECT_EQ(none.form().Control(Check1(i)).value, 0); // never tested, so unticked
    }
    EXPECT_TRUE(none.associations.tested.empty());
    EXPECT_EQ(none.form().AssocState(), (std::array<std::int32_t, 10>{}));
}

TEST(VersionPanel, RarVersionZeroNeedsUnrarDllAndIsNotTested) {
    Rig rig;
    rig.libraries.versions[6] = 0;
    rig.libraries.versions[2] = 0; // only RAR gives 0 a meaning
    rig.associations.associated = {2, 6};
    rig.form().Form_Load();
    EXPECT_EQ(LineOf(rig, 6), L"UNRAR32.DLL ..Unrar.dllが必要");
    EXPECT_EQ(rig.form().Control(Label1(6)).foreColor, Color{kMidGrey});
    EXPECT_FALSE(rig.form().Control(Check1(6)).enabled);
    EXPECT_EQ(rig.form().Control(Check1(6)).value, 0);
    EXPECT_EQ(rig.form().AssocState()[6], 0);
    EXPECT_EQ(LineOf(rig, 2), L"CAB32.DLL .................Version. 0.00");
    EXPECT_EQ(rig.form().Control(Check1(2)).value, 1);
    EXPECT_EQ(std::count(rig.associations.tested.begin(), rig.associations.tested.end(), 6), 0);
}

} // namespace
} // namespace dexalo::test
