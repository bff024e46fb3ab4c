#pragma once
// Direct or sub-folder extraction: an archive whose entries all sit under one top-level
// folder (or that holds one entry) is extracted straight into the destination root, so
// that folder is not wrapped in a second one.
#include <cstdint>
#include <string>

#include "extract/archiver_library.h"
#include "extract/recognition.h"

namespace dexalo {

enum class Placement { Direct, SubFolder };

// type is one of the eight command-line types; entryCount is recognition's count.
// record is the caller's entry record, zero-filled once per extraction and shared by
// every find call of the check.
Placement CheckSingleFolder(ArchiverLibraries& libraries, ArchiveType type, const std::wstring& path,
                            std::int32_t entryCount, WindowHandle window, EntryRecord& record);

} // namespace dexalo
