#pragma once
// An archive as libarchive should see it, made of runs laid end to end: bytes of our own (a
// rewritten header), or a range of the real file, read as it is or decrypted with AES-256 in
// CBC mode as it is read. How the engine shows libarchive encrypted archives it cannot read.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "engine/input/own_reader.h"

namespace dexalo::archivers {

struct CbcKey {
    std::array<std::uint8_t, 32> key{};
    std::array<std::uint8_t, 16> iv{};  // what the range's first block decrypts with
};

class PatchedView final : public own::Input {
public:
    explicit PatchedView(std::unique_ptr<own::Input> source) : source_(std::move(source)) {}

    own::Input& Source() { return *source_; }

    // Appends bytes of our own.
    void AddBytes(const std::uint8_t* data, std::size_t size);
    void AddBytes(const std::vector<std::uint8_t>& bytes) { AddBytes(bytes.data(), bytes.size()); }
    // Appends `size` bytes of the file from `from`; with `crypt`, the range holds `stored`
    // bytes (whole blocks, `size` at most) that decrypt to these.
    void AddRange(std::uint64_t from, std::uint64_t size, std::optional<CbcKey> crypt = std::nullopt,
                  std::uint64_t stored = 0);

    // Fewer bytes than asked only at the end, or when the file cannot be read (then Failed()).
    std::size_t Read(std::uint8_t* data, std::size_t size) override;
    bool Skip(std::uint64_t size) override { return size <= Size() - at_ && Seek(at_ + size); }
    std::uint64_t Size() const override { return runs_.empty() ? 0 : runs_.back().start + runs_.back().size; }
    bool Seek(std::uint64_t position) override { return position <= Size() && (at_ = position, true); }
    bool Failed() const override { return failed_; }

private:
    struct Run {
        std::uint64_t start = 0, size = 0;  // in the view
        bool own = false;                   // from bytes_ rather than the file
        std::uint64_t from = 0;             // in bytes_, or in the file
        std::uint64_t stored = 0;           // bytes of the file it takes
        std::optional<CbcKey> crypt;
    };
    std::size_t ReadRun(const Run& run, std::uint64_t at, std::uint8_t* out, std::size_t size);

    std::unique_ptr<own::Input> source_;
    std::vector<Run> runs_;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::uint8_t> scratch_;
    std::uint64_t at_ = 0;
    bool failed_ = false;
};

} // namespace dexalo::archivers
