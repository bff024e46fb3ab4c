#pragma once
// The engine behind each library's exports. Text is the library calls' own: the ANSI
// code page on Windows, UTF-8 natively.
#include <cstdint>

#include "common/archiver_contract.h"
#include "engine/pipeline/family.h"
#include "engine/pipeline/user_interface.h"

namespace dexalo::archivers {

// Our own version, in hundredths: 1.00.
inline constexpr int kVersion = 100;

// Number of entries; 0 for an empty archive of the family, -1 when the file is not one.
// A piece of a set counts the whole set's (see volumes.h).
int GetFileCount(Family family, const char* archivePath);
// 1 when the file is the family's archive and its headers read to the end, else 0.
// The split-file family (Join calls): 1 for any piece of a set of plain pieces (name.ext.001...)
// with none missing, whose joined content no other family of ours takes.
int CheckArchive(Family family, const char* archivePath, int mode);

// 0 when the file is not the family's archive.
std::uintptr_t OpenArchive(Family family, const char* archivePath, std::uint32_t mode);
// 0 = the record holds an entry, -1 = no further entry, kFindError = bad handle or record.
int FindFirst(Family family, std::uintptr_t handle, const char* wildcard, EntryRecord* record);
int FindNext(Family family, std::uintptr_t handle, EntryRecord* record);
int CloseArchive(Family family, std::uintptr_t handle);

// The main operation: parses the command line and extracts. A short summary goes into
// `output` when `outputSize` leaves room for it; nothing is written there when it is 0.
// Only this call talks to the user: progress, cancel, passwords, and one report of what
// went wrong (none after success or a cancel).
int Run(Family family, const char* commandLine, char* output, std::uint32_t outputSize,
        UserInterface* ui = nullptr);

// The split-file family's main operation: joins the set of `piecePath` into `folder` (see
// Extract); 0 on success, else an error code, after one report of what went wrong.
int Combine(Family family, const char* piecePath, const char* folder, UserInterface* ui = nullptr);

} // namespace dexalo::archivers
