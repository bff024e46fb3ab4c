// Dexalo's process entry: closes the current-folder search holes, then hands over to Main.
#include <windows.h>

#include "startup/main.h"
#include "win32/startup_win32.h"

namespace {

using namespace dexalo;

// Started from a document, the current folder is usually Downloads: nothing may be
// loaded or started from there. Must run before any library is bound or program started.
void KeepCurrentFolderOutOfSearches() {
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    ::SetEnvironmentVariableW(L"NoDefaultCurrentDirectoryInExePath", L"1");
}

class Host : public StartupHost {
public:
    explicit Host(ModuleState& state) : state_(state) {}

    ProgramLocation Program() override { return win32::LocationFromPath(win32::ModulePath()); }
    std::wstring ArgumentText() override { return win32::ArgumentTextFrom(::GetCommandLineW()); }
    bool IsExistingFile(const std::wstring& path) override {
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    void ExtractFile(const std::wstring&) override {}
    void LoadWindow() override {}

private:
    ModuleState& state_;
};

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    KeepCurrentFolderOutOfSearches();
    ModuleState state;
    Host host(state);
    win32::FileSettingsStorage storage;
    win32::AnsiCodePage codec;
    Main(state, host, storage, codec);
    return 0;
}
