// Form1 on a real (Wine) desktop: layout, keyboard order, drops, window order, the drive probe,
// the folder list and the end of the program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include <shlobj.h>

#include "view_support.h"

namespace dexalo::test {
namespace {

using ::testing::ElementsAre;

// Where the layout puts each control, in twips from the window's client area, and its caption.
struct Expected {
    ControlId id;
    int left, top, width, height;
    const wchar_t* caption;
};
const Expected kLayout[] = {
    {kDrive1, 120, 120, 2535, 300, nullptr},
    {kDir1, 120, 480, 2535, 1980, nullptr},
    {Frame1(2), 120, 2520, 2535, 1575, L"解凍先の設定"},
    {Command1(0), 240, 2760, 1095, 270, L"ﾃﾞｽｸﾄｯﾌﾟ"},
    {Command1(1), 1320, 2760, 1095, 530, L"My Documents"},
    {Command1(2), 240, 3020, 1095, 270, L"TEMP"},
    {Check1(10), 240, 3360, 2055, 240, L"書庫と同じ場所に解凍"},
    {Check1(11), 240, 3720, 2055, 255, L"解凍後に解凍先を開く"},
    {Frame1(0), 2880, 120, 2895, 2655, L"各DLLのバージョン情報"},
    {Label1(0), 3120, 360, 2415, 195, L"UNLHA32.DLL ..........Version. 1.39"},
    {Label1(2), 3120, 840, 2415, 195, L"CAB32.DLL ................Version. なし"},
    {Label1(6), 3120, 1800, 2415, 195, L"UNRAR32.DLL ..Unrar.dllが必要"},
    {Label1(9), 3120, 2520, 2415, 195, L"JACK32.DLL ..............Version. 0.01"},
    {Check1(12), 3000, 2880, 2565, 300, L"ウィンドウを常に最前面にする"},
    {Command1(3), 2880, 3240, 1455, 375, L"OK(適用+終了)"},
    {Command1(4), 2880, 3720, 1455, 375, L"キャンセル(終了)"},
    {Command1(5), 4440, 3240, 1335, 375, L"適用(設定保存)"},
    {Command1(6), 4440, 3720, 1335, 375, L"設定初期化"},
    {Frame1(1), 0, 4200, 5895, 1095, L"ファイルの関連付け"},
    {Check1(0), 120, 4560, 1215, 255, L"LZH( .lzh等)"},
    {Check1(1), 1320, 4560, 1035, 255, L"ZIP( .zip)"},
    {Check1(2), 2280, 4560, 1215, 255, L"CAB( .cab)"},
    {Check1(3), 3480, 4560, 1275, 255, L"TAR( .tar等)"},
    {Check1(4), 4800, 4560, 1060, 255, L"ARJ( .arj)"},
    {Check1(5), 120, 4920, 1095, 255, L"ISH( .ish)"},
    {Check1(6), 1200, 4920, 1095, 255, L"RAR( .rar)"},
    {Check1(7), 2280, 4920, 1335, 255, L"BGA( .gza等)"},
    {Check1(8), 3600, 4920, 1060, 255, L"YZ1( .yz1)"},
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

// Answers every message box of this process with OK, keeping its title and text.
class MessageBoxWatcher {
public:
    MessageBoxWatcher() : thread_([this] { Watch(); }) {}
    ~MessageBoxWatcher() {
        stop_ = true;
        thread_.join();
    }
    std::vector<std::pair<std::wstring, std::wstring>> Seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    static BOOL CALLBACK Found(HWND window, LPARAM self) {
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        wchar_t cls[32]{};
        ::GetClassNameW(window, cls, 32);
        if (process == ::GetCurrentProcessId() && std::wstring(cls) == L"#32770" && ::IsWindowVisible(window)) {
            reinterpret_cast<std::vector<HWND>*>(self)->push_back(window);
        }
        return TRUE;
    }
    void Watch() {
        while (!stop_) {
            std::vector<HWND> boxes;
            ::EnumWindows(Found, reinterpret_cast<LPARAM>(&boxes));
            for (HWND box : boxes) {
                wchar_t text[512]{};
                ::GetDlgItemTextW(box, 0xFFFF, text, 512);
                {
                    std::lock_guard lock(mutex_);
                    seen_.emplace_back(TextOf(box), text);
                }
                ::PostMessageW(box, WM_COMMAND, IDOK, 0);
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
    }
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::pair<std::wstring, std::wstring>> seen_;
    std::thread thread_;
};

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

TEST(FormView, KeyboardOrderFollowsTheTabIndexesFromCheck12) {
    ViewRig rig;
    win32::Form1View& view = rig.Open();
    HWND window = view.Window();
    EXPECT_EQ(::GetFocus(), view.ControlWindow(Check1(12)));
    const std::vector<ControlId> expected = {
        Check1(12), Command1(6), Command1(5), Command1(4), Command1(3), kDrive1,   Check1(11), Check1(10),
        kDir1,      Check1(8),   Check1(7),   Check1(0),   Check1(1),   Check1(3), Check1(4),  Check1(5),
        Command1(1), Command1(2), Command1(0), Check1(9)};
    // Check1(2) and Check1(6) are disabled here (CAB missing, RAR 0) and so skipped.
    std::vector<HWND> walked;
    HWND at = view.ControlWindow(Check1(12));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        walked.push_back(at);
        at = ::GetNextDlgTabItem(window, at, FALSE);
    }
    ASSERT_EQ(walked.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(walked[i], view.ControlWindow(expected[i])) << "position " << i;
    }
    EXPECT_EQ(at, view.ControlWindow(Check1(12))); // and round again
}

// A data object carrying a file list, as the shell's drag source hands it over.
class FileListData final : public IDataObject {
public:
    explicit FileListData(std::vector<std::wstring> files, bool withFiles = true)
        : files_(std::move(files)), withFiles_(withFiles) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject)) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (QueryGetData(format) != S_OK) return DV_E_FORMATETC;
        std::wstring list;
        for (const auto& f : files_) list += f + L'\0';
        list += L'\0';
        const SIZE_T bytes = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
        HGLOBAL memory = ::GlobalAlloc(GHND, bytes);
        auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
        drop->pFiles = sizeof(DROPFILES);
        drop->fWide = TRUE;
        std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), list.data(), list.size() * sizeof(wchar_t));
        ::GlobalUnlock(memory);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = memory;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
        return withFiles_ && format->cfFormat == CF_HDROP && (format->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
    }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        out->ptd = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    std::vector<std::wstring> files_;
    bool withFiles_;
};

TEST(FormView, DropsThroughTheRegisteredTargetExtractInListOrder) {
    ViewRig rig;
    win32::Form1View& view = rig.Open();
    const std::vector<std::wstring> files = {L"C:\\in\\a.lzh", L"C:\\in\\b c.zip", L"D:\\z.cab"};
    for (HWND target : {view.Window(), view.ControlWindow(Frame1(1)), view.ControlWindow(Check1(3)),
                        view.ControlWindow(Check1(9)), view.ControlWindow(Label1(5)), view.ControlWindow(kDir1),
                        view.ControlWindow(kDrive1), view.ControlWindow(Command1(4))}) {
        SCOPED_TRACE(TextOf(target));
        auto* registered = static_cast<IDropTarget*>(::GetPropW(target, L"OleDropTargetInterface"));
        ASSERT_NE(registered, nullptr) << "no drop target registered";
        rig.extracted.clear();
        FileListData data(files);
        DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        EXPECT_EQ(registered->DragEnter(&data, MK_LBUTTON, POINTL{10, 10}, &effect), S_OK);
        EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
        effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        EXPECT_EQ(registered->DragOver(MK_LBUTTON, POINTL{12, 12}, &effect), S_OK);
        effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        EXPECT_EQ(registered->Drop(&data, 0, POINTL{12, 12}, &effect), S_OK);
        EXPECT_EQ(rig.extracted, files);
    }
    // Data without a file list is refused and extracts nothing.
    auto* registered = static_cast<IDropTarget*>(::GetPropW(view.Window(), L"OleDropTargetInterface"));
    ASSERT_NE(registered, nullptr);
    rig.extracted.clear();
    FileListData text({}, false);
    DWORD effect = DROPEFFECT_COPY;
    registered->DragEnter(&text, MK_LBUTTON, POINTL{1, 1}, &effect);
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
    registered->Drop(&text, 0, POINTL{1, 1}, &effect);
    EXPECT_TRUE(rig.extracted.empty());
    EXPECT_EQ(rig.state.DestFolder, L"C:\\windows\\");
}

TEST(FormView, Check12KeepsTheWindowInFront) {
    ViewRig rig;
    win32::Form1View& view = rig.Open();
    HWND box = view.ControlWindow(Check1(12));
    const auto topmost = [&] { return (::GetWindowLongPtrW(view.Window(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; };
    EXPECT_FALSE(topmost());
    RECT before;
    ::GetWindowRect(view.Window(), &before);
    ::SendMessageW(box, BM_CLICK, 0, 0);
    rig.Pump();
    EXPECT_EQ(::SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(topmost());
    ::SendMessageW(view.ControlWindow(Check1(0)), BM_CLICK, 0, 0); // re-applies, stays in front
    EXPECT_TRUE(topmost());
    ::SendMessageW(box, BM_CLICK, 0, 0);
    rig.Pump();
    EXPECT_FALSE(topmost());
    RECT after;
    ::GetWindowRect(view.Window(), &after);
    EXPECT_TRUE(::EqualRect(&before, &after));
}

TEST(FormView, ExtractNextToTheArchiveGreysThePickers) {
    ViewRig rig;
    win32::Form1View& view = rig.Open();
    const ControlId pickers[] = {Command1(0), Command1(1), Command1(2), kDrive1, kDir1};
    ::SendMessageW(view.ControlWindow(Check1(10)), BM_CLICK, 0, 0);
    EXPECT_EQ(rig.state.OptionFlags, 1);
    for (ControlId id : pickers) EXPECT_FALSE(::IsWindowEnabled(view.ControlWindow(id)));
    HDC dc = ::GetDC(view.Window());
    ::SendMessageW(view.Window(), WM_CTLCOLORLISTBOX, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(view.ControlWindow(kDir1)));
    EXPECT_EQ(::GetBkColor(dc), RGB(192, 192, 192));
    ::SendMessageW(view.ControlWindow(Check1(10)), BM_CLICK, 0, 0);
    ::SendMessageW(view.Window(), WM_CTLCOLORLISTBOX, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(view.ControlWindow(kDir1)));
    EXPECT_EQ(::GetBkColor(dc), RGB(255, 255, 255));
    ::ReleaseDC(view.Window(), dc);
    EXPECT_EQ(rig.state.OptionFlags, 0);
    for (ControlId id : pickers) EXPECT_TRUE(::IsWindowEnabled(view.ControlWindow(id)));
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
        MessageBoxWatcher watcher;
        EXPECT_TRUE(view.Model().SetDrive(std::wstring{letter, L':'}));
        const auto seen = watcher.Seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].first, L"エラー発生!");
        EXPECT_EQ(seen[0].second, expected);
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

std::wstring ListText(HWND list, int index) {
    std::wstring text(static_cast<std::size_t>(::SendMessageW(list, LB_GETTEXTLEN, index, 0)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()))));
    return text;
}

TEST(FormView, FolderListShowsAncestorsAndOpensEntries) {
    wchar_t temp[MAX_PATH + 1]{};
    ::GetTempPathW(MAX_PATH + 1, temp);
    const std::filesystem::path base = std::filesystem::path(temp) / L"dexalo-window-test";
    std::filesystem::remove_all(base);
    std::filesystem::create_directories(base / L"outer" / L"inner" / L"b-child");
    std::filesystem::create_directories(base / L"outer" / L"inner" / L"a-child");
    ViewRig rig;
    win32::Form1View& view = rig.Open();
    const std::wstring inner = (base / L"outer" / L"inner").wstring();
    ASSERT_TRUE(view.Model().SetPath(inner));
    EXPECT_EQ(rig.state.DestFolder, inner + L"\\");

    HWND list = view.ControlWindow(kDir1);
    const auto count = static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0));
    ASSERT_GE(count, 5);
    EXPECT_EQ(ListText(list, count - 4), L"outer");
    EXPECT_EQ(ListText(list, count - 3), L"inner");
    EXPECT_EQ(ListText(list, count - 2), L"a-child");
    EXPECT_EQ(ListText(list, count - 1), L"b-child");
    EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), count - 3);
    const auto& entries = view.FolderListEntries();
    EXPECT_TRUE(entries[0].open && entries[static_cast<std::size_t>(count - 3)].open);
    EXPECT_FALSE(entries[static_cast<std::size_t>(count - 2)].open);
    EXPECT_EQ(entries[0].path.size(), 3u); // the drive root

    // A double-click opens a sub-folder.
    ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(count - 2), 0);
    ::SendMessageW(view.Window(), WM_COMMAND, MAKEWPARAM(600, LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
    EXPECT_EQ(view.Model().Path(), (base / L"outer" / L"inner" / L"a-child").wstring());
    EXPECT_EQ(rig.state.DestFolder, (base / L"outer" / L"inner" / L"a-child").wstring() + L"\\");

    // Enter opens the selected ancestor.
    ::SetFocus(list);
    const auto now = static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0));
    ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(now - 3), 0); // "outer"
    ::PostMessageW(list, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    rig.Pump();
    EXPECT_EQ(view.Model().Path(), (base / L"outer").wstring());
    rig.view.reset();
    std::filesystem::remove_all(base);
}

TEST(FormView, FailedApplyIsReportedAndOkStillEnds) {
    ViewRig rig;
    rig.associations.applyResult = false;
    win32::Form1View& view = rig.Open();
    HWND window = view.Window();
    {
        MessageBoxWatcher watcher;
        ::SendMessageW(view.ControlWindow(Command1(3)), BM_CLICK, 0, 0);
        const auto seen = watcher.Seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].first, L"エラー発生");
        EXPECT_EQ(seen[0].second, L"ファイルの関連付けを変更できませんでした。");
    }
    EXPECT_EQ(rig.storage.writes, 1);
    EXPECT_FALSE(::IsWindow(window));
    rig.Pump();
    EXPECT_TRUE(rig.quitPosted);
}

TEST(FormView, CancelAndCloseEndWithoutWriting) {
    for (bool close : {false, true}) {
        ViewRig rig;
        win32::Form1View& view = rig.Open();
        HWND window = view.Window();
        ::SendMessageW(view.ControlWindow(Check1(11)), BM_CLICK, 0, 0);
        if (close) {
            ::SendMessageW(window, WM_CLOSE, 0, 0);
        } else {
            ::SendMessageW(view.ControlWindow(Command1(4)), BM_CLICK, 0, 0);
        }
        EXPECT_FALSE(::IsWindow(window));
        rig.Pump();
        EXPECT_TRUE(rig.quitPosted);
        EXPECT_EQ(rig.storage.writes, 0);
        EXPECT_TRUE(rig.log.empty());
    }
}

} // namespace
} // namespace dexalo::test
