// ISH texts made by an encoder of the tests' own, written from the layout at the top of
// engine/ish.cpp, read by our reader.
#include <set>

#include "archiver_test_support.h"
#include "engine/formats/ish.h"

namespace dexalo::archivers::testing {
namespace {

const std::string kAlphabet =
    "!\"$%&'()*+,-/0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_abcdefghijklmnopqrstuvwxyz{|}~";

// CCITT polynomial from 0xFFFF, inverted: bit by bit, as the polynomial division reads.
unsigned Crc(const std::string& bytes) {
    unsigned crc = 0xFFFF;
    for (const unsigned char c : bytes)
        for (int i = 7; i >= 0; --i) crc = (crc << 1 & 0xFFFF) ^ (((crc >> 15 ^ c >> i) & 1) ? 0x1021 : 0);
    return crc ^ 0xFFFF;
}
std::string Be(std::uint64_t v, int bytes) { return bytes == 0 ? "" : Be(v >> 8, bytes - 1) + static_cast<char>(v & 0xFF); }

// A record, zero-padded to 61 bytes, and its CRC: 505 bits (the last pads), as 4 characters
// of 6 bits and 37 pairs of 13.
std::string Line(std::string record) {
    record.resize(61, '\0');
    record += Be(Crc(record), 2) + '\0';
    std::string line;
    for (std::size_t at = 0; at < 505;) {
        std::size_t v = 0;
        for (const std::size_t end = at + (at < 24 ? 6 : 13); at < end; ++at) v = v * 2 + (record[at / 8] >> (7 - at % 8) & 1);
        line += at <= 24 ? std::string(1, kAlphabet[v]) : std::string{kAlphabet[v / 91], kAlphabet[v % 91]};
    }
    return line;
}

struct Ish {
    std::string data, name = "DATA", ext = "BIN";
    int form = 0, volume = 1, volumes = 1;
    unsigned crcFlip = 0;  // spoils the file's CRC
};

// Three header lines, then per block of 32 data lines the vertical and the diagonal sum.
std::vector<std::string> Encode(const Ish& f) {
    const std::string header = std::string{static_cast<char>(f.form), static_cast<char>(f.volume), static_cast<char>(f.volumes)} +
                               Be(f.data.size(), 4) + (f.name + "        ").substr(0, 8) + (f.ext + "   ").substr(0, 3) + Be(kDosTime, 4);
    std::vector<std::string> lines;
    for (char copy = 0; copy < 3; ++copy) lines.push_back(Line(std::string{1, copy} + header));
    std::string stream = f.data + Be(Crc(f.data) ^ f.crcFlip, 2), v, d;
    stream.resize((stream.size() + 57) / 58 * 58, '\0');
    for (std::size_t n = 0; n * 58 < stream.size(); ++n) {
        if (n % 32 == 0) v = d = std::string(59, '\0');
        const std::string region = Be(n, 1) + stream.substr(n * 58, 58);
        lines.push_back(Line("\x02" + Be(n, 2) + region.substr(1)));
        for (std::size_t m = 0; m < 59; ++m) v[m] ^= region[m], d[(m + n % 32) % 59] ^= region[m];
        if (n % 32 == 31 || (n + 1) * 58 == stream.size())
            lines.insert(lines.end(), {Line("\x03" + Be(n / 32, 1) + v), Line("\x04" + Be(n / 32, 1) + d)});
    }
    return lines;
}

std::string Join(const std::vector<std::string>& lines, const std::string& end = "\r\n") {
    std::string text;
    for (const auto& l : lines) text += l + end;
    return text;
}

TEST(IshReader, FilesComeBackByteForByte) {
    EXPECT_EQ(Crc("123456789"), 0xD64Eu);            // the published check value, inverted
    EXPECT_EQ(Encode({})[0].substr(0, 4), "!3!!");  // kind 1, copy 0: 000000 010000 000000 000000
    // 1855: the CRC's last byte opens a block; 3.9 MB: record and block numbers wrap, and two
    // lines of block 2100 are lost.
    const std::size_t sizes[] = {0, 1, 57, 58, 1854, 1855, 1856, 30000, 3900000};
    const char* const ends[] = {"\n", "\r\n", "\r", "  \r\n"};
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        SCOPED_TRACE(sizes[i]);
        const std::string data = Noise(sizes[i]);
        auto lines = Encode({data});
        if (lines.size() > 2100 * 34) lines.erase(lines.begin() + 2100 * 34 + 8, lines.begin() + 2100 * 34 + 10);
        const OwnListing all = ReadOwn<ish::Reader>(Join(lines, ends[i % 4]));
        EXPECT_EQ(all.summary, "DATA.BIN End");
        EXPECT_EQ(all.mtimes, std::vector{DosTimeSeconds()});
        EXPECT_TRUE(all.data == Names{data});
    }
}

TEST(IshReader, MailTitlesAndSeveralFilesInOneText) {
    const std::string one = Noise(3000, 2), two = Noise(100, 3), hyo = "\x95\x5C";  // 表: trail byte '\'
    const std::string text = "From: someone\r\nSubject: files\r\n\r\n<<< README >>>\r\n" +
                             Join(Encode({one, "README", ""})) + std::string(78, '!') + "\r\n-- \r\nbye\r\n<<< " + hyo +
                             ".TXT >>>\r\n" + Join(Encode({two, hyo, "TXT"})) + "signature";
    EXPECT_EQ(ReadOwn<ish::Reader>(text).data, (Names{one, two}));
    for (const int blocks : {1 << 30, 0})  // unread files are passed over
        EXPECT_EQ(ReadOwn<ish::Reader>(text, blocks).summary, "README " + hyo + ".TXT End");
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
        SCOPED_TRACE(&row - rows);
        const std::string data = Noise(row.size);
        auto lines = Encode({.data = data, .crcFlip = row.crcFlip});
        for (const std::size_t i : row.flipped) lines[i][30] = kAlphabet[(kAlphabet.find(lines[i][30]) + 1) % 91];
        for (auto i = row.dropped.rbegin(); i != row.dropped.rend(); ++i) lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(*i));
        const OwnListing all = ReadOwn<ish::Reader>(Join(lines));
        EXPECT_EQ(all.summary, row.handedOut == kNotOurs ? "NotOurs" : row.handedOut == row.size ? "DATA.BIN End" : "DATA.BIN! End");
        EXPECT_TRUE(row.handedOut == kNotOurs || all.data == Names{data.substr(0, row.handedOut)});
    }
}

TEST(IshReader, OtherFormsUnsupportedAndOtherTextsNotOurs) {
    const struct { int form, volume, volumes; const char* reason; } rows[] = {
        {1, 1, 1, "unsupported ISH form (jis8)"}, {2, 1, 1, "unsupported ISH form (sjis)"}, {3, 1, 1, "unsupported ISH form (non-kana)"},
        {0, 1, 2, "ISH file split over several texts"}, {0, 2, 2, "ISH file split over several texts"}};
    for (const auto& row : rows) {
        const OwnListing all = ReadOwn<ish::Reader>(Join(Encode({Noise(5000), "PART", "1", row.form, row.volume, row.volumes})) +
                                                    Join(Encode({"after"})));
        EXPECT_EQ(all.summary, "PART.1? DATA.BIN End");
        EXPECT_EQ(all.data, (Names{"", "after"}));
        EXPECT_EQ(all.unsupported, Names{row.reason});
    }
    const auto lines = Encode({Noise(100)});
    // A NUL byte before any header marks a binary file, read no further.
    for (const std::string& text : {std::string(), std::string("plain mail\r\n"), std::string(78, '!'), lines[0].substr(0, 77),
                                    Join(Names(lines.begin() + 3, lines.end())), std::string("RAR\0\r\n", 6) + Join(lines)})
        EXPECT_EQ(ReadOwn<ish::Reader>(text).summary, "NotOurs");
}

} // namespace
} // namespace dexalo::archivers::testing
