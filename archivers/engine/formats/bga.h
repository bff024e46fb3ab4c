#pragma once
// BGA archives, read by ourselves: libarchive reads none. Members follow one another with no
// archive header; each holds one gzip member or one bzip2 stream, or the bytes stored.
// Portable and window-free, so that the fuzzers can feed it memory.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/input/own_reader.h"

namespace dexalo::archivers::bga {

class Codec;

class Reader final : public own::Reader {
public:
    explicit Reader(own::Input& input);
    ~Reader() override;
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Finds the first member header within the first 64 KiB: a self-extracting archive puts
    // its program before it.
    own::Status Open() override;
    own::Status Next(own::Entry& entry) override;
    own::Status Read(const std::uint8_t*& data, std::size_t& size) override;

private:
    std::size_t Take(std::uint8_t* data, std::size_t size);  // what Open read ahead, then the input
    bool Pass(std::uint64_t size);
    bool Decode(std::uint8_t* out, std::size_t want, std::size_t& got);

    own::Input& input_;
    std::vector<std::uint8_t> ahead_;  // read while looking for the first header, not yet used
    std::size_t aheadAt_ = 0;
    std::vector<std::uint8_t> header_;  // the fixed part and the names
    bool found_ = false;                // header_ holds the member Open found, not yet handed out
    bool broken_ = false;               // the input ended early or a header was bad: nothing follows

    own::Entry current_;
    bool stored_ = false;
    std::uint32_t packed_ = 0;  // compressed size
    std::uint32_t left_ = 0;    // compressed bytes not yet taken from the input
    std::uint64_t produced_ = 0;
    bool finished_ = true, failed_ = false;

    std::unique_ptr<Codec> gzip_, bzip2_;
    Codec* codec_ = nullptr;
    bool started_ = false, ended_ = false;
    std::vector<std::uint8_t> in_, out_;
    std::size_t inAt_ = 0, inEnd_ = 0;
};

} // namespace dexalo::archivers::bga
