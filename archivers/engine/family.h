#pragma once
// The archive families, one per library of ours. Each library reads only its own family.
#include <string>
#include <string_view>

#include "common/archiver_contract.h"

struct archive;

namespace dexalo::archivers {

// One per OURS row of the libraries' table.
#define DEXALO_FAMILY_OF(file, prefix, family) family,
#define DEXALO_NO_FAMILY(...)
enum class Family { DEXALO_ARCHIVER_LIBRARIES(DEXALO_FAMILY_OF, DEXALO_NO_FAMILY) };
#undef DEXALO_FAMILY_OF
#undef DEXALO_NO_FAMILY

// Separator between folder names in the stored paths that the find calls report.
wchar_t SeparatorOf(Family family);
std::string_view NameOf(Family family);

// Enables exactly the family's formats and filters on a fresh reader and sets its
// name code pages: CP932 for LZH, the OEM code page for ZIP names without the UTF-8 flag,
// the ANSI code page for RAR 4 and CAB names without a Unicode flag. `zipLocalHeaders`
// reads a ZIP from its local headers, for ZIPs the central-directory reader refuses.
void ConfigureReader(archive* reader, Family family, bool zipLocalHeaders = false);

// Opens a configured reader on the archive file (ARJ through our own reader).
int OpenFamilyReader(archive* reader, Family family, const std::wstring& archivePath);

// True when the file starts with a ZIP local file header.
bool StartsWithZipLocalHeader(const std::wstring& archivePath);

// True when the reader, after its first header, really holds the family's archive.
// (TAR's raw reader is allowed only behind a compression filter: a lone .gz, .bz2, .Z, .xz...)
bool IsOwnArchive(archive* reader, Family family);

// True when the reader delivers a lone compressed stream rather than an archive.
bool IsLoneStream(archive* reader);

} // namespace dexalo::archivers
