#pragma once
// What Form1 needs from the world outside it. The Win32 view implements these;
// the unit tests use fakes.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "startup/module.h"
#include "window/controls.h"

namespace dexalo {

class ArchiverLibraries;
class SettingsStorage;
class AnsiCodec;

// Window placement, the drive probe, folders, messages and the window's own life.
class FormPlatform {
public:
    virtual ~FormPlatform() = default;
    // SetWindowPos(window, insertAfter, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW).
    virtual void SetWindowPos(WindowHandle window, std::intptr_t insertAfter) = 0;
    // GetFileAttributesA on a two-character drive ("c:"); the call's last error, 0 when it answered.
    virtual std::uint32_t ProbeDrive(const std::wstring& drive) = 0;
    // The full path of an existing folder (no trailing backslash except "C:\"); "x:" names
    // the process's current folder on drive x. nullopt when there is no such folder.
    virtual std::optional<std::wstring> ResolveFolder(const std::wstring& path) = 0;
    // The process's current folder, where both pickers start.
    virtual std::wstring CurrentFolder() = 0;
    // GetTempPathA into a 517-character buffer, up to its first NUL.
    virtual std::wstring TempPath() = 0;
    // The user's decimal separator, for the version numbers.
    virtual wchar_t DecimalSeparator() = 0;
    virtual void MessageBox(const std::wstring& text, const std::wstring& title, std::uint32_t style) = 0;
    // Shows the window, modeless, with focus on its first control.
    virtual void ShowForm() = 0;
    virtual WindowHandle FormHandle() = 0;
    // Ends the program at once: no handler runs afterwards.
    virtual void EndProgram() = 0;
};

// The shell's special folders, call for call.
class ShellFolders {
public:
    using ItemIdList = std::uintptr_t;
    virtual ~ShellFolders() = default;
    // SHGetSpecialFolderLocation: an HRESULT, negative on failure.
    virtual std::int32_t GetSpecialFolderLocation(WindowHandle owner, int folder, ItemIdList& list) = 0;
    // SHGetPathFromIDList into a 261-character buffer; false when it fails.
    virtual bool GetPathFromIDList(ItemIdList list, std::wstring& path) = 0;
    // CoTaskMemFree.
    virtual void Free(ItemIdList list) = 0;
};

// Owns the item id list that GetSpecialFolderLocation hands out, and frees it at scope end.
class OwnedItemIdList {
public:
    explicit OwnedItemIdList(ShellFolders& shell) : shell_(shell) {}
    ~OwnedItemIdList() {
        if (list_ != 0) shell_.Free(list_);
    }
    OwnedItemIdList(const OwnedItemIdList&) = delete;
    OwnedItemIdList& operator=(const OwnedItemIdList&) = delete;

    ShellFolders::ItemIdList get() const { return list_; }
    // For the call's out parameter; only ever filled once.
    ShellFolders::ItemIdList& out() { return list_; }

private:
    ShellFolders& shell_;
    ShellFolders::ItemIdList list_ = 0;
};

inline constexpr int kCsidlPersonal = 5;
inline constexpr int kCsidlDesktopDirectory = 16;

// The file associations of the ten archive types.
class AssociationService {
public:
    virtual ~AssociationService() = default;
    // The four-read test for type typeIndex.
    virtual bool IsAssociated(int typeIndex) = 0;
    // Registers each ticked row (value 1), removes each other row whose AssocState is 1;
    // false when any write or removal failed.
    virtual bool Apply(const std::array<int, 10>& checkValues, const std::array<std::int32_t, 10>& AssocState) = 0;
};

// Lets any object with the same two calls serve Form1.
template <class Associations>
class AssociationAdapter final : public AssociationService {
public:
    explicit AssociationAdapter(Associations& associations) : associations_(associations) {}
    bool IsAssociated(int typeIndex) override { return associations_.IsAssociated(typeIndex); }
    bool Apply(const std::array<int, 10>& checkValues, const std::array<std::int32_t, 10>& AssocState) override {
        return associations_.Apply(checkValues, AssocState);
    }

private:
    Associations& associations_;
};

// Writes the settings file from the module state; false when it could not be created.
class SettingsWriter {
public:
    virtual ~SettingsWriter() = default;
    virtual bool Write(const ModuleState& state) = 0;
};

// The settings file beside the program.
class StoredSettingsWriter final : public SettingsWriter {
public:
    StoredSettingsWriter(ProgramLocation program, SettingsStorage& storage, const AnsiCodec& codec)
        : program_(std::move(program)), storage_(storage), codec_(codec) {}
    bool Write(const ModuleState& state) override;

private:
    ProgramLocation program_;
    SettingsStorage& storage_;
    const AnsiCodec& codec_;
};

// The extraction routine, one file per call.
using ExtractFileFn = std::function<void(const std::wstring& path)>;

// What of a control changed, for the view.
enum class ControlProperty { Caption, Value, Enabled, ForeColor, BackColor, Drive, Path };

class Form1Observer {
public:
    virtual ~Form1Observer() = default;
    virtual void ControlChanged(ControlId id, ControlProperty what) = 0;
};

struct Form1Services {
    ModuleState& state;
    ArchiverLibraries& libraries;
    AssociationService& associations;
    SettingsWriter& settings;
    FormPlatform& platform;
    ShellFolders& shellFolders;
    ExtractFileFn extractFile;
};

} // namespace dexalo
