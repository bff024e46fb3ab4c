#pragma once
// Form1, the settings window, without any toolkit: its controls' state and its handlers.
// Setting a value from code runs the same handler as the user's action, and setting the
// value a control already has runs none; start-up and the buttons rely on both.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "window/controls.h"
#include "window/form_services.h"

namespace dexalo {

inline constexpr const wchar_t* kDriveErrorTitle = L"エラー発生!";
inline constexpr const wchar_t* kApplyErrorTitle = L"エラー発生";
inline constexpr const wchar_t* kAssociationFailedText = L"ファイルの関連付けを変更できませんでした。";
inline constexpr const wchar_t* kSettingsFailedText = L"設定を保存できませんでした。";

// The message for a drive probe's outcome (not 0).
std::wstring DriveProbeMessage(std::uint32_t outcome);

class Form1 {
public:
    explicit Form1(Form1Services services);
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    void SetObserver(Form1Observer* observer) { observer_ = observer; }

    // State.
    const ControlState& Control(ControlId id) const;
    const std::vector<ControlState>& Controls() const { return controls_; }
    const std::wstring& Drive() const { return drive_; } // Drive1's entry: "c:"
    const std::wstring& Path() const { return path_; }   // Dir1's path: "C:\Work", "C:\"
    std::int32_t TypeIndex() const { return TypeIndex_; }
    const std::array<std::int32_t, 10>& AssocState() const { return AssocState_; }
    bool Ended() const { return ended_; }

    // Property sets, from code or forwarded from the view. False when the value is refused
    // (then nothing changes and no handler runs).
    bool SetCheckValue(int index, int value);
    bool SetDrive(const std::wstring& drive);
    bool SetPath(const std::wstring& path);

    // The user's actions, forwarded by the view.
    void CheckClicked(int index); // toggles the box
    void Command1_Click(int index);
    void FilesDropped(const std::vector<std::wstring>& files);
    void Form_Unload(); // the window was closed

    // Window start-up, run once.
    void Form_Load();

    // The window's own procedures.
    void DLL_NASI(int Index, std::wstring Dll);
    void OPTION_SET();
    bool VersionStep(int index); // true when the library counts as present

private:
    ControlState& Mutable(ControlId id);
    void Notify(ControlId id, ControlProperty what);
    // Stores a property and tells the view, only when the value really changes.
    template <class T>
    void SetProperty(ControlId id, T ControlState::*field, T value, ControlProperty what);
    void SetCaption(ControlId id, std::wstring caption);
    void SetEnabled(ControlId id, bool enabled);
    void SetForeColor(ControlId id, Color color);
    void SetBackColor(ControlId id, Color color);

    void Check1_Click(int index);
    void Drive1_Change();
    void Dir1_Change();

    void SpecialFolderPreset(int folder);
    void TempPreset();
    void ApplyAndSave();
    void Reset();
    void End();

    Form1Services s_;
    Form1Observer* observer_ = nullptr;
    std::vector<ControlState> controls_;
    std::wstring drive_;
    std::wstring path_;
    std::int32_t TypeIndex_ = 0;
    std::array<std::int32_t, 10> AssocState_{};
    bool loaded_ = false;
    bool ended_ = false;
};

} // namespace dexalo
