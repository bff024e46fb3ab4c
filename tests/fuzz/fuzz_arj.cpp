// Any bytes as an ARJ archive: the reader never reads out of bounds, never hands out more
// than an entry's size, and the whole extraction writes nothing outside its destination.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "fuzz_support.h"
#include "engine/formats/arj.h"
#include "engine/pipeline/extract.h"

namespace {

namespace arj = dexalo::archivers::arj;
namespace fs = std::filesystem;

// Reads every entry; false when the output grows past what a fuzz run should write to disk.
bool SmallWhenRead(const std::uint8_t* data, std::size_t size) {
    dexalo::archivers::own::MemoryInput input(data, size);
    arj::Reader reader(input);
    if (reader.Open() != arj::Status::Ok) return true;
    std::uint64_t total = 0;
    arj::Entry entry;
    for (int entries = 0; entries < 64 && reader.Next(entry) == arj::Status::Ok; ++entries) {
        std::uint64_t produced = 0;
        const std::uint8_t* block = nullptr;
        std::size_t n = 0;
        while (reader.Read(block, n) == arj::Status::Ok && n > 0) {
            produced += n;
            dexalo::fuzz::Check(produced <= entry.originalSize, "an entry gave more than its size");
            if ((total += n) > (1u << 20)) return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!SmallWhenRead(data, size)) return 0;
    static const fs::path scratch = fs::temp_directory_path() / ("fuzz_arj_" + std::to_string(::getpid()));
    fs::remove_all(scratch);
    fs::create_directories(scratch / "out");
    std::ofstream(scratch / "in.arj", std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    dexalo::archivers::Extract({dexalo::archivers::Family::Arj, (scratch / "in.arj").wstring(), (scratch / "out").wstring(), {}});
    int names = 0;
    for (const auto& item : fs::directory_iterator(scratch)) {
        ++names;
        dexalo::fuzz::Check(item.path().filename() == "in.arj" || item.path().filename() == "out", "a file outside the destination");
    }
    dexalo::fuzz::Check(names == 2, "the archive or the destination is gone");
    return 0;
}
