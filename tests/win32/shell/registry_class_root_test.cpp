// RegistryClassRoot on Wine's real HKEY_CLASSES_ROOT, in a scratch key of its own.
#include "win32/shell/registry_class_root.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "shell/registry.h"
#include "win32/shell/registry_key.h"
#include "win32/shell/registry_read.h"

namespace dexalo::win32 {
namespace {

const std::wstring kScratch = L"DexaloTest.Registry";

// What is really stored, seen through the wide functions.
struct Stored {
    DWORD type = 0;
    std::vector<BYTE> bytes;
    std::wstring Text() const {
        std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        return text.substr(0, text.find(L'\0'));
    }
};

std::optional<Stored> StoredValue(const std::wstring& subKey, const std::wstring& name) {
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return {};
    Stored stored;
    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &stored.type, nullptr, &size) != ERROR_SUCCESS) return {};
    stored.bytes.resize(size);
    if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &stored.type, stored.bytes.data(), &size) != ERROR_SUCCESS)
        return {};
    stored.bytes.resize(size);
    return stored;
}

std::vector<std::wstring> SubKeyNames(const std::wstring& subKey) {
    std::vector<std::wstring> names;
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (::RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

void SetRaw(const std::wstring& subKey, DWORD type, const void* data, DWORD size) {
    UniqueRegKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                                nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key.get(), L"", 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}

class RegistryClassRootTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::GetACP(), 932u) << "the tests expect Wine's Japanese locale (see scripts/wine-run)";
        ASSERT_TRUE(root.DeleteTree(kScratch));
    }
    void TearDown() override { root.DeleteTree(kScratch); }

    RegistryClassRoot root;
};

TEST_F(RegistryClassRootTest, JapaneseKeysAndTextGoThroughCp932WithTheirTerminatingZero) {
    const std::wstring command = kScratch + L"\\Shell\\Dexaloで解凍\\command";
    const std::wstring data = L"\"C:\\ツール\\設定フォルダ\\Dexalo.exe\" \"%1\"";
    ASSERT_TRUE(Vanto_SEBU(root, command, L"", data)); // creates every key on the path
    EXPECT_EQ(SubKeyNames(kScratch + L"\\Shell"), std::vector<std::wstring>{L"Dexaloで解凍"});
    EXPECT_EQ(Vanto_GETREG(root, kScratch + L"\\shell\\DEXALOで解凍\\Command"), data);

    // A wrong byte count would cut the double-byte text short or carry garbage.
    for (const std::wstring& text : {data, std::wstring(L"LzhFile"), std::wstring()}) {
        ASSERT_TRUE(Vanto_SEBU(root, kScratch, L"", text));
        const auto stored = StoredValue(kScratch, L"");
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(stored->bytes.size(), (text.size() + 1) * sizeof(wchar_t)) << text.size();
        EXPECT_EQ(stored->Text(), text);
        EXPECT_EQ(Vanto_GETREG(root, kScratch), text);
    }
    // The default value and a named one are kept apart.
    ASSERT_TRUE(Vanto_SEBU(root, kScratch + L"\\N", L"Content Type", L"application/x-lzh-compressed"));
    EXPECT_EQ(Vanto_GETREG(root, kScratch + L"\\N"), L"");
    EXPECT_EQ(root.ReadValue(kScratch + L"\\N", L"Content Type"), L"application/x-lzh-compressed");
}

// The read buffer holds 516 bytes of text and its zero; longer text reads as none, and the
// buffer is the front of a larger block whose tail must stay untouched.
TEST_F(RegistryClassRootTest, ReadBufferHolds516BytesOfTextAndIsNeverOverrun) {
    const std::pair<std::wstring, bool> cases[] = {
        {std::wstring(515, L'a'), true},  {std::wstring(516, L'a'), true},   {std::wstring(517, L'a'), false},
        {std::wstring(2000, L'a'), false}, {std::wstring(258, L'解'), true}, // 516 bytes in CP932
        {std::wstring(259, L'解'), false}, {std::wstring(515, L'a') + L'解', false},
    };
    for (const auto& [text, fits] : cases) {
        SCOPED_TRACE(text.size());
        ASSERT_TRUE(Vanto_SEBU(root, kScratch, L"", text));
        EXPECT_EQ(Vanto_GETREG(root, kScratch), fits ? text : L"");
        UniqueRegKey key;
        ASSERT_EQ(::RegOpenKeyExA(HKEY_CLASSES_ROOT, "DexaloTest.Registry", 0, KEY_READ, key.put()), ERROR_SUCCESS);
        std::array<BYTE, kReadBufferSize + 256> block;
        block.fill(0xCD);
        const std::string bytes =
            ReadValueBytes(key.get(), "", std::span<BYTE, kReadBufferSize>(block.data(), kReadBufferSize));
        EXPECT_EQ(bytes.empty(), !fits);
        EXPECT_TRUE(std::all_of(block.begin() + kReadBufferSize, block.end(), [](BYTE b) { return b == 0xCD; }));
    }
}

TEST_F(RegistryClassRootTest, OtherValueTypesReadAsTheirBytesUpToTheFirstZero) {
    const std::string noZero(517, 'x');
    SetRaw(kScratch, REG_BINARY, noZero.data(), static_cast<DWORD>(noZero.size()));
    EXPECT_EQ(Vanto_GETREG(root, kScratch), L""); // no terminating zero inside the buffer

    const char withZero[] = {'a', 'b', 'c', '\0', 'd', 'e', 'f'};
    SetRaw(kScratch, REG_BINARY, withZero, sizeof withZero);
    EXPECT_EQ(Vanto_GETREG(root, kScratch), L"abc");

    const DWORD number = 0x00636261; // "abc\0" in memory
    SetRaw(kScratch, REG_DWORD, &number, sizeof number);
    EXPECT_EQ(Vanto_GETREG(root, kScratch), L"abc");

    const wchar_t expandable[] = L"%SystemRoot%\\x";
    SetRaw(kScratch, REG_EXPAND_SZ, expandable, sizeof expandable);
    EXPECT_EQ(Vanto_GETREG(root, kScratch), L"%SystemRoot%\\x"); // not expanded
}

TEST_F(RegistryClassRootTest, RemovalsBehaveLikeThePlatformAndNeverTakeTheRoot) {
    const std::wstring a = kScratch + L"\\A";
    ASSERT_TRUE(root.WriteString(a + L"\\B", L"v", L"1"));
    EXPECT_TRUE(root.HasSubKeys(a));
    EXPECT_FALSE(root.HasSubKeys(a + L"\\B"));
    EXPECT_FALSE(root.DeleteKey(a)); // a key with sub-keys cannot go by itself
    EXPECT_TRUE(root.DeleteValue(a + L"\\B", L"v"));
    EXPECT_FALSE(StoredValue(a + L"\\B", L"v"));
    EXPECT_TRUE(root.DeleteValue(a + L"\\B", L"v"));       // already gone
    EXPECT_TRUE(root.DeleteValue(a + L"\\Missing", L"v")); // no key at all
    EXPECT_TRUE(root.DeleteTree(a));
    EXPECT_TRUE(SubKeyNames(kScratch).empty());
    EXPECT_TRUE(root.DeleteTree(a));
    EXPECT_TRUE(root.DeleteKey(a));
    EXPECT_FALSE(root.DeleteKey(L""));
    EXPECT_FALSE(root.DeleteTree(L""));
}

TEST_F(RegistryClassRootTest, TextTheCodePageCannotCarryIsRefused) {
    ASSERT_TRUE(root.WriteString(kScratch, L"", L"kept"));
    // Converted, these would name "??" and another folder.
    EXPECT_FALSE(root.WriteString(kScratch + L"\\한국", L"", L"x"));
    EXPECT_FALSE(root.WriteString(kScratch, L"", L"C:\\한국\\Dexalo.exe"));
    EXPECT_FALSE(root.WriteString(kScratch, std::wstring(L"a\0b", 3), L"x"));
    EXPECT_TRUE(SubKeyNames(kScratch).empty());
    EXPECT_EQ(Vanto_GETREG(root, kScratch), L"kept");
    EXPECT_EQ(Vanto_GETREG(root, kScratch + L"\\한국"), L"");
}

} // namespace
} // namespace dexalo::win32
