// Any bytes as a BGA archive: the reader never reads out of bounds, never hands out more than
// an entry's size, and a damaged entry never comes out whole.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/bga.h"

namespace {

namespace own = dexalo::archivers::own;

// A failed property is a crash, so libFuzzer keeps the input.
void Check(bool holds, const char* property) {
    if (!holds) std::fprintf(stderr, "property failed: %s\n", property), std::abort();
}

class Memory final : public own::Input {
public:
    Memory(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t Read(std::uint8_t* out, std::size_t size) override {
        const std::size_t n = std::min(size, size_ - at_);
        if (n > 0) std::memcpy(out, data_ + at_, n);
        at_ += n;
        return n;
    }
    bool Skip(std::uint64_t size) override {
        if (size > size_ - at_) return false;
        at_ += static_cast<std::size_t>(size);
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_, at_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Memory input(data, size);
    dexalo::archivers::bga::Reader reader(input);
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
            if ((total += n) > (1u << 24)) return 0;  // a bomb: enough has been read
        }
        Check(status != own::Status::Ok || produced == entry.size, "an entry ended short without saying so");
        Check(status != own::Status::Damaged || produced < entry.size || produced == 0, "a damaged entry came out whole");
    }
    return 0;
}
