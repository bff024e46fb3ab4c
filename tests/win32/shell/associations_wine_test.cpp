// The associations on Wine's real class root, and the shell starting the registered verb.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "shell/associations.h"
#include "shell/registry.h"
#include "win32/registry_class_root.h"
#include "win32/registry_key.h"

namespace dexalo::win32 {
namespace {

const ProgramLocation kProgram{L"C:\\Program Files\\Dexalo Test", L"Dexalo"};
constexpr std::array<int, 10> kAllChecked = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
constexpr std::array<int, 10> kNoneChecked{};
constexpr std::array<std::int32_t, 10> kNoneAssociated{};
constexpr std::array<std::int32_t, 10> kAllAssociated = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

bool KeyExists(const std::wstring& subKey) {
    UniqueRegKey key;
    return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

bool ValueExists(const std::wstring& subKey, const std::wstring& name) {
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    return ::RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

class AssociationsOnWine : public ::testing::Test {
protected:
    // The prefix is the tests' own: every key of the table goes, whoever wrote it.
    static void Forget(RegistryClassRoot& root) {
        for (const auto& type : kAssociationTable)
            for (auto name : type.removalOrder) ASSERT_TRUE(root.DeleteTree(std::wstring(name)));
    }
    void SetUp() override { Forget(root); }
    void TearDown() override { Forget(root); }

    RegistryClassRoot root;
};

TEST_F(AssociationsOnWine, AllTenRegisterAndANewStartSeesThem) {
    {
        Associations before(root, kProgram);
        for (int i = 0; i < 10; ++i) EXPECT_FALSE(before.IsAssociated(i)) << i;
        EXPECT_TRUE(before.Apply(kAllChecked, kNoneAssociated));
    }
    Associations after(root, kProgram);
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(after.IsAssociated(i)) << i;

    EXPECT_EQ(Vanto_GETREG(root, L".taz"), L"TarFile");
    EXPECT_EQ(root.ReadValue(L".jar", L"Content Type"), L"application/x-zip-compressed");
    EXPECT_EQ(Vanto_GETREG(root, L"LzhFile"), L"LZH File");
    EXPECT_EQ(Vanto_GETREG(root, L"LzhFile\\DefaultIcon"),
              L"C:\\Program Files\\Dexalo Test\\設定フォルダ\\LZH.ico,0");
    EXPECT_EQ(Vanto_GETREG(root, L"JakFile\\Shell"), L"Dexaloで解凍");
    EXPECT_EQ(Vanto_GETREG(root, L"JakFile\\Shell\\Dexaloで解凍\\command"),
              L"\"C:\\Program Files\\Dexalo Test\\Dexalo.exe\" \"%1\"");
    EXPECT_FALSE(Associations(root, {L"C:\\Elsewhere", L"Dexalo"}).IsAssociated(0));
}

TEST_F(AssociationsOnWine, RemovalLeavesAnotherProgramsKeysAlone) {
    Associations assoc(root, kProgram);
    ASSERT_TRUE(assoc.Apply(kAllChecked, kNoneAssociated));
    // Since then another program took ".lha", and ".zip" gained keys of others.
    ASSERT_TRUE(Vanto_SEBU(root, L".lha", L"", L"Other.lha"));
    ASSERT_TRUE(Vanto_SEBU(root, L".zip\\ShellNew", L"NullFile", L""));
    ASSERT_TRUE(Vanto_SEBU(root, L".zip", L"PerceivedType", L"compressed"));

    EXPECT_TRUE(assoc.Apply(kNoneChecked, kAllAssociated));

    EXPECT_EQ(Vanto_GETREG(root, L".lha"), L"Other.lha");
    EXPECT_TRUE(KeyExists(L".zip\\ShellNew"));
    EXPECT_EQ(root.ReadValue(L".zip", L"PerceivedType"), L"compressed");
    EXPECT_FALSE(ValueExists(L".zip", L""));
    EXPECT_FALSE(ValueExists(L".zip", L"Content Type"));
    for (const auto& type : kAssociationTable) {
        const std::wstring progId(type.ProgID);
        EXPECT_FALSE(KeyExists(progId)) << progId; // the whole tree
        for (auto ext : type.extensions) {
            const std::wstring extension(ext);
            if (extension != L".lha" && extension != L".zip") {
                EXPECT_FALSE(KeyExists(extension)) << extension;
            }
        }
    }
    for (int i = 0; i < 10; ++i) EXPECT_FALSE(assoc.IsAssociated(i)) << i;
}

// The folder of this test executable, which also holds the stand-in program.
std::wstring ExecutableFolder() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.rfind(L'\\'));
}

std::wstring ReadUtf16File(const std::wstring& path) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return L"<no output>";
    std::wstring text(4096, L'\0');
    DWORD read = 0;
    ::ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr);
    ::CloseHandle(file);
    text.resize(read / sizeof(wchar_t));
    return text;
}

TEST_F(AssociationsOnWine, ShellStartsTheVerbWithTheWholeQuotedDocumentPath) {
    const ProgramLocation standIn{ExecutableFolder(), L"test_win32_shell_argdump"};
    Associations assoc(root, standIn);
    ASSERT_TRUE(assoc.Register(0));

    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(::GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring folder = std::wstring(temp) + L"dexalo shell test";
    const std::wstring document = folder + L"\\data file.lzh";
    const std::wstring output = std::wstring(temp) + L"dexalo-argdump.txt";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const HANDLE file = ::CreateFileW(document.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::CloseHandle(file);
    ASSERT_TRUE(::SetEnvironmentVariableW(L"DEXALO_ARGDUMP_OUT", output.c_str()));

    // The default action (the Shell key names our verb), then the verb by name.
    for (const wchar_t* verb : {static_cast<const wchar_t*>(nullptr), L"Dexaloで解凍"}) {
        ::DeleteFileW(output.c_str());
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
        info.lpVerb = verb;
        info.lpFile = document.c_str();
        info.nShow = SW_HIDE;
        ASSERT_TRUE(::ShellExecuteExW(&info)) << ::GetLastError();
        ASSERT_NE(info.hProcess, nullptr);
        EXPECT_EQ(::WaitForSingleObject(info.hProcess, 30000), WAIT_OBJECT_0);
        DWORD exitCode = 1;
        ::GetExitCodeProcess(info.hProcess, &exitCode);
        ::CloseHandle(info.hProcess);
        EXPECT_EQ(exitCode, 0u);

        const std::wstring line = ReadUtf16File(output);
        const std::wstring expectedTail = L" \"" + document + L"\"";
        ASSERT_GE(line.size(), expectedTail.size()) << line;
        EXPECT_EQ(line.substr(line.size() - expectedTail.size()), expectedTail) << line;
        EXPECT_EQ(line.front(), L'"') << line;
    }
    ::DeleteFileW(output.c_str());
    ::DeleteFileW(document.c_str());
    ::RemoveDirectoryW(folder.c_str());
}

} // namespace
} // namespace dexalo::win32
