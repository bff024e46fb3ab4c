// Reads and dismisses message boxes: watcher.exe LOG STOPFILE
// Each box becomes one UTF-8 line "title<TAB>text<TAB>icon=0|1" in LOG; then OK is pressed.
// Ends when STOPFILE exists (after one last sweep) or after two minutes.
#include <windows.h>
#include <shellapi.h>

#include <set>
#include <string>

namespace {

struct Sweep {
    std::set<HWND>* handled;
    std::wstring log;
};

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

void Append(const std::wstring& file, const std::string& line) {
    HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(h);
}

struct Statics {
    std::wstring text;
    bool icon = false;
};

BOOL CALLBACK ReadStatic(HWND child, LPARAM param) {
    auto* found = reinterpret_cast<Statics*>(param);
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    if (lstrcmpiW(cls, L"Static") != 0) return TRUE;
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        found->icon = true;
    } else if (found->text.empty()) {
        wchar_t text[1024] = {};
        GetWindowTextW(child, text, 1024);
        found->text = text;
    }
    return TRUE;
}

BOOL CALLBACK Visit(HWND window, LPARAM param) {
    auto* sweep = reinterpret_cast<Sweep*>(param);
    wchar_t cls[16] = {};
    GetClassNameW(window, cls, 16);
    if (lstrcmpW(cls, L"#32770") != 0 || !IsWindowVisible(window) || sweep->handled->count(window)) return TRUE;

    wchar_t title[256] = {}, text[1024] = {};
    GetWindowTextW(window, title, 256);
    GetDlgItemTextW(window, 0xFFFF, text, 1024);
    Statics statics;
    EnumChildWindows(window, ReadStatic, reinterpret_cast<LPARAM>(&statics));
    const std::wstring message = text[0] ? std::wstring(text) : statics.text;
    Append(sweep->log, Utf8(title) + "\t" + Utf8(message) + "\ticon=" + (statics.icon ? "1" : "0") + "\n");
    sweep->handled->insert(window);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
    return TRUE;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    std::set<HWND> handled;
    Sweep sweep{&handled, argv[1]};
    const std::wstring stop = argv[2];
    for (int round = 0; round < 2400; ++round) {
        const bool stopping = GetFileAttributesW(stop.c_str()) != INVALID_FILE_ATTRIBUTES;
        EnumWindows(Visit, reinterpret_cast<LPARAM>(&sweep));
        for (auto it = handled.begin(); it != handled.end();) it = IsWindow(*it) ? std::next(it) : handled.erase(it);
        if (stopping) break;
        Sleep(50);
    }
    LocalFree(argv);
    return 0;
}
