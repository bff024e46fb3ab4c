// Any bytes as an encrypted 7z, password "a": the view is built or refused without reading
// out of bounds, reads back exactly its size, and libarchive reads it without crashing. The
// CRCs of the start header and the next header are set right first, so that mutations reach
// the header parser rather than stopping at a checksum.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/codecs/bytes.h"
#include "engine/formats/seven_zip.h"
#include "fuzz_archive.h"
#include "fuzz_support.h"

namespace arc = dexalo::archivers;

namespace {

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    if (size >= 32) {
        const std::uint64_t offset = arc::Le64(&bytes[12]), length = arc::Le64(&bytes[20]);
        if (offset <= size - 32 && length <= size - 32 - offset)
            PutLe32(&bytes[28], arc::Crc32(0, &bytes[32 + offset], static_cast<std::size_t>(length)));
        PutLe32(&bytes[8], arc::Crc32(0, &bytes[12], 20));
    }
    auto view = std::make_shared<arc::seven_zip::DecryptedView>(
        std::make_unique<arc::own::MemoryInput>(bytes.data(), bytes.size()), arc::seven_zip::Limits{19, 1u << 20});
    if (view->Open(u"a") != arc::seven_zip::Status::Ok) return 0;
    std::vector<std::uint8_t> whole(static_cast<std::size_t>(std::min<std::uint64_t>(view->Size(), 1u << 26)));
    const std::size_t n = view->Read(whole.data(), whole.size());
    dexalo::fuzz::Check(n == whole.size() || view->Failed(), "the view read back short without failing");

    dexalo::fuzz::ReadEntries(view, &archive_read_support_format_7zip);
    return 0;
}
