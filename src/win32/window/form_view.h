#pragma once
// Form1 on screen: real Win32 controls laid out from the model's table, kept in step with
// the model through its observer, and forwarding the user's actions to it.
#include <windows.h>

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "startup/settings.h"
#include "win32/window/form_drop_target.h"
#include "win32/window/form_folder_list.h"
#include "win32/window/form_platform.h"
#include "win32/window/window_handles.h"
#include "window/form1.h"

namespace dexalo {
class ArchiverLibraries;
}

namespace dexalo::win32 {

inline constexpr const wchar_t* kFormClassName = L"DexaloForm1";

class Form1View final : private Form1Observer, private FormHost {
public:
    // The associations come through AssociationService; AssociationAdapter<Associations>
    // wraps the shell's class.
    Form1View(ModuleState& state, ArchiverLibraries& libraries, ExtractFileFn extractFile, ProgramLocation program,
              AssociationService& associations, SettingsStorage& storage, const AnsiCodec& codec);
    ~Form1View() override;
    Form1View(const Form1View&) = delete;
    Form1View& operator=(const Form1View&) = delete;

    // Window start-up (once), then the message loop until the program ends. Returns the exit code.
    int Run();
    // Window start-up alone; Run calls it.
    void Load();
    // One message of the loop: the dialog keys, then normal dispatch.
    void ProcessMessage(MSG& message);

    Form1& Model() { return *model_; }
    HWND Window() const { return window_.get(); }
    HWND ControlWindow(ControlId id) const;
    // The control's rectangle in the window's client area, in pixels at the window's DPI.
    RECT ControlRect(ControlId id) const;
    UINT Dpi() const { return dpi_; }
    const std::vector<FolderEntry>& FolderListEntries() const { return folderEntries_; }

private:
    // Form1Observer
    void ControlChanged(ControlId id, ControlProperty what) override;
    // FormHost
    HWND FormWindow() const override { return window_.get(); }
    void ShowFormWindow() override;
    void EndForm() override;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCommand(WORD id, WORD code, HWND control);
    LRESULT OnControlColor(HDC dc, HWND control, bool listLike);
    void OnMeasureItem(MEASUREITEMSTRUCT& item);
    void OnDrawItem(const DRAWITEMSTRUCT& item);
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    void PaintBackground(HDC dc);

    void CreateControls();
    void ApplyLayout();
    UniqueFont MakeFormFont() const;
    void ApplyFont(UniqueFont font);
    int Px(int twips) const { return ::MulDiv(twips, static_cast<int>(dpi_), kTwipsPerInch); }
    void SizeDriveList();
    void RefreshDriveList(bool queryLabels);
    void RefreshFolderList();
    void OpenFolderEntry(int index);
    void RegisterDropTargets();
    void RevokeDropTargets();
    void QueueDrop(const std::vector<std::wstring>& files);
    void ExtractQueuedDrops();
    std::optional<ControlId> IdOf(HWND control) const;
    HBRUSH BrushFor(std::uint32_t color);
    void DrawDriveItem(const DRAWITEMSTRUCT& item);
    void DrawFolderItem(const DRAWITEMSTRUCT& item);

    OleSession ole_;
    Win32FormPlatform platform_;
    StoredSettingsWriter settings_;
    std::unique_ptr<Form1> model_;
    UniqueWindow window_;
    std::map<int, HWND> controls_; // by control id
    UniqueFont font_;
    std::map<std::uint32_t, UniqueBrush> brushes_;
    ComPtr<FormDropTarget> dropTarget_;
    std::vector<HWND> dropWindows_;
    std::deque<std::vector<std::wstring>> queuedDrops_; // dropped file lists, oldest first
    bool extractingDrops_ = false;
    std::vector<FolderEntry> folderEntries_;
    struct DriveItem {
        wchar_t letter;
        std::wstring text;
    };
    std::vector<DriveItem> drives_;
    std::map<wchar_t, std::wstring> driveLabels_;
    HWND lastFocus_ = nullptr;
    int driveField_ = 0; // height of Drive1's closed field, set to fit the layout
    UINT dpi_ = 96;
    bool loaded_ = false;
    bool ended_ = false;
    int exitCode_ = 0;
};

} // namespace dexalo::win32
