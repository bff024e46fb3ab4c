// The association icons, loaded from the settings folder the way the shell loads them.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>

#include "shell/association_table.h"
#include "win32_test.h"

namespace dexalo {
namespace {

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
    const std::wstring folder = test::ProgramBinFolder() + L"設定フォルダ";
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
