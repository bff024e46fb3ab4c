#pragma once
// Natively only: the engine can stand in for a Windows system whose code pages are not
// UTF-8, so that the tests see the names a Japanese Windows would see.
#include <cstdint>
#include <optional>
#include <string>

namespace dexalo::archivers::platform {

// `ansi` becomes the library calls' text and the charset of unflagged RAR 4 and CAB names,
// `oem` that of ZIP names without the UTF-8 flag (iconv names such as "CP932"). Empty
// strings restore UTF-8 and libarchive's defaults. File system paths stay UTF-8.
void UseCodePages(std::string ansi, std::string oem);

// Writes to output files fail as on a full disk (ENOSPC) once `bytes` more have been written
// through any of them; nullopt: never. The tests' full disk.
void FailWritesAfter(std::optional<std::uint64_t> bytes);

} // namespace dexalo::archivers::platform
