#pragma once
// ARJ archives, read by ourselves: libarchive has no ARJ reader. Portable and window-free;
// it reads from any byte source, so that the fuzzers can feed it memory.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/input/own_reader.h"

namespace dexalo::archivers::arj {

using Input = own::Input;
using Status = own::Status;

struct Entry {
    std::string name;  // the stored bytes, in the code page of the system that wrote them
    bool directory = false;
    // The modification time: MS-DOS date (high word) and time (low word) in local time; in
    // seconds since 1970 from Unix hosts, as arj there writes it.
    std::uint32_t time = 0;
    bool unixTime = false;  // made on Unix: `attributes` is then the file's mode
    std::uint16_t attributes = 0;
    std::uint32_t originalSize = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t crc = 0;
    std::uint8_t method = 0;
    // Why the data cannot be read (garbled, split across volumes, chapters, an unknown
    // method); nullptr when it can.
    const char* unsupported = nullptr;
    bool garbled = false;
};

class Decoder;

class Reader final : public own::Reader {
public:
    explicit Reader(Input& input);
    ~Reader() override;
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Reads the main header: NotOurs unless the input starts with one.
    Status Open() override;
    // The next file or folder (labels are passed over); End after the last one. Whatever
    // is left of the previous entry's data is skipped.
    Status Next(Entry& entry);
    // The same, as every reader of ours describes an entry.
    Status Next(own::Entry& entry) override;
    // The current entry's data, a block at a time: Ok with size 0 at its end, Damaged when
    // it is cut short or fails its CRC (the block that would complete it is then withheld),
    // Unsupported when `unsupported` says so. `data` stays valid until the next call.
    Status Read(const std::uint8_t*& data, std::size_t& size) override;

private:
    bool ReadHeader(std::vector<std::uint8_t>& basic);  // false at the end or on damage
    Input& input_;
    Entry current_;
    bool chapters_ = false;
    bool damagedHeader_ = false;
    std::uint32_t left_ = 0;       // compressed bytes of the current entry not yet taken
    std::uint32_t produced_ = 0;   // original bytes handed out
    std::uint32_t crc_ = 0;
    std::unique_ptr<Decoder> decoder_;
    bool decoding_ = false;  // the decoder holds the current entry's input
    std::vector<std::uint8_t> buffer_;
};


} // namespace dexalo::archivers::arj
