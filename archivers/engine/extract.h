#pragma once
#include <string>
#include <vector>

#include "engine/family.h"

namespace dexalo::archivers {

struct ExtractRequest {
    Family family = Family::Zip;
    std::wstring archive;
    std::wstring destination;            // created, with its parents, when missing
    std::vector<std::wstring> patterns;  // empty: every entry
};

struct ExtractResult {
    int code = 0;  // 0 or one of the error codes in errors.h
    unsigned written = 0;
    unsigned kept = 0;     // existing files at least as new as the entry
    unsigned refused = 0;  // unsafe paths and links
    unsigned skipped = 0;  // devices, fifos, links where links cannot be made
    std::string detail;    // libarchive's message for the first failure
};

// Extracts the archive under the destination. Every entry is checked before anything is
// written; each file is written under a temporary name and renamed into place when
// complete; an existing file is replaced only by a newer entry.
ExtractResult Extract(const ExtractRequest& request);

} // namespace dexalo::archivers
