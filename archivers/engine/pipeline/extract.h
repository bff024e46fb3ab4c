#pragma once
#include <string>
#include <vector>

#include "engine/pipeline/family.h"
#include "engine/pipeline/user_interface.h"

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
    std::wstring missingPiece;        // a piece of the set: nothing at or after it was read
    bool join = false;                // the pieces of a split file were being joined
};

// Extracts the archive under the destination. Every entry is checked before anything is
// written; each file is written under a temporary name and renamed into place when
// complete; an existing file is replaced only by a newer entry.
// The user may stop it (kErrorCancelled): the entry being written is dropped, complete
// files stay. Encrypted entries ask the user interface for a password.
// A piece of a set stands for the whole set. The front end calls the main operation once
// for every piece the user dropped or selected: the first call handles the set, and the calls
// for its other pieces that follow return 0 and do nothing. The same set asked for again
// later (a piece called a second time) is handled anew.
// The split-file family (Join calls) joins the pieces into the destination instead:
// name.ext.001... become name.ext, or name (2).ext when that name is taken.
ExtractResult Extract(const ExtractRequest& request);

// Ends the round of pieces under way (tests use it).
void ForgetHandledSets();

} // namespace dexalo::archivers
