// Files dropped on Form1 through its registered OLE drop target are extracted by the real
// extraction, with the test-double libraries that sit beside this executable.
#include <gtest/gtest.h>

#include <ole2.h>
#include <shlobj.h>

#include <cstring>

#include "win32_test.h"
#include "win32/extract/extract_services.h"
#include "win32/window/form_view.h"
#include "win32/startup/startup_win32.h"

namespace dexalo::test {
namespace {

// A data object carrying a file list (CF_HDROP), as the shell's drag source hands it over.
class FileListData final : public IDataObject {
public:
    explicit FileListData(std::vector<std::wstring> files, bool withFiles = true)
        : files_(std::move(files)), withFiles_(withFiles) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        *out = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (QueryGetData(format) != S_OK) return DV_E_FORMATETC;
        std::wstring list;
        for (const auto& f : files_) list += f + L'\0';
        list += L'\0';
        HGLOBAL memory = ::GlobalAlloc(GHND, sizeof(DROPFILES) + list.size() * sizeof(wchar_t));
        auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
        drop->pFiles = sizeof(DROPFILES);
        drop->fWide = TRUE;
        std::memcpy(drop + 1, list.data(), list.size() * sizeof(wchar_t));
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

// The drop must not touch the class root: no association is tested or written here.
class NoAssociations final : public AssociationService {
public:
    bool IsAssociated(int) override { return false; }
    bool Apply(const std::array<int, 10>&, const std::array<std::int32_t, 10>&) override { return true; }
};

class NoStorage final : public SettingsStorage {
public:
    int writes = 0;
    std::optional<std::string> ReadAll(const std::wstring&) override { return std::nullopt; }
    bool WriteAll(const std::wstring&, const std::string&) override { return ++writes, true; }
};

void Pump() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

IDropTarget* TargetOf(HWND window) {
    return static_cast<IDropTarget*>(::GetPropW(window, L"OleDropTargetInterface"));
}

TEST(DropRoundTrip, DroppedFilesAreExtractedOneByOneInListOrder) {
    const std::wstring root = MakeSandbox(L"drop");
    const std::wstring in = root + L"投下 元\\", out = root + L"out\\";
    std::filesystem::create_directories(in);
    std::filesystem::create_directories(out);
    CopyDoubles(root); // found there by name, and they log beside themselves
    ::SetEnvironmentVariableW(L"PATH", root.c_str()); // the binding searches PATH
    const std::wstring log = root + L"calls.log";
    const auto archive = [&](const std::wstring& name, const std::string& behaviour) {
        WriteBytes(in + name, "archive bytes");
        WriteBytes(in + name + L".dbl", behaviour);
        return in + name;
    };
    const std::vector<std::wstring> dropped = {
        archive(L"c.rar", "Unrar.count=2\nUnrar.entry=top\\a\nUnrar.entry=top\\b\n"),
        archive(L"a.lzh", "Unlha.count=2\nUnlha.entry=a.txt\nUnlha.entry=b.txt\n"),
        archive(L"b c.zip", "UnZip.count=2\nUnZip.entry=a.txt\nUnZip.entry=b.txt\n"),
    };

    ModuleState state{.DestFolder = out, .OptionFlags = 0};
    win32::Win32Extraction extraction(state);
    NoAssociations associations;
    NoStorage storage;
    win32::AnsiCodePage codec;
    std::wstring self = ExeFolder();
    self.pop_back();
    win32::Form1View view(
        state, extraction.Libraries(), [&](const std::wstring& path) { extraction.EXTRACT_FILE(path); },
        ProgramLocation{self, L"test_roundtrip_drop"}, associations, storage, codec);
    view.Load();
    Pump();
    ASSERT_NE(view.Window(), nullptr);
    ASSERT_EQ(state.MainWindowHandle, reinterpret_cast<WindowHandle>(view.Window()));
    // The versions came from the doubles: every library is there.
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(::IsWindowEnabled(view.ControlWindow(Check1(i)))) << i;
    // The window and every control take drops.
    EXPECT_NE(TargetOf(view.Window()), nullptr);
    for (const ControlState& c : DesignControls()) {
        EXPECT_NE(TargetOf(view.ControlWindow(c.id)), nullptr) << int(c.id.array) << "(" << c.id.index << ")";
    }
    ::DeleteFileW(log.c_str()); // only the drop's calls from here

    {
        Watcher watcher(root);
        // On a version line, as a user would let go of the files over the panel.
        IDropTarget* target = TargetOf(view.ControlWindow(Label1(4)));
        ASSERT_NE(target, nullptr);
        FileListData text({}, false); // anything but a file list is refused
        DWORD effect = DROPEFFECT_COPY;
        target->DragEnter(&text, MK_LBUTTON, POINTL{300, 200}, &effect);
        EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
        target->Drop(&text, 0, POINTL{300, 200}, &effect);
        FileListData data(dropped);
        effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        ASSERT_EQ(target->DragEnter(&data, MK_LBUTTON, POINTL{300, 200}, &effect), S_OK);
        EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
        effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        ASSERT_EQ(target->Drop(&data, 0, POINTL{300, 200}, &effect), S_OK);
        // Back before any library call: the source is never held up by the extraction.
        EXPECT_EQ(ReadLines(log), std::vector<std::string>{});
        Pump();
        EXPECT_EQ(watcher.Stop(), std::vector<std::string>{});
    }

    // One library operation per file, in the drop's order, owned by the window, each with
    // the whole path (blanks and all) and the destination the single-folder check chose.
    const std::string h = std::to_string(reinterpret_cast<ULONG_PTR>(view.Window()));
    const std::string i = Cp932(in), o = Cp932(out);
    EXPECT_EQ(ReadLines(log, ".Run("), (std::vector<std::string>{
                                 "Unrar.Run(" + h + ",x -u \"" + i + "c.rar\" \"" + o + "\",0)",
                                 "Unlha.Run(" + h + ",x -a1 -gq1 -m1 \"" + i + "a.lzh\" \"" + o + "a\\\",0)",
                                 "UnZip.Run(" + h + ",-u -qq \"" + i + "b c.zip\" \"" + o + "b c\\\",0)",
                             }));
    // A drop extracts and nothing else: the window stays, nothing is saved or moved.
    EXPECT_TRUE(::IsWindow(view.Window()));
    EXPECT_EQ(state.DestFolder, out);
    EXPECT_EQ(state.OptionFlags, 0);
    EXPECT_EQ(storage.writes, 0);

    // A source that offers only "move" still gets its files extracted, but is never told they
    // were moved: it could delete them.
    FileListData one({dropped[1]});
    DWORD effect = DROPEFFECT_MOVE;
    ASSERT_EQ(TargetOf(view.Window())->Drop(&one, 0, POINTL{10, 10}, &effect), S_OK);
    Pump();
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
    EXPECT_EQ(ReadLines(log, ".Run(").size(), 4u);

    // A drop that arrives while a message box of an earlier drop is open (its loop delivers
    // the window's messages) waits until the earlier list is done.
    {
        Watcher watcher(root);
        WriteBytes(in + L"not an archive", "text");
        FileListData first({in + L"not an archive", dropped[0]}), second({dropped[2]});
        effect = DROPEFFECT_COPY;
        ASSERT_EQ(TargetOf(view.Window())->Drop(&first, 0, POINTL{10, 10}, &effect), S_OK);
        ASSERT_EQ(TargetOf(view.Window())->Drop(&second, 0, POINTL{10, 10}, &effect), S_OK);
        Pump();
        EXPECT_EQ(watcher.Stop().size(), 1u);
    }
    const auto runs = ReadLines(log, ".Run(");
    ASSERT_EQ(runs.size(), 6u);
    EXPECT_EQ(runs[4].rfind("Unrar.Run(", 0), 0u);
    EXPECT_EQ(runs[5].rfind("UnZip.Run(", 0), 0u);
}

} // namespace
} // namespace dexalo::test
