/* A library that only announces that it was loaded: a marker file beside itself. */
#include <windows.h>

static void WriteMarker(HINSTANCE self) {
    wchar_t path[MAX_PATH + 32];
    DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    while (n > 0 && path[n - 1] != L'\\') --n;
    lstrcpyW(path + n, L"loaded.marker");
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) WriteMarker(self);
    return TRUE;
}
