#pragma once
#include <string>
#include <vector>

#include "engine/family.h"
#include "engine/user_interface.h"

namespace dexalo::archivers {

struct ExtractRequest {
    Family family = Family::Zip;
    std::wstring archive;
    std::wstring destination;            // created, with its parents, when missing
    std::vector<std::wstring> patterns;  // empty: every entry
    UserInterface* ui = nullptr;         // none: the silent one
};

struct ExtractResult {
    int code = 0;  // 0 or one of the error codes in errors.h
    unsigned written = 0;
    unsigned kept = 0;     // existing files at least as new as the entry
    unsigned refused = 0;  // unsafe paths and links
    unsigned skipped = 0;  // devices, fifos, links where links cannot be made
    std::string detail;    // libarchive's message for the first failure

    // What the user is told, one line per kind of trouble (see report.h).
    std::wstring corruptEntry;        // damaged data; empty when the headers themselves were
    bool corruptEncrypted = false;    // ...in an entry decrypted with a password: maybe a wrong one
    std::wstring unsupportedEntry;    // a method or an encryption libarchive cannot read
    bool unsupportedEncryption = false;
    std::wstring unwritable;          // the first file or folder that could not be written
    std::wstring systemReason;        // and the system's words for why
    std::wstring refusedExample;      // the first entry refused for safety
    unsigned declined = 0;            // encrypted entries skipped: no password was given
    std::wstring declinedExample;
};

// Extracts the archive under the destination. Every entry is checked before anything is
// written; each file is written under a temporary name and renamed into place when
// complete; an existing file is replaced only by a newer entry.
// The user may stop it (kErrorCancelled): the entry being written is dropped, complete
// files stay. Encrypted entries ask the user interface for a password.
ExtractResult Extract(const ExtractRequest& request);

} // namespace dexalo::archivers
