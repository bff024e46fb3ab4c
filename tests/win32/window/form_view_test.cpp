// Form1 on a real (Wine) desktop: layout, keyboard order, window order, the greyed pickers,
// the drive probe, the folder list and closing. "test_win32_window screenshot
// [next-to-archive]" shows the window for screenshot.sh instead.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <memory>

#include "form_fakes.h"
#include "win32/window/form_view.h"
#include "win32/startup/startup_win32.h"
#include "win32_test.h"

namespace dexalo::test {
namespace {

class CountingStorage : public SettingsStorage {
public:
    int writes = 0;
    std::optional<std::string> ReadAll(const std::wstring&) override { return std::nullopt; }
    bool WriteAll(const std::wstring&, const std::string&) override { return ++writes, true; }
};

// A Form1View over stand-in libraries, associations and settings storage.
struct ViewRig {
    Log log;
    ModuleState state{.DestFolder = L"C:\\windows\\", .OptionFlags = 0};
    FakeLibraries libraries;
    FakeAssociations associations{log};
    CountingStorage storage;
    win32::AnsiCodePage codec;
    std::vector<std::wstring> extracted;
    std::unique_ptr<win32::Form1View> view;
    bool quitPosted = false;

    ViewRig() { libraries.versions = {139, 5, std::nullopt, 1000, -1, 200, 0, 3, 12, 1}; }
    ~ViewRig() {
        view.reset();
        Pump();
    }
    win32::Form1View& Open() {
        view = std::make_unique<win32::Form1View>(
            state, libraries, [this](const std::wstring& p) { extracted.push_back(p); },
            ProgramLocation{L"C:\\Dexalo", L"Dexalo"}, associations, storage, codec);
        view->Load();
        Pump();
        return *view;
    }
    // Runs what is queued; a quit request left by the end of the program is taken away.
    void Pump() {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quitPosted = true;
            } else if (view) {
                view->ProcessMessage(message);
            } else {
                ::DispatchMessageW(&message);
            }
        }
    }
};

// Where the layout puts each control, in twips from the window's client area, and its caption.
struct Expected {
    ControlId id;
    int left, top, width, height;
    const wchar_t* caption;
};
// A few controls from the design, one of each kind.
const Expected kLayout[] = {
    {kDrive1, 120, 120, 2535, 300, nullptr},
    {kDir1, 120, 480, 2535, 1980, nullptr},
    {Frame1(2), 120, 2520, 2535, 1575, L"解凍先の設定"},
    {Command1(1), 1320, 2760, 1095, 530, L"My Documents"},
    {Check1(11), 240, 3720, 2055, 255, L"解凍後に解凍先を開く"},
    {Label1(2), 3120, 840, 2415, 195, L"CAB32.DLL ................Version. なし"},
    {Label1(6), 3120, 1800, 2415, 195, L"UNRAR32.DLL ..Unrar.dllが必要"},
    {Command1(5), 4440, 3240, 1335, 375, L"適用(設定保存)"},
    {Check1(9), 4800, 4920, 1060, 255, L"JAK( .jak)"},
};

std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

RECT ClientRectOf(HWND control) {
    RECT r;
    ::GetWindowRect(control, &r);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TEST(FormView, WindowAndEveryControlWhereTheLayoutPutsThem) {
    ViewRig rig;
    win32::Form1View& view = rig.Open();
    HWND window = view.Window();
    const int dpi = static_cast<int>(view.Dpi());
    const auto px = [dpi](int twips) { return ::MulDiv(twips, dpi, 1440); };

    EXPECT_EQ(TextOf(window), L"Dexalo Version.2.66 by.Vanto");
    RECT client;
    ::GetClientRect(window, &client);
    EXPECT_EQ(client.right, px(5925));
    EXPECT_EQ(client.bottom, px(5325));
    if (dpi == 96) {
        EXPECT_EQ(client.right, 395);
        EXPECT_EQ(client.bottom, 355);
    }
    const LONG_PTR style = ::GetWindowLongPtrW(window, GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(::IsWindowVisible(window));

    RECT frame;
    ::GetWindowRect(window, &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
    EXPECT_LE(std::abs((frame.left + frame.right) - (monitor.rcMonitor.left + monitor.rcMonitor.right)), 2);
    EXPECT_LE(std::abs((frame.top + frame.bottom) - (monitor.rcMonitor.top + monitor.rcMonitor.bottom)), 2);

    for (const Expected& e : kLayout) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(e.id.array) << "(" << e.id.index << ")");
        HWND control = view.ControlWindow(e.id);
        ASSERT_NE(control, nullptr);
        const RECT r = ClientRectOf(control);
        EXPECT_EQ(r.left, px(e.left));
        EXPECT_EQ(r.top, px(e.top));
        EXPECT_EQ(r.right - r.left, px(e.width));
        EXPECT_EQ(r.bottom - r.top, px(e.height));
        if (e.caption != nullptr) {
            EXPECT_EQ(TextOf(control), e.caption);
        }
    }
    // A missing library greys its line and disables its box; present ones stay enabled.
    EXPECT_FALSE(::IsWindowEnabled(view.ControlWindow(Check1(2))));
    EXPECT_FALSE(::IsWindowEnabled(view.ControlWindow(Check1(6))));
    EXPECT_TRUE(::IsWindowEnabled(view.ControlWindow(Check1(0))));
    HDC dc = ::GetDC(window);
    ::SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(view.ControlWindow(Label1(2))));
    EXPECT_EQ(::GetTextColor(dc), RGB(128, 128, 128));
    ::ReleaseDC(window, dc);
}

// The keyboard starts at Check1(12) and goes round every enabled control once; a few steps
// of the designed order, which disabled boxes (CAB missing, RAR 0) leave out.
TEST(FormView, KeyboardOrder) {
    ViewRig rig;
    win32::Form1View& view = rig.Open();
    HWND at = view.ControlWindow(Check1(12));
    EXPECT_EQ(::GetFocus(), at);
    std::vector<HWND> order;
    for (int i = 0; i < 40 && (order.empty() || at != order.front()); ++i, at = ::GetNextDlgTabItem(view.Window(), at, FALSE))
        order.push_back(at);
    EXPECT_EQ(order.size(), 20u);
    const auto next = [&](ControlId id) {
        const auto it = std::find(order.begin(), order.end(), view.ControlWindow(id));
        return it == order.end() || it + 1 == order.end() ? nullptr : *(it + 1);
    };
    EXPECT_EQ(next(Check1(12)), view.ControlWindow(Command1(6)));
    EXPECT_EQ(next(Command1(3)), view.ControlWindow(kDrive1));
    EXPECT_EQ(next(Check1(1)), view.ControlWindow(Check1(3)));
    EXPECT_EQ(order.back(), view.ControlWindow(Check1(9)));
}

TEST(FormView, OptionBoxesReachTheWindowAndClosingEndsWithoutWriting) {
    ViewRig rig;
    win32::Form1View& view = rig.Open();
    HWND window = view.Window();
    const auto click = [&](ControlId id) {
        ::SendMessageW(view.ControlWindow(id), BM_CLICK, 0, 0);
        rig.Pump();
    };
    // Check1(12) keeps the window in front, without moving it; other boxes re-apply that.
    const auto topmost = [&] { return (::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; };
    EXPECT_FALSE(topmost());
    RECT before, after;
    ::GetWindowRect(window, &before);
    click(Check1(12));
    EXPECT_EQ(::SendMessageW(view.ControlWindow(Check1(12)), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(topmost());
    click(Check1(0));
    EXPECT_TRUE(topmost());
    click(Check1(12));
    EXPECT_FALSE(topmost());
    ::GetWindowRect(window, &after);
    EXPECT_TRUE(::EqualRect(&before, &after));

    // Extracting next to the archive disables the pickers, the lists drawn light grey.
    const auto listBackground = [&] {
        HDC dc = ::GetDC(window);
        ::SendMessageW(window, WM_CTLCOLORLISTBOX, reinterpret_cast<WPARAM>(dc),
                       reinterpret_cast<LPARAM>(view.ControlWindow(kDir1)));
        const COLORREF color = ::GetBkColor(dc);
        ::ReleaseDC(window, dc);
        return color;
    };
    const ControlId pickers[] = {Command1(0), Command1(1), Command1(2), kDrive1, kDir1};
    click(Check1(10));
    EXPECT_EQ(rig.state.OptionFlags, 1);
    for (ControlId id : pickers) EXPECT_FALSE(::IsWindowEnabled(view.ControlWindow(id)));
    EXPECT_EQ(listBackground(), RGB(192, 192, 192));
    click(Check1(10));
    for (ControlId id : pickers) EXPECT_TRUE(::IsWindowEnabled(view.ControlWindow(id)));
    EXPECT_EQ(listBackground(), RGB(255, 255, 255));

    // Closing ends the program; nothing is applied or saved.
    ::SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(::IsWindow(window));
    rig.Pump();
    EXPECT_TRUE(rig.quitPosted);
    EXPECT_EQ(rig.storage.writes, 0);
    EXPECT_TRUE(rig.log.empty());
}

TEST(FormView, MissingDriveShowsItsMessageAndTheListGoesBack) {
    ViewRig rig;
    win32::Form1View& view = rig.Open();
    const DWORD drives = ::GetLogicalDrives();
    wchar_t letter = 0;
    for (wchar_t c = L'q'; c <= L'y' && letter == 0; ++c) {
        if (!(drives & (1u << (c - L'a')))) letter = c;
    }
    ASSERT_NE(letter, 0);
    const std::string probe{static_cast<char>(letter), ':'};
    ::SetLastError(0);
    ::GetFileAttributesA(probe.c_str());
    const std::wstring expected = DriveProbeMessage(::GetLastError());

    const std::wstring before = view.Model().Drive();
    {
        Watcher watcher(MakeSandbox());
        EXPECT_TRUE(view.Model().SetDrive(std::wstring{letter, L':'}));
        EXPECT_EQ(watcher.Stop(), std::vector<std::string>{"エラー発生!\t" + Utf8(expected) + "\ticon=1"});
    }
    EXPECT_EQ(view.Model().Drive(), before);
    HWND combo = view.ControlWindow(kDrive1);
    const auto selected = static_cast<int>(::SendMessageW(combo, CB_GETCURSEL, 0, 0));
    ASSERT_GE(selected, 0);
    wchar_t text[64]{};
    ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::wstring(text).substr(0, 2), before);
    EXPECT_EQ(::SendMessageW(combo, CB_GETCOUNT, 0, 0), std::popcount(drives));
}

// The folder list: ancestors open, sub-folders closed and sorted, the current one selected;
// Enter opens the selected entry, as a double-click does (the round trip uses that).
TEST(FormView, FolderListAndTheEnterKey) {
    wchar_t temp[MAX_PATH + 1]{};
    ::GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring base = std::wstring(temp) + L"dexalo-window-test", outer = base + L"\\outer",
                       inner = outer + L"\\inner";
    std::filesystem::remove_all(base);
    std::filesystem::create_directories(inner + L"\\b-child");
    std::filesystem::create_directories(inner + L"\\a-child");
    ViewRig rig;
    win32::Form1View& view = rig.Open();
    ASSERT_TRUE(view.Model().SetPath(inner));
    HWND list = view.ControlWindow(kDir1);
    const auto count = static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0));
    ASSERT_GE(count, 5);
    std::vector<std::wstring> tail;
    for (int i = count - 4; i < count; ++i) {
        wchar_t text[MAX_PATH]{};
        ::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        tail.push_back(text);
    }
    EXPECT_EQ(tail, (std::vector<std::wstring>{L"outer", L"inner", L"a-child", L"b-child"}));
    EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), count - 3);
    const auto& entries = view.FolderListEntries();
    EXPECT_TRUE(entries[0].open && entries[static_cast<std::size_t>(count - 3)].open);
    EXPECT_FALSE(entries[static_cast<std::size_t>(count - 2)].open);
    ::SetFocus(list);
    ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(count - 4), 0);
    ::PostMessageW(list, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    rig.Pump();
    EXPECT_EQ(rig.state.DestFolder, outer + L"\\");
    rig.view.reset();
    std::filesystem::remove_all(base);
}

// Design state over stand-ins; with "next-to-archive" the pickers start disabled.
int ShowForScreenshot(bool nextToArchive) {
    ViewRig rig;
    rig.state.OptionFlags = nextToArchive ? 3 : 2;
    rig.associations.associated = {0, 1, 3, 7};
    OfferForScreenshot(rig.Open().Window(), [&] {
        rig.Pump();
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    });
    return 0;
}

} // namespace
} // namespace dexalo::test

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "screenshot") == 0)
        return dexalo::test::ShowForScreenshot(argc > 2 && std::strcmp(argv[2], "next-to-archive") == 0);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
