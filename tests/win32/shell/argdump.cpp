// Run by the shell through a registered verb: writes its own command line, as UTF-16, to the
// file named by DEXALO_ARGDUMP_OUT.
#include <windows.h>

int main() {
    wchar_t out[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"DEXALO_ARGDUMP_OUT", out, MAX_PATH) == 0) return 2;
    const HANDLE file = ::CreateFileW(out, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    const wchar_t* line = ::GetCommandLineW();
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, line, static_cast<DWORD>(::lstrlenW(line) * sizeof(wchar_t)), &written, nullptr);
    ::CloseHandle(file);
    return ok ? 0 : 4;
}
