#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "form_fakes.h"
#include "window/version_panel.h"

namespace dexalo::test {
namespace {

using ::testing::ElementsAre;

std::wstring Msg(const std::wstring& title, const std::wstring& text) { return L"msg " + title + L" 65552 " + text; }

// 1 = all five pickers enabled, 0 = all disabled, -1 = mixed.
int Pickers(Form1& f) {
    int enabled = 0;
    for (ControlId id : {Command1(0), Command1(1), Command1(2), kDrive1, kDir1}) enabled += f.Control(id).enabled;
    return enabled == 5 ? 1 : enabled == 0 ? 0 : -1;
}

TEST(Form1, SettingAValueRunsTheHandlerOnlyOnChange) {
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
    EXPECT_FALSE(f.SetDrive(L"\\\\server\\share"));
    EXPECT_FALSE(f.SetPath(L"C:\\Nowhere"));
    EXPECT_TRUE(rig.log.empty());
    EXPECT_EQ(f.Path(), L"C:\\Users\\me\\Desktop");
}

TEST(Form1, OptionBoxesSetFlagsPickersAndTheWindowOrder) {
    Rig rig;
    Form1& f = rig.loaded();
    f.CheckClicked(11);
    EXPECT_EQ(rig.state.OptionFlags, 2);
    EXPECT_EQ(Pickers(f), 1);
    f.CheckClicked(10);
    EXPECT_EQ(rig.state.OptionFlags, 3);
    EXPECT_EQ(Pickers(f), 0);
    EXPECT_EQ(f.Control(kDir1).backColor, Color{kLightGrey});
    f.CheckClicked(10);
    EXPECT_EQ(Pickers(f), 1);
    EXPECT_EQ(f.Control(kDrive1).backColor, Color{kWhite});
    f.CheckClicked(12); // keep in front; OPTION_SET recomputes the same flags
    EXPECT_EQ(rig.state.OptionFlags, 2);
    rig.state.OptionFlags = 3; // an association box re-applies only the window order
    f.CheckClicked(4);
    EXPECT_EQ(rig.state.OptionFlags, 3);
    EXPECT_EQ(Pickers(f), 1);
    f.CheckClicked(12);
    EXPECT_THAT(rig.platform.windowPos, ElementsAre(-2, -2, -2, -1, -1, -2));
}

TEST(Form1, StartUpRestoresBoxesAndPickersFromTheSettings) {
    const struct {
        std::int32_t flags;
        int check10, check11, pickers;
    } rows[] = {{0, 0, 0, 1}, {1, 1, 0, 0}, {2, 0, 1, 1}, {3, 1, 1, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.flags);
        Rig rig;
        rig.state.OptionFlags = row.flags;
        rig.form().Form_Load();
        Form1& f = rig.form();
        EXPECT_EQ(rig.state.OptionFlags, row.flags);
        EXPECT_EQ(f.Control(Check1(10)).value, row.check10);
        EXPECT_EQ(f.Control(Check1(11)).value, row.check11);
        EXPECT_EQ(Pickers(f), row.pickers);
        // Every click during start-up saw a null window; the handle comes after showing.
        for (const auto& line : rig.log) {
            EXPECT_TRUE(!line.starts_with(L"pos") || line.starts_with(L"pos 0 ")) << line;
        }
        EXPECT_EQ(rig.log.back(), L"show handle=0");
        EXPECT_EQ(rig.state.MainWindowHandle, 0x1234u);
    }
    Rig rig;
    rig.libraries.versions[4] = std::nullopt; // ARJ missing: untested, unticked
    rig.associations.associated = {0, 4, 9};
    rig.state.DestFolder = L"D:\\Work\\";
    rig.form().Form_Load();
    EXPECT_EQ(rig.form().AssocState(), (std::array<std::int32_t, 10>{1, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(rig.form().Control(Check1(9)).value, 1);
    EXPECT_EQ(rig.form().Control(Check1(4)).value, 0);
    EXPECT_EQ(rig.form().Path(), L"D:\\Work");

    Rig gone; // a saved folder that is gone, on another drive: that drive's current folder
    gone.state.DestFolder = L"D:\\Gone\\";
    gone.form().Form_Load();
    EXPECT_EQ(gone.state.DestFolder, L"D:\\Data\\");
    Rig sameDrive; // on the same drive nothing runs, and the stored text stays
    sameDrive.state.DestFolder = L"C:\\Gone\\";
    sameDrive.form().Form_Load();
    EXPECT_EQ(sameDrive.form().Path(), L"C:\\Program Files\\Dexalo");
    EXPECT_EQ(sameDrive.state.DestFolder, L"C:\\Gone\\");
}

TEST(Form1, VersionPanelLines) {
    EXPECT_EQ(VersionText(1234, L'.'), L"12.3");
    EXPECT_EQ(VersionText(-32768, L'.'), L"-327");
    EXPECT_EQ(VersionText(139, L','), L"1,39");
    Rig rig;
    rig.libraries.versions = {139, std::nullopt, 0, -1, std::nullopt, 65535, 0, 3, 12, std::nullopt};
    rig.associations.associated = {1, 6, 9};
    rig.form().Form_Load();
    const std::pair<int, const wchar_t*> rows[] = {
        {0, L"UNLHA32.DLL ..........Version. 1.39"},  {1, L"UNZIP32.DLL ...........Version. なし"},
        {2, L"CAB32.DLL .................Version. 0.00"}, {3, L"TAR32.DLL .................Version. -0.0"},
        {4, L"UNARJ32.DLL ........Version. なし"},     {5, L"ISH32.DLL ....................Version. 655."},
        {6, L"UNRAR32.DLL ..Unrar.dllが必要"},         {9, L"JACK32.DLL ..............Version. なし"},
    };
    for (const auto& [i, line] : rows) EXPECT_EQ(rig.form().Control(Label1(i)).caption, line);
    // Missing (and RAR's 0) grey the line and disable the box, which is never tested.
    for (int i : {1, 4, 6, 9}) {
        EXPECT_EQ(rig.form().Control(Label1(i)).foreColor, Color{kMidGrey}) << i;
        EXPECT_FALSE(rig.form().Control(Check1(i)).enabled) << i;
        EXPECT_EQ(rig.form().Control(Check1(i)).value, 0) << i;
    }
    EXPECT_TRUE(rig.form().Control(Check1(2)).enabled); // only RAR gives 0 a meaning
    EXPECT_EQ(rig.associations.tested, (std::vector<int>{0, 2, 3, 5, 7, 8}));
}

TEST(Form1, DriveProbeFailuresShowTheirMessageAndPutTheDriveBack) {
    const std::pair<std::uint32_t, std::wstring> rows[] = {
        {2, L"指定したドライブが見つかりません。"},
        {3, L"指定したドライブが見つかりません。"},
        {15, L"ドライブが使用可能状態ではないです。"},
        {21, L"ディスクがセットされていません。ディスクを入れてください。"},
        {31, L"指定したディスクはフォーマットが違います。フォーマットし直してください。"},
        {5, L"その他のエラー。謎です。"},
    };
    for (const auto& [outcome, text] : rows) {
        SCOPED_TRACE(outcome);
        Rig rig;
        rig.platform.probeOutcome[L'Q'] = outcome;
        rig.platform.currentFolder[L'C'] = L"C:\\Temp"; // where the nested run takes the folder list
        Form1& f = rig.loaded();
        EXPECT_TRUE(f.SetDrive(L"q:"));
        EXPECT_THAT(rig.log, ElementsAre(L"probe q:", Msg(L"エラー発生!", text), L"probe c:"));
        EXPECT_EQ(f.Drive(), L"c:");
        EXPECT_EQ(rig.state.DestFolder, L"C:\\Temp\\");
    }
    Rig rig; // the nested run stops when the old drive fails too
    Form1& f = rig.loaded();
    rig.platform.probeOutcome[L'D'] = 21;
    rig.platform.probeOutcome[L'C'] = 21;
    f.SetDrive(L"d:");
    EXPECT_EQ(rig.platform.messages.size(), 2u);
    EXPECT_EQ(f.Drive(), L"c:");
    EXPECT_EQ(rig.state.DestFolder, L"C:\\Users\\me\\Desktop\\");
    rig.platform.probeOutcome.clear();
    EXPECT_TRUE(f.SetDrive(L"d: [DATA]")); // one that answers moves the folder list
    EXPECT_EQ(rig.state.DestFolder, L"D:\\Data\\");
    f.SetPath(L"D:\\");
    EXPECT_EQ(rig.state.DestFolder, L"D:\\");
}

TEST(Form1, PresetsPointThePickersAtTheFolderOrLeaveItWhenTheShellFails) {
    Rig rig;
    rig.state.DestFolder = L"D:\\Work\\";
    Form1& f = rig.loaded();
    f.Command1_Click(1);
    EXPECT_THAT(rig.log, ElementsAre(L"location 4660 5", L"path 105", L"free 105", L"probe c:"));
    EXPECT_EQ(rig.state.DestFolder, L"C:\\Users\\me\\Documents\\"); // not the drive's current folder
    f.Command1_Click(2);
    EXPECT_EQ(rig.state.DestFolder, L"C:\\Temp\\");
    f.Command1_Click(0);
    EXPECT_EQ(rig.state.DestFolder, L"C:\\Users\\me\\Desktop\\");

    f.SetPath(L"D:\\Work");
    rig.log.clear();
    rig.shell.paths.erase(kCsidlPersonal);
    f.Command1_Click(1);
    EXPECT_THAT(rig.log, ElementsAre(L"location 4660 5"));
    rig.log.clear();
    rig.shell.pathCallFails = true;
    f.Command1_Click(0);
    EXPECT_THAT(rig.log, ElementsAre(L"location 4660 16", L"path 116", L"free 116")); // freed all the same
    rig.platform.tempPath.clear();
    f.Command1_Click(2);
    EXPECT_EQ(rig.state.DestFolder, L"D:\\Work\\");
}

TEST(Form1, ResetThenOkSavesTheClearedStateAndEnds) {
    Rig rig;
    rig.state.OptionFlags = 3;
    rig.associations.associated = {1, 3};
    Form1& f = rig.loaded();
    f.FilesDropped({L"C:\\a.lzh", L"C:\\b c.zip", L"D:\\z.cab"});
    EXPECT_THAT(rig.extracted, ElementsAre(L"C:\\a.lzh", L"C:\\b c.zip", L"D:\\z.cab"));
    f.CheckClicked(12);
    f.CheckClicked(5);
    f.SetPath(L"D:\\Work");
    f.Command1_Click(6);
    for (int i = 0; i <= 11; ++i) EXPECT_EQ(f.Control(Check1(i)).value, 0) << i;
    EXPECT_EQ(f.Control(Check1(12)).value, 1);
    EXPECT_EQ(Pickers(f), 1);
    rig.log.clear();
    f.Command1_Click(3);
    EXPECT_THAT(rig.log, ElementsAre(L"apply", L"save 0 C:\\Users\\me\\Desktop\\", L"end"));
    EXPECT_EQ(rig.associations.lastValues, (std::array<int, 10>{}));
    EXPECT_EQ(rig.associations.lastState, (std::array<std::int32_t, 10>{0, 1, 0, 1, 0, 0, 0, 0, 0, 0}));
    f.Command1_Click(5); // nothing runs after the end
    f.FilesDropped({L"C:\\a.lzh"});
    EXPECT_EQ(rig.log.size(), 3u);
    EXPECT_EQ(rig.extracted.size(), 3u);
}

TEST(Form1, CancelAndCloseWriteNothingAndFailuresAreReportedOnceEach) {
    for (bool close : {false, true}) {
        Rig rig;
        Form1& f = rig.loaded();
        f.CheckClicked(0);
        f.Command1_Click(0);
        rig.log.clear();
        close ? f.Form_Unload() : f.Command1_Click(4);
        EXPECT_THAT(rig.log, ElementsAre(L"end"));
    }
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
