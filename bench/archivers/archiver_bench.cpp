// Times the engine's main operation against `bsdtar -x` on the same ZIP and .tar.gz of
// about 256 MiB (1 GiB of text-like data), against Debian's `arj x` on an ARJ archive of
// about 100 MiB (our own ARJ reader) and against Debian's `7z x` on a 7z of about 256 MiB
// (LZMA2, 16 MiB dictionary: 256 MiB of the same data and 192 MiB that does not compress,
// which 7z makes far faster than 2 GiB of text), RAR 5 (rar -ma5, as WinRAR writes it) against
// `bsdtar -x` and, encrypted with -p, against itself without the password, runs alternating
// so that all see the same cache,
// and measures the peak memory (VmHWM) of an extraction in a fresh process for growing
// archives. `--only cores` compares extraction on every core (and on one) with `bsdtar -x` on
// a ZIP of 16 entries of text, a ZIP of one large entry and a .tar.gz, side by side.
//
//   archiver_bench [--work DIR] [--mib 1024] [--arj-mib 400] [--7z-mib 256] [--7z-noise-mib 192] [--rar-mib 512]
//                  [--big-mib 1024] [--cores-mib 64] [--runs 3] [--only rar5|cores]
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "engine/pipeline/api.h"
#include "engine/pipeline/parallel_extract.h"
#include "engine/pipeline/user_interface.h"

extern char** environ;

namespace fs = std::filesystem;
using dexalo::archivers::Family;

namespace {

struct Options {
    fs::path work = fs::temp_directory_path() / "dexalo-archiver-bench";
    int mib = 1024;  // text-like data compresses about 4:1: archives of about 256 MiB
    int arjMib = 400;  // arj compresses it about 4:1: an archive of about 100 MiB
    int sevenMib = 256;
    int sevenNoiseMib = 192;
    int rarMib = 512;
    int bigMib = 1024;
    int coresMib = 64;
    int runs = 3;
    std::string only;  // "rar5", "cores": that comparison alone
};

// Text-like data that compresses about 3:1, or random bytes that do not compress.
void MakeTree(const fs::path& root, int totalMib, bool compressible) {
    fs::remove_all(root);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    static const char* words[] = {"archive", "folder", "extract", "entry", "header", "stream", "block",
                                  "data",    "name",   "value",   "table", "index",  "record", "window"};
    const std::size_t fileSize = 4u << 20;  // 4 MiB files, a few folders deep
    const int files = std::max(1, totalMib / 4);
    std::vector<char> buffer(fileSize);
    for (int f = 0; f < files; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "d%d/s%d", f % 8, f % 3);
        const fs::path dir = root / name;
        fs::create_directories(dir);
        std::size_t pos = 0;
        while (pos < fileSize) {
            if (compressible) {
                const std::uint64_t r = next();
                const char* w = words[r % 14];
                const std::size_t n = std::min(std::strlen(w), fileSize - pos);
                std::memcpy(buffer.data() + pos, w, n);
                pos += n;
                if (pos < fileSize) buffer[pos++] = (r >> 8) % 11 == 0 ? '\n' : ' ';
                if (pos + 8 < fileSize && (r >> 16) % 5 == 0) {
                    pos += static_cast<std::size_t>(std::snprintf(buffer.data() + pos, 9, "%06u ",
                                                                  static_cast<unsigned>((r >> 24) % 1000000)));
                }
            } else {
                const std::uint64_t r = next();
                const std::size_t n = std::min<std::size_t>(8, fileSize - pos);
                std::memcpy(buffer.data() + pos, &r, n);
                pos += n;
            }
        }
        std::snprintf(name, sizeof name, "f%d.dat", f);
        std::ofstream(dir / name, std::ios::binary)
            .write(buffer.data(), static_cast<std::streamsize>(fileSize));
    }
}

int Sh(const std::string& command) { return std::system(command.c_str()); }

const char* KindOf(Family family) {
    return family == Family::Zip ? "zip" : family == Family::Arj ? "arj" : family == Family::Rar ? "rar" : "tar";
}

double Seconds(const std::chrono::steady_clock::time_point& since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Child {
    int status = -1;
    double seconds = 0;
    long peakKiB = 0;  // the engine's own high-water mark (VmHWM), 0 for other programs
};

// A spawned child inherits its parent's high-water mark in ru_maxrss, so the engine's
// child reports its own VmHWM through this file instead.
fs::path HighWaterFile() { return fs::temp_directory_path() / ("dexalo-bench-hwm-" + std::to_string(::getpid())); }

long ReadHighWater(const fs::path& file) {
    long kib = 0;
    std::ifstream(file) >> kib;
    return kib;
}

// Runs a program in a fresh process and reports its time and peak resident memory.
Child Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Child child;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return child;
    int status = 0;
    waitpid(pid, &status, 0);
    child.seconds = Seconds(start);
    child.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return child;
}

std::string Self() { return fs::read_symlink("/proc/self/exe").string(); }

Child Engine(Family family, const fs::path& archive, const fs::path& dest) {
    fs::remove_all(dest);
    Sh("sync");
    fs::remove(HighWaterFile());
    Child c = Spawn({Self(), "--extract", KindOf(family), archive.string(), dest.string(),
                     HighWaterFile().string()});
    c.peakKiB = ReadHighWater(HighWaterFile());
    return c;
}

Child Bsdtar(const fs::path& archive, const fs::path& dest) {
    fs::remove_all(dest);
    fs::create_directories(dest);
    Sh("sync");
    return Spawn({"bsdtar", "-x", "-f", archive.string(), "-C", dest.string()});
}

// The front end's whole sequence in one process: count, listing, extraction.
Child FrontEndSequence(Family family, const fs::path& archive, const fs::path& dest) {
    fs::remove_all(dest);
    Sh("sync");
    return Spawn({Self(), "--sequence", KindOf(family), archive.string(), dest.string(),
                  HighWaterFile().string()});
}

int ChildMain(const std::string& mode, const std::string& kind, const std::string& archive,
              const std::string& dest, const std::string& highWaterFile) {
    const Family family = kind == "zip" ? Family::Zip
                        : kind == "arj" ? Family::Arj
                        : kind == "rar" ? Family::Rar
                                        : Family::Tar;  // 7z too
    if (const char* threads = std::getenv("DEXALO_BENCH_THREADS")) dexalo::archivers::SetExtractionThreads(static_cast<unsigned>(std::atoi(threads)));
    if (mode == "--sequence") {
        if (dexalo::archivers::GetFileCount(family, archive.c_str()) < 1) return 90;
        const auto handle = dexalo::archivers::OpenArchive(family, archive.c_str(), 512);
        dexalo::archivers::EntryRecord record{};
        for (int r = dexalo::archivers::FindFirst(family, handle, "*", &record); r == 0;
             r = dexalo::archivers::FindNext(family, handle, &record)) {
        }
        dexalo::archivers::CloseArchive(family, handle);
    }
    // The option texts the front end passes.
    const char* options = family == Family::Zip ? "-u -qq" : family == Family::Arj ? "x -u+ -hq+ -y+"
                        : family == Family::Rar ? "x -u" : "x -f";
    const std::string line = std::string(options) + " \"" + archive + "\" \"" + dest + "/\"";
    char out[1] = {0};
    // The password of an encrypted archive, typed in at once.
    struct Typist final : dexalo::archivers::UserInterface {
        void Progress(const std::wstring&, const std::wstring&, std::uint64_t, std::uint64_t) override {}
        bool Cancelled() override { return false; }
        std::optional<std::wstring> Passphrase(const std::wstring&, bool wrong) override {
            if (const char* p = std::getenv("DEXALO_BENCH_PASSWORD"); p && !wrong) return std::wstring(p, p + std::strlen(p));
            return std::nullopt;
        }
        void Report(const std::wstring&, const dexalo::archivers::ExtractResult&) override {}
    } typist;
    const int code = dexalo::archivers::Run(family, line.c_str(), out, 0, &typist);
    std::ifstream status("/proc/self/status");
    for (std::string key; status >> key;) {
        if (key == "VmHWM:") {
            long kib = 0;
            status >> kib;
            std::ofstream(highWaterFile) << kib;
            break;
        }
    }
    return code;
}

// Another tool's extraction into dest, its listing sent to /dev/null as our engine writes none.
Child Tool(const std::string& command, const fs::path& archive, const fs::path& dest) {
    fs::remove_all(dest);
    fs::create_directories(dest);
    Sh("sync");
    return Spawn({"sh", "-c", "exec " + command + " >/dev/null", archive.string(), dest.string()});
}

// Our engine against another tool on the same archive, made by `make` in src/ into `name`.
bool CompareWithTool(const Options& options, const char* label, Family family, int mib, int noiseMib,
                     const std::string& name, const std::string& make, const std::string& extract) {
    const fs::path w = options.work;
    std::printf("== %s: %d MiB of text-like data and %d MiB of noise, %d alternating runs each, best run counted\n",
                label, mib, noiseMib, options.runs);
    MakeTree(w / "src", mib, true);
    if (noiseMib > 0) MakeTree(w / "src" / "noise", noiseMib, false);
    fs::remove(w / name);
    Sh("cd '" + w.string() + "/src' && " + make + " >/dev/null");
    double engine = 1e9, tool = 1e9;
    long enginePeak = 0;
    for (int run = 0; run < options.runs; ++run) {
        const Child e = Engine(family, w / name, w / "out-engine");
        const Child t = Tool(extract, w / name, w / "out-tool");
        if (e.status != 0 || t.status != 0) {
            std::printf("%s: failed (engine %d, tool %d)\n", label, e.status, t.status);
            return false;
        }
        engine = std::min(engine, e.seconds);
        tool = std::min(tool, t.seconds);
        enginePeak = std::max(enginePeak, e.peakKiB);
    }
    const bool same = Sh("diff -r '" + (w / "out-engine").string() + "' '" + (w / "out-tool").string() + "' >/dev/null") == 0;
    std::printf("%-7s archive %6.1f MiB  engine %6.2f s  other %6.2f s  ratio %.3f   (engine peak %.1f MiB)%s\n", label,
                static_cast<double>(fs::file_size(w / name)) / 1048576.0, engine, tool, engine / tool,
                static_cast<double>(enginePeak) / 1024.0, same ? "" : "  THE TWO EXTRACTIONS DIFFER");
    fs::remove_all(w / "out-engine");
    fs::remove_all(w / "out-tool");
    fs::remove(w / name);
    return same;
}

// RAR 5 as rar writes it by default: against bsdtar -x, and encrypted (-p) against the same
// archive made without the password.
bool CompareRar5(const Options& options) {
    const fs::path w = options.work;
    std::printf("== rar5: %d MiB of text-like data, %d alternating runs each, best run counted\n", options.rarMib, options.runs);
    MakeTree(w / "src", options.rarMib, true);
    fs::remove(w / "a.rar");
    fs::remove(w / "e.rar");
    Sh("cd '" + w.string() + "/src' && rar a -ma5 -r -idq ../a.rar . && rar a -ma5 -r -idq -pbench ../e.rar .");
    ::setenv("DEXALO_BENCH_PASSWORD", "bench", 1);
    double plain = 1e9, encrypted = 1e9, bsdtar = 1e9;
    for (int run = 0; run < options.runs; ++run) {
        const Child p = Engine(Family::Rar, w / "a.rar", w / "out-engine");
        const Child b = Bsdtar(w / "a.rar", w / "out-bsdtar");
        const Child e = Engine(Family::Rar, w / "e.rar", w / "out-encrypted");
        if (p.status != 0 || b.status != 0 || e.status != 0) {
            std::printf("rar5: failed (engine %d, bsdtar %d, encrypted %d)\n", p.status, b.status, e.status);
            return false;
        }
        plain = std::min(plain, p.seconds);
        bsdtar = std::min(bsdtar, b.seconds);
        encrypted = std::min(encrypted, e.seconds);
    }
    const bool same = Sh("diff -r '" + (w / "out-engine").string() + "' '" + (w / "out-bsdtar").string() + "' >/dev/null && diff -r '" +
                         (w / "out-engine").string() + "' '" + (w / "out-encrypted").string() + "' >/dev/null") == 0;
    std::printf("rar5    archive %6.1f MiB  engine %6.2f s  bsdtar -x %6.2f s  ratio %.3f\n",
                static_cast<double>(fs::file_size(w / "a.rar")) / 1048576.0, plain, bsdtar, plain / bsdtar);
    std::printf("rar5 -p archive %6.1f MiB  engine %6.2f s  without the password %6.2f s  ratio %.3f%s\n",
                static_cast<double>(fs::file_size(w / "e.rar")) / 1048576.0, encrypted, plain, encrypted / plain,
                same ? "" : "  THE EXTRACTIONS DIFFER");
    for (const char* name : {"out-engine", "out-bsdtar", "out-encrypted", "a.rar", "e.rar"}) fs::remove_all(w / name);
    return same;
}

struct Pair {
    const char* name;
    Family family;
    fs::path archive;
};

// The engine on every core and on one against bsdtar -x, runs alternating.
bool CompareCores(const Options& options) {
    const fs::path w = options.work;
    std::printf("== cores: %d MiB of text-like data in %d files, %u cores, %d alternating runs each, best run counted\n",
                options.coresMib, std::max(1, options.coresMib / 4), dexalo::archivers::ExtractionThreads(), options.runs);
    MakeTree(w / "src", options.coresMib, true);
    fs::remove_all(w / "one");
    fs::create_directories(w / "one");
    Sh("cd '" + w.string() + "' && rm -f many.zip many.tar.gz one.zip && (cd src && zip -q -r ../many.zip . && tar czf ../many.tar.gz . &&"
       " cat $(find . -type f | sort) > ../one/big.dat) && (cd one && zip -q ../one.zip big.dat)");
    fs::remove_all(w / "one");
    const Pair pairs[] = {{"zip x16", Family::Zip, w / "many.zip"}, {"zip x1", Family::Zip, w / "one.zip"}, {"tar.gz", Family::Tar, w / "many.tar.gz"}};
    bool same = true;
    for (const Pair& p : pairs) {
        double engine = 1e9, single = 1e9, bsdtar = 1e9;
        long peak = 0, singlePeak = 0;
        for (int run = 0; run < options.runs; ++run) {
            const Child e = Engine(p.family, p.archive, w / "out-engine");
            ::setenv("DEXALO_BENCH_THREADS", "1", 1);
            const Child s = Engine(p.family, p.archive, w / "out-single");
            ::unsetenv("DEXALO_BENCH_THREADS");
            const Child b = Bsdtar(p.archive, w / "out-bsdtar");
            if (e.status != 0 || s.status != 0 || b.status != 0) {
                std::printf("%s: failed (engine %d, one thread %d, bsdtar %d)\n", p.name, e.status, s.status, b.status);
                return false;
            }
            engine = std::min(engine, e.seconds);
            single = std::min(single, s.seconds);
            bsdtar = std::min(bsdtar, b.seconds);
            peak = std::max(peak, e.peakKiB);
            singlePeak = std::max(singlePeak, s.peakKiB);
        }
        const bool equal = Sh("diff -r '" + (w / "out-engine").string() + "' '" + (w / "out-bsdtar").string() + "' >/dev/null && diff -r '" +
                              (w / "out-single").string() + "' '" + (w / "out-bsdtar").string() + "' >/dev/null") == 0;
        same = same && equal;
        std::printf("%-7s archive %6.1f MiB  engine %6.2f s  one thread %6.2f s  bsdtar -x %6.2f s  ratio %.3f (one thread %.3f)"
                    "   peak %.1f MiB (one thread %.1f MiB)%s\n",
                    p.name, static_cast<double>(fs::file_size(p.archive)) / 1048576.0, engine, single, bsdtar, engine / bsdtar,
                    single / bsdtar, static_cast<double>(peak) / 1024.0, static_cast<double>(singlePeak) / 1024.0,
                    equal ? "" : "  THE EXTRACTIONS DIFFER");
    }
    for (const char* name : {"out-engine", "out-single", "out-bsdtar", "many.zip", "many.tar.gz", "one.zip"}) fs::remove_all(w / name);
    return same;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 6 && (std::strcmp(argv[1], "--extract") == 0 || std::strcmp(argv[1], "--sequence") == 0))
        return ChildMain(argv[1], argv[2], argv[3], argv[4], argv[5]);

    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--work") options.work = argv[i + 1];
        else if (key == "--mib") options.mib = std::atoi(argv[i + 1]);
        else if (key == "--big-mib") options.bigMib = std::atoi(argv[i + 1]);
        else if (key == "--arj-mib") options.arjMib = std::atoi(argv[i + 1]);
        else if (key == "--7z-mib") options.sevenMib = std::atoi(argv[i + 1]);
        else if (key == "--7z-noise-mib") options.sevenNoiseMib = std::atoi(argv[i + 1]);
        else if (key == "--rar-mib") options.rarMib = std::atoi(argv[i + 1]);
        else if (key == "--cores-mib") options.coresMib = std::atoi(argv[i + 1]);
        else if (key == "--only") options.only = argv[i + 1];
        else if (key == "--runs") options.runs = std::atoi(argv[i + 1]);
    }
#if defined(__SANITIZE_ADDRESS__)
    std::printf("warning: built with AddressSanitizer; times and memory are not representative\n");
#endif
    fs::create_directories(options.work);
    const fs::path w = options.work;
    if (options.only == "rar5") return CompareRar5(options) ? 0 : 1;
    if (options.only == "cores") return CompareCores(options) ? 0 : 1;

    std::printf("== speed: %d MiB of text-like data, %d alternating runs each, best run counted\n", options.mib,
                options.runs);
    MakeTree(w / "src", options.mib, true);
    Sh("cd '" + w.string() + "/src' && rm -f ../a.zip ../a.tar.gz && zip -q -r ../a.zip . && tar czf ../a.tar.gz .");
    const Pair pairs[] = {{"zip", Family::Zip, w / "a.zip"}, {"tar.gz", Family::Tar, w / "a.tar.gz"}};
    for (const auto& p : pairs) {
        double engine = 1e9, bsdtar = 1e9, sequence = 1e9;
        long enginePeak = 0;
        for (int run = 0; run < options.runs; ++run) {
            const Child e = Engine(p.family, p.archive, w / "out-engine");
            const Child b = Bsdtar(p.archive, w / "out-bsdtar");
            if (e.status != 0 || b.status != 0) {
                std::printf("%s: failed (engine %d, bsdtar %d)\n", p.name, e.status, b.status);
                return 1;
            }
            engine = std::min(engine, e.seconds);
            bsdtar = std::min(bsdtar, b.seconds);
            enginePeak = std::max(enginePeak, e.peakKiB);
        }
        if (Sh("diff -r '" + (w / "out-engine").string() + "' '" + (w / "out-bsdtar").string() + "' >/dev/null") != 0) {
            std::printf("%s: the two extractions differ\n", p.name);
            return 1;
        }
        const Child s = FrontEndSequence(p.family, p.archive, w / "out-engine");
        sequence = s.seconds;
        std::printf("%-7s archive %6.1f MiB  engine %6.2f s  bsdtar -x %6.2f s  ratio %.3f   "
                    "(count+list+extract %6.2f s; engine peak %.1f MiB)\n",
                    p.name, static_cast<double>(fs::file_size(p.archive)) / 1048576.0, engine, bsdtar,
                    engine / bsdtar, sequence, static_cast<double>(enginePeak) / 1024.0);
    }
    fs::remove_all(w / "out-engine");
    fs::remove_all(w / "out-bsdtar");
    // arj -m1, its default; 7z with LZMA2 and a 16 MiB dictionary (-mx=5).
    if (!CompareWithTool(options, "arj", Family::Arj, options.arjMib, 0, "a.arj", "arj a -r -y ../a.arj .",
                         "arj x -y -i \"$0\" \"$1/\"") ||
        !CompareWithTool(options, "7z", Family::Tar, options.sevenMib, options.sevenNoiseMib, "a.7z", "7z a -bd -t7z -m0=LZMA2 -mx=5 ../a.7z .",
                         "7z x -bd -y \"-o$1\" \"$0\"") ||
        !CompareRar5(options))
        return 1;

    std::printf("== memory: incompressible data, archives of growing size, peak memory (VmHWM) of one extraction\n");
    for (int mib : {options.bigMib / 4, options.bigMib}) {
        MakeTree(w / "src", mib, false);
        Sh("cd '" + w.string() + "/src' && rm -f ../m.zip ../m.tar.gz && zip -q -1 -r ../m.zip . && tar cf - . | gzip -1 > ../m.tar.gz");
        fs::remove_all(w / "src");
        for (const Pair& p : {Pair{"zip", Family::Zip, w / "m.zip"}, Pair{"tar.gz", Family::Tar, w / "m.tar.gz"}}) {
            const Child e = Engine(p.family, p.archive, w / "out-engine");
            std::printf("%-7s archive %7.1f MiB  engine peak %6.1f MiB  (%s, %.2f s)\n", p.name,
                        static_cast<double>(fs::file_size(p.archive)) / 1048576.0,
                        static_cast<double>(e.peakKiB) / 1024.0, e.status == 0 ? "ok" : "FAILED", e.seconds);
            fs::remove_all(w / "out-engine");
        }
    }
    fs::remove_all(w);
    return 0;
}
