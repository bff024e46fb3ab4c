// RegistryClassRoot on Wine's real HKEY_CLASSES_ROOT, in a scratch key of its own.
#include "win32/shell/registry_class_root.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <span>
#include <string>

#include "shell/registry.h"
#include "win32/shell/registry_key.h"
#include "win32/shell/registry_read.h"

namespace dexalo::win32 {
namespace {

const std::wstring kScratch = L"DexaloTest.Registry";

class RegistryClassRootTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::GetACP(), 932u) << "the tests expect Wine's Japanese locale (see scripts/wine-run)";
        ASSERT_TRUE(root.DeleteTree(kScratch));
    }
    void TearDown() override { root.DeleteTree(kScratch); }

    RegistryClassRoot root;
};

// The key names' conversion is the window round trip's; here the stored text's length.
TEST_F(RegistryClassRootTest, JapaneseTextIsStoredWithItsTerminatingZero) {
    const std::wstring command = kScratch + L"\\Shell\\Dexaloで解凍\\command";
    const std::wstring data = L"\"C:\\ツール\\設定フォルダ\\Dexalo.exe\" \"%1\"";
    ASSERT_TRUE(Vanto_SEBU(root, command, L"", data)); // creates every key on the path
    EXPECT_EQ(Vanto_GETREG(root, kScratch + L"\\shell\\DEXALOで解凍\\Command"), data);
    // A wrong byte count would cut the double-byte text short or carry garbage.
    wchar_t stored[128];
    DWORD size = sizeof stored;
    ASSERT_EQ(::RegGetValueW(HKEY_CLASSES_ROOT, command.c_str(), L"", RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, stored,
                             &size), 0);
    EXPECT_EQ(size, (data.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(stored, data);
}

// The read buffer holds 516 bytes of text and its zero; longer text reads as none, and the
// buffer is the front of a larger block whose tail must stay untouched.
TEST_F(RegistryClassRootTest, ReadBufferHolds516BytesOfTextAndIsNeverOverrun) {
    const std::pair<std::wstring, bool> cases[] = {{std::wstring(516, L'a'), true},
                                                   {std::wstring(517, L'a'), false},
                                                   {std::wstring(258, L'解'), true}, // 516 bytes in CP932
                                                   {std::wstring(515, L'a') + L'解', false}};
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

} // namespace
} // namespace dexalo::win32
