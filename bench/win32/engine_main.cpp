// The engine's main operation alone, as the baseline for dexalo.exe end to end:
//   engine_main DLL EXPORT OPTIONS ARCHIVE DESTINATION
// loads the archiver DLL, calls its main operation with the command line the program
// builds (OPTIONS "ARCHIVE" "DESTINATION"), and exits with its result.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

struct LibraryDeleter {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using UniqueLibrary = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryDeleter>;

std::string Ansi(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

using MainOperation = int(WINAPI*)(HWND, LPCSTR, LPSTR, DWORD);

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: engine_main DLL EXPORT OPTIONS ARCHIVE DESTINATION\n");
        return 2;
    }
    const UniqueLibrary dll(LoadLibraryW(argv[1]));
    if (!dll) {
        std::fprintf(stderr, "cannot load the library (error %lu)\n", GetLastError());
        return 3;
    }
    const auto run = reinterpret_cast<MainOperation>(
        reinterpret_cast<void*>(GetProcAddress(dll.get(), Ansi(argv[2]).c_str())));
    if (run == nullptr) {
        std::fprintf(stderr, "no such export\n");
        return 3;
    }
    const std::string line = Ansi(argv[3]) + " \"" + Ansi(argv[4]) + "\" \"" + Ansi(argv[5]) + "\"";
    char output[1] = {};
    const int result = run(nullptr, line.c_str(), output, 0);
    std::printf("0x%X\n", static_cast<unsigned>(result));
    return result;
}
