#pragma once
// ISH texts (the 7-bit "jis7" form), read by ourselves: libarchive has no ISH reader.
// Portable and window-free; it reads from any byte source, so that the fuzzers can feed it
// memory. The layout we read is written down at the top of ish.cpp.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/input/own_reader.h"

namespace dexalo::archivers::ish {

using own::Status;

class Reader final : public own::Reader {
public:
    explicit Reader(own::Input& input);

    // Ok when the text holds a header record, or a title of a form we do not read, anywhere;
    // NotOurs otherwise.
    Status Open() override;
    // The next encoded file; mail text and stray records are passed over.
    Status Next(own::Entry& entry) override;
    // A block of rows at a time, rebuilt from the block's sums where lines were lost.
    Status Read(const std::uint8_t*& data, std::size_t& size) override;

    static constexpr std::size_t kRecord = 61;  // a record less its CRC
    using Record = std::array<std::uint8_t, kRecord>;
    using Block = std::array<Record, 62>;  // rows 1 to 60 and the vertical sum as 61; 0 unused

    // What a line of the text stands for.
    struct Item {
        enum Kind { Decoded, Title, OtherForm } kind = Decoded;
        Record record{};  // a Decoded line's
        std::string name;  // an OtherForm title's file
    };

private:
    bool NextLine();            // false at the end of the text
    bool NextItem(Item& item);  // the next record that passes its CRC, or title; false at the end
    bool Take(Item& item);      // the item put back, else the next one
    bool LoadBlock();           // false when the block cannot be rebuilt

    own::Input& input_;
    std::vector<std::uint8_t> buffer_;
    std::size_t pos_ = 0, end_ = 0;
    bool eof_ = false;
    bool opened_ = false;  // a header was found: until then a NUL byte means "not a text"
    std::string line_;
    std::optional<Item> pending_;  // read ahead, belongs to what follows
    std::optional<Record> last_;   // the record before: a repeat of it (the header's copies) is dropped
    bool otherForm_ = false;       // records up to the next title belong to a form we do not read

    bool inFile_ = false;
    own::Entry current_;
    std::uint64_t rows_ = 0, blocks_ = 0, block_ = 0;  // of the current file; block_ is the next
    std::uint64_t produced_ = 0;
    std::uint16_t crc_ = 0;
    std::array<std::uint8_t, 2> fileCrc_{};
    int fileCrcBytes_ = 0;
    bool damaged_ = false, verified_ = false;
    Block table_{};
    std::vector<std::uint8_t> out_;
};

// CRC-16 with the CCITT polynomial, most significant bit first; ISH starts it at 0xFFFF and
// stores it inverted.
std::uint16_t Crc16(std::uint16_t crc, const std::uint8_t* data, std::size_t size);

} // namespace dexalo::archivers::ish
