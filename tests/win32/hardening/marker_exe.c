/* A program that only announces that it ran: a marker file beside itself, holding its command line. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE self, HINSTANCE prev, PWSTR args, int show) {
    (void)self; (void)prev; (void)show;
    wchar_t path[MAX_PATH + 32];
    DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    while (n > 0 && path[n - 1] != L'\\') --n;
    lstrcpyW(path + n, L"ran.marker");
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(h, args, (DWORD)(lstrlenW(args) * sizeof(wchar_t)), &written, NULL);
    CloseHandle(h);
    return 0;
}
