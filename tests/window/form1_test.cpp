#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "form_fakes.h"

namespace dexalo::test {
namespace {

using ::testing::ElementsAre;

std::wstring Msg(const std::wstring& title, const std::wstring& text) {
    return L"msg " + title + L" 65552 " + text;
}

bool PickersEnabled(Form1& f) {
    return f.Control(Command1(0)).enabled && f.Control(Command1(1)).enabled && f.Control(Command1(2)).enabled &&
           f.Control(kDrive1).enabled && f.Control(kDir1).enabled;
}
bool PickersDisabled(Form1& f) {
    return !f.Control(Command1(0)).enabled && !f.Control(Command1(1)).enabled && !f.Control(Command1(2)).enabled &&
           !f.Control(kDrive1).enabled && !f.Control(kDir1).enabled;
}

TEST(HandlerRule, SettingAValueRunsTheHandlerOnlyOnChange) {
    Rig rig;
    Form1& f = rig.loaded();
    EXPECT_TRUE(f.SetCheckValue(3, 0)); // unchanged: no click
    EXPECT_TRUE(rig.log.empty());
    EXPECT_TRUE(f.SetCheckValue(3, 1));
    EXPECT_THAT(rig.log, ElementsAre(L"pos 4660 -2"));
    EXPECT_FALSE(f.SetCheckValue(3, 2)); // refused: nothing changes
    EXPECT_FALSE(f.SetCheckValue(13, 1));
    EXPECT_EQ(f.Control(Check1(3)).value, 1);

    rig.log.clear();
    EXPECT_TRUE(f.SetDrive(L"C:\\")); // already c:, whatever the case
    EXPECT_TRUE(f.SetPath(L"c:\\users\\me\\desktop\\"));
    EXPECT_TRUE(rig.log.empty());
    EXPECT_EQ(f.Path(), L"C:\\Users\\me\\Desktop");
    EXPECT_FALSE(f.SetDrive(L"\\\\server\\share"));
    EXPECT_FALSE(f.SetPath(L"C:\\Nowhere"));
    EXPECT_EQ(rig.state.DestFolder, L"C:\\Users\\me\\Desktop\\");
    EXPECT_TRUE(rig.log.empty());
}

TEST(CheckBoxes, OptionBoxesSetFlagsAndPickers) {
    Rig rig;
    Form1& f = rig.loaded();
    f.CheckClicked(11);
    EXPECT_EQ(rig.state.OptionFlags, 2);
    EXPECT_TRUE(PickersEnabled(f));
    f.CheckClicked(10);
    EXPECT_EQ(rig.state.OptionFlags, 3);
    EXPECT_TRUE(PickersDisabled(f));
    EXPECT_EQ(f.Control(kDrive1).backColor, Color{kLightGrey});
    EXPECT_EQ(f.Control(kDir1).backColor, Color{kLightGrey});
    f.CheckClicked(10);
    EXPECT_EQ(rig.state.OptionFlags, 2);
    EXPECT_TRUE(PickersEnabled(f));
    EXPECT_EQ(f.Control(kDrive1).backColor, Color{kWhite});
    EXPECT_EQ(f.Control(kDir1).backColor, Color{kWhite});
    EXPECT_THAT(rig.platform.windowPos, ElementsAre(-2, -2, -2));
}

TEST(CheckBoxes, KeepInFrontAndAssociationBoxesReapplyOnlyTheOnTopState) {
    Rig rig;
    Form1& f = rig.loaded();
    f.CheckClicked(12);
    EXPECT_THAT(rig.log, ElementsAre(L"pos 4660 -1"));
    EXPECT_EQ(rig.state.OptionFlags, 0); // OPTION_SET recomputed the same value

    rig.state.OptionFlags = 3; // not what the boxes say: an association click must leave it
    rig.log.clear();
    f.CheckClicked(4);
    f.CheckClicked(4);
    EXPECT_THAT(rig.log, ElementsAre(L"pos 4660 -1", L"pos 4660 -1"));
    EXPECT_EQ(rig.state.OptionFlags, 3);
    EXPECT_TRUE(PickersEnabled(f));
    EXPECT_EQ(f.Control(kDrive1).backColor, Color{kWhite});

    f.CheckClicked(12);
    EXPECT_EQ(rig.platform.windowPos.back(), -2);
}

TEST(Startup, OptionFlagsRestoreBoxesAndPickers) {
    struct Case {
        std::int32_t flags;
        int check10, check11;
        bool pickersEnabled;
    };
    for (const Case& c : {Case{0, 0, 0, true}, Case{1, 1, 0, false}, Case{2, 0, 1, true}, Case{3, 1, 1, false}}) {
        SCOPED_TRACE(c.flags);
        Rig rig;
        rig.state.OptionFlags = c.flags;
        Form1& f = rig.form();
        f.Form_Load();
        EXPECT_EQ(rig.state.OptionFlags, c.flags);
        EXPECT_EQ(f.Control(Check1(10)).value, c.check10);
        EXPECT_EQ(f.Control(Check1(11)).value, c.check11);
        EXPECT_EQ(f.Control(Check1(12)).value, 0);
        EXPECT_EQ(f.TypeIndex(), 0);
        if (c.pickersEnabled) {
            EXPECT_TRUE(PickersEnabled(f));
        } else {
            EXPECT_TRUE(PickersDisabled(f));
            EXPECT_EQ(f.Control(kDir1).backColor, Color{kLightGrey});
        }
        if (c.flags % 2 == 0) { // OPTION_SET never ran: design colours
            EXPECT_EQ(f.Control(kDrive1).backColor, Color{});
            EXPECT_EQ(f.Control(kDir1).backColor, Color{kWhite});
        }
        // Every click during start-up saw a null window; the handle comes after showing.
        for (const auto& line : rig.log) {
            if (line.starts_with(L"pos")) {
                EXPECT_EQ(line.substr(0, 6), L"pos 0 ");
            }
        }
        EXPECT_EQ(rig.log.back(), L"show handle=0");
        EXPECT_EQ(rig.state.MainWindowHandle, 0x1234u);
    }
}

TEST(Startup, AssociationBoxesAndPickersFromTheRegistryAndSettings) {
    Rig rig;
    rig.libraries.versions[4] = std::nullopt; // ARJ missing: untested, unticked, disabled
    rig.associations.associated = {0, 4, 9};
    rig.state.DestFolder = L"D:\\Work\\";
    Form1& f = rig.form();
    f.Form_Load();
    EXPECT_EQ(f.AssocState(), (std::array<std::int32_t, 10>{1, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(f.Control(Check1(0)).value, 1);
    EXPECT_EQ(f.Control(Check1(9)).value, 1);
    EXPECT_EQ(f.Control(Check1(4)).value, 0);
    EXPECT_EQ(std::count(rig.associations.tested.begin(), rig.associations.tested.end(), 4), 0);
    EXPECT_EQ(f.Drive(), L"d:");
    EXPECT_EQ(f.Path(), L"D:\\Work");
    EXPECT_EQ(rig.state.DestFolder, L"D:\\Work\\");
}

TEST(Startup, MissingSavedFolder) {
    { // on another drive: the drive change leaves the pickers on that drive's current folder
        Rig rig;
        rig.state.DestFolder = L"D:\\Gone\\";
        rig.form().Form_Load();
        EXPECT_EQ(rig.form().Path(), L"D:\\Data");
        EXPECT_EQ(rig.state.DestFolder, L"D:\\Data\\");
    }
    { // on the same drive: nothing ran, the stored text stays
        Rig rig;
        rig.state.DestFolder = L"C:\\Gone\\";
        rig.form().Form_Load();
        EXPECT_EQ(rig.form().Path(), L"C:\\Program Files\\Dexalo");
        EXPECT_EQ(rig.state.DestFolder, L"C:\\Gone\\");
    }
}

TEST(Pickers, DriveThatAnswersMovesTheFolderList) {
    Rig rig;
    Form1& f = rig.loaded();
    EXPECT_TRUE(f.SetDrive(L"d: [DATA]"));
    EXPECT_THAT(rig.log, ElementsAre(L"probe d:"));
    EXPECT_EQ(f.Path(), L"D:\\Data");
    EXPECT_EQ(rig.state.DestFolder, L"D:\\Data\\");
    f.SetPath(L"D:\\");
    EXPECT_EQ(rig.state.DestFolder, L"D:\\");
    f.SetPath(L"D:\\Work");
    EXPECT_EQ(rig.state.DestFolder, L"D:\\Work\\");
}

TEST(Pickers, EachProbeOutcomeShowsItsMessageAndPutsTheDriveBack) {
    const std::pair<std::uint32_t, std::wstring> cases[] = {
        {2, L"指定したドライブが見つかりません。"},
        {3, L"指定したドライブが見つかりません。"},
        {15, L"ドライブが使用可能状態ではないです。"},
        {21, L"ディスクがセットされていません。ディスクを入れてください。"},
        {31, L"指定したディスクはフォーマットが違います。フォーマットし直してください。"},
        {5, L"その他のエラー。謎です。"},
    };
    for (const auto& [outcome, text] : cases) {
        SCOPED_TRACE(outcome);
        Rig rig;
        rig.platform.probeOutcome[L'Q'] = outcome;
        rig.platform.currentFolder[L'C'] = L"C:\\Temp"; // where the nested run takes the folder list
        Form1& f = rig.loaded();
        EXPECT_TRUE(f.SetDrive(L"q:"));
        EXPECT_THAT(rig.log, ElementsAre(L"probe q:", Msg(L"エラー発生!", text), L"probe c:"));
        EXPECT_EQ(f.Drive(), L"c:");
        EXPECT_EQ(f.Path(), L"C:\\Temp");
        EXPECT_EQ(rig.state.DestFolder, L"C:\\Temp\\");
    }
}

TEST(Pickers, NestedRunStopsWhenTheOldDriveFailsToo) {
    Rig rig;
    Form1& f = rig.loaded();
    rig.platform.probeOutcome[L'D'] = 21;
    rig.platform.probeOutcome[L'C'] = 21;
    f.SetDrive(L"d:");
    EXPECT_EQ(rig.platform.messages.size(), 2u);
    EXPECT_EQ(f.Drive(), L"c:");
    EXPECT_EQ(f.Path(), L"C:\\Users\\me\\Desktop");
    EXPECT_EQ(rig.state.DestFolder, L"C:\\Users\\me\\Desktop\\");
}

TEST(Drops, ExtractEachFileInListOrder) {
    Rig rig;
    Form1& f = rig.loaded();
    f.FilesDropped({L"C:\\a.lzh", L"C:\\b c.zip", L"D:\\z.cab"});
    EXPECT_THAT(rig.extracted, ElementsAre(L"C:\\a.lzh", L"C:\\b c.zip", L"D:\\z.cab"));
    EXPECT_FALSE(f.Ended());
}

TEST(Buttons, PresetsPointThePickersAtTheFolder) {
    Rig rig;
    rig.state.DestFolder = L"D:\\Work\\";
    Form1& f = rig.loaded();
    f.Command1_Click(1);
    EXPECT_THAT(rig.log, ElementsAre(L"location 4660 5", L"path 105", L"free 105", L"probe c:"));
    EXPECT_EQ(f.Path(), L"C:\\Users\\me\\Documents"); // not the drive's current folder
    EXPECT_EQ(rig.state.DestFolder, L"C:\\Users\\me\\Documents\\");

    f.Command1_Click(2);
    EXPECT_EQ(rig.state.DestFolder, L"C:\\Temp\\");
    f.Command1_Click(0);
    EXPECT_EQ(rig.state.DestFolder, L"C:\\Users\\me\\Desktop\\");
}

TEST(Buttons, FailedShellCallsLeaveTheDestination) {
    Rig rig;
    rig.state.DestFolder = L"D:\\Work\\";
    Form1& f = rig.loaded();
    rig.shell.paths.erase(kCsidlPersonal);
    f.Command1_Click(1);
    EXPECT_THAT(rig.log, ElementsAre(L"location 4660 5"));
    rig.log.clear();
    rig.shell.pathCallFails = true;
    f.Command1_Click(0);
    EXPECT_THAT(rig.log, ElementsAre(L"location 4660 16", L"path 116", L"free 116"));
    rig.platform.tempPath.clear();
    f.Command1_Click(2);
    EXPECT_EQ(f.Path(), L"D:\\Work");
    EXPECT_EQ(rig.state.DestFolder, L"D:\\Work\\");
}

TEST(Buttons, ResetThenOkSavesTheClearedStateAndEnds) {
    Rig rig;
    rig.state.OptionFlags = 3;
    rig.state.DestFolder = L"D:\\Work\\";
    rig.associations.associated = {1, 3};
    Form1& f = rig.loaded();
    f.CheckClicked(12);
    f.CheckClicked(5);
    f.Command1_Click(6);
    for (int i = 0; i <= 11; ++i) EXPECT_EQ(f.Control(Check1(i)).value, 0) << i;
    EXPECT_EQ(f.Control(Check1(12)).value, 1);
    EXPECT_EQ(rig.state.OptionFlags, 0);
    EXPECT_TRUE(PickersEnabled(f));
    EXPECT_EQ(std::count_if(rig.log.begin(), rig.log.end(),
                            [](auto& l) { return l == L"apply" || l.starts_with(L"save"); }),
              0);

    rig.log.clear();
    f.Command1_Click(3);
    EXPECT_THAT(rig.log, ElementsAre(L"apply", L"save 0 C:\\Users\\me\\Desktop\\", L"end"));
    EXPECT_EQ(rig.associations.lastValues, (std::array<int, 10>{}));
    EXPECT_EQ(rig.associations.lastState, (std::array<std::int32_t, 10>{0, 1, 0, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(f.Ended());
    f.Command1_Click(5); // nothing runs after the end
    f.FilesDropped({L"C:\\a.lzh"});
    EXPECT_EQ(rig.log.size(), 3u);
    EXPECT_TRUE(rig.extracted.empty());
}

TEST(Buttons, CancelAndCloseWriteNothing) {
    for (bool close : {false, true}) {
        Rig rig;
        Form1& f = rig.loaded();
        f.CheckClicked(0);
        f.Command1_Click(0);
        rig.log.clear();
        close ? f.Form_Unload() : f.Command1_Click(4);
        EXPECT_THAT(rig.log, ElementsAre(L"end"));
    }
}

TEST(Buttons, ApplyFailuresAreReportedOnceEachAndOkStillEnds) {
    Rig rig;
    Form1& f = rig.loaded();
    rig.associations.applyResult = false;
    rig.settings.result = false;
    f.Command1_Click(5);
    EXPECT_THAT(rig.log, ElementsAre(L"apply", L"save 0 C:\\Users\\me\\Desktop\\",
                                     Msg(L"エラー発生", L"ファイルの関連付けを変更できませんでした。"),
                                     Msg(L"エラー発生", L"設定を保存できませんでした。")));
    EXPECT_FALSE(f.Ended());
    rig.log.clear();
    rig.associations.applyResult = true;
    f.Command1_Click(3);
    EXPECT_THAT(rig.log, ElementsAre(L"apply", L"save 0 C:\\Users\\me\\Desktop\\",
                                     Msg(L"エラー発生", L"設定を保存できませんでした。"), L"end"));
}

} // namespace
} // namespace dexalo::test
