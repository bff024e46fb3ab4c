#include "engine/input/patched_view.h"

#include <algorithm>

#include "engine/platform/platform.h"

namespace dexalo::archivers {

void PatchedView::AddBytes(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    if (!runs_.empty() && runs_.back().own && runs_.back().from + runs_.back().size == bytes_.size()) {
        runs_.back().size += size;  // one run for bytes of ours that follow one another
    } else {
        runs_.push_back(Run{Size(), size, true, bytes_.size(), 0, std::nullopt});
    }
    bytes_.insert(bytes_.end(), data, data + size);
}

void PatchedView::AddRange(std::uint64_t from, std::uint64_t size, std::optional<CbcKey> crypt, std::uint64_t stored) {
    if (size == 0) return;
    runs_.push_back(Run{Size(), size, false, from, crypt ? stored : size, std::move(crypt)});
}

std::size_t PatchedView::ReadRun(const Run& run, std::uint64_t at, std::uint8_t* out, std::size_t size) {
    if (run.own) {
        std::copy_n(bytes_.data() + run.from + at, size, out);
        return size;
    }
    if (!run.crypt) {
        if (!source_->Seek(run.from + at) || source_->Read(out, size) != size) failed_ = true;
        return failed_ ? 0 : size;
    }
    // CBC: a block decrypts with the one stored before it (the first with the IV).
    const std::uint64_t first = at / 16 * 16;
    const std::uint64_t last = std::min(run.stored, (at + size + 15) / 16 * 16);
    const std::uint64_t from = first == 0 ? 0 : first - 16;
    scratch_.resize(static_cast<std::size_t>(last - from));
    if (!source_->Seek(run.from + from) || source_->Read(scratch_.data(), scratch_.size()) != scratch_.size()) {
        failed_ = true;
        return 0;
    }
    const std::size_t skip = first == 0 ? 0 : 16;
    std::array<std::uint8_t, 16> iv = run.crypt->iv;
    if (first != 0) std::copy_n(scratch_.data(), 16, iv.begin());
    if (!platform::DecryptAes256Cbc(run.crypt->key, iv, scratch_.data() + skip, scratch_.data() + skip,
                                    scratch_.size() - skip)) {
        failed_ = true;
        return 0;
    }
    std::copy_n(scratch_.data() + skip + (at - first), size, out);
    return size;
}

std::size_t PatchedView::Read(std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size && !failed_ && at_ < Size()) {
        const auto run = std::upper_bound(runs_.begin(), runs_.end(), at_,
                                          [](std::uint64_t v, const Run& r) { return v < r.start; }) - 1;
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, run->start + run->size - at_));
        const std::size_t got = ReadRun(*run, at_ - run->start, data + done, n);
        done += got;
        at_ += got;
    }
    return done;
}

} // namespace dexalo::archivers
