#pragma once
// ISH texts (the 7-bit "jis7" form), read by ourselves: libarchive has no ISH reader.
// Portable and window-free; it reads from any byte source, so that the fuzzers can feed it
// memory. The layout we read is written down at the top of ish.cpp.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/input/own_reader.h"

namespace dexalo::archivers::ish {

using own::Status;

class Reader final : public own::Reader {
public:
    explicit Reader(own::Input& input);

    // Ok when the text holds a header record anywhere, NotOurs otherwise.
    Status Open() override;
    // The next encoded file; mail text, titles and stray records are passed over.
    Status Next(own::Entry& entry) override;
    // A block of records at a time, rebuilt from the block's sums where lines were lost.
    Status Read(const std::uint8_t*& data, std::size_t& size) override;

    static constexpr std::size_t kPayload = 61;  // a record less its CRC
    using Record = std::array<std::uint8_t, kPayload>;

private:
    bool NextLine();                   // false at the end of the text
    bool NextRecord(Record& record);   // the next line that decodes and passes its CRC
    bool Take(Record& record);         // the record put back, else the next one
    bool IsCopy(const Record& record) const;  // a later copy of the current header
    bool LoadBlock();                  // false when the block cannot be rebuilt

    own::Input& input_;
    std::vector<std::uint8_t> buffer_;
    std::size_t pos_ = 0, end_ = 0;
    bool eof_ = false;
    bool opened_ = false;  // a header was found: until then a NUL byte means "not a text"
    std::array<std::uint8_t, 78> line_{};
    std::optional<Record> pending_;  // read ahead, belongs to what follows

    Record header_{};
    bool haveHeader_ = false;
    bool sawData_ = false;  // records of the current file came after its header
    own::Entry current_;

    std::uint64_t records_ = 0, blocks_ = 0, block_ = 0;  // of the current file; block_ is the next
    std::uint64_t produced_ = 0;
    std::uint16_t crc_ = 0;
    std::array<std::uint8_t, 2> fileCrc_{};
    int fileCrcBytes_ = 0;
    bool damaged_ = false, verified_ = false;
    std::vector<std::uint8_t> regions_, sums_, out_;
};

// CRC-16 with the CCITT polynomial, most significant bit first; ISH starts it at 0xFFFF and
// stores it inverted.
std::uint16_t Crc16(std::uint16_t crc, const std::uint8_t* data, std::size_t size);

} // namespace dexalo::archivers::ish
