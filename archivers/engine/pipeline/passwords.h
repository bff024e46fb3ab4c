#pragma once
// Archives that libarchive reads only once the engine has decrypted them (an encrypted 7z):
// where the password comes from, and the reader opened on the decrypted view.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/formats/rar5.h"
#include "engine/formats/seven_zip.h"
#include "engine/input/volumes.h"

struct archive;

namespace dexalo::archivers {


// Where the password of an encrypted archive comes from: nullopt when the user declines;
// `wrong` when the one given before did not fit.
using PasswordQuestion = std::function<std::optional<std::wstring>(bool wrong)>;

enum class Decryption {
    NotNeeded,    // libarchive reads the archive as it is
    Deferred,     // only the data is encrypted: its password is asked for when it is extracted
    Opened,       // the reader is open on the decrypted archive
    Declined,     // encrypted, and no password was given
    Unsupported,  // encrypted in a way we cannot read
    Refused,      // decrypted, but libarchive refused to open the result: the reader is spent
};

// One password tried on an archive: the view to read when it fits; else `wrong` when it did
// not fit, neither when the archive cannot be read this way at all.
struct PasswordAttempt {
    std::shared_ptr<own::Input> view;
    bool wrong = false;
};

// What a first look without a password decides: nullopt when a password is to be asked for
// (with `namesOnly`, only when the names are encrypted; Deferred when only the data is).
std::optional<Decryption> WithoutPassword(seven_zip::Status status, bool namesOnly, bool namesEncrypted);

// Finds the set's password, first the one that opened the same set before in this process,
// else asking `ask` (which may be empty) until `attempt` says one fits, and opens `reader` on
// the view it gave. Never opens `reader` otherwise.
Decryption OpenWithPassword(archive* reader, const VolumeSet& set, const PasswordQuestion& ask,
                            const std::function<PasswordAttempt(const std::wstring& password)>& attempt);

// For an encrypted 7z set (with `namesOnly`, only when its names are encrypted): finds its
// password, first the one that opened the same set before in this process, else asking
// `ask` (which may be empty) until one fits, and opens `reader` on the decrypted archive. A
// password fits when the header decrypts and passes its check or, where the names are plain,
// when the first file's data decodes. Never opens `reader` otherwise.
// What a reader opened on a decryption of ours keeps: the view whose MACs stand in for the
// checksums of a RAR 5's encrypted files (nothing for 7z).
using MacSource = std::shared_ptr<const rar5::DecryptedView>;

Decryption OpenDecryptedSevenZip(archive* reader, const VolumeSet& set, bool namesOnly, const PasswordQuestion& ask,
                                 MacSource* macs);

// Who is asked while an archive is being recognised and its names are encrypted (the
// libraries show a prompt); nobody by default. The question names the archive.
using RecognitionQuestion = std::function<std::optional<std::wstring>(const std::wstring& archive, bool wrong)>;
void SetRecognitionQuestion(RecognitionQuestion ask);
const RecognitionQuestion& CurrentRecognitionQuestion();

// Forgets the passwords that opened archives (tests).
void ForgetPasswords();

// For an encrypted RAR 5 set (with `namesOnly`, only when its headers are encrypted): finds its
// password as OpenWithPassword does, and opens `reader` on the decrypted archive. A password
// fits when every check value it meets matches.
Decryption OpenDecryptedRar5(archive* reader, const VolumeSet& set, bool namesOnly, const PasswordQuestion& ask,
                             MacSource* macs);

// For the entry whose header starts at `header` in a view opened above: nullopt when its
// checksums are not MACs; else what checks them, to be given all the data extracted.
std::optional<rar5::DataCheck> Rar5MacCheck(const rar5::DecryptedView& view, std::int64_t header);

} // namespace dexalo::archivers
