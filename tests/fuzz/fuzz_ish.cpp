// Any bytes as an ISH text: the reader never reads out of bounds and never hands out more
// than an entry's size.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "engine/ish.h"

namespace {

namespace own = dexalo::archivers::own;

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
    dexalo::archivers::ish::Reader reader(input);
    if (reader.Open() != own::Status::Ok) return 0;
    own::Entry entry;
    for (int entries = 0; entries < 64 && reader.Next(entry) == own::Status::Ok; ++entries) {
        std::uint64_t produced = 0;
        const std::uint8_t* block = nullptr;
        std::size_t n = 0;
        while (reader.Read(block, n) == own::Status::Ok && n > 0) {
            produced += n;
            dexalo::fuzz::Check(produced <= entry.size, "an entry gave more than its size");
        }
    }
    return 0;
}
