// How much of a large file that is no archive the five libraries read to answer the
// count probe that recognition asks first. They must look at headers only.
//
//   recognition_reads [--gib 1] [--file PATH]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/pipeline/api.h"

namespace fs = std::filesystem;
using dexalo::archivers::Family;

namespace {

// Bytes this process has read through read(2) and friends so far.
long long BytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    long long gib = 1;
    fs::path file = fs::temp_directory_path() / "dexalo-not-an-archive.bin";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--gib") == 0) gib = std::atoll(argv[i + 1]);
        if (std::strcmp(argv[i], "--file") == 0) file = argv[i + 1];
    }
    {
        // Text at both ends, a hole in between: 1 GiB on paper, a few bytes on disk.
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        const std::string text = "These are notes, not an archive of any kind.\n";
        for (int i = 0; i < 200; ++i) out << text;
        out.seekp(gib * 1024 * 1024 * 1024 - static_cast<long long>(text.size()));
        out << text;
    }
    const long long size = static_cast<long long>(fs::file_size(file));
    std::printf("file: %s, %lld bytes\n", file.c_str(), size);
    std::printf("%-6s %8s %14s %10s\n", "family", "count", "bytes read", "of file");
    const struct {
        Family family;
        const char* name;
    } families[] = {{Family::Lzh, "LZH"}, {Family::Zip, "ZIP"}, {Family::Cab, "CAB"},
                    {Family::Tar, "TAR"}, {Family::Rar, "RAR"}};
    long long total = 0;
    for (const auto& f : families) {
        const long long before = BytesRead();
        const int count = dexalo::archivers::GetFileCount(f.family, file.c_str());
        const long long read = BytesRead() - before;
        total += read;
        std::printf("%-6s %8d %14lld %9.5f%%\n", f.name, count, read, 100.0 * static_cast<double>(read) / size);
    }
    std::printf("all    %8s %14lld %9.5f%%\n", "", total, 100.0 * static_cast<double>(total) / size);
    fs::remove(file);
    return 0;
}
