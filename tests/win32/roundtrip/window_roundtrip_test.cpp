// dexalo.exe driven from outside on Wine's real registry and files: associations written
// and removed by Apply, and a document opened through the registered verb; the registry
// read buffer on the real class root. With "screenshot
// [design]" it shows its window for screenshot.sh (form1.ready / form1.done in the current folder).
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <cstdio>
#include <cwchar>
#include <span>
#include <filesystem>
#include <fstream>
#include <optional>

#include "shell/associations.h"
#include "shell/registry.h"
#include "win32/shell/registry_class_root.h"
#include "win32/shell/registry_read.h"
#include "win32_test.h"

namespace dexalo::test {
namespace {

constexpr const wchar_t* kCancel = L"キャンセル(終了)";
constexpr const wchar_t* kApply = L"適用(設定保存)";
// An extension no program of the prefix uses, standing for an unrelated program's key.
constexpr const wchar_t* kUnrelatedExtension = L".dxrtother";

// dexalo.exe installed in "<root><program folder>\" with the icons, the test-double libraries
// (whose calls go to calls.log there) and the stand-in explorer.exe.
struct Installation {
    std::wstring root;   // the sandbox, ends in a backslash
    std::wstring folder; // the program folder, no trailing backslash
    std::wstring exe = folder + L"\\dexalo.exe";
    std::wstring Settings() const { return folder + L"\\設定フォルダ\\設定.ini"; }
};

inline Installation Install(const std::wstring& sandbox, const std::wstring& programFolder = L"Dexalo Prog") {
    const std::wstring root = MakeSandbox(sandbox);
    const Installation in{root, root + programFolder};
    std::filesystem::create_directories(in.folder);
    std::filesystem::copy(ProgramBinFolder() + L"設定フォルダ", in.folder + L"\\設定フォルダ");
    std::filesystem::copy_file(ProgramBinFolder() + L"dexalo.exe", in.exe);
    std::filesystem::copy_file(ToolsFolder() + L"watcher.exe", in.folder + L"\\explorer.exe");
    CopyDoubles(in.folder + L"\\");
    return in;
}

// The settings file as the program writes it: flags, the quoted folder, CR LF, CP932.
inline std::string SettingsBytes(int flags, const std::wstring& dest) {
    return std::to_string(flags) + "\r\n\"" + Cp932(dest) + "\"\r\n";
}

// dexalo.exe started without arguments and driven as a user would: its window found by
// caption, controls by their captions, buttons pressed with BM_CLICK; the watcher answers
// its message boxes.
class ProgramWindow {
public:
    ProgramWindow(const Installation& in, const std::wstring& current)
        : watcher_(in.root), process_(Start(in.exe, L"\"" + in.exe + L"\"", current.c_str())) {
        // Tests run one at a time and each ends its program, so the caption names this one's window.
        for (int i = 0; i < 600 && !::IsWindowVisible(window_) && WaitForSingleObject(process_, 50) == WAIT_TIMEOUT; ++i)
            window_ = ::FindWindowW(nullptr, L"Dexalo Version.2.66 by.Vanto");
        EXPECT_NE(window_, nullptr) << "the window did not open";
    }
    ~ProgramWindow() {
        if (::WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) ADD_FAILURE() << "the program was still running";
        ::TerminateProcess(process_, 99);
        ::CloseHandle(process_);
    }

    HWND window() const { return window_; }
    HWND Control(const std::wstring& caption) const { return ::FindWindowExW(window_, nullptr, nullptr, caption.c_str()); }
    // Presses a button or toggles a box, and returns once its handler has run.
    void Click(const std::wstring& caption) {
        DWORD_PTR ignored = 0;
        ASSERT_NE(::SendMessageTimeoutW(Control(caption), BM_CLICK, 0, 0, SMTO_NORMAL, 30000, &ignored), 0)
            << "no answer to " << Utf8(caption);
    }
    bool Checked(const std::wstring& caption) const {
        return ::SendMessageW(Control(caption), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    // Presses a button that ends the program (Cancel); the exit code.
    DWORD PressToEnd(const std::wstring& caption) {
        ::PostMessageW(Control(caption), BM_CLICK, 0, 0);
        DWORD code = 99;
        EXPECT_EQ(::WaitForSingleObject(process_, 30000), WAIT_OBJECT_0) << "the program did not end";
        ::GetExitCodeProcess(process_, &code);
        return code;
    }
    // The message boxes it showed; call after its end.
    std::vector<std::string> Messages() { return watcher_.Stop(); }

private:
    Watcher watcher_;
    HANDLE process_;
    HWND window_ = nullptr;
};

// A key under HKEY_CLASSES_ROOT opened for reading, or null; left open for the test's life.
HKEY ClassKey(const std::wstring& key) {
    HKEY opened = nullptr;
    ::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened);
    return opened;
}

// A value read with the wide functions; nullopt when key or value is missing. It must be
// stored with exactly one terminating zero: a byte count too long carries garbage.
std::optional<std::wstring> ClassValue(const std::wstring& key, const std::wstring& name = L"") {
    wchar_t text[1024]{};
    DWORD size = sizeof text - sizeof(wchar_t);
    if (::RegQueryValueExW(ClassKey(key), name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size))
        return std::nullopt;
    EXPECT_EQ(size, (std::wcslen(text) + 1) * sizeof(wchar_t)) << Utf8(key);
    return text;
}

// The prefix belongs to the tests: every key of the table goes, whoever wrote it.
void ForgetAssociations() {
    for (const AssociationType& type : kAssociationTable)
        for (const auto key : type.removalOrder) ::RegDeleteTreeW(HKEY_CLASSES_ROOT, std::wstring(key).c_str());
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kUnrelatedExtension);
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"DexaloTest.Registry");
}

void Register(const Installation& in, std::initializer_list<int> types) {
    win32::RegistryClassRoot root;
    Associations ours(root, ProgramLocation{in.folder, L"dexalo"});
    for (int i : types) ASSERT_TRUE(ours.Register(i)) << i;
}

std::wstring Caption(int type) { return std::wstring(kAssociationTable[type].caption); }

class RoundTrip : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::GetACP(), 932u); // the settings file is compared in the Japanese code page
        ForgetAssociations();
    }
    void TearDown() override { ForgetAssociations(); }
};

// Ticks LZH and ZIP, which the class root says are `ticked` or not, and applies.
void TickAndApply(const Installation& in, bool ticked) {
    ProgramWindow form(in, in.root);
    ASSERT_TRUE(form.window());
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
    EXPECT_EQ(ClassValue(L"ZipFile\\Shell"), L"Dexaloで解凍");
    EXPECT_EQ(ClassValue(L"LzhFile\\Shell\\Dexaloで解凍\\command"), L"\"" + in.exe + L"\" \"%1\"");
    // The shell finds both sizes of the drawn icon the DefaultIcon value names.
    const std::wstring icon = ClassValue(L"LzhFile\\DefaultIcon").value_or(L"");
    EXPECT_EQ(icon, in.folder + L"\\設定フォルダ\\LZH.ico,0");
    HICON large = nullptr, small = nullptr;
    EXPECT_EQ(::ExtractIconExW(icon.substr(0, icon.size() - 2).c_str(), 0, &large, &small, 1), 2u);
    // Apply also saved the settings: the defaults, as no file was there at the start.
    EXPECT_EQ(ReadBytes(in.Settings()), SettingsBytes(1, in.folder + L"\\"));

    // Since then another program took ".lha", ".zip" gained a sub-key of another, and an
    // unrelated extension exists. A new start shows both ticked; unticking removes ours.
    win32::RegistryClassRoot root;
    ASSERT_TRUE(root.WriteString(L".lha", L"", L"OtherArc.lha"));
    ASSERT_TRUE(root.WriteString(L".zip\\ShellNew", L"NullFile", L""));
    ASSERT_TRUE(root.WriteString(kUnrelatedExtension, L"", L"Other.File"));
    TickAndApply(in, true);
    for (const wchar_t* gone : {L"LzhFile", L"ZipFile", L".lzh", L".jar"}) EXPECT_EQ(ClassKey(gone), nullptr) << Utf8(gone);
    EXPECT_EQ(ClassValue(L".lha"), L"OtherArc.lha");
    EXPECT_NE(ClassKey(L".zip\\ShellNew"), nullptr);
    EXPECT_EQ(ClassValue(L".zip"), std::nullopt);
    EXPECT_EQ(ClassValue(kUnrelatedExtension), L"Other.File");
}

// Run only by the installer's test (tests/win32/installer), in its own prefix: ticks LZH and ZIP
// in the window of the copy installed in DEXALO_INSTALLED_FOLDER.
TEST(Installed, DISABLED_TickLzhAndZip) {
    wchar_t folder[MAX_PATH]{};
    ASSERT_NE(::GetEnvironmentVariableW(L"DEXALO_INSTALLED_FOLDER", folder, MAX_PATH), 0u);
    TickAndApply(Installation{MakeSandbox(L"installed"), folder}, false);
}

TEST_F(RoundTrip, ADocumentOpenedThroughTheVerbIsExtractedEvenWithBlanksInItsPath) {
    // The program's own folder holds a blank and Japanese too: the registered command carries both.
    const Installation in = Install(L"verb", L"Dexalo ツール");
    const std::wstring document = in.root + L"data file.lzh";
    WriteBytes(in.Settings(), SettingsBytes(0, in.root)); // no folder window afterwards
    WriteBytes(document, "archive bytes");
    WriteBytes(document + L".dbl", "Unlha.count=2\nUnlha.entry=a.txt\nUnlha.entry=b.txt\n");
    Register(in, {0});

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpFile = document.c_str(); // the default verb
    info.nShow = SW_SHOWNORMAL;
    Watcher watcher(in.root);
    ASSERT_TRUE(::ShellExecuteExW(&info)) << ::GetLastError();
    EXPECT_EQ(::WaitForSingleObject(info.hProcess, 30000), WAIT_OBJECT_0);
    ::CloseHandle(info.hProcess);
    EXPECT_EQ(watcher.Stop(), std::vector<std::string>{});
    const std::string d = Cp932(document), o = Cp932(in.root);
    EXPECT_EQ(ReadLines(in.folder + L"\\calls.log", ".Run("),
              std::vector<std::string>{"Unlha.Run(0,x -a1 -gq1 -m1 \"" + d + "\" \"" + o + "data file\\\",0)"});
}

// The read buffer holds 516 bytes of text and its zero; longer text reads as none, and the
// buffer is the front of a larger block whose tail must stay untouched.
TEST_F(RoundTrip, ReadBufferHolds516BytesOfTextAndIsNeverOverrun) {
    const std::pair<std::wstring, bool> cases[] = {{std::wstring(516, L'a'), true},
                                                   {std::wstring(517, L'a'), false},
                                                   {std::wstring(258, L'解'), true}, // 516 bytes in CP932
                                                   {std::wstring(515, L'a') + L'解', false}};
    win32::RegistryClassRoot root;
    for (const auto& [text, fits] : cases) {
        SCOPED_TRACE(text.size());
        ASSERT_TRUE(Vanto_SEBU(root, L"DexaloTest.Registry", L"", text));
        EXPECT_EQ(Vanto_GETREG(root, L"DexaloTest.Registry"), fits ? text : L"");
        HKEY key = nullptr;
        ASSERT_EQ(::RegOpenKeyExA(HKEY_CLASSES_ROOT, "DexaloTest.Registry", 0, KEY_READ, &key), ERROR_SUCCESS);
        std::array<BYTE, win32::kReadBufferSize + 256> block;
        block.fill(0xCD);
        const std::string bytes =
            win32::ReadValueBytes(key, "", std::span<BYTE, win32::kReadBufferSize>(block.data(), win32::kReadBufferSize));
        ::RegCloseKey(key);
        EXPECT_EQ(bytes.empty(), !fits);
        EXPECT_TRUE(std::all_of(block.begin() + win32::kReadBufferSize, block.end(), [](BYTE b) { return b == 0xCD; }));
    }
}

// The window for a screenshot, with version lines of every kind: by default after a start from
// saved settings and registered types, "design" as first installed.
int ShowForScreenshot(bool design) {
    const Installation in = Install(L"screenshot");
    // Every kind of version line: missing, a RAR version of 0, one of 65535 read as -1.
    WriteBytes(in.folder + L"\\versions.dbl", "Unlha.version=139\nUnZip.version=5\nTar.version=1000\nUnarj.version=65535\n"
                                               "Ish.version=200\nUnrar.version=0\nBga.version=3\nYz1.version=12\nJack.version=1\n");
    ::DeleteFileW((in.folder + (design ? L"\\cab32.dll" : L"\\Yz1.dll")).c_str());
    // A library without any of the calls shows as missing like one that is not there.
    ::DeleteFileW((in.folder + L"\\bga32.dll").c_str());
    std::filesystem::copy_file(BuildFolder(DEXALO_TEST_MARKER_DIR) + L"unlha32.dll", in.folder + L"\\bga32.dll");
    ForgetAssociations();
    if (!design) {
        std::filesystem::create_directories(in.root + L"出力 フォルダ");
        WriteBytes(in.Settings(), SettingsBytes(2, in.root + L"出力 フォルダ\\"));
        Register(in, {0, 1, 3, 7});
    }
    ProgramWindow form(in, in.root);
    if (!form.window()) return 1;
    // Both missing lines as the user reads them, and their association boxes disabled.
    const std::pair<const wchar_t*, const wchar_t*> missing[] = {
        {design ? L"CAB32.DLL ................Version. なし" : L"YZ1.DLL ........................Version. なし",
         design ? L"CAB( .cab)" : L"YZ1( .yz1)"},
        {L"BGA32.DLL ................Version. なし", L"BGA( .gza等)"}};
    for (const auto& [line, box] : missing) {
        if (!form.Control(line) || ::IsWindowEnabled(form.Control(box))) {
            std::fprintf(stderr, "no missing line \"%s\" with its box disabled\n", Utf8(line).c_str());
            form.PressToEnd(kCancel);
            return 2;
        }
    }
    // The window's place goes to form1.ready; then it waits for form1.done, a minute at most.
    RECT r;
    ::GetWindowRect(form.window(), &r);
    std::ofstream("form1.ready.tmp", std::ios::binary) << r.left << ' ' << r.top << ' ' << r.right - r.left << ' ' << r.bottom - r.top << '\n';
    std::filesystem::rename("form1.ready.tmp", "form1.ready");
    for (int i = 0; i < 1200 && !std::filesystem::exists("form1.done"); ++i) ::Sleep(50);
    const int result = form.PressToEnd(kCancel) == 0 ? 0 : 1;
    ForgetAssociations();
    return result;
}

} // namespace
} // namespace dexalo::test

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "screenshot") == 0)
        return dexalo::test::ShowForScreenshot(argc > 2 && std::strcmp(argv[2], "design") == 0);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
