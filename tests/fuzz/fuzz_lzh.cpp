// Any bytes as an LZH archive, read by our own reader: it never reads out of bounds, never
// hands out more than an entry's size, and ends an entry's data as Ok only with all of it.
// The header walk that routes archives to the reader takes the same bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/lzh.h"

namespace {

namespace own = dexalo::archivers::own;
namespace lzh = dexalo::archivers::lzh;

// A failed property is a crash, so libFuzzer keeps the input.
void Check(bool holds, const char* property) {
    if (!holds) std::fprintf(stderr, "property failed: %s\n", property), std::abort();
}

struct Memory final : own::Input {
    Memory(const std::uint8_t* d, std::size_t n) : data(d), size(n) {}
    std::size_t Read(std::uint8_t* out, std::size_t n) override {
        n = std::min(n, size - at);
        if (n > 0) std::memcpy(out, data + at, n);
        return at += n, n;
    }
    bool Skip(std::uint64_t n) override { return n <= size - at && (at += static_cast<std::size_t>(n), true); }
    const std::uint8_t* data;
    std::size_t size, at = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Memory walk(data, size);
    lzh::HasMethodsOnlyWeRead(walk);

    Memory input(data, size);
    lzh::Reader reader(input);
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
            Check(produced <= entry.size, "an entry gave more than its size");
            if ((total += n) > (1u << 20)) return 0;  // enough for one input
        }
        Check(status != own::Status::Ok || produced == entry.size, "an entry ended Ok short of its size");
        Check((status == own::Status::Unsupported) == (entry.unsupported != nullptr), "Unsupported without a reason, or the reverse");
    }
    return 0;
}
