// Test double for the archiver libraries. One source, built once per library file name
// with DOUBLE_PREFIX (export prefix) and DOUBLE_KIND (0 = count library, 1 = Ish, 2 = Jack).
//
// Behaviour comes from "<archive>.dbl" beside the archive (raw ANSI bytes), one "key=value"
// a line, keys starting with the prefix: Unlha.count=2, Unlha.entry=foo/a.txt (repeatable,
// in listing order), Unlha.run=0, Ish.check=1. Versions come from versions.dbl beside the DLL
// (Unlha.version=262). The calls the tests look at are appended to calls.log beside the DLL,
// texts as received: GetFileCount, the main operation and Combine.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

#define DOUBLE_CAT2(a, b) a##b
#define DOUBLE_CAT(a, b) DOUBLE_CAT2(a, b)
#define DOUBLE_STR2(a) #a
#define DOUBLE_STR(a) DOUBLE_STR2(a)

namespace {

const char* const kPrefix = DOUBLE_STR(DOUBLE_PREFIX);
HMODULE g_self = nullptr;

// The 558-byte entry record: five DWORDs and three WORDs, then the path in 513 bytes.
using Record = char[558];

std::string SelfFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(g_self, path, MAX_PATH);
    return std::string(path, std::strrchr(path, '\\') + 1);
}

void Log(const std::string& line) {
    std::ofstream(SelfFolder() + "calls.log", std::ios::app | std::ios::binary) << kPrefix << "." << line << "\r\n";
}

// Values of "<prefix>.<key>=" in the archive's behaviour file.
std::vector<std::string> Values(const std::string& archive, const char* key) {
    std::vector<std::string> out;
    const std::string wanted = std::string(kPrefix) + "." + key + "=";
    std::ifstream in(archive + ".dbl", std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(wanted, 0) == 0) out.push_back(line.substr(wanted.size()));
    }
    return out;
}

int IntValue(const std::string& archive, const char* key, int fallback) {
    const auto values = Values(archive, key);
    return values.empty() ? fallback : static_cast<int>(std::strtol(values[0].c_str(), nullptr, 0));
}

int Version() { return IntValue(SelfFolder() + "versions", "version", 100); }

[[maybe_unused]] std::string Number(unsigned long long n) { return std::to_string(n); }
std::string Text(const char* s) { return s ? s : "(null)"; }

#if DOUBLE_KIND == 0
struct Archive {
    std::vector<std::string> entries;
    size_t next = 0;
};

bool Matches(const std::string& pattern, const std::string& text) {
    if (pattern.empty() || pattern == "*" || pattern == "*.*") return true;
    if (pattern.back() == '*') return text.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    return pattern == text;
}

// Every byte of the record is written, so a wrongly sized or shifted record shows.
void Fill(Record* record, const std::string& path) {
    std::memset(record, 0x5A, sizeof(Record));
    std::memcpy(*record + 26, path.c_str(), std::min<size_t>(path.size(), 512) + 1);
    (*record)[26 + 512] = '\0';
}

int Next(Archive* archive, Record* record) {
    if (!archive || archive->next >= archive->entries.size()) return -1;
    Fill(record, archive->entries[archive->next++]);
    return 0;
}
#endif

} // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_self = instance;
    return TRUE;
}

// Ish answers its version in 32 bits, the others in 16.
extern "C" __declspec(dllexport) std::conditional_t<DOUBLE_KIND == 1, int, WORD> WINAPI
DOUBLE_CAT(DOUBLE_PREFIX, GetVersion)() {
    return static_cast<std::conditional_t<DOUBLE_KIND == 1, int, WORD>>(Version());
}

#if DOUBLE_KIND == 0
extern "C" __declspec(dllexport) int WINAPI DOUBLE_CAT(DOUBLE_PREFIX, GetFileCount)(LPCSTR path) {
    Log("GetFileCount(" + Text(path) + ")");
    return IntValue(Text(path), "count", 0);
}

extern "C" __declspec(dllexport) HANDLE WINAPI DOUBLE_CAT(DOUBLE_PREFIX, OpenArchive)(HWND, LPCSTR path, DWORD) {
    return new Archive{Values(Text(path), "entry"), 0};
}

extern "C" __declspec(dllexport) int WINAPI DOUBLE_CAT(DOUBLE_PREFIX, FindFirst)(HANDLE handle, LPCSTR wildcard,
                                                                                Record* record) {
    auto* archive = static_cast<Archive*>(handle);
    if (!archive) return -1;
    std::erase_if(archive->entries, [&](const std::string& e) { return !Matches(Text(wildcard), e); });
    return Next(archive, record);
}

extern "C" __declspec(dllexport) int WINAPI DOUBLE_CAT(DOUBLE_PREFIX, FindNext)(HANDLE handle, Record* record) {
    return Next(static_cast<Archive*>(handle), record);
}

extern "C" __declspec(dllexport) int WINAPI DOUBLE_CAT(DOUBLE_PREFIX, CloseArchive)(HANDLE handle) {
    delete static_cast<Archive*>(handle);
    return 0;
}

// The main operation: the archive path is the first quoted text of the command line.
extern "C" __declspec(dllexport) int WINAPI DOUBLE_PREFIX(HWND window, LPCSTR line, LPSTR output, DWORD size) {
    Log("Run(" + Number(reinterpret_cast<ULONG_PTR>(window)) + "," + Text(line) + "," + Number(size) + ")");
    if (output && size > 0) output[0] = '\0';
    const std::string text = Text(line);
    const size_t open = text.find('"');
    const size_t close = open == std::string::npos ? open : text.find('"', open + 1);
    if (close == std::string::npos) return 0x8001;
    return IntValue(text.substr(open + 1, close - open - 1), "run", 0);
}
#endif

#if DOUBLE_KIND == 1 || DOUBLE_KIND == 2
extern "C" __declspec(dllexport) BOOL WINAPI DOUBLE_CAT(DOUBLE_PREFIX, CheckArchive)(LPCSTR path, int) {
    return IntValue(Text(path), "check", 0);
}
#endif

#if DOUBLE_KIND == 1
// Ish takes "path /f=folder\".
extern "C" __declspec(dllexport) int WINAPI DOUBLE_PREFIX(HWND window, LPCSTR line) {
    Log("Run(" + Number(reinterpret_cast<ULONG_PTR>(window)) + "," + Text(line) + ")");
    const std::string text = Text(line);
    return IntValue(text.substr(0, text.find(" /f=")), "run", 0);
}
#endif

#if DOUBLE_KIND == 2
extern "C" __declspec(dllexport) int WINAPI DOUBLE_CAT(DOUBLE_PREFIX, Combine)(LPCSTR path, LPCSTR folder) {
    Log("Combine(" + Text(path) + "," + Text(folder) + ")");
    return IntValue(Text(path), "run", 0);
}
#endif
