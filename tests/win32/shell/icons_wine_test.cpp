// The association icons, loaded from the settings folder the way the shell loads them.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>

#include "shell/association_table.h"

namespace dexalo {
namespace {

// DEXALO_BIN_DIR is a Unix path; Wine maps the root to Z:.
std::wstring SettingsFolder() {
    wchar_t unixPath[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"DEXALO_BIN_DIR", unixPath, MAX_PATH) == 0) return {};
    std::wstring path = L"Z:" + std::wstring(unixPath);
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    return path + L"\\設定フォルダ";
}

int ColourBitmapWidth(HICON icon) {
    ICONINFO info{};
    if (!::GetIconInfo(icon, &info)) return 0;
    BITMAP bitmap{};
    ::GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

TEST(AssociationIcons, EveryTypeIconLoadsInBothSizes) {
    const std::wstring folder = SettingsFolder();
    ASSERT_FALSE(folder.empty()) << "DEXALO_BIN_DIR is not set";
    for (const auto& type : kAssociationTable) {
        const std::wstring path = folder + L"\\" + std::wstring(type.iconFile);
        for (int size : {32, 16}) {
            const auto icon = static_cast<HICON>(::LoadImageW(nullptr, path.c_str(), IMAGE_ICON, size, size,
                                                              LR_LOADFROMFILE));
            ASSERT_NE(icon, nullptr) << path;
            EXPECT_EQ(ColourBitmapWidth(icon), size) << path;
            ::DestroyIcon(icon);
        }
        // What the DefaultIcon value's ",0" asks the shell for.
        HICON large = nullptr;
        HICON smallIcon = nullptr;
        EXPECT_EQ(::ExtractIconExW(path.c_str(), 0, &large, &smallIcon, 1), 2u) << path;
        if (large) ::DestroyIcon(large);
        if (smallIcon) ::DestroyIcon(smallIcon);
    }
}

} // namespace
} // namespace dexalo
