#pragma once
// RAR 5 archives encrypted with a password: file data (rar -p), and with -hp every header
// too. libarchive 3.6 decrypts neither, so the engine shows it the archive as it would be
// without the encryption, as it does for 7z: a view of the pieces read as one in which each
// header is plain (decrypted, its encryption record taken out) and each file's data reads
// decrypted.
//
// What the format says of it: AES-256 in CBC mode; the key is PBKDF2 with HMAC-SHA256 over
// the UTF-8 password and the record's 16-byte salt, 2^n rounds. The same derivation carried
// on for 16 rounds more gives the key of the checksums' MACs, for 32 more the password check
// (its 32 bytes folded into 8). An archive made with -hp starts with an encryption header;
// every header after it is stored behind an IV of its own, padded to whole blocks. A file's
// encryption record holds its own salt, IV and check; a file cut between volumes goes on in
// CBC from one piece to the next.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/codecs/blake2sp.h"
#include "engine/formats/seven_zip.h"
#include "engine/input/patched_view.h"
#include "engine/input/volumes.h"

namespace dexalo::archivers {

namespace rar5 {

// What opening a view found, as for 7z: WrongPassword when a check value did not match.
using Status = seven_zip::Status;

struct Limits {
    // RAR writes 15; each key costs three derivations of 2^n rounds, and a crafted archive
    // must not keep us hashing for minutes.
    unsigned maxKdfCount = 20;
};

// The keys of one password, salt and round count.
struct Keys {
    std::array<std::uint8_t, 32> key{};      // AES-256
    std::array<std::uint8_t, 32> hashKey{};  // the checksums' MACs
    std::array<std::uint8_t, 8> check{};     // the password check
};
std::optional<Keys> DeriveKeys(const std::string& password, const std::uint8_t* salt, unsigned kdfCount);

// A file's CRC-32 as an encrypted archive stores it: folded from HMAC-SHA256 under `hashKey`.
std::optional<std::uint32_t> CrcMac(const std::array<std::uint8_t, 32>& hashKey, std::uint32_t crc);

// The view over one archive: opened once, then read as libarchive's input.
class DecryptedView final : public own::Input {
public:
    explicit DecryptedView(std::unique_ptr<own::Input> input, Limits limits = {});

    // Walks every header of the archive. Without a password it only tells whether one is
    // needed; the password is UTF-8.
    Status Open(const std::optional<std::string>& password);
    bool NamesEncrypted() const { return namesEncrypted_; }
    // The last end header read says another volume follows (with -hp, only it can say so).
    bool VolumeFollows() const { return volumeFollows_; }
    // The walk stopped short of the last volume's end header: the archive is cut short or damaged.
    bool Cut() const { return cut_; }

    std::size_t Read(std::uint8_t* data, std::size_t size) override { return view_.Read(data, size); }
    bool Skip(std::uint64_t size) override { return view_.Skip(size); }
    std::uint64_t Size() const override { return view_.Size(); }
    bool Seek(std::uint64_t position) override { return view_.Seek(position); }

    // The MACs that stand for the CRC and the BLAKE2sp hash of the file whose header is the
    // first one at or after `headerPosition` in the view (libarchive's header position), with
    // their key; nullopt when that file's checksums are plain ones (libarchive checks them) or
    // it has none.
    struct Mac {
        std::optional<std::array<std::uint8_t, 32>> hashKey;  // none: the checksums themselves
        std::optional<std::uint32_t> crc;
        std::optional<std::array<std::uint8_t, 32>> blake2;
    };
    std::optional<Mac> MacAt(std::int64_t headerPosition) const;

private:
    PatchedView view_;
    Limits limits_;
    bool namesEncrypted_ = false;
    bool volumeFollows_ = false;
    bool cut_ = false;
    std::map<std::uint64_t, std::optional<Mac>> files_;  // by where each file's header starts in the view
};

// Sums a file's data as it is extracted, and tells at its end whether its checksums, or the
// MACs that stand for them, hold.
class DataCheck {
public:
    explicit DataCheck(DecryptedView::Mac mac);
    void Update(const std::uint8_t* data, std::size_t size);
    bool Matches();

private:
    DecryptedView::Mac mac_;
    std::uint32_t crc_ = 0;
    std::optional<Blake2sp> blake2_;
};

} // namespace rar5


} // namespace dexalo::archivers
