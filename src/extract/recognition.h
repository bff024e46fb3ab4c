#pragma once
// Which library takes a file: the libraries are asked in a fixed order, names play no part.
#include <cstdint>
#include <string>

#include "extract/archiver_library.h"

namespace dexalo {

// Same numbering as Library (and Check1 / Label1); LZ = no library took the file.
enum class ArchiveType : int { LZH = 0, ZIP, CAB, TAR, ARJ, ISH, RAR, BGA, YZ1, JAK, LZ };

constexpr Library LibraryOf(ArchiveType type) { return static_cast<Library>(static_cast<int>(type)); }

struct Recognition {
    ArchiveType type = ArchiveType::LZ;
    std::int32_t entryCount = 0; // the accepting count probe's answer; 0 for ISH, JAK and LZ
};

Recognition Recognise(ArchiverLibraries& libraries, const std::wstring& path);

} // namespace dexalo
