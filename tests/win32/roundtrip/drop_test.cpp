// Files dropped on Form1 through its registered OLE drop target, in the shell's own data
// object, are extracted by the real extraction with the test-double libraries; nothing else
// happens.
#include <gtest/gtest.h>

#include <ole2.h>
#include <shlobj.h>

#include "win32_test.h"
#include "shell/associations.h"
#include "win32/extract/extract_services.h"
#include "win32/shell/registry_class_root.h"
#include "win32/window/form_view.h"
#include "win32/startup/startup_win32.h"

namespace dexalo::test {
namespace {

void Pump() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        if (message.message != WM_QUIT) ::DispatchMessageW(&message);
}

IDropTarget* TargetOf(HWND window) { return static_cast<IDropTarget*>(::GetPropW(window, L"OleDropTargetInterface")); }

// What the shell hands a drop target when files of one folder are dragged from it.
IDataObject* ShellFiles(const std::wstring& folder, const std::vector<std::wstring>& names) {
    std::vector<PCUITEMID_CHILD> children(names.size());
    IShellFolder* parent = nullptr;
    for (std::size_t i = 0; i < names.size(); ++i) {
        PIDLIST_ABSOLUTE item = nullptr; // kept for the data object's life: the test's
        EXPECT_EQ(::SHParseDisplayName((folder + names[i]).c_str(), nullptr, &item, 0, nullptr), S_OK);
        EXPECT_EQ(::SHBindToParent(item, IID_PPV_ARGS(&parent), &children[i]), S_OK);
    }
    IDataObject* data = nullptr;
    EXPECT_EQ(parent->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(), IID_IDataObject,
                                    nullptr, reinterpret_cast<void**>(&data)), S_OK);
    return data;
}

TEST(DropRoundTrip, DroppedFilesAreExtractedOneByOneInListOrder) {
    ::OleInitialize(nullptr); // for the shell's data object
    const std::wstring sandbox = MakeSandbox(L"drop");
    const std::wstring in = sandbox + L"投下 元\\", out = sandbox + L"out\\", log = sandbox + L"calls.log";
    for (const std::wstring& folder : {in, out, sandbox + L"prog\\設定フォルダ"}) // the last where settings would go
        std::filesystem::create_directories(folder);
    CopyDoubles(sandbox); // found there by name, and they log beside themselves
    ::SetEnvironmentVariableW(L"PATH", sandbox.c_str()); // the binding searches PATH
    const std::pair<const wchar_t*, std::string> archives[] = {
        {L"c.rar", "Unrar.count=2\nUnrar.entry=top\\a\nUnrar.entry=top\\b\n"},
        {L"a.lzh", "Unlha.count=2\nUnlha.entry=a.txt\nUnlha.entry=b.txt\n"},
        {L"b c.zip", "UnZip.count=2\nUnZip.entry=a.txt\nUnZip.entry=b.txt\n"}};
    for (const auto& [name, behaviour] : archives) {
        WriteBytes(in + name, "archive bytes");
        WriteBytes(in + name + L".dbl", behaviour);
    }

    ModuleState state{.DestFolder = out, .OptionFlags = 0};
    win32::Win32Extraction extraction(state);
    win32::RegistryClassRoot root;
    Associations associations(root, ProgramLocation{sandbox + L"prog", L"dexalo"});
    AssociationAdapter<Associations> associationService(associations);
    win32::FileSettingsStorage storage;
    win32::AnsiCodePage codec;
    win32::Form1View view(
        state, extraction.Libraries(), [&](const std::wstring& path) { extraction.EXTRACT_FILE(path); },
        ProgramLocation{sandbox + L"prog", L"dexalo"}, associationService, storage, codec);
    view.Load();
    Pump();
    ASSERT_NE(view.Window(), nullptr);
    ::DeleteFileW(log.c_str()); // only the drop's calls from here

    {
        Watcher watcher(sandbox);
        // On a version line, as a user would let go of the files over the panel.
        IDropTarget* target = TargetOf(view.ControlWindow(Label1(4)));
        ASSERT_NE(target, nullptr);
        IDataObject* data = ShellFiles(in, {L"c.rar", L"a.lzh", L"b c.zip"});
        ASSERT_NE(data, nullptr);
        DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        ASSERT_EQ(target->DragEnter(data, MK_LBUTTON, POINTL{300, 200}, &effect), S_OK);
        EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
        ASSERT_EQ(target->Drop(data, 0, POINTL{300, 200}, &effect), S_OK);
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
    EXPECT_FALSE(std::filesystem::exists(sandbox + L"prog\\設定フォルダ\\設定.ini"));

    // A source that offers only "move" still gets its files extracted, but is never told they
    // were moved: it could delete them.
    DWORD effect = DROPEFFECT_MOVE;
    ASSERT_EQ(TargetOf(view.Window())->Drop(ShellFiles(in, {L"a.lzh"}), 0, POINTL{10, 10}, &effect), S_OK);
    Pump();
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
    EXPECT_EQ(ReadLines(log, ".Run(").size(), 4u);
}

} // namespace
} // namespace dexalo::test
