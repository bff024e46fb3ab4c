#include "win32/extract/archiver_binding.h"

#include <algorithm>
#include <cstring>

#include "win32/extract/extract_ansi.h"
#include "win32/common/quiet_errors.h"

namespace dexalo::win32 {

namespace {

using ArchiveRef = HANDLE;
using VersionFn = SHORT(WINAPI*)();
using IshVersionFn = INT(WINAPI*)();
using FileCountFn = INT(WINAPI*)(LPCSTR);
using CheckArchiveFn = BOOL(WINAPI*)(LPCSTR, INT);
using OpenArchiveFn = ArchiveRef(WINAPI*)(HWND, LPCSTR, DWORD);
using FindFirstFn = INT(WINAPI*)(ArchiveRef, LPCSTR, IndividualInfo*);
using FindNextFn = INT(WINAPI*)(ArchiveRef, IndividualInfo*);
using CloseArchiveFn = INT(WINAPI*)(ArchiveRef);
using CommandFn = INT(WINAPI*)(HWND, LPCSTR, LPSTR, DWORD);
using IshCommandFn = INT(WINAPI*)(HWND, LPCSTR);
using CombineFn = INT(WINAPI*)(LPCSTR, LPCSTR);

HWND AsWindow(WindowHandle window) { return reinterpret_cast<HWND>(window); }
ArchiveRef AsArchive(ArchiveHandle handle) { return reinterpret_cast<ArchiveRef>(handle); }

// The record goes in holding the caller's path, so a call that writes nothing leaves it as it was.
IndividualInfo RecordFor(const EntryRecord& record) {
    IndividualInfo info{};
    const std::string path = AnsiFromWide(record.path);
    std::memcpy(info.path, path.data(), std::min(path.size(), sizeof(info.path) - 1));
    return info;
}

void TakePath(const IndividualInfo& info, EntryRecord& record) {
    record.path = WideFromAnsiBuffer(info.path, sizeof(info.path));
}

} // namespace

std::string ExportName(Library lib, Export fn) {
    return std::string(kLibraryNames[static_cast<std::size_t>(lib)].prefix) +
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
        slot.module.reset(::LoadLibraryA(kLibraryNames[static_cast<std::size_t>(lib)].file));
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
    IndividualInfo info = RecordFor(record);
    const INT result = fn(AsArchive(handle), AnsiFromWide(wildcard).c_str(), &info);
    TakePath(info, record);
    return result;
}

std::optional<std::int32_t> ArchiverBinding::FindNext(Library lib, ArchiveHandle handle, EntryRecord& record) {
    const auto fn = Resolve<FindNextFn>(lib, Export::FindNext);
    if (!fn) return std::nullopt;
    IndividualInfo info = RecordFor(record);
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
