#pragma once
// 7z archives encrypted with AES-256 (7-Zip's -p, and -mhe for the names too). libarchive 3.6
// lists such an archive's plain names but decrypts nothing, so the engine shows it the archive
// as it would be without the encryption: a view of the same file in which every encrypted
// packed stream reads decrypted, the AES coders are gone from the folders, and the header
// (decrypted and decoded where it was) is plain. Data is decrypted as libarchive reads it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/input/own_reader.h"
#include "engine/input/patched_view.h"

namespace dexalo::archivers {

namespace seven_zip {

enum class Status {
    Ok,             // the view is ready
    NotEncrypted,   // nothing to decrypt: libarchive reads the file itself
    NeedsPassword,  // asked without a password
    WrongPassword,  // the header did not decrypt (the data of a plain header is checked by the caller)
    Unsupported,    // encrypted in a way this cannot undo (a coder layout, too many key rounds)
    Damaged,
};

struct Limits {
    unsigned maxKeyRounds = 24;               // 2^24 hashes at most, as 7-Zip itself accepts
    std::uint64_t maxHeader = 256ull << 20;   // decoded header bytes
};

// The view over one archive: opened once, then read like the file itself.
class DecryptedView final : public own::Input {
public:
    explicit DecryptedView(std::unique_ptr<own::Input> input, Limits limits = {});
    ~DecryptedView();
    DecryptedView(const DecryptedView&) = delete;
    DecryptedView& operator=(const DecryptedView&) = delete;

    // Reads the headers. Without a password it only tells whether one is needed; the
    // password is 7-Zip's, UTF-16 (little-endian in the key).
    Status Open(const std::optional<std::u16string>& password);
    bool NamesEncrypted() const { return namesEncrypted_; }

    // Fewer bytes than asked only at the end, or when the archive cannot be read (then Failed()).
    std::size_t Read(std::uint8_t* data, std::size_t size) override { return view_.Read(data, size); }
    bool Skip(std::uint64_t size) override { return view_.Skip(size); }
    std::uint64_t Size() const override { return view_.Size(); }
    bool Seek(std::uint64_t position) override { return view_.Seek(position); }
    bool Failed() const override { return view_.Failed(); }

private:
    PatchedView view_;  // the signature header, the packed streams, the plain header
    Limits limits_;
    bool namesEncrypted_ = false;
};

// 7-Zip's key: SHA-256 over 2^rounds copies of salt, password (UTF-16LE) and a 64-bit
// counter; with rounds 63, salt and password themselves. nullopt when the system cannot hash.
std::optional<std::array<std::uint8_t, 32>> DeriveKey(const std::u16string& password,
                                                      const std::vector<std::uint8_t>& salt, unsigned rounds);

} // namespace seven_zip

} // namespace dexalo::archivers
