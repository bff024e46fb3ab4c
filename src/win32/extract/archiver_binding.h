#pragma once
// The ten archiver libraries, bound by library and export name at their first call.
#include <windows.h>

#include <array>
#include <cstddef>
#include <string>

#include "extract/archiver_library.h"
#include "common/win32/handles.h"

namespace dexalo::win32 {

// The libraries' entry record: five 32-bit and three 16-bit numbers, the stored path,
// then three short texts. Only the path is read.
#pragma pack(push, 1)
struct IndividualInfo {
    DWORD numbers[5];
    WORD shortNumbers[3];
    char path[513];
    char text3[3];
    char text8a[8];
    char text8b[8];
};
#pragma pack(pop)
static_assert(sizeof(IndividualInfo) == 558, "the libraries write 558 bytes");
static_assert(offsetof(IndividualInfo, path) == 26, "the stored path starts at byte 26");

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

struct LibraryName {
    const char* file;   // for LoadLibraryA
    const char* prefix; // export names start with it
};

// In Library order.
inline constexpr std::array<LibraryName, kLibraryCount> kLibraryNames{{
    {"unlha32", "Unlha"},
    {"unzip32", "UnZip"},
    {"cab32", "Cab"},
    {"tar32", "Tar"},
    {"unarj32j", "Unarj"},
    {"Ish32", "Ish"},
    {"unrar32", "Unrar"},
    {"bga32", "Bga"},
    {"Yz1", "Yz1"},
    {"Jack32", "Jack"},
}};

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
