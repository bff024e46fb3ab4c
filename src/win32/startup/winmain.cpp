// Dexalo's process entry: closes the current-folder search holes, then hands over to Main.
#include <windows.h>

#include "shell/associations.h"
#include "startup/main.h"
#include "common/win32/quiet_errors.h"
#include "win32/extract/extract_services.h"
#include "win32/window/form_view.h"
#include "win32/shell/program_associations.h"
#include "win32/startup/startup_win32.h"
#include "window/form_services.h"

namespace {

using namespace dexalo;

// Started from a document, the current folder is usually Downloads: nothing may be
// loaded or started from there. Must run before any library is bound or program started.
void KeepCurrentFolderOutOfSearches() {
    // Looked up, not imported: Windows 7 without its loader update lacks it, and the
    // program must still start there, with the older and weaker switch.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) ::SetDllDirectoryW(L"");
    ::SetEnvironmentVariableW(L"NoDefaultCurrentDirectoryInExePath", L"1");
}

class Host : public StartupHost {
public:
    Host(ModuleState& state, SettingsStorage& storage, const AnsiCodec& codec)
        : state_(state), storage_(storage), codec_(codec), program_(win32::LocationFromPath(win32::ModulePath())),
          extraction_(state) {}

    ProgramLocation Program() override { return program_; }
    std::wstring ArgumentText() override { return win32::ArgumentTextFrom(::GetCommandLineW()); }
    bool IsExistingFile(const std::wstring& path) override {
        const win32::QuietSystemErrors quiet; // an empty drive is just "no such file"
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    void ExtractFile(const std::wstring& path) override { extraction_.EXTRACT_FILE(path); }

    void LoadWindow() override {
        win32::ProgramAssociations associations(program_);
        AssociationAdapter<Associations> adapter(associations.get());
        win32::Form1View view(
            state_, extraction_.Libraries(), [this](const std::wstring& path) { extraction_.EXTRACT_FILE(path); },
            program_, adapter, storage_, codec_);
        exitCode = view.Run();
    }

    int exitCode = 0;

private:
    ModuleState& state_;
    SettingsStorage& storage_;
    const AnsiCodec& codec_;
    ProgramLocation program_;
    win32::Win32Extraction extraction_;
};

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    KeepCurrentFolderOutOfSearches();
    ModuleState state;
    win32::FileSettingsStorage storage;
    win32::AnsiCodePage codec;
    Host host(state, storage, codec);
    Main(state, host, storage, codec);
    return host.exitCode;
}
