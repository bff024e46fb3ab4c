// The user's own classes, where associations go when the machine-wide classes refuse them.
#include <windows.h>

#include <gtest/gtest.h>

#include "win32/shell/registry_class_root.h"

namespace dexalo::win32 {
namespace {

TEST(UserClasses, KeysGoUnderTheUsersSoftwareClassesAndNeverTakeItWhole) {
    const std::wstring key = L"DexaloUserClassesScratch";
    RegistryClassRoot user(RegistryClassRoot::Scope::UserClasses);
    ASSERT_TRUE(user.WriteString(key + L"\\Shell", L"", L"Dexaloで解凍"));
    wchar_t data[64] = {};
    DWORD size = sizeof data;
    ::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Classes\\DexaloUserClassesScratch\\Shell", L"", RRF_RT_REG_SZ,
                   nullptr, data, &size);
    EXPECT_STREQ(data, L"Dexaloで解凍");

    EXPECT_FALSE(user.DeleteTree(L""));
    EXPECT_TRUE(user.DeleteTree(key));
    EXPECT_EQ(user.ReadValue(key + L"\\Shell", L""), L"");
}

} // namespace
} // namespace dexalo::win32
