// Any bytes through one of our own readers (DEXALO_FUZZ_READER, one target each): the reader
// never reads out of bounds, never hands out more than an entry's size, and an entry it
// calls whole has exactly its size.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "engine/formats/bga.h"
#include "engine/formats/ish.h"
#include "engine/formats/lzh.h"
#include "engine/formats/zip.h"

namespace own = dexalo::archivers::own;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    own::MemoryInput input(data, size);
    DEXALO_FUZZ_READER reader(input);
    if (reader.Open() != own::Status::Ok) return 0;
    std::uint64_t total = 0;
    own::Entry entry;
    for (int entries = 0; entries < 64 && reader.Next(entry) == own::Status::Ok; ++entries) {
        std::uint64_t produced = 0;
        const std::uint8_t* block = nullptr;
        std::size_t n = 0;
        own::Status status;
        while ((status = reader.Read(block, n)) == own::Status::Ok && n > 0) {
            produced += n;
            dexalo::fuzz::Check(produced <= entry.size, "an entry gave more than its size");
            if ((total += n) > (1u << 24)) return 0;  // a bomb: enough has been read
        }
        dexalo::fuzz::Check(status != own::Status::Ok || produced == entry.size || entry.directory,
                            "an entry ended short without saying so");
    }
    return 0;
}
