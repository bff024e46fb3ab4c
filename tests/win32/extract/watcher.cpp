// Reads and dismisses message boxes: watcher.exe LOG STOPFILE [ANSWERS]
// Each box becomes one UTF-8 line "title<TAB>text<TAB>icon=0|1" in LOG (line breaks in the
// text written as \n); then OK is pressed.
// The archiver libraries' password prompts log "...<TAB>prompt" and take the first line of
// ANSWERS when it is "password TEXT" (else キャンセル); their progress windows log
// "...<TAB>progress" and are closed when that line is "close". A used line is removed.
// Ends when STOPFILE exists (after one last sweep) or after two minutes.
#include <windows.h>
#include <shellapi.h>

#include <optional>
#include <set>
#include <string>

namespace {

struct Sweep {
    std::set<HWND>* handled;
    std::wstring log;
    std::wstring answers;
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

// The first line of the answers file when it starts with `word`, which is then removed.
std::optional<std::string> TakeAnswer(const std::wstring& file, const std::string& word) {
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    char buffer[4096];
    DWORD read = 0;
    ReadFile(h, buffer, sizeof buffer, &read, nullptr);
    const std::string all(buffer, read);
    const std::size_t end = all.find('\n');
    const std::string line = all.substr(0, end);
    std::optional<std::string> found;
    if (line.rfind(word, 0) == 0) {
        found = line.size() > word.size() ? line.substr(word.size() + 1) : "";
        const std::string rest = end == std::string::npos ? "" : all.substr(end + 1);
        DWORD written = 0;
        SetFilePointer(h, 0, nullptr, FILE_BEGIN);
        WriteFile(h, rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr);
        SetEndOfFile(h);
    }
    CloseHandle(h);
    return found;
}

struct Statics {
    std::wstring text;
    bool icon = false;
    HWND password = nullptr;
    bool progress = false;
};

BOOL CALLBACK ReadStatic(HWND child, LPARAM param) {
    auto* found = reinterpret_cast<Statics*>(param);
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    if (lstrcmpiW(cls, L"Edit") == 0 && (GetWindowLongW(child, GWL_STYLE) & ES_PASSWORD)) found->password = child;
    if (lstrcmpiW(cls, L"msctls_progress32") == 0) found->progress = true;
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
    std::wstring message;  // one log line: a line break becomes the two characters \n
    for (wchar_t c : text[0] ? std::wstring(text) : statics.text)
        if (c != L'\r') message += c == L'\n' ? std::wstring(L"\\n") : std::wstring(1, c);
    const char* kind = statics.password ? "prompt" : statics.progress ? "progress" : statics.icon ? "icon=1" : "icon=0";
    Append(sweep->log, Utf8(title) + "\t" + Utf8(message) + "\t" + kind + "\n");
    sweep->handled->insert(window);
    int button = IDOK;
    if (statics.progress) {
        if (!TakeAnswer(sweep->answers, "close")) return TRUE;
        PostMessageW(window, WM_CLOSE, 0, 0);
        return TRUE;
    }
    if (statics.password) {
        const std::optional<std::string> typed = TakeAnswer(sweep->answers, "password");
        if (typed) {
            const int n = MultiByteToWideChar(CP_UTF8, 0, typed->c_str(), -1, nullptr, 0);
            std::wstring wide(static_cast<size_t>(n > 0 ? n : 1), L'\0');
            MultiByteToWideChar(CP_UTF8, 0, typed->c_str(), -1, wide.data(), n);
            SendMessageW(statics.password, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
        } else {
            button = IDCANCEL;
        }
    }
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
    return TRUE;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    std::set<HWND> handled;
    Sweep sweep{&handled, argv[1], argc > 3 ? argv[3] : L""};
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
