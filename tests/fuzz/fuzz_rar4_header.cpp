// Any bytes as a RAR 4 archive whose file header the engine reads itself: no read out of
// bounds, and a name it returns is bytes of the file. The same bytes walked as RAR volumes,
// which also tells whether a RAR 5 is cut short.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_support.h"
#include "engine/formats/rar_name.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("fuzz_rar4_" + std::to_string(::getpid()) + ".rar");
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    // The first byte picks where libarchive would say the header starts.
    if (const auto name = dexalo::archivers::Rar4CodePageName({file.wstring()}, data[0] % 64)) {
        dexalo::fuzz::Check(bytes.find(*name) != std::string::npos, "a name that is not in the file");
    }
    (void)dexalo::archivers::RarVolume(file.wstring(), (data[0] & 64) != 0);
    return 0;
}
