#include "engine/pipeline/parallel_extract.h"

#include <archive.h>
#include <archive_entry.h>
#include <bzlib.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>

#include "engine/codecs/bytes.h"
#include "engine/codecs/inflate64.h"
#include "engine/pipeline/own_stream.h"
#include "engine/pipeline/resolve.h"

namespace dexalo::archivers {

namespace {

std::atomic<unsigned> gThreads{0};
std::atomic<unsigned> gPooled{0};

constexpr std::uint16_t kStored = 0, kDeflate = 8, kDeflate64 = 9, kBzip2 = 12;
constexpr std::uint16_t kEncryptedFlags = 0x0001 | 0x0040;  // traditional, strong
constexpr std::uint64_t kWorthSharing = 1u << 20;

// The methods of the archive's reader that a worker decodes too.
bool WeDecode(const zip::Member& m, bool own) {
    return (m.flags & kEncryptedFlags) == 0 &&
           (m.method == kStored || m.method == kDeflate || m.method == (own ? kDeflate64 : kBzip2));
}

} // namespace

void SetExtractionThreads(unsigned count) { gThreads = count; }

bool ExtractionThreadsSet() { return gThreads.load() != 0; }

unsigned PooledEntries() { return gPooled.load(); }

unsigned ExtractionThreads() {
    if (const unsigned set = gThreads.load()) return std::min(set, kMaxThreads);
    return std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
}

// ---- ZipPool

// One worker's cursor and buffers: it reads the archive through the pool's one open of each
// piece, at offsets of its own.
class ZipPool::Worker {
public:
    enum class Status { Ok, Damaged, Unwritable, Stopped };

    explicit Worker(ZipPool& pool) : pool_(pool), input_(pool.pieces_), in_(kReadBlockSize), out_(kReadBlockSize) {
        inflateReady_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK;
    }
    ~Worker() {
        if (inflateReady_) inflateEnd(&z_);
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void Run(Job& job) {
        const zip::Member& m = job.data.member;
        left_ = m.compressed;
        produced_ = 0;
        crc_ = 0;
        file_ = job.file.get();
        original_ = m.original;
        Status s = !input_.Seek(job.data.start) ? Status::Damaged
                 : m.method == kStored          ? Stored(m)
                 : m.method == kDeflate         ? Deflate()
                 : m.method == kDeflate64       ? Deflate64()
                                                : Bzip2();
        if (s == Status::Ok && (produced_ != m.original || crc_ != m.crc)) s = Status::Damaged;
        if (s == Status::Ok && !file_->Commit(m.original)) {
            reason_ = platform::LastErrorText();
            return pool_.End(job, left_, JobEnd::CannotWrite, "a file cannot be put in place", std::move(reason_));
        }
        switch (s) {
        case Status::Ok: ++gPooled; return pool_.End(job, left_, JobEnd::Done);
        case Status::Damaged: return pool_.End(job, left_, JobEnd::Corrupt, "damaged data (a CRC error, or the archive is cut short)");
        case Status::Unwritable:
            return pool_.End(job, left_, JobEnd::CannotWrite, "a file cannot be written (disk full?)", std::move(reason_));
        case Status::Stopped: return pool_.End(job, left_, JobEnd::Dropped);
        }
    }

private:
    // The next compressed bytes into in_; 0 at the data's end or when the archive is cut short.
    std::size_t Fill() {
        const std::size_t n = input_.Read(in_.data(), static_cast<std::size_t>(std::min<std::uint64_t>(in_.size(), left_)));
        left_ -= n;
        pool_.behind_ -= n;
        return n;
    }

    Status Emit(const std::uint8_t* data, std::size_t size) {
        if (size > original_ - produced_) return Status::Damaged;  // more than the entry holds
        if (!file_->File().WriteAt(produced_, data, size)) {
            reason_ = platform::LastErrorText();
            return Status::Unwritable;
        }
        produced_ += size;
        crc_ = Crc32(crc_, data, size);
        return pool_.stopped_ ? Status::Stopped : Status::Ok;
    }

    Status Stored(const zip::Member& m) {
        if (m.compressed != m.original) return Status::Damaged;
        while (left_ > 0) {
            const std::size_t n = Fill();
            if (n == 0) return Status::Damaged;
            if (const Status s = Emit(in_.data(), n); s != Status::Ok) return s;
        }
        return Status::Ok;
    }

    // Runs `step` (one call of the decoder over in_ and out_) until the stream ends; `stream`
    // is zlib's or bzip2's, which keep their buffers in the same way.
    template <class Stream, class Step>
    Status Decode(Stream& stream, Step step) {
        stream.avail_in = 0;
        for (;;) {
            std::size_t filled = 0;
            if (stream.avail_in == 0) {
                filled = Fill();
                stream.next_in = reinterpret_cast<decltype(stream.next_in)>(in_.data());
                stream.avail_in = static_cast<unsigned>(filled);
            }
            stream.next_out = reinterpret_cast<decltype(stream.next_out)>(out_.data());
            stream.avail_out = static_cast<unsigned>(out_.size());
            const int r = step();  // 1 at the stream's end, 0 going on, -1 damaged
            const std::size_t made = out_.size() - stream.avail_out;
            if (made > 0)
                if (const Status s = Emit(out_.data(), made); s != Status::Ok) return s;
            if (r > 0) return Status::Ok;
            if (r < 0 || (made == 0 && stream.avail_in == 0 && filled == 0)) return Status::Damaged;  // cut short
        }
    }

    Status Deflate() {
        if (!inflateReady_ || inflateReset(&z_) != Z_OK) return Status::Damaged;
        return Decode(z_, [this] {
            const int r = inflate(&z_, Z_NO_FLUSH);
            return r == Z_STREAM_END ? 1 : r == Z_OK || r == Z_BUF_ERROR ? 0 : -1;
        });
    }

    // The compressed bytes for our own decoder.
    class Source final : public inflate64::Source {
    public:
        explicit Source(Worker& w) : w_(w) {}
        std::size_t Next(const std::uint8_t*& data) override {
            data = w_.in_.data();
            return w_.Fill();
        }

    private:
        Worker& w_;
    };

    Status Deflate64() {
        if (!deflate64_) deflate64_ = std::make_unique<inflate64::Decoder>();
        Source source(*this);
        deflate64_->Start(source, true);
        for (;;) {
            const std::uint8_t* block = nullptr;
            std::size_t size = 0;
            const inflate64::Decoder::Status r = deflate64_->Next(block, size);
            if (r == inflate64::Decoder::Status::End) return Status::Ok;
            if (r != inflate64::Decoder::Status::Ok) return Status::Damaged;
            if (const Status s = Emit(block, size); s != Status::Ok) return s;
        }
    }

    Status Bzip2() {
        bz_stream bz{};
        if (BZ2_bzDecompressInit(&bz, 0, 0) != BZ_OK) return Status::Damaged;
        const Status s = Decode(bz, [&bz] {
            const int r = BZ2_bzDecompress(&bz);
            return r == BZ_STREAM_END ? 1 : r == BZ_OK ? 0 : -1;
        });
        BZ2_bzDecompressEnd(&bz);
        return s;
    }

    ZipPool& pool_;
    SharedPieces::Cursor input_;
    std::vector<std::uint8_t> in_, out_;
    z_stream z_{};
    bool inflateReady_ = false;
    std::unique_ptr<inflate64::Decoder> deflate64_;
    PendingFile* file_ = nullptr;
    std::uint64_t left_ = 0, produced_ = 0, original_ = 0;
    std::uint32_t crc_ = 0;
    std::wstring reason_;
};

std::unique_ptr<ZipPool> ZipPool::For(const EntryReader& reader, Family family, const VolumeSet& set) {
    const unsigned threads = ExtractionThreads();
    const int format = archive_format(reader.get()) & ARCHIVE_FORMAT_BASE_MASK;
    const bool own = format == ARCHIVE_FORMAT_TAR && reader.ReadsOwnStream();  // our reader's pax stream
    // A split ZIP's directory counts offsets within each piece.
    if (threads < 2 || family != Family::Zip || (format != ARCHIVE_FORMAT_ZIP && !own) || set.kind == SetKind::SplitZip)
        return nullptr;
    JoinedFile input(set.pieces);
    if (!input.IsOpen()) return nullptr;
    std::vector<zip::Member> members = zip::ReadDirectory(input);
    std::size_t shared = 0;
    std::uint64_t bytes = 0;
    for (const zip::Member& m : members) {
        if (!WeDecode(m, own) || m.original == 0) continue;
        ++shared;
        bytes += m.original;
    }
    if (shared < 2 || (bytes < kWorthSharing && !ExtractionThreadsSet())) return nullptr;
    auto pool = std::make_unique<ZipPool>(set, std::move(members), static_cast<unsigned>(std::min<std::size_t>(threads, shared)), own);
    if (!pool->pieces_.IsOpen()) return nullptr;  // libarchive's path says what is wrong
    return pool;
}

ZipPool::ZipPool(const VolumeSet& set, std::vector<zip::Member> members, unsigned workers, bool own)
    : set_(set), members_(std::move(members)), pieces_(set_.pieces), input_(pieces_), workers_(workers), own_(own) {
    for (unsigned i = 0; i < workers_; ++i) threads_.emplace_back([this] { Work(); });
}

ZipPool::~ZipPool() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    stopped_ = true;
    work_.notify_all();
    for (std::thread& t : threads_) t.join();
}

std::optional<ZipData> ZipPool::Locate(const EntryReader& reader, archive_entry* entry) {
    if (archive_entry_is_encrypted(entry) || !archive_entry_size_is_set(entry)) return std::nullopt;
    const auto size = static_cast<std::uint64_t>(archive_entry_size(entry));
    if (own_) {  // our reader knows where the entry it hands libarchive lies
        std::optional<ZipData> data = reader.OwnZipData();
        return data && data->member.original == size ? data : std::nullopt;
    }
    // Just past its local header the reader stands at the entry's data: the header is the
    // nearest one before it that the directory lists.
    const la_int64_t at = archive_filter_bytes(reader.get(), 0);
    if (at <= 0) return std::nullopt;
    const auto start = static_cast<std::uint64_t>(at);
    auto it = std::lower_bound(members_.begin(), members_.end(), start,
                               [](const zip::Member& m, std::uint64_t s) { return m.header < s; });
    if (it == members_.begin()) return std::nullopt;
    --it;
    if (!WeDecode(*it, false) || it->original != size) return std::nullopt;
    const std::optional<std::uint64_t> data = zip::DataStart(input_, *it);
    if (!data || *data != start) return std::nullopt;
    return ZipData{start, *it};
}

bool ZipPool::Full() const {
    std::lock_guard lock(mutex_);
    return queue_.size() >= workers_;  // one job waiting per worker keeps each busy
}

bool ZipPool::Idle() const {
    std::lock_guard lock(mutex_);
    return collected_ == submitted_;
}

void ZipPool::Submit(const ZipData& data, std::unique_ptr<PendingFile> file, std::wstring name, platform::Path target,
                     std::size_t order) {
    {
        std::lock_guard lock(mutex_);
        targets_.insert(target);
        behind_ += data.member.compressed;
        queue_.push_back(Job{data, std::move(file), JobEnd{JobEnd::Done, order, std::move(name), std::move(target), nullptr, {}}, submitted_++});
    }
    work_.notify_one();
}

std::vector<JobEnd> ZipPool::Collect() {
    std::lock_guard lock(mutex_);
    std::vector<JobEnd> ends;
    for (auto it = done_.find(collected_); it != done_.end(); it = done_.find(collected_)) {
        targets_.erase(targets_.find(it->second.target));
        ends.push_back(std::move(it->second));
        done_.erase(it);
        ++collected_;
    }
    return ends;
}

void ZipPool::Wait(int ms) {
    std::unique_lock lock(mutex_);
    const std::uint64_t seen = events_;
    ended_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return events_ != seen; });
}

bool ZipPool::Halted() const {
    std::lock_guard lock(mutex_);
    return halted_;
}

void ZipPool::Stop() { stopped_ = true; }

bool ZipPool::Writes(const platform::Path& target) const {
    std::lock_guard lock(mutex_);
    return targets_.count(target) > 0;
}

std::uint64_t ZipPool::Behind() const { return behind_; }

void ZipPool::Work() {
    Worker worker(*this);
    for (;;) {
        Job job;
        bool drop = false;
        {
            std::unique_lock lock(mutex_);
            work_.wait(lock, [&] { return closing_ || !queue_.empty(); });
            if (queue_.empty()) return;
            job = std::move(queue_.front());
            queue_.pop_front();
            drop = halted_ || stopped_;
            ++events_;
        }
        ended_.notify_all();  // room in the queue
        if (drop)
            End(job, job.data.member.compressed, JobEnd::Dropped);
        else
            worker.Run(job);
    }
}

void ZipPool::End(Job& job, std::uint64_t unread, JobEnd::Kind kind, const char* detail, std::wstring reason) {
    job.file.reset();  // a file not put in place is removed before its end is told
    behind_ -= unread;
    {
        std::lock_guard lock(mutex_);
        job.end.kind = kind;
        job.end.detail = detail;
        job.end.reason = std::move(reason);
        halted_ = halted_ || kind == JobEnd::Corrupt;
        done_.emplace(job.seq, std::move(job.end));
        ++events_;
    }
    ended_.notify_all();
}

// ---- WriteBehind

class WriteBehind::Queued final : public platform::OutputFile {
public:
    Queued(WriteBehind& owner, std::unique_ptr<platform::OutputFile> file) : owner_(owner), file_(std::move(file)) {}
    ~Queued() override {
        std::vector<Block> failed;
        owner_.Settle(file_.get(), failed, true);
    }
    Queued(const Queued&) = delete;
    Queued& operator=(const Queued&) = delete;

    bool WriteAt(std::uint64_t offset, const void* data, std::size_t size) override {
        return owner_.Put(file_.get(), offset, data, size) || (Recover() && file_->WriteAt(offset, data, size));
    }
    bool Finish(std::uint64_t size, std::int64_t mtime) override { return Recover() && file_->Finish(size, mtime); }

private:
    // Waits for the file's blocks. Writes that failed on the other thread (the first one, and
    // those after it, not tried) are made again here, so that a lasting failure (a full disk)
    // leaves the system's reason on this thread.
    bool Recover() {
        std::vector<Block> failed;
        if (owner_.Settle(file_.get(), failed, false)) return true;
        return std::all_of(failed.begin(), failed.end(),
                           [&](const Block& b) { return file_->WriteAt(b.offset, b.bytes.data(), b.bytes.size()); });
    }

    WriteBehind& owner_;
    std::unique_ptr<platform::OutputFile> file_;
};

WriteBehind::WriteBehind() : thread_([this] { Run(); }) {}

WriteBehind::~WriteBehind() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    put_.notify_all();
    thread_.join();
}

std::unique_ptr<platform::OutputFile> WriteBehind::Wrap(std::unique_ptr<platform::OutputFile> file) {
    return std::make_unique<Queued>(*this, std::move(file));
}

bool WriteBehind::Put(platform::OutputFile* file, std::uint64_t offset, const void* data, std::size_t size) {
    std::unique_lock lock(mutex_);
    // A block larger than the whole queue goes alone.
    taken_.wait(lock, [&] { return queued_ + size <= kBehindBytes || queue_.empty() || failed_.count(file) > 0; });
    if (failed_.count(file) > 0) return false;
    std::vector<std::uint8_t> bytes;
    if (!spare_.empty()) {  // blocks are reused: fresh large allocations cost page faults
        bytes = std::move(spare_.back());
        spare_.pop_back();
    }
    const auto* p = static_cast<const std::uint8_t*>(data);
    bytes.assign(p, p + size);
    queue_.push_back(Block{file, offset, std::move(bytes)});
    queued_ += size;
    lock.unlock();
    put_.notify_one();
    return true;
}

bool WriteBehind::Settle(platform::OutputFile* file, std::vector<Block>& failed, bool drop) {
    std::unique_lock lock(mutex_);
    if (drop) {
        for (auto it = queue_.begin(); it != queue_.end();) {
            if (it->file != file) {
                ++it;
                continue;
            }
            queued_ -= it->bytes.size();
            it = queue_.erase(it);
        }
        taken_.notify_all();
    }
    taken_.wait(lock, [&] {
        return busy_ != file && std::none_of(queue_.begin(), queue_.end(), [&](const Block& b) { return b.file == file; });
    });
    const auto it = failed_.find(file);
    if (it == failed_.end()) return true;
    failed = std::move(it->second);
    failed_.erase(it);
    return false;
}

void WriteBehind::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        put_.wait(lock, [&] { return closing_ || !queue_.empty(); });
        if (queue_.empty()) return;
        Block block = std::move(queue_.front());
        queue_.pop_front();
        busy_ = block.file;
        const bool after = failed_.count(block.file) > 0;  // kept, in order, for the retry
        lock.unlock();
        const bool ok = !after && block.file->WriteAt(block.offset, block.bytes.data(), block.bytes.size());
        lock.lock();
        busy_ = nullptr;
        queued_ -= block.bytes.size();
        if (!ok)
            failed_[block.file].push_back(std::move(block));
        else if (spare_.size() < 32)
            spare_.push_back(std::move(block.bytes));
        taken_.notify_all();
    }
}

} // namespace dexalo::archivers
