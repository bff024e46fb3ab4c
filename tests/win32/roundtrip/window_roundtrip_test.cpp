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
#include <optional>

#include "shell/associations.h"
#include "win32/shell/registry_class_root.h"
#include "win32_test.h"

namespace dexalo::test {
namespace {

constexpr const wchar_t* kOk = L"OK(適用+終了)";
constexpr const wchar_t* kCancel = L"キャンセル(終了)";
constexpr const wchar_t* kApply = L"適用(設定保存)";
constexpr const wchar_t* kDesktop = L"ﾃﾞｽｸﾄｯﾌﾟ";
constexpr const wchar_t* kTemp = L"TEMP";
constexpr const wchar_t* kNextToArchive = L"書庫と同じ場所に解凍";
constexpr const wchar_t* kOpenAfterwards = L"解凍後に解凍先を開く";
// An extension no program of the prefix uses, standing for an unrelated program's key.
constexpr const wchar_t* kUnrelatedExtension = L".dxrtother";

std::wstring WindowText(HWND window) {
    wchar_t text[512]{};
    ::SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 10000, nullptr);
    return text;
}

// dexalo.exe started without arguments and driven as a user would: its window found by
// caption, controls by their captions or kinds, buttons pressed with BM_CLICK.
class ProgramWindow : public ProgramRun {
public:
    ProgramWindow(const Installation& in, const std::wstring& current) : ProgramRun(in, L"", current) {
        for (int i = 0; i < 600 && window_ == nullptr && process_; ++i) {
            if (::WaitForSingleObject(process_, 50) == WAIT_OBJECT_0) break;
            ::EnumWindows(FindForm, reinterpret_cast<LPARAM>(this));
        }
        if (window_ == nullptr) ADD_FAILURE() << "the window did not open";
    }

    bool open() const { return window_ != nullptr; }
    HWND window() const { return window_; }
    HWND Control(const std::wstring& caption) const { return Child(caption, nullptr); }
    HWND DriveList() const { return Child({}, L"ComboBox"); }
    HWND FolderList() const { return Child({}, L"ListBox"); }

    // Presses a button or toggles a box, and returns once its handler has run.
    void Click(const std::wstring& caption) {
        HWND control = Control(caption);
        ASSERT_NE(control, nullptr) << Utf8(caption);
        DWORD_PTR ignored = 0;
        ASSERT_NE(::SendMessageTimeoutW(control, BM_CLICK, 0, 0, SMTO_NORMAL, 30000, &ignored), 0)
            << "no answer to " << Utf8(caption);
    }
    bool Checked(const std::wstring& caption) const {
        return ::SendMessageW(Control(caption), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    bool Enabled(const std::wstring& caption) const { return ::IsWindowEnabled(Control(caption)) != FALSE; }

    // The selected entry of the folder list or the drive list.
    std::wstring CurrentFolder() const { return Selected(FolderList(), LB_GETCURSEL, LB_GETTEXTLEN, LB_GETTEXT); }
    std::wstring CurrentDrive() const { return Selected(DriveList(), CB_GETCURSEL, CB_GETLBTEXTLEN, CB_GETLBTEXT); }
    // Opens an entry of the folder list, as a double-click does.
    void OpenFolder(const std::wstring& name) {
        Choose(FolderList(), LB_FINDSTRINGEXACT, LB_SETCURSEL, LBN_DBLCLK, name);
    }
    // Picks the drive whose entry starts with `letterColon` ("z:") from the list.
    void ChooseDrive(const std::wstring& letterColon) {
        Choose(DriveList(), CB_FINDSTRING, CB_SETCURSEL, CBN_SELCHANGE, letterColon);
    }

    // Presses a button that ends the program (OK, Cancel); the exit code.
    DWORD PressToEnd(const std::wstring& caption) {
        HWND control = Control(caption);
        EXPECT_NE(control, nullptr) << Utf8(caption);
        ::PostMessageW(control, BM_CLICK, 0, 0);
        return WaitForEnd();
    }

private:
    static BOOL CALLBACK FindForm(HWND window, LPARAM param) {
        auto* self = reinterpret_cast<ProgramWindow*>(param);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner != self->id_ || !::IsWindowVisible(window) || WindowText(window) != L"Dexalo Version.2.66 by.Vanto")
            return TRUE;
        self->window_ = window;
        return FALSE;
    }
    struct Search {
        std::wstring caption;
        const wchar_t* cls;
        HWND found = nullptr;
    };
    static BOOL CALLBACK FindChild(HWND child, LPARAM param) {
        auto* search = reinterpret_cast<Search*>(param);
        wchar_t cls[32]{};
        ::GetClassNameW(child, cls, 32);
        if (search->cls ? ::lstrcmpiW(cls, search->cls) != 0 : WindowText(child) != search->caption) return TRUE;
        search->found = child;
        return FALSE;
    }
    HWND Child(const std::wstring& caption, const wchar_t* cls) const {
        Search search{caption, cls};
        if (window_ != nullptr) ::EnumChildWindows(window_, FindChild, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    static std::wstring Selected(HWND list, UINT getSelection, UINT getLength, UINT getText) {
        const auto at = ::SendMessageW(list, getSelection, 0, 0);
        wchar_t text[MAX_PATH]{};
        if (at < 0 || ::SendMessageW(list, getLength, at, 0) >= MAX_PATH) return L"<none>";
        ::SendMessageW(list, getText, at, reinterpret_cast<LPARAM>(text));
        return text;
    }
    void Choose(HWND list, UINT find, UINT select, WORD notification, const std::wstring& text) {
        const auto at = ::SendMessageW(list, find, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
        ASSERT_GE(at, 0) << "no entry " << Utf8(text);
        ::SendMessageW(list, select, static_cast<WPARAM>(at), 0);
        ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(list), notification),
                       reinterpret_cast<LPARAM>(list));
    }

    HWND window_ = nullptr;
};

// A value under HKEY_CLASSES_ROOT, read with the wide functions; nullopt when key or value is missing.
std::optional<std::wstring> ClassValue(const std::wstring& key, const std::wstring& name = L"") {
    wchar_t text[1024]{};
    DWORD size = sizeof text - sizeof(wchar_t);
    if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, text, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return text;
}

bool ClassKeyExists(const std::wstring& key) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    ::RegCloseKey(opened);
    return true;
}

// The prefix belongs to the tests: every key of the table goes, whoever wrote it.
void ForgetAssociations() {
    for (const AssociationType& type : kAssociationTable)
        for (const auto key : type.removalOrder) ::RegDeleteTreeW(HKEY_CLASSES_ROOT, std::wstring(key).c_str());
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kUnrelatedExtension);
}

void Register(const Installation& in, std::initializer_list<int> types) {
    win32::RegistryClassRoot root;
    Associations ours(root, ProgramLocation{in.folder, L"dexalo"});
    for (int i : types) ASSERT_TRUE(ours.Register(i)) << i;
}

std::wstring Caption(int type) { return std::wstring(kAssociationTable[type].caption); }

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

// Ticks LZH and ZIP, which the class root says are `ticked` or not, and applies.
void TickAndApply(const Installation& in, bool ticked) {
    ProgramWindow form(in, in.root);
    ASSERT_TRUE(form.open());
    for (int i : {0, 1}) {
        EXPECT_EQ(form.Checked(Caption(i)), ticked) << i;
        form.Click(Caption(i));
    }
    form.Click(kApply);
    EXPECT_EQ(form.PressToEnd(kCancel), 0u);
    EXPECT_EQ(form.Messages(), std::vector<std::string>{});
}

TEST_F(RoundTrip, ApplyRegistersAndRemovesLeavingOtherProgramsKeys) {
    const Installation in = Install(L"register");
    TickAndApply(in, false);
    // Quoted program path and document, so blanks in either survive; the verb in Japanese.
    const std::wstring command = L"\"" + in.exe + L"\" \"%1\"";
    EXPECT_EQ(ClassValue(L".lzh"), L"LzhFile");
    EXPECT_EQ(ClassValue(L".lha", L"Content Type"), L"application/x-lzh-compressed");
    EXPECT_EQ(ClassValue(L".jar"), L"ZipFile");
    EXPECT_EQ(ClassValue(L"ZipFile"), L"ZIP File");
    EXPECT_EQ(ClassValue(L"LzhFile\\DefaultIcon"), in.folder + L"\\設定フォルダ\\LZH.ico,0");
    EXPECT_EQ(ClassValue(L"ZipFile\\Shell"), L"Dexaloで解凍");
    EXPECT_EQ(ClassValue(L"LzhFile\\Shell\\Dexaloで解凍\\command"), command);
    EXPECT_FALSE(ClassKeyExists(L".cab"));
    // Apply also saved the settings: the defaults, as no file was there at the start.
    EXPECT_EQ(ReadBytes(in.Settings()), SettingsBytes(1, in.folder + L"\\"));

    // Since then another program took ".lha", ".zip" gained a sub-key of another, and an
    // unrelated extension exists. A new start shows both ticked; unticking removes ours.
    win32::RegistryClassRoot root;
    ASSERT_TRUE(root.WriteString(L".lha", L"", L"OtherArc.lha"));
    ASSERT_TRUE(root.WriteString(L".zip\\ShellNew", L"NullFile", L""));
    ASSERT_TRUE(root.WriteString(kUnrelatedExtension, L"", L"Other.File"));
    TickAndApply(in, true);
    for (const wchar_t* gone : {L"LzhFile", L"ZipFile", L".lzh", L".lzs", L".jar"})
        EXPECT_FALSE(ClassKeyExists(gone)) << Utf8(gone);
    EXPECT_EQ(ClassValue(L".lha"), L"OtherArc.lha");
    EXPECT_TRUE(ClassKeyExists(L".zip\\ShellNew"));
    EXPECT_EQ(ClassValue(L".zip"), std::nullopt);
    EXPECT_EQ(ClassValue(kUnrelatedExtension), L"Other.File");
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
    EXPECT_EQ(form.Messages(), std::vector<std::string>{});
}

TEST_F(RoundTrip, OkWithoutTheSettingsFolderSaysSoAndStillEnds) {
    const Installation in = Install(L"nofolder");
    std::filesystem::remove_all(in.folder + L"\\設定フォルダ");
    ProgramWindow form(in, in.root);
    ASSERT_TRUE(form.open());
    EXPECT_EQ(form.PressToEnd(kOk), 0u);
    EXPECT_EQ(form.Messages(), std::vector<std::string>{"エラー発生\t設定を保存できませんでした。\ticon=1"});
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
        form.Click(Caption(0));
        form.Click(kApply);
        EXPECT_EQ(form.PressToEnd(kCancel), 0u);
    }
    ::DeleteFileW(in.Calls().c_str()); // the window's version calls

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpFile = document.c_str(); // the default verb
    info.nShow = SW_SHOWNORMAL;
    {
        Watcher watcher(in.root);
        ASSERT_TRUE(::ShellExecuteExW(&info)) << ::GetLastError();
        ASSERT_NE(info.hProcess, nullptr);
        EXPECT_EQ(::WaitForSingleObject(info.hProcess, 30000), WAIT_OBJECT_0);
        EXPECT_EQ(watcher.Stop(), std::vector<std::string>{});
    }
    DWORD code = 99;
    ::GetExitCodeProcess(info.hProcess, &code);
    ::CloseHandle(info.hProcess);
    EXPECT_EQ(code, 0u);

    const std::string d = Cp932(document), o = Cp932(out);
    const auto calls = ReadLines(in.Calls());
    ASSERT_FALSE(calls.empty()) << "the program asked no library";
    EXPECT_EQ(calls.front(), "Unlha.GetFileCount(" + d + ")");
    EXPECT_EQ(ReadLines(in.Calls(), ".Run("),
              std::vector<std::string>{"Unlha.Run(0,x -a1 -gq1 -m1 \"" + d + "\" \"" + o + "data file\\\",0)"});
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
            OfferForScreenshot(form.window(), [] { ::Sleep(50); });
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
