#include "window/form1.h"

#include <algorithm>
#include <stdexcept>

#include "extract/archiver_library.h"
#include "startup/guarded.h"
#include "window/version_panel.h"

namespace dexalo {

namespace {

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }
wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool SameFolder(const std::wstring& a, const std::wstring& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](wchar_t x, wchar_t y) { return AsciiLower(x) == AsciiLower(y); });
}

// The drive entry for a text that starts with a drive letter, or empty when it does not.
std::wstring DriveEntry(const std::wstring& text) {
    if (text.empty() || !IsAsciiLetter(text[0]) || (text.size() > 1 && text[1] != L':')) {
        return {};
    }
    return std::wstring{AsciiLower(text[0]), L':'};
}

std::int32_t FloorHalf(std::int32_t v) { return v >= 0 ? v / 2 : -((-static_cast<std::int64_t>(v) + 1) / 2); }

} // namespace

std::wstring DriveProbeMessage(std::uint32_t outcome) {
    switch (outcome) {
    case 2:
    case 3:
        return L"指定したドライブが見つかりません。";
    case 15:
        return L"ドライブが使用可能状態ではないです。";
    case 21:
        return L"ディスクがセットされていません。ディスクを入れてください。";
    case 31:
        return L"指定したディスクはフォーマットが違います。フォーマットし直してください。";
    default:
        return L"その他のエラー。謎です。";
    }
}

Form1::Form1(Form1Services services) : s_(std::move(services)), controls_(DesignControls()) {
    // Both pickers start on the process's current folder, as the platform's lists do.
    if (auto folder = s_.platform.ResolveFolder(s_.platform.CurrentFolder())) {
        path_ = *folder;
    }
    drive_ = DriveEntry(path_);
}

const ControlState& Form1::Control(ControlId id) const {
    auto it = std::find_if(controls_.begin(), controls_.end(), [&](const ControlState& c) { return c.id == id; });
    if (it == controls_.end()) {
        throw std::out_of_range("Form1 has no such control");
    }
    return *it;
}

ControlState& Form1::Mutable(ControlId id) { return const_cast<ControlState&>(Control(id)); }

void Form1::Notify(ControlId id, ControlProperty what) {
    if (observer_ != nullptr) {
        observer_->ControlChanged(id, what);
    }
}

template <class T>
void Form1::SetProperty(ControlId id, T ControlState::*field, T value, ControlProperty what) {
    ControlState& c = Mutable(id);
    if (c.*field != value) {
        c.*field = std::move(value);
        Notify(id, what);
    }
}

void Form1::SetCaption(ControlId id, std::wstring caption) {
    SetProperty(id, &ControlState::caption, std::move(caption), ControlProperty::Caption);
}

void Form1::SetEnabled(ControlId id, bool enabled) {
    SetProperty(id, &ControlState::enabled, enabled, ControlProperty::Enabled);
}

void Form1::SetForeColor(ControlId id, Color color) {
    SetProperty(id, &ControlState::foreColor, color, ControlProperty::ForeColor);
}

void Form1::SetBackColor(ControlId id, Color color) {
    SetProperty(id, &ControlState::backColor, color, ControlProperty::BackColor);
}

bool Form1::SetCheckValue(int index, int value) {
    // Only unticked and ticked: a stray value from a hand-edited settings file is refused
    // rather than shown as a greyed box that would then count as a flag of 2.
    if (ended_ || index < 0 || index >= kCheckCount || (value != 0 && value != 1)) {
        return false;
    }
    ControlState& box = Mutable(Check1(index));
    if (box.value == value) {
        return true;
    }
    box.value = value;
    Notify(box.id, ControlProperty::Value);
    Check1_Click(index);
    return true;
}

bool Form1::SetDrive(const std::wstring& drive) {
    const std::wstring entry = DriveEntry(drive);
    if (ended_ || entry.empty()) {
        return false;
    }
    if (entry == drive_) {
        return true;
    }
    drive_ = entry;
    Notify(kDrive1, ControlProperty::Drive);
    Drive1_Change();
    return true;
}

bool Form1::SetPath(const std::wstring& path) {
    if (ended_ || path.empty()) {
        return false;
    }
    const std::optional<std::wstring> folder = s_.platform.ResolveFolder(path);
    if (!folder || folder->empty()) {
        return false;
    }
    if (SameFolder(*folder, path_)) {
        return true;
    }
    path_ = *folder;
    Notify(kDir1, ControlProperty::Path);
    Dir1_Change();
    return true;
}

void Form1::CheckClicked(int index) {
    if (ended_ || index < 0 || index >= kCheckCount) {
        return;
    }
    SetCheckValue(index, Control(Check1(index)).value == 1 ? 0 : 1);
}

void Form1::Check1_Click(int index) {
    // Every click re-applies the keep-in-front state, whichever box it was.
    s_.platform.SetWindowPos(s_.state.MainWindowHandle, Control(Check1(12)).value - 2);
    if (index > 9) {
        OPTION_SET();
    }
}

void Form1::OPTION_SET() {
    if (TypeIndex_ == 10) {
        return;
    }
    const int openAfter = Control(Check1(11)).value;
    bool enabled = true;
    std::uint32_t back = kWhite;
    if (Control(Check1(10)).value == 1) {
        s_.state.OptionFlags = 2 * openAfter + 1;
        enabled = false;
        back = kLightGrey;
    } else {
        s_.state.OptionFlags = 2 * openAfter;
    }
    SetEnabled(Command1(0), enabled);
    SetEnabled(Command1(1), enabled);
    SetEnabled(Command1(2), enabled);
    SetEnabled(kDrive1, enabled);
    SetEnabled(kDir1, enabled);
    SetBackColor(kDrive1, back);
    SetBackColor(kDir1, back);
}

void Form1::Drive1_Change() {
    const std::uint32_t outcome = s_.platform.ProbeDrive(drive_.substr(0, 2));
    if (outcome == 0) {
        SetPath(std::wstring{AsciiUpper(drive_[0]), L':'});
        return;
    }
    s_.platform.MessageBox(DriveProbeMessage(outcome), kDriveErrorTitle, kStopStyle);
    // Back to the drive the folder list still shows; this runs the handler again for it.
    SetDrive(path_.substr(0, 1) + L":");
}

void Form1::Dir1_Change() { s_.state.DestFolder = path_.size() == 3 ? path_ : path_ + L"\\"; }

void Form1::FilesDropped(const std::vector<std::wstring>& files) {
    for (const std::wstring& file : files) {
        if (ended_) {
            return;
        }
        Guarded([&] { s_.extractFile(file); }); // a file that fails is skipped
    }
}

void Form1::Form_Unload() { End(); }

void Form1::End() {
    if (ended_) {
        return;
    }
    ended_ = true;
    s_.platform.EndProgram();
}

void Form1::Command1_Click(int index) {
    if (ended_) {
        return;
    }
    switch (index) {
    case 0:
        SpecialFolderPreset(kCsidlDesktopDirectory);
        break;
    case 1:
        SpecialFolderPreset(kCsidlPersonal);
        break;
    case 2:
        TempPreset();
        break;
    case 3:
        ApplyAndSave();
        End();
        break;
    case 4:
        End();
        break;
    case 5:
        ApplyAndSave();
        break;
    case 6:
        Reset();
        break;
    default:
        break;
    }
}

void Form1::SpecialFolderPreset(int folder) {
    std::wstring path;
    bool found = false;
    {
        OwnedItemIdList list(s_.shellFolders); // freed once the path is read, whatever follows
        if (s_.shellFolders.GetSpecialFolderLocation(s_.platform.FormHandle(), folder, list.out()) < 0) {
            return;
        }
        found = s_.shellFolders.GetPathFromIDList(list.get(), path);
    }
    if (found) {
        SetPath(path);
    }
    if (!found || path.empty()) {
        return; // no path to point the pickers at
    }
    SetDrive(path.substr(0, 1) + L":");
    // Again after the drive: its change handling moved Dir1 to the drive's current folder.
    SetPath(path);
}

void Form1::TempPreset() {
    const std::wstring path = s_.platform.TempPath();
    if (path.empty()) {
        return;
    }
    SetDrive(path.substr(0, 1) + L":");
    SetPath(path);
}

void Form1::ApplyAndSave() {
    std::array<int, 10> values{};
    for (int i = 0; i < 10; ++i) {
        values[i] = Control(Check1(i)).value;
    }
    bool associated = false;
    Guarded([&] { associated = s_.associations.Apply(values, AssocState_); });
    const bool saved = s_.settings.Write(s_.state);
    // Told after the file is written, so a message left open cannot hold the save back.
    if (!associated) {
        s_.platform.MessageBox(kAssociationFailedText, kApplyErrorTitle, kStopStyle);
    }
    if (!saved) {
        s_.platform.MessageBox(kSettingsFailedText, kApplyErrorTitle, kStopStyle);
    }
}

void Form1::Reset() {
    for (int i = 0; i <= 11; ++i) {
        SetCheckValue(i, 0);
    }
    SpecialFolderPreset(kCsidlDesktopDirectory);
}

void Form1::DLL_NASI(int Index, std::wstring Dll) {
    if (Index < 0 || Index >= kLabelCount) {
        return;
    }
    SetCaption(Label1(Index), Dll + kMissingTail);
    SetForeColor(Label1(Index), kMidGrey);
    SetEnabled(Check1(Index), false);
}

bool Form1::VersionStep(int index) {
    if (index < 0 || index >= kLibraryCount) {
        return false;
    }
    const std::optional<std::int32_t> version = s_.libraries.GetVersion(static_cast<Library>(index));
    const VersionRow& row = kVersionRows[index];
    if (!version) {
        DLL_NASI(index, row.missingLeader);
        return false;
    }
    const std::wstring text = VersionText(*version, s_.platform.DecimalSeparator());
    // unrar32 answers 0 when its companion Unrar.dll is missing.
    if (index == kRarIndex && *version == 0) {
        DLL_NASI(index, L"");
        SetCaption(Label1(index), kUnrarNeedsDll);
        return false;
    }
    SetCaption(Label1(index), row.leader + text);
    return true;
}

void Form1::Form_Load() {
    if (loaded_ || ended_) {
        return;
    }
    loaded_ = true;
    // Each step of start-up stands on its own: a failure abandons that step only.
    for (int i = 0; i < 10; ++i) {
        bool present = false;
        Guarded([&] { present = VersionStep(i); });
        if (present) {
            Guarded([&] {
                if (s_.associations.IsAssociated(i)) {
                    AssocState_[i] = 1;
                }
            });
        }
    }
    Guarded([&] {
        for (TypeIndex_ = 0; TypeIndex_ < 10; ++TypeIndex_) {
            SetCheckValue(TypeIndex_, AssocState_[TypeIndex_]);
        }
    });
    // A copy: the drive change below rewrites DestFolder from the drive's current folder.
    const std::wstring saved = s_.state.DestFolder;
    Guarded([&] { SetDrive(saved.substr(0, 3)); });
    Guarded([&] { SetPath(saved); });
    const std::int32_t flags = s_.state.OptionFlags;
    Guarded([&] { SetCheckValue(11, FloorHalf(flags)); });
    TypeIndex_ = 0;
    Guarded([&] { SetCheckValue(10, s_.state.OptionFlags % 2); });
    if (ended_) {
        return;
    }
    s_.platform.ShowForm();
    s_.state.MainWindowHandle = s_.platform.FormHandle();
}

} // namespace dexalo
