// Extraction on several threads: the ZIP pool's workers and the write-behind thread keep the
// guarantees of one thread (whole files only, archive order in the report, cancel, full disk).
// DEXALO_TEST_THREADS=n runs the whole suite with n threads forced (a second ctest entry).
#include <chrono>
#include <cstdlib>

#include "archiver_test_support.h"
#include "engine/pipeline/parallel_extract.h"
#include "engine/platform/platform_posix.h"

namespace dexalo::archivers::testing {

namespace {

unsigned SuiteThreads() {
    const char* n = std::getenv("DEXALO_TEST_THREADS");
    return n ? static_cast<unsigned>(std::atoi(n)) : 0;
}
const bool kSuiteThreads = (SetExtractionThreads(SuiteThreads()), true);

struct Threads {
    explicit Threads(unsigned n) { SetExtractionThreads(n); }
    ~Threads() { SetExtractionThreads(SuiteThreads()); }
};

// `count` text files f00.txt... of `size` bytes each (each one different) in dir/src.
Files MakeFiles(const fs::path& dir, int count, std::size_t size) {
    Files files;
    for (int i = 0; i < count; ++i) {
        const std::string name = (i < 10 ? "f0" : "f") + std::to_string(i) + ".txt";
        files[name] = std::to_string(i) + Prose(size + static_cast<std::size_t>(i));
        WriteText(dir / "src" / name, files[name]);
    }
    return files;
}

// Every file written is whole, and no temporary file is left.
void ExpectOnlyWholeFiles(const Files& written, const Files& source) {
    for (const auto& [name, data] : written) {
        EXPECT_EQ(name.find("~dx"), std::string::npos) << name;
        EXPECT_TRUE(source.count(name) && source.at(name) == data) << name << " is not whole";
    }
}

std::map<std::string, fs::file_time_type> Times(const fs::path& root) {
    std::map<std::string, fs::file_time_type> times;
    for (const auto& e : fs::recursive_directory_iterator(root)) times[e.path().lexically_relative(root).string()] = e.last_write_time();
    return times;
}

// Flips a byte near the start or the end of the named entry's data (its local header, with
// the sizes, comes before the central directory's record of it).
void Damage(std::string& zip, const std::string& name, bool late) {
    const std::size_t at = zip.find(name);
    ASSERT_NE(at, std::string::npos);
    const auto* h = reinterpret_cast<const std::uint8_t*>(zip.data()) + at - 30;
    const std::size_t compressed = h[18] | h[19] << 8 | h[20] << 16, extra = h[28] | h[29] << 8;
    zip = Flip(zip, at + name.size() + extra + (late ? compressed - 100 : 100));
}

} // namespace

// zip's archives written to a file and into a pipe (sizes in data descriptors), with Deflate,
// stored and BZip2 entries in folders, and 7-Zip's with Deflate64 (our own reader's): the
// workers write what one thread writes.
TEST(Cores, ManyEntriesComeOutAsOneThreadWritesThem) {
    ScratchDir dir;
    Files expected;
    for (int i = 0; i < 24; ++i) {
        const std::string name = "d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".txt";
        expected[name] = i % 5 == 4 ? Noise(70000 + i, i) : Prose(20000 + 9000 * i) + std::to_string(i);
        WriteText(dir / "src" / name, expected[name]);
        expected["d" + std::to_string(i % 3) + "/"] = "";
    }
    Shell(dir / "src", "zip -q -r ../a.zip d0 d1 && zip -q -r -Z bzip2 ../a.zip d2 && zip -q -r - . | cat > ../piped.zip && 7z a -bd -tzip -mm=Deflate64 ../d64.zip d0 d1 d2");
    for (const char* archive : {"a.zip", "piped.zip", "d64.zip"}) {
        std::map<std::string, fs::file_time_type> oneThread;
        for (unsigned threads : {1u, 4u}) {
            Threads use(threads);
            const fs::path out = dir / (archive + std::to_string(threads));
            const unsigned before = PooledEntries();
            EXPECT_EQ(Extract(Family::Zip, dir / archive, out), kOk) << archive;
            EXPECT_EQ(Tree(out), expected) << archive << " on " << threads;
            EXPECT_EQ(PooledEntries() - before, threads == 1 ? 0u : 24u) << archive;
            if (threads == 1) oneThread = Times(out);
            else EXPECT_EQ(Times(out), oneThread) << archive;
        }
    }
}

// Two entries damaged in the middle, the first near its end, the second near its start: the
// report names the first in archive order, though a worker meets the second's damage first;
// whole files stay and nothing cut stays under any name.
TEST(Cores, DamageNamesTheFirstDamagedEntryAndKeepsOnlyWholeFiles) {
    ScratchDir dir;
    const Files source = MakeFiles(dir.path, 16, 400000);
    Shell(dir / "src", "zip -q ../a.zip *.txt");
    std::string zip = ReadText(dir / "a.zip");
    Damage(zip, "f06.txt", true);
    Damage(zip, "f07.txt", false);
    WriteText(dir / "bad.zip", zip);
    for (unsigned threads : {1u, 3u}) {
        Threads use(threads);
        ScriptedUser user;
        const fs::path out = dir / ("out" + std::to_string(threads));
        EXPECT_EQ(Extract(Family::Zip, dir / "bad.zip", out, &user), kErrorCorrupt);
        ASSERT_EQ(user.reports.size(), 1u);
        EXPECT_EQ(user.reports[0].corruptEntry, L"f06.txt");
        const Files written = Tree(out);
        ExpectOnlyWholeFiles(written, source);
        EXPECT_FALSE(written.count("f06.txt") || written.count("f07.txt"));
        for (int i = 0; i < 6; ++i) EXPECT_TRUE(written.count("f0" + std::to_string(i) + ".txt")) << i;
    }
}

// A cancel raised from the progress callback while several workers write: every worker
// stops, their files go, and nothing after the entry at hand is started. The progress shown
// never goes back.
TEST(Cores, CancelWhileWorkersWriteLeavesOnlyWholeFiles) {
    struct CancelAt final : UserInterface {
        bool seen = false, forward = true;
        std::uint64_t last = 0;
        void Progress(const std::wstring&, const std::wstring& entry, std::uint64_t at, std::uint64_t) override {
            seen = seen || entry == L"f08.txt";
            forward = forward && at >= last;
            last = at;
        }
        bool Cancelled() override { return seen; }
        std::optional<std::wstring> Passphrase(const std::wstring&, bool) override { return std::nullopt; }
        void Report(const std::wstring&, const ExtractResult&) override { ADD_FAILURE() << "no report after a cancel"; }
    } user;
    ScratchDir dir;
    const Files source = MakeFiles(dir.path, 12, 1 << 20);
    Shell(dir / "src", "zip -q ../a.zip *.txt");
    Threads use(3);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Extract(Family::Zip, dir / "a.zip", dir / "out", &user), kErrorCancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(user.forward);
    const Files written = Tree(dir / "out");
    ExpectOnlyWholeFiles(written, source);
    // The entry at hand was handed over just before: its worker drops it.
    for (const char* later : {"f08.txt", "f09.txt", "f10.txt", "f11.txt"}) EXPECT_FALSE(written.count(later)) << later;
}

// A disk that fills part way, under the pool's workers and under the write-behind thread of a
// .tar.gz: the system's reason is reported and no cut file stays.
TEST(Cores, FullDiskIsReportedWithTheSystemsReason) {
    ScratchDir dir;
    const Files source = MakeFiles(dir.path, 8, 200000);
    Shell(dir / "src", "zip -q ../a.zip *.txt && tar -czf ../a.tar.gz *.txt");
    Threads use(2);
    for (const auto& [family, archive] : {std::pair{Family::Zip, "a.zip"}, std::pair{Family::Tar, "a.tar.gz"}}) {
        ScriptedUser user;
        platform::FailWritesAfter(700000);
        const fs::path out = dir / ("out-" + std::string(archive));
        EXPECT_EQ(Extract(family, dir / archive, out, &user), kErrorCannotWrite) << archive;
        platform::FailWritesAfter(std::nullopt);
        ASSERT_EQ(user.reports.size(), 1u);
        EXPECT_EQ(user.reports[0].systemReason, L"No space left on device") << archive;
        const Files written = Tree(out);
        ExpectOnlyWholeFiles(written, source);
        EXPECT_GE(written.size(), 2u) << archive;
        EXPECT_LT(written.size(), source.size()) << archive;
    }
}

} // namespace dexalo::archivers::testing
