#pragma once
// Extraction on more than one core. The extraction loop stays the one place that reads
// headers in archive order and decides (names, safety checks, folders, existing files); what
// it hands over here is only the writing of a file it has decided on:
// - ZipPool: the entries of a ZIP, each decoded from its own byte range by one of a few
//   workers, every worker reading the archive through files of its own: stored, Deflate and
//   BZip2 where libarchive reads the archive (from its central directory), stored, Deflate and
//   Deflate64 where our own reader does;
// - WriteBehind: for every other stream (a .tar.gz, a solid 7z...), the blocks libarchive
//   decodes on the calling thread are written to disk by a second thread, through a bounded
//   queue.
// Workers never touch the user interface: progress and cancel stay with the calling thread.
//
// Memory: a pool holds per worker one input and one output block (256 KiB each) and a
// decoder (zlib's 44 KiB, or bzip2's 3.6 MiB for 900k blocks), at most kMaxThreads workers;
// the write-behind queue holds at most kBehindBytes. So at most 8 x 4.2 MiB + 4 MiB beyond
// what one thread uses.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/formats/zip.h"
#include "engine/pipeline/entry_reader.h"
#include "engine/pipeline/family.h"
#include "engine/input/volumes.h"
#include "engine/platform/platform.h"

struct archive;
struct archive_entry;

namespace dexalo::archivers {

inline constexpr unsigned kMaxThreads = 8;
inline constexpr std::size_t kBehindBytes = 4u << 20;

// How many threads an extraction may use: 0 (the default) one per core, at most kMaxThreads,
// where they pay (archives of a few entries or small ones take one). A count set is used
// wherever it can be, small archives too: tests and benchmarks set it.
void SetExtractionThreads(unsigned count);
unsigned ExtractionThreads();
bool ExtractionThreadsSet();
// How many entries the pools' workers have written since the start (for tests).
unsigned PooledEntries();

// A file under a temporary name: dropped when destroyed unless it was put in place.
class PendingFile {
public:
    virtual ~PendingFile() = default;
    virtual platform::OutputFile& File() = 0;
    // Gives it its final size and time and puts it in place; false when that fails.
    virtual bool Commit(std::uint64_t size) = 0;
};

// How a job of the pool ended.
struct JobEnd {
    enum Kind { Done, Corrupt, CannotWrite, Dropped } kind = Done;  // Dropped: cancelled, or after damage
    std::size_t order = 0;  // the entry's place in the archive
    std::wstring name;      // as listed
    platform::Path target;
    const char* detail = nullptr;
    std::wstring reason;  // the system's words, for CannotWrite
};

// Where a ZIP entry's data lies and what it must decode to.
using ZipData = zip::Located;

class ZipPool {
public:
    // nullptr where one thread does as well: one core, an archive that is no ZIP with a central
    // directory, or fewer than two entries (or under 1 MiB) to share.
    static std::unique_ptr<ZipPool> For(const EntryReader& reader, Family family, const VolumeSet& set);
    ZipPool(const VolumeSet& set, std::vector<zip::Member> members, unsigned workers, bool own);
    ~ZipPool();  // stops: unfinished files are dropped
    ZipPool(const ZipPool&) = delete;
    ZipPool& operator=(const ZipPool&) = delete;

    // For the entry libarchive has just read the header of (its reader stands at the data):
    // where its data lies, when a worker can decode it (not encrypted, a method we decode).
    std::optional<ZipData> Locate(const EntryReader& reader, archive_entry* entry);

    bool Full() const;
    bool Idle() const;  // nothing queued, running, or ended and not yet collected
    void Submit(const ZipData& data, std::unique_ptr<PendingFile> file, std::wstring name, platform::Path target,
                std::size_t order);
    // The jobs that have ended, in the order they were submitted, up to the first still running.
    std::vector<JobEnd> Collect();
    // Waits until a job ends, or at most `ms` milliseconds.
    void Wait(int ms);
    // A job found damaged data: queued jobs are dropped from here on, running ones finish.
    bool Halted() const;
    // Cancel: running jobs drop their files at their next block, queued ones are dropped.
    void Stop();
    // Whether a submitted job not yet collected writes `target`.
    bool Writes(const platform::Path& target) const;
    // Compressed bytes handed out and not yet decoded.
    std::uint64_t Behind() const;

private:
    struct Job {
        ZipData data;
        std::unique_ptr<PendingFile> file;
        JobEnd end;
        std::size_t seq = 0;
    };
    class Worker;
    void Work();
    // Tells the job's end; `unread`: its compressed bytes never read.
    void End(Job& job, std::uint64_t unread, JobEnd::Kind kind, const char* detail = nullptr, std::wstring reason = {});

    VolumeSet set_;
    std::vector<zip::Member> members_;
    SharedPieces pieces_;          // one open of each piece, for the workers and the calling thread
    SharedPieces::Cursor input_;  // the calling thread's look at local headers
    unsigned workers_;
    bool own_;  // our own reader reads the archive, libarchive only its pax stream
    mutable std::mutex mutex_;
    std::condition_variable work_, ended_;
    std::deque<Job> queue_;
    std::map<std::size_t, JobEnd> done_;
    std::multiset<platform::Path> targets_;
    std::size_t submitted_ = 0, collected_ = 0;
    std::uint64_t events_ = 0;  // jobs taken or ended, for Wait
    bool halted_ = false, closing_ = false;
    std::atomic<bool> stopped_{false};
    std::atomic<std::uint64_t> behind_{0};
    std::vector<std::thread> threads_;
};

// The second stage of a single stream: files whose writes another thread makes. Each file's
// blocks are copied into a queue of at most kBehindBytes and written in order.
class WriteBehind {
public:
    WriteBehind();
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;
    // `file` with its writes made by this thread. Its WriteAt reports a failed write at a later
    // call (made again on the caller's thread, so that the system's reason is the caller's);
    // Finish, and destroying it, wait for its queued blocks.
    std::unique_ptr<platform::OutputFile> Wrap(std::unique_ptr<platform::OutputFile> file);

private:
    class Queued;
    struct Block {
        platform::OutputFile* file;
        std::uint64_t offset;
        std::vector<std::uint8_t> bytes;
    };
    void Run();
    bool Put(platform::OutputFile* file, std::uint64_t offset, const void* data, std::size_t size);
    // Waits until `file` has no block queued (`drop`: they are dropped) or being written; true
    // when all were written, else the failed one and those after it in `failed`.
    bool Settle(platform::OutputFile* file, std::vector<Block>& failed, bool drop);

    std::mutex mutex_;
    std::condition_variable put_, taken_;
    std::deque<Block> queue_;
    std::size_t queued_ = 0;
    platform::OutputFile* busy_ = nullptr;  // the file being written to now
    std::map<platform::OutputFile*, std::vector<Block>> failed_;  // per file, the write that failed and those after
    std::vector<std::vector<std::uint8_t>> spare_;
    bool closing_ = false;
    std::thread thread_;
};

} // namespace dexalo::archivers
