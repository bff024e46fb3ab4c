#pragma once
// The ten archiver libraries, bound by library and export name at their first call.
#include <windows.h>

#include <array>
#include <cstddef>
#include <string>

#include "common/archiver_contract.h"
#include "extract/archiver_library.h"
#include "common/win32/handles.h"

namespace dexalo::win32 {

enum class Export : int {
    GetVersion,
    GetFileCount,
    CheckArchive,
    OpenArchive,
    FindFirst,
    FindNext,
    CloseArchive,
    Main,    // the library's own name: Unlha, UnZip, ..., Ish
    Combine, // JackCombine
};
inline constexpr std::size_t kExportCount = 9;

// Library order is the table's row order.
static_assert(std::size(archivers::kLibraryNames) == kLibraryCount, "one table row per library");

// In Export order: the export is the library's prefix followed by this.
inline constexpr std::array<const char*, kExportCount> kExportSuffixes{
    "GetVersion", "GetFileCount", "CheckArchive", "OpenArchive", "FindFirst",
    "FindNext",   "CloseArchive", "",             "Combine",
};

std::string ExportName(Library lib, Export fn);

class ArchiverBinding final : public ArchiverLibraries {
public:
    ArchiverBinding() = default;
    ArchiverBinding(const ArchiverBinding&) = delete;
    ArchiverBinding& operator=(const ArchiverBinding&) = delete;

    std::optional<std::int32_t> GetVersion(Library lib) override;
    std::optional<std::int32_t> GetFileCount(Library lib, const std::wstring& path) override;
    std::optional<std::int32_t> CheckArchive(Library lib, const std::wstring& path, std::int32_t mode) override;
    std::optional<ArchiveHandle> OpenArchive(Library lib, WindowHandle window, const std::wstring& path,
                                             std::uint32_t mode) override;
    std::optional<std::int32_t> FindFirst(Library lib, ArchiveHandle handle, const std::wstring& wildcard,
                                          EntryRecord& record) override;
    std::optional<std::int32_t> FindNext(Library lib, ArchiveHandle handle, EntryRecord& record) override;
    std::optional<std::int32_t> CloseArchive(Library lib, ArchiveHandle handle) override;
    std::optional<std::int32_t> Run(Library lib, WindowHandle window, const std::wstring& commandLine) override;
    std::optional<std::int32_t> JackCombine(const std::wstring& path, const std::wstring& folder) override;

    // Whether the library has been loaded by this binding (it is loaded at its first call).
    bool IsLoaded(Library lib) const;

private:
    template <class Fn>
    Fn Resolve(Library lib, Export fn);
    FARPROC ResolveProc(Library lib, Export fn);

    struct Slot {
        bool tried = false;
        UniqueModule module;
        std::array<FARPROC, kExportCount> procs{};
        std::array<bool, kExportCount> looked{};
    };
    std::array<Slot, kLibraryCount> slots_;
};

} // namespace dexalo::win32
