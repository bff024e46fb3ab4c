#include "win32/extract/archiver_binding.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "extract/library_folders.h"
#include "common/win32/module_path.h"
#include "common/win32/quiet_errors.h"
#include "win32/extract/extract_ansi.h"

namespace dexalo::win32 {

namespace {

using ArchiveRef = HANDLE;
using VersionFn = SHORT(WINAPI*)();
using IshVersionFn = INT(WINAPI*)();
using FileCountFn = INT(WINAPI*)(LPCSTR);
using CheckArchiveFn = BOOL(WINAPI*)(LPCSTR, INT);
using OpenArchiveFn = ArchiveRef(WINAPI*)(HWND, LPCSTR, DWORD);
using FindFirstFn = INT(WINAPI*)(ArchiveRef, LPCSTR, archivers::EntryRecord*);
using FindNextFn = INT(WINAPI*)(ArchiveRef, archivers::EntryRecord*);
using CloseArchiveFn = INT(WINAPI*)(ArchiveRef);
using CommandFn = INT(WINAPI*)(HWND, LPCSTR, LPSTR, DWORD);
using IshCommandFn = INT(WINAPI*)(HWND, LPCSTR);
using CombineFn = INT(WINAPI*)(LPCSTR, LPCSTR);

HWND AsWindow(WindowHandle window) { return reinterpret_cast<HWND>(window); }
ArchiveRef AsArchive(ArchiveHandle handle) { return reinterpret_cast<ArchiveRef>(handle); }

// The record goes in holding the caller's path, so a call that writes nothing leaves it as it was.
archivers::EntryRecord RecordFor(const EntryRecord& record) {
    archivers::EntryRecord info{};
    const std::string path = AnsiFromWide(record.path);
    std::memcpy(info.path, path.data(), std::min(path.size(), sizeof(info.path) - 1));
    return info;
}

void TakePath(const archivers::EntryRecord& info, EntryRecord& record) {
    record.path = WideFromAnsiBuffer(info.path, sizeof(info.path));
}

// A folder the system reports by filling a buffer; "" when it cannot.
template <class Query>
std::wstring Reported(Query query) {
    std::wstring text(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = query(text.data(), static_cast<DWORD>(text.size()));
        if (n == 0) return {};
        if (n < text.size()) return text.substr(0, n);
        text.resize(std::max<std::size_t>(n, text.size() * 2)); // a cut module name reports the buffer's size
    }
}

std::vector<std::wstring> SearchFolders() {
    std::wstring program = ModulePath();
    program.erase(std::min(program.size(), program.find_last_of(L'\\')));
    const std::wstring system = Reported([](wchar_t* b, DWORD n) { return ::GetSystemDirectoryW(b, n); });
    const std::wstring windows = Reported([](wchar_t* b, DWORD n) { return ::GetWindowsDirectoryW(b, n); });
    const std::wstring path = Reported([](wchar_t* b, DWORD n) { return ::GetEnvironmentVariableW(L"PATH", b, n); });
    return LibraryFolders(program, system, windows, path);
}

// The first copy of the library in the search folders that loads, by its full path, so the
// loader's own search (which would skip the Windows folder and PATH) never decides.
HMODULE LoadFromSearchFolders(const char* name) {
    const std::wstring file = WideFromAnsi(name) + L".dll";
    for (std::wstring path : SearchFolders()) {
        if (path.back() != L'\\') path += L'\\';
        path += file;
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        // The library's own dependencies come from its folder and the safe default folders.
        HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr,
                                          LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
        // Windows 7 without its loader update knows no such flags.
        if (!module && ::GetLastError() == ERROR_INVALID_PARAMETER)
            module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (module) return module;
    }
    return nullptr;
}

} // namespace

std::string ExportName(Library lib, Export fn) {
    return std::string(archivers::kLibraryNames[static_cast<std::size_t>(lib)].prefix) +
           kExportSuffixes[static_cast<std::size_t>(fn)];
}

bool ArchiverBinding::IsLoaded(Library lib) const {
    return static_cast<bool>(slots_[static_cast<std::size_t>(lib)].module);
}

FARPROC ArchiverBinding::ResolveProc(Library lib, Export fn) {
    Slot& slot = slots_[static_cast<std::size_t>(lib)];
    if (!slot.tried) {
        slot.tried = true;
        // A missing library is a negative answer, never a system dialog.
        const QuietSystemErrors quiet;
        slot.module.reset(LoadFromSearchFolders(archivers::kLibraryNames[static_cast<std::size_t>(lib)].file));
    }
    if (!slot.module) return nullptr;
    const auto index = static_cast<std::size_t>(fn);
    if (!slot.looked[index]) {
        slot.looked[index] = true;
        slot.procs[index] = ::GetProcAddress(slot.module.get(), ExportName(lib, fn).c_str());
    }
    return slot.procs[index];
}

template <class Fn>
Fn ArchiverBinding::Resolve(Library lib, Export fn) {
    // Through void*: the export's real type is the one the library documents, not FARPROC's.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(ResolveProc(lib, fn)));
}

std::optional<std::int32_t> ArchiverBinding::GetVersion(Library lib) {
    if (lib == Library::Ish) {
        const auto fn = Resolve<IshVersionFn>(lib, Export::GetVersion);
        if (!fn) return std::nullopt;
        return fn();
    }
    const auto fn = Resolve<VersionFn>(lib, Export::GetVersion);
    if (!fn) return std::nullopt;
    return static_cast<std::int32_t>(fn());
}

std::optional<std::int32_t> ArchiverBinding::GetFileCount(Library lib, const std::wstring& path) {
    const auto fn = Resolve<FileCountFn>(lib, Export::GetFileCount);
    if (!fn) return std::nullopt;
    return fn(AnsiFromWide(path).c_str());
}

std::optional<std::int32_t> ArchiverBinding::CheckArchive(Library lib, const std::wstring& path,
                                                          std::int32_t mode) {
    const auto fn = Resolve<CheckArchiveFn>(lib, Export::CheckArchive);
    if (!fn) return std::nullopt;
    return fn(AnsiFromWide(path).c_str(), mode);
}

std::optional<ArchiveHandle> ArchiverBinding::OpenArchive(Library lib, WindowHandle window, const std::wstring& path,
                                                          std::uint32_t mode) {
    const auto fn = Resolve<OpenArchiveFn>(lib, Export::OpenArchive);
    if (!fn) return std::nullopt;
    return reinterpret_cast<ArchiveHandle>(fn(AsWindow(window), AnsiFromWide(path).c_str(), mode));
}

std::optional<std::int32_t> ArchiverBinding::FindFirst(Library lib, ArchiveHandle handle,
                                                       const std::wstring& wildcard, EntryRecord& record) {
    const auto fn = Resolve<FindFirstFn>(lib, Export::FindFirst);
    if (!fn) return std::nullopt;
    archivers::EntryRecord info = RecordFor(record);
    const INT result = fn(AsArchive(handle), AnsiFromWide(wildcard).c_str(), &info);
    TakePath(info, record);
    return result;
}

std::optional<std::int32_t> ArchiverBinding::FindNext(Library lib, ArchiveHandle handle, EntryRecord& record) {
    const auto fn = Resolve<FindNextFn>(lib, Export::FindNext);
    if (!fn) return std::nullopt;
    archivers::EntryRecord info = RecordFor(record);
    const INT result = fn(AsArchive(handle), &info);
    TakePath(info, record);
    return result;
}

std::optional<std::int32_t> ArchiverBinding::CloseArchive(Library lib, ArchiveHandle handle) {
    const auto fn = Resolve<CloseArchiveFn>(lib, Export::CloseArchive);
    if (!fn) return std::nullopt;
    return fn(AsArchive(handle));
}

std::optional<std::int32_t> ArchiverBinding::Run(Library lib, WindowHandle window, const std::wstring& commandLine) {
    const std::string line = AnsiFromWide(commandLine);
    if (lib == Library::Ish) {
        const auto fn = Resolve<IshCommandFn>(lib, Export::Main);
        if (!fn) return std::nullopt;
        return fn(AsWindow(window), line.c_str());
    }
    const auto fn = Resolve<CommandFn>(lib, Export::Main);
    if (!fn) return std::nullopt;
    char output[1] = {};
    return fn(AsWindow(window), line.c_str(), output, 0);
}

std::optional<std::int32_t> ArchiverBinding::JackCombine(const std::wstring& path, const std::wstring& folder) {
    const auto fn = Resolve<CombineFn>(Library::Jack, Export::Combine);
    if (!fn) return std::nullopt;
    return fn(AnsiFromWide(path).c_str(), AnsiFromWide(folder).c_str());
}

} // namespace dexalo::win32
