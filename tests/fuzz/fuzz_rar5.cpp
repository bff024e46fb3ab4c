// Any bytes as a RAR 5 archive encrypted with the password "a": the view is built or refused
// without reading out of bounds (its headers, and the block headers that end each file's
// data), and reads back exactly its size; then libarchive reads it, or the bytes as they are
// when nothing is encrypted, as the engine has it read (in its locale, every call that may
// read headers through the engine's own). An allocation of more than 1 GiB fails here as it
// may on 32-bit Windows, rather than abort: libarchive 3.6 tries one for a name length far
// past its header, and the ENOMEM it leaves would end the process at the next name it cannot
// convert were that not guarded. The input is the archive in the
// clear, encryption headers and records included; this sets each header's CRC right, gives
// every encryption header and record the check value of "a" at one round, and encrypts what
// they cover (the headers after an encryption header, a file's data after its record), so
// that mutations reach the header and block parsers rather than stopping at a checksum or a
// wrong password.
#include <openssl/evp.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/codecs/bytes.h"
#include "engine/formats/rar5.h"
#include "engine/formats/rar_name.h"
#include "engine/platform/platform.h"
#include "fuzz_archive.h"
#include "fuzz_support.h"

namespace arc = dexalo::archivers;

namespace {

constexpr std::uint8_t kSignature[8] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};

void Encrypt(const arc::rar5::Keys& keys, const std::uint8_t* iv, std::vector<std::uint8_t>& out, const std::uint8_t* data,
             std::size_t size) {
    std::vector<std::uint8_t> plain(data, data + size);
    plain.resize((size + 15) / 16 * 16);
    std::vector<std::uint8_t> sealed(plain.size() + 16);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    int n = 0;
    EVP_EncryptInit_ex(context, EVP_aes_256_cbc(), nullptr, keys.key.data(), iv);
    EVP_CIPHER_CTX_set_padding(context, 0);
    EVP_EncryptUpdate(context, sealed.data(), &n, plain.data(), static_cast<int>(plain.size()));
    EVP_CIPHER_CTX_free(context);
    out.insert(out.end(), sealed.begin(), sealed.begin() + static_cast<std::ptrdiff_t>(plain.size()));
}

// The fields of an encryption header or record from its version on: one round, and the
// check value of "a" when the flags say there is one. The keys of "a" and that salt.
std::optional<arc::rar5::Keys> Rekey(std::uint8_t* p, std::uint8_t* end, bool withIv) {
    std::uint64_t version = 0, flags = 0;
    const std::uint8_t* q = p;
    if (!arc::ReadRar5Number(q, end, version) || !arc::ReadRar5Number(q, end, flags) || end - q < 17) return std::nullopt;
    p += q - p;
    *p = 0;
    const auto keys = arc::rar5::DeriveKeys("a", p + 1, 0);
    std::uint8_t* check = p + 17 + (withIv ? 16 : 0);
    if (keys && (flags & 1) && end - check >= 12) {
        std::copy(keys->check.begin(), keys->check.end(), check);
        arc::platform::Sha256 sum;
        sum.Update(check, 8);
        if (const auto digest = sum.Finish()) std::copy_n(digest->begin(), 4, check + 8);
    }
    return keys;
}

std::vector<std::uint8_t> Seal(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> out;
    std::optional<arc::rar5::Keys> headerKeys;
    const std::uint8_t zeroIv[16] = {};
    for (std::size_t at = 0; at < size;) {
        if (size - at >= 8 && std::equal(kSignature, kSignature + 8, data + at)) {
            out.insert(out.end(), data + at, data + at + 8);
            at += 8;
            headerKeys.reset();
            continue;
        }
        const std::uint8_t* p = data + std::min(size, at + 4);
        std::uint64_t length = 0;
        if (!arc::ReadRar5Number(p, data + size, length) || length > static_cast<std::uint64_t>(data + size - p)) break;
        std::vector<std::uint8_t> header(data + at, p + length);
        std::uint8_t* h = header.data() + (p - (data + at));
        std::uint8_t* end = header.data() + header.size();
        const std::uint8_t* c = h;
        std::uint64_t type = 0, flags = 0, extra = 0, dataSize = 0;
        if (!arc::ReadRar5Number(c, end, type) || !arc::ReadRar5Number(c, end, flags) ||
            ((flags & 1) && !arc::ReadRar5Number(c, end, extra)) || ((flags & 2) && !arc::ReadRar5Number(c, end, dataSize)) ||
            extra > static_cast<std::uint64_t>(end - c))
            break;
        std::optional<arc::rar5::Keys> sealedKeys, fileKeys;
        const std::uint8_t* fileIv = zeroIv;
        if (type == 4) sealedKeys = Rekey(h + (c - h), end, false);
        for (std::uint8_t* r = end - extra; type == 2 && r < end;) {
            std::uint64_t recordSize = 0, recordType = 0;
            const std::uint8_t* q = r;
            if (!arc::ReadRar5Number(q, end, recordSize) || recordSize > static_cast<std::uint64_t>(end - q)) break;
            std::uint8_t* next = const_cast<std::uint8_t*>(q) + recordSize;
            if (arc::ReadRar5Number(q, next, recordType) && recordType == 1 && !fileKeys) {
                std::uint8_t* fields = const_cast<std::uint8_t*>(q);
                fileKeys = Rekey(fields, next, true);
                std::uint64_t skip = 0;
                const std::uint8_t* v = fields;
                if (fileKeys && arc::ReadRar5Number(v, next, skip) && arc::ReadRar5Number(v, next, skip) && next - v >= 33)
                    fileIv = v + 17;
            }
            r = next;
        }
        const std::uint32_t crc = arc::Crc32(0, header.data() + 4, header.size() - 4);
        for (int i = 0; i < 4; ++i) header[i] = static_cast<std::uint8_t>(crc >> (8 * i));
        if (headerKeys) {
            out.insert(out.end(), zeroIv, zeroIv + 16);
            Encrypt(*headerKeys, zeroIv, out, header.data(), header.size());
        } else {
            out.insert(out.end(), header.begin(), header.end());
        }
        if (sealedKeys) headerKeys = sealedKeys;
        at += header.size();
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(dataSize, size - at));
        if (fileKeys)
            Encrypt(*fileKeys, fileIv, out, data + at, n);
        else
            out.insert(out.end(), data + at, data + at + n);
        at += n;
    }
    return out;
}

} // namespace

extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=1024"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    arc::platform::PrepareLocale();
    const std::vector<std::uint8_t> bytes = Seal(data, size);
    auto view = std::make_shared<arc::rar5::DecryptedView>(std::make_unique<arc::own::MemoryInput>(bytes.data(), bytes.size()),
                                                           arc::rar5::Limits{4});
    const arc::rar5::Status status = view->Open(std::string("a"));
    if (status == arc::rar5::Status::NotEncrypted)
        dexalo::fuzz::ReadEntries(std::make_shared<arc::own::MemoryInput>(bytes.data(), bytes.size()),
                                  archive_read_support_format_rar5);
    if (status != arc::rar5::Status::Ok) return 0;
    std::vector<std::uint8_t> whole(static_cast<std::size_t>(std::min<std::uint64_t>(view->Size(), 1u << 26)));
    view->Seek(0);
    dexalo::fuzz::Check(view->Read(whole.data(), whole.size()) == whole.size(), "the view read back short");
    view->Seek(0);
    dexalo::fuzz::ReadEntries(view, archive_read_support_format_rar5);
    return 0;
}
