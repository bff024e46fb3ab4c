// What one front-end sequence reads of an archive: the libraries asked in the program's
// order until one takes the file (count or check), the single-folder listing (open, find,
// close), then the main operation. Each run is a fresh process under strace, which counts
// the opens of the file given and of the set's other pieces (the one opened most), and the
// bytes read from all of them.
//
//   sequence_reads [--work DIR]
//
// All families share one engine here, where each library has its own; nothing they decide
// is shared between families, so the counts are those of the separate libraries.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "engine/pipeline/api.h"

namespace fs = std::filesystem;
using dexalo::archivers::Family;
namespace api = dexalo::archivers;

namespace {

struct Asked {
    Family family;
    bool check;  // a check library (ISH, JAK); the others answer a count
};
// The program's recognition order (YZ1 has no stand-in).
constexpr Asked kOrder[] = {{Family::Lzh, false}, {Family::Zip, false}, {Family::Cab, false},
                            {Family::Tar, false}, {Family::Bga, false}, {Family::Ish, true},
                            {Family::Rar, false}, {Family::Arj, false}, {Family::Jak, true}};

const char* OptionsOf(Family family) {
    switch (family) {
    case Family::Lzh: return "x -a1 -gq1 -m1";
    case Family::Zip: return "-u -qq";
    case Family::Cab: return "-x -n";
    case Family::Rar: return "x -u";
    case Family::Arj: return "x -u+ -hq+ -y+";
    case Family::Bga: return "x -n";
    default: return "x -f";
    }
}

int Sequence(const std::string& archive, const std::string& dest) {
    for (const Asked& asked : kOrder) {
        if (asked.check) {
            if (api::CheckArchive(asked.family, archive.c_str(), 0) != 1) continue;
            return asked.family == Family::Jak ? api::Combine(asked.family, archive.c_str(), dest.c_str())
                                               : api::Run(asked.family, (archive + " /f=" + dest + "/").c_str(), nullptr, 0);
        }
        const int count = api::GetFileCount(asked.family, archive.c_str());
        if (count < 1) continue;
        if (count > 1) {
            const auto handle = api::OpenArchive(asked.family, archive.c_str(), 512);
            api::EntryRecord record{};
            for (int r = api::FindFirst(asked.family, handle, "*", &record); r == 0;
                 r = api::FindNext(asked.family, handle, &record)) {
            }
            api::CloseArchive(asked.family, handle);
        }
        const std::string line = std::string(OptionsOf(asked.family)) + " \"" + archive + "\" \"" + dest + "/\"";
        return api::Run(asked.family, line.c_str(), nullptr, 0);
    }
    return 99;
}

int Sh(const std::string& command) { return std::system(command.c_str()); }

struct Reads {
    int opens = 0;       // of the file the sequence was given
    int otherOpens = 0;  // of the set's other piece opened most
    std::map<std::string, int> byFile;
    long long bytes = 0;
    int status = -1;
};

// The child's opens and reads of files under `folder`, from strace's log (fds shown as paths).
Reads Measure(const fs::path& folder, const fs::path& archive, const fs::path& dest) {
    const fs::path log = folder.parent_path() / "strace.log";
    fs::remove_all(dest);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    Reads reads;
    ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);  // LeakSanitizer cannot run under ptrace
    reads.status = WEXITSTATUS(Sh("strace -f -qq -y -e trace=open,openat,read,pread64 -o '" + log.string() + "' '" + self +
                                  "' --run '" + archive.string() + "' '" + dest.string() + "'"));
    const std::regex open(R"x((open|openat)\(.*")x" + folder.string() + R"x(/([^"]*)".*\) = [0-9])x");
    const std::regex read(R"((read|pread64)\([0-9]+<)" + folder.string() + R"(/[^>]*>.*\) = ([0-9]+))");
    std::ifstream in(log);
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (std::regex_search(line, m, open)) ++reads.byFile[m[2]];
        if (std::regex_search(line, m, read)) reads.bytes += std::stoll(m[2]);
    }
    for (const auto& [file, opens] : reads.byFile) {
        if (file == archive.filename().string()) reads.opens = opens;
        else reads.otherOpens = std::max(reads.otherOpens, opens);
    }
    return reads;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--run") == 0) return Sequence(argv[2], argv[3]);
    fs::path work = fs::temp_directory_path() / "dexalo-sequence-reads";
    if (argc == 3 && std::strcmp(argv[1], "--work") == 0) work = argv[2];
    const fs::path src = work / "src", sets = work / "sets";
    fs::remove_all(work);
    fs::create_directories(src / "sub");
    fs::create_directories(sets);
    // A few files of text that compresses; the RAR 5 set is libarchive's own, from its sources.
    const std::string w = work.string();
    Sh("cd '" + w + "/src' && for i in 1 2 3 4 5 6; do seq 1 40000 > sub/f$i.txt; done && echo readme > readme.txt");
    Sh("cd '" + w + "/src' && zip -qr ../sets/z.zip . && 7z a -bd ../sets/x.7z . >/dev/null && tar czf ../sets/t.tgz .");
    Sh("cd '" + w + "/src' && zip -qr -s 200k ../sets/s.zip .");
    const char* cache = std::getenv("DEXALO_DEPS_CACHE");
    Sh("cd '" + w + "/sets' && for uu in " + std::string(cache ? cache : "/var/cache/dexalo-deps") +
       "/src/*/*/libarchive/test/test_read_format_rar5_multiarchive.part0?.rar.uu; do "
       "n=$(basename \"$uu\" .uu); n=r.${n##*.part}; n=r.part${n#r.}; "
       "python3 -c \"import binascii,sys; sys.stdout.buffer.write(b''.join(binascii.a2b_uu(l) for l in "
       "open(sys.argv[1]).read().split('\\nend')[0].splitlines()[1:]))\" \"$uu\" > \"$n\"; done");
    std::printf("%-16s %6s %12s %12s %12s\n", "file", "opens", "other piece", "bytes read", "set bytes");
    for (const char* name : {"z.zip", "x.7z", "t.tgz", "s.z01", "s.zip", "r.part01.rar", "r.part02.rar", "r.part08.rar"}) {
        if (!fs::exists(sets / name)) continue;
        long long total = 0;
        const std::string stem = fs::path(name).stem().stem().string();
        for (const auto& f : fs::directory_iterator(sets))
            if (f.path().filename().string().rfind(stem + ".", 0) == 0) total += static_cast<long long>(f.file_size());
        const Reads r = Measure(sets, sets / name, work / "out");
        std::printf("%-16s %6d %12d %12lld %12lld%s\n", name, r.opens, r.otherOpens, r.bytes, total,
                    r.status == 0 ? "" : "  (failed)");
    }
    return 0;
}
