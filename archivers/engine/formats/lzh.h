#pragma once
// LZH archives (LHA, LHarc, LArc), read by ourselves: libarchive decodes neither LHarc's
// -lh1- nor LArc's -lzs- and -lz5-, nor -lh4-. This reader takes every usual method besides,
// so that an archive mixing them is read in one pass. Portable and window-free, so that the
// fuzzers can feed it memory.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/input/own_reader.h"

namespace dexalo::archivers::lzh {

class Decoder;
struct Header;

class Reader final : public own::Reader {
public:
    explicit Reader(own::Input& input);
    ~Reader() override;
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // LZH has no archive header: Open reads the first entry's header, NotOurs unless it is one.
    own::Status Open() override;
    own::Status Next(own::Entry& entry) override;
    own::Status Read(const std::uint8_t*& data, std::size_t& size) override;

private:
    own::Input& input_;
    std::unique_ptr<Header> pending_;  // read by Open, handed out by the first Next
    std::unique_ptr<Header> current_;
    own::Entry entry_;
    std::string unsupported_;     // what entry_.unsupported points to
    bool failed_ = false;         // a header was damaged: nothing after it can be found
    bool ended_ = false;          // the end mark was read
    bool broken_ = false;         // the current entry's data is damaged
    std::uint64_t left_ = 0;      // compressed bytes of the current entry not yet taken
    std::uint64_t produced_ = 0;  // original bytes handed out
    std::uint16_t crc_ = 0;
    std::unique_ptr<Decoder> decoder_;
    bool decoding_ = false;  // the decoder holds the current entry's input
    std::vector<std::uint8_t> buffer_;
};

// Whether any entry uses a method only we decode (-lh1-, -lh4-, -lzs-, -lz5-), so that the
// archive should come to this reader rather than libarchive. Reads the headers only (and
// uses up `input`: give it one of its own); false for input that is no LZH archive.
bool HasMethodsOnlyWeRead(own::Input& input);

// CRC-16 as LHA uses it (polynomial 0xA001, bits reflected, starting from 0).
std::uint16_t Crc16(std::uint16_t crc, const std::uint8_t* data, std::size_t size);

} // namespace dexalo::archivers::lzh
