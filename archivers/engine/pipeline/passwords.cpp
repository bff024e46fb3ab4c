#include "engine/pipeline/passwords.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "engine/formats/rar5.h"
#include "engine/formats/seven_zip.h"
#include "engine/pipeline/family.h"
#include "engine/pipeline/input_reader.h"
#include "engine/pipeline/resolve.h"
#include "engine/platform/platform.h"

namespace dexalo::archivers {

namespace {

using seven_zip::DecryptedView;
using seven_zip::Status;

std::mutex gPasswordsMutex;
std::map<SetStamp, std::wstring> gPasswords;  // the password that opened each set

// With the names plain, a wrong password shows only in the data: the first file's first
// megabyte must decode (and, when the file is no longer, pass its CRC). A method libarchive
// cannot decode tells nothing of the password.
bool FirstDataDecodes(const std::shared_ptr<DecryptedView>& view) {
    const ReaderPtr probe(archive_read_new());
    if (!probe || archive_read_support_format_7zip(probe.get()) != ARCHIVE_OK ||
        OpenInputReader(probe.get(), view, kReadBlockSize) != ARCHIVE_OK)
        return true;
    archive_entry* entry = nullptr;
    std::vector<std::uint8_t> buffer(64 * 1024);
    while (ReadNextHeader(probe.get(), &entry) == ARCHIVE_OK) {
        if (archive_entry_size(entry) <= 0) continue;
        for (std::size_t total = 0; total < (1u << 20);) {
            const la_ssize_t n = archive_read_data(probe.get(), buffer.data(), buffer.size());
            if (n == 0) break;
            if (n < 0) {
                const char* message = archive_error_string(probe.get());
                return message != nullptr && std::strstr(message, "nsupported") != nullptr;
            }
            total += static_cast<std::size_t>(n);
        }
        break;
    }
    return true;
}

RecognitionQuestion& RecognitionQuestionSlot() {
    static RecognitionQuestion ask;
    return ask;
}

} // namespace

std::optional<Decryption> WithoutPassword(Status status, bool namesOnly, bool namesEncrypted) {
    switch (status) {
    case Status::NeedsPassword: return namesOnly && !namesEncrypted ? std::optional(Decryption::Deferred) : std::nullopt;
    case Status::Unsupported: return Decryption::Unsupported;
    default: return Decryption::NotNeeded;  // libarchive reads it, or says what is wrong
    }
}

Decryption OpenWithPassword(archive* reader, const VolumeSet& set, const PasswordQuestion& ask,
                            const std::function<PasswordAttempt(const std::wstring& password)>& attempt) {
    // The pieces there are: a set whose missing piece was found only once decrypted is the same.
    SetStamp stamp = StampOf(set, set.pieces.front());
    stamp.missing.clear();
    std::optional<std::wstring> password;
    {
        std::lock_guard lock(gPasswordsMutex);
        if (const auto it = gPasswords.find(stamp); it != gPasswords.end()) password = it->second;
    }
    for (bool wrong = false;;) {
        if (!password) {
            password = ask ? ask(wrong) : std::nullopt;
            if (!password) return Decryption::Declined;
            wrong = true;  // for the question after this one
        }
        const PasswordAttempt tried = attempt(*password);
        if (tried.view) {
            {
                std::lock_guard lock(gPasswordsMutex);
                gPasswords[stamp] = *password;
            }
            return OpenInputReader(reader, tried.view, kReadBlockSize) == ARCHIVE_OK ? Decryption::Opened : Decryption::Refused;
        }
        if (!tried.wrong) return Decryption::Unsupported;
        password.reset();
    }
}

Decryption OpenDecryptedSevenZip(archive* reader, const VolumeSet& set, bool namesOnly, const PasswordQuestion& ask,
                                 MacSource*) {
    if (set.pieces.empty()) return Decryption::NotNeeded;
    auto fresh = [&] { return std::make_shared<DecryptedView>(std::make_unique<JoinedFile>(set.pieces)); };
    const auto view = fresh();
    const auto first = view->Open(std::nullopt);
    if (const auto verdict = WithoutPassword(first, namesOnly, view->NamesEncrypted())) return *verdict;
    return OpenWithPassword(reader, set, ask, [&](const std::wstring& password) -> PasswordAttempt {
        const auto attempt = fresh();
        const Status status = attempt->Open(platform::ToUtf16(password));
        if (status == Status::Ok && (attempt->NamesEncrypted() || FirstDataDecodes(attempt))) return {attempt};
        return {nullptr, status == Status::Ok || status == Status::WrongPassword};
    });
}

void SetRecognitionQuestion(RecognitionQuestion ask) { RecognitionQuestionSlot() = std::move(ask); }
const RecognitionQuestion& CurrentRecognitionQuestion() { return RecognitionQuestionSlot(); }

void ForgetPasswords() {
    std::lock_guard lock(gPasswordsMutex);
    gPasswords.clear();
}

namespace {

// UTF-8, as RAR 5 takes the password.
std::string Utf8(const std::wstring& text) {
    std::string out;
    const std::u16string units = platform::ToUtf16(text);
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace

Decryption OpenDecryptedRar5(archive* reader, const VolumeSet& set, bool namesOnly, const PasswordQuestion& ask,
                             MacSource* macs) {
    using rar5::DecryptedView;
    using rar5::Status;
    if (set.pieces.empty()) return Decryption::NotNeeded;
    auto fresh = [&] { return std::make_shared<DecryptedView>(std::make_unique<JoinedFile>(set.pieces)); };
    const auto probe = fresh();
    const auto first = probe->Open(std::nullopt);
    if (const auto verdict = WithoutPassword(first, namesOnly, probe->NamesEncrypted())) return *verdict;
    std::shared_ptr<DecryptedView> opened;
    const Decryption outcome = OpenWithPassword(reader, set, ask, [&](const std::wstring& password) -> PasswordAttempt {
        const auto attempt = fresh();
        const Status status = attempt->Open(Utf8(password));
        if (status == Status::Ok) {
            opened = attempt;
            return {attempt};
        }
        return {nullptr, status == Status::WrongPassword};
    });
    if (outcome == Decryption::Opened) {
        if (opened->VolumeFollows()) NoteVolumeFollows(set.pieces.back());
        if (macs != nullptr) *macs = opened;
    }
    return outcome;
}

std::optional<rar5::DataCheck> Rar5MacCheck(const rar5::DecryptedView& view, std::int64_t header) {
    auto mac = view.MacAt(header);
    if (!mac) return std::nullopt;
    return rar5::DataCheck(std::move(*mac));
}

} // namespace dexalo::archivers
