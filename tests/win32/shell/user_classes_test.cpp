// The user's own classes, where associations go when the machine-wide classes refuse them.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "win32/shell/registry_class_root.h"

namespace dexalo::win32 {
namespace {

TEST(UserClasses, KeysGoUnderTheUsersSoftwareClassesAndTheirValuesAreListed) {
    const std::wstring key = L"DexaloUserClassesScratch";
    RegistryClassRoot user(RegistryClassRoot::Scope::UserClasses);
    ASSERT_TRUE(user.DeleteTree(key));
    ASSERT_TRUE(user.WriteString(key, L"", L"既定"));
    ASSERT_TRUE(user.WriteString(key, L"Content Type", L"application/x-lzh-compressed"));

    wchar_t data[64] = {};
    DWORD size = sizeof data;
    EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + key).c_str(), L"", RRF_RT_REG_SZ, nullptr,
                             data, &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(data, L"既定");
    auto names = user.ValueNames(key);
    ASSERT_TRUE(names.has_value());
    std::sort(names->begin(), names->end());
    EXPECT_EQ(*names, (std::vector<std::wstring>{L"", L"Content Type"}));
    EXPECT_EQ(user.ValueNames(key + L"\\Missing"), std::nullopt);

    EXPECT_FALSE(user.DeleteTree(L"")); // never the user's whole classes
    EXPECT_TRUE(user.DeleteTree(key));
    EXPECT_EQ(user.ValueNames(key), std::nullopt);
}

} // namespace
} // namespace dexalo::win32
