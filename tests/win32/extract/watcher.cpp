// Reads and dismisses message boxes: watcher.exe LOG STOPFILE [ANSWERS]
// Copied as explorer.exe it stands in for the shell's file manager instead: it appends its
// command line and show state (UTF-8) to explorer.log in its own folder and ends.
// Each box becomes one UTF-8 line "title<TAB>text<TAB>icon=0|1" in LOG (line breaks in the
// text written as \n); then OK is pressed.
// The archiver libraries' password prompts log "...<TAB>prompt" and take the first line of
// ANSWERS when it is "password TEXT" (else キャンセル); their progress windows log
// "...<TAB>progress" and are closed when that line is "close". A used line is removed.
// Ends when STOPFILE exists (after one last sweep) or after ten minutes.
#include <windows.h>
#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>

namespace {

std::set<HWND> handled;
std::wstring logFile, answersFile;

std::string Utf8(const std::wstring& text) {
    std::string out(text.size() * 4, '\0');
    out.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                       out.data(), static_cast<int>(out.size()), nullptr, nullptr)));
    return out;
}

// The first line of the answers file when it starts with `word`, which is then removed.
std::optional<std::string> TakeAnswer(const std::string& word) {
    std::ifstream in(std::filesystem::path(answersFile), std::ios::binary);
    const std::string all{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    in.close();
    const std::size_t end = all.find('\n');
    const std::string line = all.substr(0, end);
    if (line.rfind(word, 0) != 0) return std::nullopt;
    std::ofstream(std::filesystem::path(answersFile), std::ios::binary) << (end == all.npos ? "" : all.substr(end + 1));
    return line.substr(std::min(line.size(), word.size() + 1));
}

BOOL CALLBACK Visit(HWND window, LPARAM) {
    wchar_t cls[16] = {}, title[256] = {}, text[1024] = {};
    GetClassNameW(window, cls, 16);
    if (lstrcmpW(cls, L"#32770") != 0 || !IsWindowVisible(window) || handled.count(window)) return TRUE;
    handled.insert(window);
    GetWindowTextW(window, title, 256);
    GetDlgItemTextW(window, 0xFFFF, text, 1024);
    // Prompts have no message-box text: their first text that is not an icon stands for it.
    bool icon = false;
    for (HWND c = nullptr; (c = FindWindowExW(window, c, L"Static", nullptr));) {
        if ((GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) icon = true;
        else if (!text[0]) GetWindowTextW(c, text, 1024);
    }
    HWND password = FindWindowExW(window, nullptr, L"Edit", nullptr);
    if (password && !(GetWindowLongW(password, GWL_STYLE) & ES_PASSWORD)) password = nullptr;
    const bool progress = FindWindowExW(window, nullptr, L"msctls_progress32", nullptr) != nullptr;
    std::wstring message; // one log line: a line break becomes the two characters \n
    for (wchar_t c : std::wstring(text))
        if (c != L'\r') message += c == L'\n' ? std::wstring(L"\\n") : std::wstring(1, c);
    const char* kind = password ? "prompt" : progress ? "progress" : icon ? "icon=1" : "icon=0";
    std::ofstream(std::filesystem::path(logFile), std::ios::app | std::ios::binary)
        << Utf8(title) << "\t" << Utf8(message) << "\t" << kind << "\n";
    if (progress) {
        if (TakeAnswer("close")) PostMessageW(window, WM_CLOSE, 0, 0);
        return TRUE;
    }
    int button = IDOK;
    if (password) {
        const std::optional<std::string> typed = TakeAnswer("password");
        if (typed) {
            std::wstring wide(typed->size() + 1, L'\0');
            MultiByteToWideChar(CP_UTF8, 0, typed->c_str(), -1, wide.data(), static_cast<int>(wide.size()));
            SendMessageW(password, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
        } else {
            button = IDCANCEL;
        }
    }
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
    return TRUE;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::filesystem::path folder = std::filesystem::path(self).parent_path();
    if (lstrcmpiW(std::filesystem::path(self).filename().c_str(), L"explorer.exe") == 0) {
        STARTUPINFOW startup{};
        GetStartupInfoW(&startup);
        const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
        std::ofstream(folder / L"explorer.log", std::ios::app | std::ios::binary)
            << Utf8(GetCommandLineW()) << "\tshow=" << show << "\n";
        return 0;
    }
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    logFile = argv[1];
    answersFile = argc > 3 ? argv[3] : L"";
    for (int round = 0; round < 12000; ++round) {
        const bool stopping = GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES;
        EnumWindows(Visit, 0);
        for (auto it = handled.begin(); it != handled.end();) it = IsWindow(*it) ? std::next(it) : handled.erase(it);
        if (stopping) break;
        Sleep(50);
    }
    return 0;
}
