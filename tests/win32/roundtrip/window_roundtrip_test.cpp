// The whole settings round trip on Wine's real registry and files, driving dexalo.exe's
// window from outside: associations written and removed by Apply, the presets, OK's
// settings file, a start from saved settings, and a document opened through the verb.
// test_roundtrip_window screenshot: shows the window after a start from saved settings
// for screenshot.sh (form1.ready / form1.done in the current folder).
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "program_window.h"
#include "shell/associations.h"
#include "win32/registry_class_root.h"

namespace dexalo::test {
namespace {

void Register(const Installation& in, std::initializer_list<int> types) {
    win32::RegistryClassRoot root;
    Associations ours(root, ProgramLocation{in.folder, L"dexalo"});
    for (int i : types) ASSERT_TRUE(ours.Register(i)) << i;
}

std::wstring SpecialFolder(int csidl) {
    wchar_t path[MAX_PATH]{};
    EXPECT_EQ(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    return path;
}

std::wstring Leaf(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path.substr(path.rfind(L'\\') + 1);
}

class RoundTrip : public ::testing::Test {
protected:
    void SetUp() override {
        // The settings file is compared byte for byte in the Japanese code page.
        ASSERT_EQ(::GetACP(), 932u);
        ForgetAssociations();
    }
    void TearDown() override { ForgetAssociations(); }
};

TEST_F(RoundTrip, ApplyRegistersAllTenAndTheNextStartShowsThemTicked) {
    const Installation in = Install(L"register");
    {
        ProgramWindow form(in, in.root);
        ASSERT_TRUE(form.open());
        for (const TypeRow& row : kTypes) {
            EXPECT_TRUE(form.Enabled(row.caption)) << Utf8(row.caption);
            EXPECT_FALSE(form.Checked(row.caption)) << Utf8(row.caption);
            form.Click(row.caption);
            EXPECT_TRUE(form.Checked(row.caption)) << Utf8(row.caption);
        }
        form.Click(kApply);
        EXPECT_EQ(form.PressToEnd(kCancel), 0u);
        EXPECT_TRUE(form.Messages().empty()) << Utf8(form.Messages().front());
    }

    // Quoted program path and document, so blanks in either survive.
    const std::wstring command = L"\"" + in.exe + L"\" \"%1\"";
    for (const TypeRow& row : kTypes) {
        SCOPED_TRACE(Utf8(row.progId));
        for (const wchar_t* extension : row.extensions) {
            EXPECT_EQ(ClassValue(extension), row.progId) << Utf8(extension);
            EXPECT_EQ(ClassValue(extension, L"Content Type"), row.contentType) << Utf8(extension);
        }
        const std::wstring id = row.progId;
        EXPECT_EQ(ClassValue(id), std::wstring(row.caption).substr(0, 3) + L" File");
        EXPECT_EQ(ClassValue(id + L"\\DefaultIcon"), in.folder + L"\\設定フォルダ\\" + row.icon + L",0");
        EXPECT_EQ(ClassValue(id + L"\\Shell"), L"Dexaloで解凍");
        EXPECT_EQ(ClassValue(id + L"\\Shell\\Dexaloで解凍\\command"), command);
    }
    // Apply also saved the settings: the defaults, as no file was there at the start.
    EXPECT_EQ(ReadBytes(in.Settings()), SettingsBytes(1, in.folder + L"\\"));

    ProgramWindow again(in, in.root);
    ASSERT_TRUE(again.open());
    for (const TypeRow& row : kTypes) {
        EXPECT_TRUE(again.Checked(row.caption)) << Utf8(row.caption);
        EXPECT_TRUE(again.Enabled(row.caption)) << Utf8(row.caption);
    }
    EXPECT_TRUE(again.Checked(kNextToArchive));
    EXPECT_EQ(again.PressToEnd(kCancel), 0u);
}

TEST_F(RoundTrip, UntickingAndApplyRemovesOursAndLeavesOtherProgramsKeys) {
    const Installation in = Install(L"remove");
    Register(in, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    // Since then another program took ".lha", ".zip" gained a sub-key of another, and an
    // unrelated extension exists.
    ASSERT_TRUE(SetClassValue(L".lha", L"", L"OtherArc.lha"));
    ASSERT_TRUE(SetClassValue(L".lha", L"Content Type", L"application/x-other"));
    ASSERT_TRUE(SetClassValue(L".zip\\ShellNew", L"NullFile", L""));
    ASSERT_TRUE(SetClassValue(kUnrelatedExtension, L"", L"Other.File"));
    {
        ProgramWindow form(in, in.root);
        ASSERT_TRUE(form.open());
        for (const TypeRow& row : kTypes) {
            EXPECT_TRUE(form.Checked(row.caption)) << Utf8(row.caption);
            form.Click(row.caption);
        }
        form.Click(kApply);
        EXPECT_EQ(form.PressToEnd(kCancel), 0u);
        EXPECT_TRUE(form.Messages().empty()) << Utf8(form.Messages().front());
    }

    for (const TypeRow& row : kTypes) {
        EXPECT_FALSE(ClassKeyExists(row.progId)) << Utf8(row.progId); // the whole tree
        for (const std::wstring extension : row.extensions) {
            if (extension != L".lha" && extension != L".zip") {
                EXPECT_FALSE(ClassKeyExists(extension)) << Utf8(extension);
            }
        }
    }
    EXPECT_EQ(ClassValue(L".lha"), L"OtherArc.lha");
    EXPECT_EQ(ClassValue(L".lha", L"Content Type"), L"application/x-other");
    EXPECT_TRUE(ClassKeyExists(L".zip\\ShellNew"));
    EXPECT_EQ(ClassValue(L".zip"), std::nullopt);
    EXPECT_EQ(ClassValue(L".zip", L"Content Type"), std::nullopt);
    EXPECT_EQ(ClassValue(kUnrelatedExtension), L"Other.File");

    ProgramWindow again(in, in.root);
    ASSERT_TRUE(again.open());
    for (const TypeRow& row : kTypes) EXPECT_FALSE(again.Checked(row.caption)) << Utf8(row.caption);
    EXPECT_EQ(again.PressToEnd(kCancel), 0u);
}

TEST_F(RoundTrip, PresetsAndPickersSetDestFolderAndOkWritesTheFileByteExact) {
    const Installation in = Install(L"presets");
    const std::wstring out = in.root + L"出力 フォルダ\\";
    std::filesystem::create_directories(out);
    WriteBytes(in.Settings(), SettingsBytes(2, out));

    // Started in the sandbox, so drive Z:'s current folder is the sandbox.
    ProgramWindow form(in, in.root);
    ASSERT_TRUE(form.open());
    EXPECT_TRUE(form.Checked(kOpenAfterwards));
    EXPECT_FALSE(form.Checked(kNextToArchive));
    EXPECT_EQ(form.CurrentFolder(), L"出力 フォルダ");
    EXPECT_EQ(form.CurrentDrive().substr(0, 2), L"z:");

    const std::wstring desktop = SpecialFolder(CSIDL_DESKTOPDIRECTORY);
    form.Click(kDesktop);
    EXPECT_EQ(form.CurrentFolder(), Leaf(desktop));
    form.Click(kApply);
    EXPECT_EQ(ReadBytes(in.Settings()), SettingsBytes(2, desktop + L"\\"));

    const std::wstring documents = SpecialFolder(CSIDL_PERSONAL);
    form.Click(kMyDocuments);
    form.Click(kApply);
    EXPECT_EQ(ReadBytes(in.Settings()), SettingsBytes(2, documents + L"\\"));

    wchar_t temp[MAX_PATH + 1]{};
    ASSERT_GT(::GetTempPathW(MAX_PATH + 1, temp), 0u);
    form.Click(kTemp);
    EXPECT_EQ(form.CurrentFolder(), Leaf(temp));
    EXPECT_EQ(form.CurrentDrive().substr(0, 1), std::wstring(1, static_cast<wchar_t>(::towlower(temp[0]))));
    form.Click(kApply);
    EXPECT_EQ(ReadBytes(in.Settings()), SettingsBytes(2, temp)); // already ends in one backslash

    // Back by hand: drive Z:, whose current folder is the sandbox, then open the Japanese folder.
    form.ChooseDrive(L"z:");
    EXPECT_EQ(form.CurrentFolder(), Leaf(in.root));
    form.OpenFolder(L"出力 フォルダ");
    EXPECT_EQ(form.CurrentFolder(), L"出力 フォルダ");
    form.Click(kNextToArchive);
    EXPECT_FALSE(form.Enabled(kTemp));
    EXPECT_EQ(form.PressToEnd(kOk), 0u);
    EXPECT_EQ(ReadBytes(in.Settings()), SettingsBytes(3, out));
    EXPECT_TRUE(form.Messages().empty()) << Utf8(form.Messages().front());
}

TEST_F(RoundTrip, AStartFromSavedSettingsRestoresBoxesAndPickersAndCancelKeepsThem) {
    const Installation in = Install(L"restore");
    const std::wstring out = in.root + L"出力 フォルダ\\";
    std::filesystem::create_directories(out);
    Register(in, {0, 3, 7});
    const std::string saved = SettingsBytes(3, out);
    WriteBytes(in.Settings(), saved);

    ProgramWindow form(in, in.root);
    ASSERT_TRUE(form.open());
    const std::set<int> registered = {0, 3, 7};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(form.Checked(kTypes[i].caption), registered.count(i) == 1) << i;
    EXPECT_TRUE(form.Checked(kNextToArchive));
    EXPECT_TRUE(form.Checked(kOpenAfterwards));
    for (const wchar_t* preset : {kDesktop, kMyDocuments, kTemp}) EXPECT_FALSE(form.Enabled(preset)) << Utf8(preset);
    EXPECT_FALSE(::IsWindowEnabled(form.DriveList()));
    EXPECT_FALSE(::IsWindowEnabled(form.FolderList()));
    EXPECT_EQ(form.CurrentFolder(), L"出力 フォルダ");
    EXPECT_EQ(form.CurrentDrive().substr(0, 2), L"z:");
    EXPECT_EQ(ClassValue(L".lzh"), L"LzhFile");

    // Changes that Cancel throws away.
    form.Click(kNextToArchive);
    EXPECT_TRUE(form.Enabled(kTemp));
    form.Click(kTypes[0].caption);
    form.Click(kTypes[1].caption);
    EXPECT_EQ(form.PressToEnd(kCancel), 0u);
    EXPECT_EQ(ReadBytes(in.Settings()), saved);
    EXPECT_EQ(ClassValue(L".lzh"), L"LzhFile");
    EXPECT_FALSE(ClassKeyExists(L".zip"));
}

TEST_F(RoundTrip, OkWithoutTheSettingsFolderSaysSoAndStillEnds) {
    const Installation in = Install(L"nofolder");
    std::filesystem::remove_all(in.folder + L"\\設定フォルダ");
    ProgramWindow form(in, in.root);
    ASSERT_TRUE(form.open());
    EXPECT_EQ(form.PressToEnd(kOk), 0u);
    EXPECT_EQ(form.Messages(), (std::vector<std::wstring>{L"エラー発生\t設定を保存できませんでした。"}));
    EXPECT_FALSE(std::filesystem::exists(in.folder + L"\\設定フォルダ")); // never created by the program
}

TEST_F(RoundTrip, ADocumentOpenedThroughTheVerbIsExtractedEvenWithBlanksInItsPath) {
    // The program's own folder holds a blank and Japanese too: the registered command carries both.
    const Installation in = Install(L"verb", L"Dexalo ツール");
    const std::wstring out = in.root + L"out\\", folder = in.root + L"a folder with blanks\\";
    std::filesystem::create_directories(out);
    std::filesystem::create_directories(folder);
    WriteBytes(in.Settings(), SettingsBytes(0, out)); // no folder window afterwards
    const std::wstring document = folder + L"data file.lzh";
    WriteBytes(document, "archive bytes");
    WriteBytes(document + L".dbl", "Unlha.count=2\nUnlha.entry=a.txt\nUnlha.entry=b.txt\n");
    {
        ProgramWindow form(in, in.root);
        ASSERT_TRUE(form.open());
        form.Click(kTypes[0].caption);
        form.Click(kApply);
        EXPECT_EQ(form.PressToEnd(kCancel), 0u);
    }
    ::DeleteFileW(in.Calls().c_str()); // the window's version calls

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpFile = document.c_str(); // the default verb
    info.nShow = SW_SHOWNORMAL;
    ASSERT_TRUE(::ShellExecuteExW(&info)) << ::GetLastError();
    ASSERT_NE(info.hProcess, nullptr);
    std::vector<std::wstring> boxes;
    {
        BoxSweeper sweeper(::GetProcessId(info.hProcess));
        EXPECT_EQ(::WaitForSingleObject(info.hProcess, 30000), WAIT_OBJECT_0);
        boxes = sweeper.Seen();
    }
    DWORD code = 99;
    ::GetExitCodeProcess(info.hProcess, &code);
    ::CloseHandle(info.hProcess);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(boxes.empty()) << Utf8(boxes.front());

    const std::string d = Cp932(document), o = Cp932(out);
    std::vector<std::string> runs;
    for (const auto& line : ReadLines(in.Calls()))
        if (line.find(".Run(") != std::string::npos) runs.push_back(line);
    const auto calls = ReadLines(in.Calls());
    ASSERT_FALSE(calls.empty()) << "the program asked no library";
    EXPECT_EQ(calls.front(), "Unlha.GetFileCount(" + d + ")");
    EXPECT_EQ(runs, (std::vector<std::string>{"Unlha.Run(0,x -a1 -gq1 -m1 \"" + d + "\" \"" + o + "data file\\\",0)"}));
}

// The window after a start from saved settings and registered types, for a screenshot: version
// lines of every kind, some types ticked, the destination in a Japanese folder.
int ShowForScreenshot() {
    const Installation in = Install(L"screenshot");
    WriteBytes(in.folder + L"\\versions.dbl",
               "Unlha=262\nUnZip=601\nCab=98\nTar=245\nUnarj=113\nIsh=41\nUnrar=0\nBga=39\nJack=150\n");
    ::DeleteFileW((in.folder + L"\\Yz1.dll").c_str());
    const std::wstring out = in.root + L"出力 フォルダ\\";
    std::filesystem::create_directories(out);
    WriteBytes(in.Settings(), SettingsBytes(2, out));
    ForgetAssociations();
    Register(in, {0, 1, 3, 7});

    int result = 1;
    {
        ProgramWindow form(in, in.root);
        if (form.open()) {
            RECT r, client;
            ::GetWindowRect(form.window(), &r);
            ::GetClientRect(form.window(), &client);
            POINT origin{0, 0};
            ::ClientToScreen(form.window(), &origin);
            {
                std::ofstream ready("form1.ready.tmp");
                ready << r.left << ' ' << r.top << ' ' << (r.right - r.left) << ' ' << (r.bottom - r.top) << ' '
                      << origin.x << ' ' << origin.y << ' ' << client.right << ' ' << client.bottom << '\n';
            }
            std::filesystem::rename("form1.ready.tmp", "form1.ready");
            for (int i = 0; i < 1200 && !std::filesystem::exists("form1.done"); ++i) ::Sleep(50);
            result = form.PressToEnd(kCancel) == 0 ? 0 : 1;
        }
    }
    ForgetAssociations();
    return result;
}

} // namespace
} // namespace dexalo::test

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "screenshot") == 0) return dexalo::test::ShowForScreenshot();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
