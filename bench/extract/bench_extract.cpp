// What one file costs the program itself, with libraries that answer at once, and how
// much of a large file that no library takes the program reads.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "extract/extraction.h"

namespace {

using namespace dexalo;

// Answers from a fixed table, doing nothing else.
class QuietLibraries : public ArchiverLibraries {
public:
    Library accepting = Library::Unlha;
    std::int32_t count = 2;
    std::vector<std::wstring> entries;
    std::int64_t calls = 0;

    std::optional<std::int32_t> GetVersion(Library) override { return 100; }
    std::optional<std::int32_t> GetFileCount(Library lib, const std::wstring&) override {
        ++calls;
        return lib == accepting ? count : 0;
    }
    std::optional<std::int32_t> CheckArchive(Library lib, const std::wstring&, std::int32_t) override {
        ++calls;
        return lib == accepting ? 1 : 0;
    }
    std::optional<ArchiveHandle> OpenArchive(Library, WindowHandle, const std::wstring&, std::uint32_t) override {
        ++calls;
        return 1;
    }
    std::optional<std::int32_t> FindFirst(Library, ArchiveHandle, const std::wstring&, EntryRecord& r) override {
        ++calls;
        next_ = 0;
        if (entries.empty()) return -1;
        r.path = entries[next_++];
        return 0;
    }
    std::optional<std::int32_t> FindNext(Library, ArchiveHandle, EntryRecord& r) override {
        ++calls;
        if (next_ >= entries.size()) return -1;
        r.path = entries[next_++];
        return 0;
    }
    std::optional<std::int32_t> CloseArchive(Library, ArchiveHandle) override { return ++calls, 0; }
    std::optional<std::int32_t> Run(Library, WindowHandle, const std::wstring& line) override {
        ++calls;
        benchmark::DoNotOptimize(line.data());
        return 0;
    }
    std::optional<std::int32_t> JackCombine(const std::wstring&, const std::wstring&) override { return ++calls, 0; }

private:
    std::size_t next_ = 0;
};

std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s.push_back(c == L'\\' ? '/' : static_cast<char>(c));
    return s;
}

// Real files on disk, counting every byte the program reads.
class CountingFiles : public ExtractFiles {
public:
    std::int64_t bytesRead = 0;
    std::optional<std::wstring> LookUpFile(const std::wstring& path) override {
        struct stat st {};
        if (stat(Narrow(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
        return path.substr(path.rfind(L'\\') + 1);
    }
    bool MakeFolder(const std::wstring&) override { return true; }
    std::optional<std::int64_t> FileLength(const std::wstring& path) override {
        struct stat st {};
        if (stat(Narrow(path).c_str(), &st) != 0) return std::nullopt;
        return st.st_size;
    }
    bool RemoveFile(const std::wstring&) override { return true; }
    bool FileExists(const std::wstring&) override { return false; }
    bool FolderExists(const std::wstring&) override { return true; }
    std::string ReadHead(const std::wstring& path, std::size_t count) override {
        const int fd = open(Narrow(path).c_str(), O_RDONLY);
        if (fd < 0) return {};
        std::string head(count, '\0');
        const ssize_t got = read(fd, head.data(), count);
        close(fd);
        head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        bytesRead += static_cast<std::int64_t>(head.size());
        return head;
    }
};

// A copying LZ library that counts what it would read; it must never be reached here.
class CountingLz : public LzLibrary {
public:
    std::int64_t opens = 0;
    std::optional<std::int32_t> LzOpen(const std::wstring&, std::uint16_t) override { return ++opens, 1; }
    std::optional<std::int32_t> LzCopy(std::int32_t, std::int32_t) override { return 0; }
    void LzClose(std::int32_t) override {}
};

class AsciiPaths : public AnsiPaths {
public:
    bool FitsAnsi(const std::wstring&) override { return true; }
    std::optional<std::wstring> ShortForm(const std::wstring& p) override { return p; }
};

class QuietShell : public ExtractShell {
public:
    std::int64_t messages = 0, starts = 0;
    bool StartProgram(const std::wstring&) override { return ++starts, true; }
    void ShowMessage(WindowHandle, const std::wstring&, const std::wstring&, std::uint32_t) override { ++messages; }
};

class MemoryFiles : public CountingFiles {
public:
    std::optional<std::wstring> LookUpFile(const std::wstring& path) override {
        return path.substr(path.rfind(L'\\') + 1);
    }
};

// A sparse 1 GiB file of zeros: nothing takes it, so it ends in the LZ step.
void BM_LargeNonArchive(benchmark::State& state) {
    char name[] = "/tmp/dexalo-bench-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0 || ftruncate(fd, std::int64_t{1} << 30) != 0) {
        state.SkipWithError("cannot create the 1 GiB file");
        return;
    }
    close(fd);
    std::wstring path = L"\\";
    for (const char* p = name + 1; *p; ++p) path.push_back(*p == '/' ? L'\\' : static_cast<wchar_t>(*p));

    ModuleState module{L"\\tmp\\", 1, 0};
    QuietLibraries libs;
    libs.accepting = static_cast<Library>(-1);
    CountingFiles files;
    AsciiPaths ansi;
    CountingLz lz;
    QuietShell shell;
    Extraction extraction(module, libs, files, ansi, lz, shell);
    for (auto _ : state) extraction.EXTRACT_FILE(path);
    unlink(name);

    state.counters["bytes_read_per_file"] = static_cast<double>(files.bytesRead) / state.iterations();
    state.counters["lz_opens"] = static_cast<double>(lz.opens);
    state.counters["messages_per_file"] = static_cast<double>(shell.messages) / state.iterations();
}
BENCHMARK(BM_LargeNonArchive);

// One archive end to end with libraries that answer at once; arg = entries listed.
void BM_OwnCostPerFile(benchmark::State& state, Library lib) {
    ModuleState module{L"D:\\Out\\", 3, 0};
    QuietLibraries libs;
    libs.accepting = lib;
    libs.count = static_cast<std::int32_t>(state.range(0));
    for (std::int64_t i = 0; i < state.range(0); ++i) libs.entries.push_back(L"folder/sub/file" + std::to_wstring(i));
    MemoryFiles files;
    AsciiPaths ansi;
    CountingLz lz;
    QuietShell shell;
    Extraction extraction(module, libs, files, ansi, lz, shell);
    const std::wstring path = L"C:\\Users\\someone\\Downloads\\archive-with-a-longer-name.lzh";
    for (auto _ : state) extraction.EXTRACT_FILE(path);
    state.counters["library_calls_per_file"] = static_cast<double>(libs.calls) / state.iterations();
}
BENCHMARK_CAPTURE(BM_OwnCostPerFile, lzh, Library::Unlha)->Arg(1)->Arg(2)->Arg(1000);
BENCHMARK_CAPTURE(BM_OwnCostPerFile, bga_last_probe_but_five, Library::Bga)->Arg(2);
BENCHMARK_CAPTURE(BM_OwnCostPerFile, jak_last_probe, Library::Jack)->Arg(1);

} // namespace

BENCHMARK_MAIN();
