// Any bytes as a gzip stream, read in pieces of the input's choosing: no read out of bounds and
// no endless loop; a stream that reads cleanly reads the same again after a seek back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "engine/codecs/gunzip.h"

namespace {

using dexalo::archivers::GunzipInput;
using dexalo::archivers::own::MemoryInput;

constexpr std::size_t kMaxOutput = 16 << 20;  // a bomb's worth is enough to tell

std::string ReadAll(GunzipInput& gz, std::size_t piece) {
    std::string out;
    std::vector<std::uint8_t> buffer(piece);
    while (out.size() < kMaxOutput) {
        const std::size_t n = gz.Read(buffer.data(), piece);
        out.append(reinterpret_cast<const char*>(buffer.data()), n);
        if (n < piece) break;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const std::size_t piece = provider.ConsumeIntegralInRange<std::size_t>(1, 70000);
    const std::string bytes = provider.ConsumeRemainingBytesAsString();
    GunzipInput gz(std::make_unique<MemoryInput>(bytes.data(), bytes.size()));
    const std::string first = ReadAll(gz, piece);
    if (gz.Failed() || first.size() >= kMaxOutput) return 0;
    dexalo::fuzz::Check(gz.Finish(), "a stream read to its end fails to finish");
    dexalo::fuzz::Check(gz.Seek(first.size() / 2) && gz.Seek(0), "a seek back fails");
    dexalo::fuzz::Check(ReadAll(gz, piece) == first, "a stream reads differently the second time");
    return 0;
}
