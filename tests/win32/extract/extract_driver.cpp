// Command-line extraction alone, for testing it apart from the window code:
// extract_driver.exe FILE [FILE...], settings from driver.ini beside it (UTF-8:
// OptionFlags on line 1, DestFolder on line 2). The argument text is cut at blanks.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "win32/extract_services.h"

namespace {

std::wstring Wide(const std::string& utf8) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
    return out;
}

// After the program's own name (quoted or not) and the blanks that follow it.
std::wstring ArgumentText(const std::wstring& line) {
    size_t at = 0;
    if (!line.empty() && line[0] == L'"') {
        at = line.find(L'"', 1);
        at = at == std::wstring::npos ? line.size() : at + 1;
    } else {
        at = line.find(L' ');
        if (at == std::wstring::npos) at = line.size();
    }
    while (at < line.size() && line[at] == L' ') ++at;
    return line.substr(at);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder = self;
    folder = folder.substr(0, folder.rfind(L'\\') + 1);

    dexalo::ModuleState state;
    std::ifstream ini(std::filesystem::path(folder + L"driver.ini"));
    std::string flags, dest;
    std::getline(ini, flags);
    std::getline(ini, dest);
    state.OptionFlags = std::stoi(flags);
    state.DestFolder = Wide(dest);

    dexalo::win32::Win32Extraction extraction(state);
    const std::wstring text = ArgumentText(GetCommandLineW());
    if (text.empty()) return 0;
    size_t start = 0;
    for (;;) {
        const size_t blank = text.find(L' ', start);
        extraction.EXTRACT_FILE(text.substr(start, blank == std::wstring::npos ? std::wstring::npos : blank - start));
        if (blank == std::wstring::npos) break;
        start = blank + 1;
    }
    return 0;
}
