// ISH texts made by an encoder of the tests' own, written from the layout at the top of
// engine/ish.cpp, read by our reader.
#include <gtest/gtest.h>

#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "engine/ish.h"

namespace dexalo::archivers::testing {
namespace {

using own::Status;

const std::string kAlphabet =
    "!\"$%&'()*+,-/0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_abcdefghijklmnopqrstuvwxyz{|}~";

// CCITT polynomial from 0xFFFF, inverted: bit by bit, as the polynomial division reads.
unsigned Crc(const std::string& bytes, unsigned crc = 0xFFFF) {
    for (const unsigned char c : bytes)
        for (int i = 7; i >= 0; --i) crc = (crc << 1 & 0xFFFF) ^ (((crc >> 15 ^ c >> i) & 1) ? 0x1021 : 0);
    return crc ^ 0xFFFF;
}

std::string Be(std::uint64_t v, int bytes) {
    std::string s;
    while (bytes-- > 0) s += static_cast<char>(v >> 8 * bytes);
    return s;
}

std::string Line(std::string record) {  // 61 bytes
    record += Be(Crc(record), 2);
    std::string line;
    for (std::size_t at = 0, v = 0; at < 505; v = 0) {
        const std::size_t end = at + (at < 24 ? 6 : 13);
        for (; at < end; ++at)  // bit 504 pads
            v = v * 2 + (at < 504 ? static_cast<std::uint8_t>(record[at / 8]) >> (7 - at % 8) & 1 : 0);
        line += end <= 24 ? std::string(1, kAlphabet[v]) : std::string{kAlphabet[v / 91], kAlphabet[v % 91]};
    }
    return line;
}

constexpr std::uint32_t kDos = (2021 - 1980) << 25 | 3 << 21 | 4 << 16 | 5 << 11 | 6 << 5 | 4;  // 2021-03-04 05:06:08

struct Ish {
    std::string data, name = "DATA", ext = "BIN";
    int form = 0, volume = 1, volumes = 1;
    unsigned crcFlip = 0;
};

// Three header lines, then per block of 32 data lines the vertical and the diagonal sum.
std::vector<std::string> Encode(const Ish& f) {
    std::vector<std::string> lines;
    for (char copy = 0; copy < 3; ++copy) {
        std::string h{1, copy, static_cast<char>(f.form), static_cast<char>(f.volume), static_cast<char>(f.volumes)};
        h += Be(f.data.size(), 4) + (f.name + "        ").substr(0, 8) + (f.ext + "   ").substr(0, 3) + Be(kDos, 4);
        lines.push_back(Line(h + std::string(61 - h.size(), '\0')));
    }
    std::string stream = f.data + Be(Crc(f.data) ^ f.crcFlip, 2);
    stream.resize((stream.size() + 57) / 58 * 58, '\0');
    for (std::size_t first = 0; first * 58 < stream.size(); first += 32) {
        std::string v(59, '\0'), d(59, '\0');
        for (std::size_t k = 0; k < 32 && (first + k) * 58 < stream.size(); ++k) {
            const std::string region = Be(first + k, 1) + stream.substr((first + k) * 58, 58);
            lines.push_back(Line("\x02" + Be(first + k, 2) + region.substr(1)));
            for (std::size_t m = 0; m < 59; ++m) v[m] ^= region[m], d[(m + k) % 59] ^= region[m];
        }
        lines.push_back(Line("\x03" + Be(first / 32, 1) + v));
        lines.push_back(Line("\x04" + Be(first / 32, 1) + d));
    }
    return lines;
}

std::string Join(const std::vector<std::string>& lines, const std::string& end = "\r\n") {
    std::string text;
    for (const auto& l : lines) text += l + end;
    return text;
}

std::string Bytes(std::size_t size, unsigned seed = 1) {
    std::string s(size, '\0');
    for (auto& c : s) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    return s;
}

struct Listed {
    own::Entry entry;
    std::string data;
    Status last = Status::Ok;
};

// Every entry, read (or only listed); empty when the text is not ours.
std::vector<Listed> ReadAll(const std::string& text, bool read = true) {
    own::MemoryInput input(text.data(), text.size());
    ish::Reader reader(input);
    std::vector<Listed> all;
    if (reader.Open() != Status::Ok) return all;
    for (Listed l; reader.Next(l.entry) == Status::Ok; all.push_back(l), l = {}) {
        const std::uint8_t* data = nullptr;
        for (std::size_t n = 1; read && l.last == Status::Ok && n > 0;) {
            l.last = reader.Read(data, n);
            l.data.append(reinterpret_cast<const char*>(data), n);
        }
        EXPECT_LE(l.data.size(), l.entry.size);
    }
    return all;
}

TEST(IshReader, LayoutPinnedToPublicFacts) {
    EXPECT_EQ(kAlphabet.size(), 91u);
    EXPECT_EQ(Crc("123456789"), 0xD64Eu);  // the published check value, inverted
    EXPECT_EQ(Encode({})[0].substr(0, 4), "!3!!");  // kind 1, copy 0: 000000 010000 000000 000000
}

TEST(IshReader, FilesComeBackByteForByte) {
    std::tm t{};
    t.tm_year = 121, t.tm_mon = 2, t.tm_mday = 4, t.tm_hour = 5, t.tm_min = 6, t.tm_sec = 8, t.tm_isdst = -1;
    // 1855: the CRC's last byte opens a block; 3.9 MB: record and block numbers wrap, and two
    // lines of block 2100 are lost.
    const std::size_t sizes[] = {0, 1, 57, 58, 1854, 1855, 1856, 30000, 3900000};
    const char* const ends[] = {"\n", "\r\n", "\r", "  \r\n"};
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        SCOPED_TRACE(sizes[i]);
        const std::string data = Bytes(sizes[i]);
        auto lines = Encode({data});
        if (lines.size() > 2100 * 34) lines.erase(lines.begin() + 2100 * 34 + 8, lines.begin() + 2100 * 34 + 10);
        const auto all = ReadAll(Join(lines, ends[i % 4]));
        ASSERT_EQ(all.size(), 1u);
        EXPECT_TRUE(all[0].entry.name == "DATA.BIN" && all[0].entry.size == sizes[i] && all[0].last == Status::Ok);
        EXPECT_EQ(all[0].entry.mtime, static_cast<std::int64_t>(std::mktime(&t)));
        EXPECT_TRUE(all[0].data == data);
    }
}

TEST(IshReader, MailTitlesAndSeveralFilesInOneText) {
    const std::string one = Bytes(3000, 2), two = Bytes(100, 3), hyo = "\x95\x5C";  // 表: trail byte '\'
    const std::string text = "From: someone\r\nSubject: files\r\n\r\n<<< README >>>\r\n" +
                             Join(Encode({one, "README", ""})) + std::string(78, '!') + "\r\n-- \r\nbye\r\n<<< " + hyo +
                             ".TXT >>>\r\n" + Join(Encode({two, hyo, "TXT"})) + "signature";
    for (const bool read : {true, false}) {  // unread files are passed over
        const auto all = ReadAll(text, read);
        ASSERT_EQ(all.size(), 2u);
        EXPECT_TRUE(all[0].entry.name == "README" && all[1].entry.name == hyo + ".TXT" && all[1].entry.size == 100);
        EXPECT_TRUE(all[0].data == (read ? one : "") && all[1].data == (read ? two : ""));
    }
}

TEST(IshReader, LostLinesRebuiltOrTheFileWithheld) {
    // 3812 bytes: blocks of 32, 32 and 2 records. Lines: 0-2 headers; block 0 data 3-34, sums
    // 35 and 36; block 1 data 37-68, sums 69, 70; block 2 data 71, 72, sums 73, 74.
    constexpr std::size_t kAll = 3812, kNotOurs = ~std::size_t{0};
    const struct {
        std::set<std::size_t> flipped, dropped;
        std::size_t handedOut;  // before Damaged; kAll when read whole
        std::size_t size = kAll;
        unsigned crcFlip = 0;
    } rows[] = {
        {{3}, {}, kAll}, {{35}, {3}, kAll}, {{10}, {36}, kAll}, {{}, {3, 34}, kAll}, {{20, 21}, {}, kAll},
        {{35}, {36}, kAll}, {{3, 40}, {41, 71}, kAll}, {{}, {71, 72}, kAll}, {{}, {54, 69}, kAll},
        {{3, 4, 5}, {}, 0}, {{3}, {35, 36}, 0}, {{40, 41}, {69}, 1856}, {{}, {71, 72, 73, 74}, 1856 * 2},
        {{0}, {}, kAll}, {{0, 1}, {}, kAll}, {{1}, {2}, kAll}, {{0, 1, 2}, {}, kNotOurs},  // header copies
        // A bad file CRC: 1855 bytes end in block 0, but the CRC's last byte is block 1's.
        {{}, {}, 0, 100, 0x0100}, {{}, {}, 0, 1855, 1}, {{}, {}, 3712, 5000, 0x8000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.flipped) + ::testing::PrintToString(row.dropped) + " of " +
                     std::to_string(row.size));
        const std::string data = Bytes(row.size);
        const auto encoded = Encode({data, "DATA", "BIN", 0, 1, 1, row.crcFlip});
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < encoded.size(); ++i) {
            std::string l = encoded[i];
            if (row.flipped.count(i)) l[30] = kAlphabet[(kAlphabet.find(l[30]) + 1) % 91];
            if (!row.dropped.count(i)) lines.push_back(l);
        }
        const auto all = ReadAll(Join(lines));
        ASSERT_EQ(all.size(), row.handedOut == kNotOurs ? 0u : 1u);
        EXPECT_TRUE(all.empty() || (all[0].last == (row.handedOut == row.size ? Status::Ok : Status::Damaged) &&
                                    all[0].data == data.substr(0, row.handedOut)));
    }
}

TEST(IshReader, OtherFormsAreListedAsUnsupported) {
    const struct {
        int form, volume, volumes;
        const char* reason;
    } rows[] = {{1, 1, 1, "unsupported ISH form (jis8)"}, {2, 1, 1, "unsupported ISH form (sjis)"},
                {3, 1, 1, "unsupported ISH form (non-kana)"}, {0, 1, 2, "ISH file split over several texts"},
                {0, 2, 2, "ISH file split over several texts"}};
    for (const auto& row : rows) {
        const auto all = ReadAll(Join(Encode({Bytes(5000), "PART", "1", row.form, row.volume, row.volumes})) +
                                 Join(Encode({"after"})));
        ASSERT_EQ(all.size(), 2u);
        EXPECT_STREQ(all[0].entry.unsupported, row.reason);
        EXPECT_TRUE(all[0].entry.name == "PART.1" && all[0].last == Status::Unsupported && all[0].data.empty());
        EXPECT_TRUE(all[1].entry.unsupported == nullptr && all[1].data == "after");
    }
}

TEST(IshReader, TextWithoutHeaderIsNotOurs) {
    const auto lines = Encode({Bytes(100)});
    const std::string noHeader = Join(std::vector<std::string>(lines.begin() + 3, lines.end()));
    // A NUL byte before any header marks a binary file, read no further.
    for (const std::string& text : {std::string(), std::string("plain mail\r\n"), std::string(78, '!'), noHeader,
                                    lines[0].substr(0, 77), std::string("RAR\0\r\n", 6) + Join(lines)}) {
        own::MemoryInput input(text.data(), text.size());
        EXPECT_EQ(ish::Reader(input).Open(), Status::NotOurs);
    }
}

} // namespace
} // namespace dexalo::archivers::testing
