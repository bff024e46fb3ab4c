#include <gtest/gtest.h>

#include "form_fakes.h"

namespace dexalo::test {
// How many of the five folder pickers are enabled.
int Pickers(Form1& f) {
    int enabled = 0;
    for (ControlId id : {Command1(0), Command1(1), Command1(2), kDrive1, kDir1}) enabled += f.Control(id).enabled;
    return enabled;
}

TEST(Form1, SettingAValueFromCodeRunsTheHandlerOnlyOnChange) {
    Rig rig;
    Form1& f = rig.Load();
    rig.log.clear();
    EXPECT_TRUE(f.SetCheckValue(3, 0));
    EXPECT_TRUE(f.SetPath(L"c:\\work\\"));  // the same folder, whatever the spelling
    EXPECT_TRUE(rig.log.empty());
    EXPECT_FALSE(f.SetCheckValue(3, 2));   // refused: nothing changes
    EXPECT_TRUE(f.SetCheckValue(12, 1));   // keep in front; each later click applies it again
    EXPECT_TRUE(f.SetCheckValue(3, 1));
    EXPECT_EQ(rig.log, (Log{L"pos 4660 -1", L"pos 4660 -1"}));
    EXPECT_TRUE(f.SetPath(L"D:\\Data"));
    EXPECT_EQ(rig.state.DestFolder, L"D:\\Data\\");
}

// Start-up restores both boxes from the flags; while it sets the second one, OPTION_SET must
// not recompute the flags from a first box not yet restored. Afterwards each click on 10 or
// 11 recomputes them, greying the pickers when extracting next to the archive.
TEST(Form1, OptionBoxesAndFlags) {
    const struct {
        std::int32_t flags;
        int check10, check11, pickers, flagsAfterClickOn10;
    } rows[] = {{0, 0, 0, 5, 1}, {1, 1, 0, 0, 0}, {2, 0, 1, 5, 3}, {3, 1, 1, 0, 2}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.flags);
        Rig rig;
        rig.state.OptionFlags = row.flags;
        Form1& f = rig.Load();
        EXPECT_EQ(rig.state.OptionFlags, row.flags);
        EXPECT_EQ(f.Control(Check1(10)).value, row.check10);
        EXPECT_EQ(f.Control(Check1(11)).value, row.check11);
        EXPECT_EQ(Pickers(f), row.pickers);
        f.CheckClicked(10);
        EXPECT_EQ(rig.state.OptionFlags, row.flagsAfterClickOn10);
        EXPECT_EQ(Pickers(f), 5 - row.pickers);
        EXPECT_EQ(f.Control(kDir1).backColor, Color{row.pickers ? kLightGrey : kWhite});
    }
}

// Apply stays and OK ends, each after telling what it could not do; Cancel touches nothing;
// Reset clears the options and picks the desktop, which the next save writes; the presets move
// the destination. A drive that does not answer is told and the list goes back to the folder's
// drive.
TEST(Form1, ButtonsAndDrivesTellWhatFailed) {
    const struct {
        std::vector<int> buttons;
        bool applies, saves;
        Log log;
        std::wstring dest = L"C:\\Work\\";
    } rows[] = {
        {{5}, true, false, {L"apply", L"save 2", L"設定を保存できませんでした。"}},
        {{3}, false, true, {L"apply", L"save 2", L"ファイルの関連付けを変更できませんでした。", L"end"}},
        {{3}, true, false, {L"apply", L"save 2", L"設定を保存できませんでした。", L"end"}},  // no settings folder
        {{4}, false, false, {L"end"}},
        {{6, 3}, true, true, {L"pos 4660 -2", L"free 16", L"apply", L"save 0", L"end"}, L"D:\\Data\\"},
        {{0}, true, true, {L"free 16"}, L"D:\\Data\\"}, // Desktop
        {{1}, true, true, {}},                              // My Documents: none on this machine
        {{2}, true, true, {}, L"D:\\Data\\"},           // TEMP
    };
    for (const auto& row : rows) {
        Rig rig;
        rig.state.OptionFlags = 2;
        rig.associations.applies = row.applies;
        rig.saves = row.saves;
        rig.Load();
        rig.log.clear();
        for (int button : row.buttons) rig.form->Command1_Click(button);
        EXPECT_EQ(rig.log, row.log) << row.buttons.front();
        EXPECT_EQ(rig.state.DestFolder, row.dest) << row.buttons.front();
    }
    Rig rig;
    rig.driveErrors[L"e:"] = 21;
    Form1& f = rig.Load();
    rig.log.clear();
    f.SetDrive(L"e: [CD]");
    EXPECT_EQ(rig.log, Log{L"ディスクがセットされていません。ディスクを入れてください。"});
    EXPECT_EQ(f.Drive(), L"c:");
    EXPECT_EQ(rig.state.DestFolder, L"C:\\");  // the nested change: C:'s current folder
}

// Missing (and RAR's 0) grey the line and disable the box, which is never tested.
TEST(Form1, VersionPanel) {
    Rig rig;
    rig.libraries.versions = {139, std::nullopt, 0, -1, std::nullopt, 65535, 0, 3, 12, -32768};
    rig.associations.associated = {1, 6, 9};
    rig.Load();
    const std::pair<int, const wchar_t*> lines[] = {
        {0, L"UNLHA32.DLL ..........Version. 1.39"}, {1, L"UNZIP32.DLL ...........Version. なし"},
        {2, L"CAB32.DLL .................Version. 0.00"}, {3, L"TAR32.DLL .................Version. -0.0"},
        {5, L"ISH32.DLL ....................Version. 655."}, {6, L"UNRAR32.DLL ..Unrar.dllが必要"},
        {9, L"JACK32.DLL ..............Version. -327"}};
    for (const auto& [i, line] : lines) EXPECT_EQ(rig.form->Control(Label1(i)).caption, line) << i;
    EXPECT_EQ(rig.form->Control(Label1(6)).foreColor, Color{kMidGrey});
    EXPECT_FALSE(rig.form->Control(Check1(1)).enabled);
    EXPECT_EQ(rig.associations.tested, (std::vector<int>{0, 2, 3, 5, 7, 8, 9}));
    EXPECT_EQ(rig.form->Control(Check1(9)).value, 1);
}

} // namespace dexalo::test
