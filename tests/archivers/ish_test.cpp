// ISH texts made by the public Unix port of ish (tests/data/ish), as they are or with lines
// lost, altered or wrapped in mail; and texts from an encoder of the tests' own, which first
// makes those real texts again byte for byte.
#include <functional>
#include <set>
#include <sstream>

#include "archiver_test_support.h"
#include "engine/formats/ish.h"

namespace dexalo::archivers::testing {
namespace {

std::string Sample(const std::string& name) { return ReadText(fs::path(DEXALO_TEST_DATA_DIR) / "ish" / name); }

// What a sample decodes to, by its .expect list: the names, and the inputs it was made from.
std::pair<std::string, Names> Expected(const std::string& sample) {
    std::istringstream list(Sample(sample + ".expect"));
    std::pair<std::string, Names> files;
    for (std::string name, sha1; list >> name >> sha1;) files.first += name + " ", files.second.push_back(Sample(name));
    return files.first += "End", files;
}

// The text's lines, LF or CR LF; `edit` may drop or change the data lines (numbered from 0).
std::string Lines(const std::string& text, const std::string& end, const std::function<bool(std::size_t, std::string&)>& edit = {}) {
    std::istringstream in(text);
    std::string out;
    std::size_t record = 0;
    for (std::string line; std::getline(in, line);)
        if (line.size() != 78 || !edit || edit(record++, line)) out += line + end;
    return out;
}
std::string Without(const std::string& text, const std::set<std::size_t>& dropped, const std::set<std::size_t>& altered = {}) {
    return Lines(text, "\n", [&](std::size_t n, std::string& line) {
        if (altered.count(n)) line[40] = line[40] == 'A' ? 'B' : 'A';
        return !dropped.count(n);
    });
}

// ---- the encoder: data and header fields in, text out

const std::string kAlphabet =
    "!\"$%&'()*+,-/0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_abcdefghijklmnopqrstuvwxyz{|}~";

// CCITT polynomial from 0xFFFF, inverted: bit by bit, as the polynomial division reads.
unsigned Crc(const std::string& bytes) {
    unsigned crc = 0xFFFF;
    for (const unsigned char c : bytes)
        for (int i = 7; i >= 0; --i) crc = (crc << 1 & 0xFFFF) ^ (((crc >> 15 ^ c >> i) & 1) ? 0x1021 : 0);
    return crc ^ 0xFFFF;
}
std::string Le(std::uint64_t v, int bytes) { return bytes == 0 ? "" : static_cast<char>(v & 0xFF) + Le(v >> 8, bytes - 1); }

// A 61-byte record and its CRC (high byte first), least significant bit first: 4 characters of
// 6 bits, then 37 pairs of 13.
std::string Line(std::string record) {
    const unsigned crc = Crc(record);
    record += {static_cast<char>(crc >> 8), static_cast<char>(crc), '\0'};
    std::string line;
    for (std::size_t at = 0, width = 6; at < 505; width = at < 24 ? 6 : 13) {
        std::size_t v = 0;
        for (std::size_t b = 0; b < width; ++b, ++at) v |= static_cast<std::size_t>(record[at / 8] >> at % 8 & 1) << b;
        line += at <= 24 ? std::string(1, kAlphabet[v]) : std::string{kAlphabet[v / 91], kAlphabet[v % 91]};
    }
    return line;
}

struct IshFile {
    std::string data, name, ext;
    std::uint32_t dosTime = 0x58A63905;  // 2024-05-06 07:08:10, in Tokyo: 9 hours east of UTC
    int volume = 0, form = 13 << 8 | 16;
};

std::string Encode(const std::vector<IshFile>& files) {
    std::string text;
    for (const IshFile& f : files) {
        std::string header = std::string(1, '\0') + static_cast<char>(f.volume) + Le(f.data.size(), 4) + Le(63, 2) + Le(62, 2) +
                             Le(f.form, 2) + (f.name + "        ").substr(0, 8) + (f.ext + "   ").substr(0, 3) + '\0' +
                             "\x30\x01\x03" + Le(f.dosTime, 4) + Le(0x1000000 - 9 * 3600, 3);
        header.resize(61, '\0');
        std::vector<std::string> records(3, Line(header));
        std::string stream = f.data + static_cast<char>(Crc(f.data) >> 8) + static_cast<char>(Crc(f.data));
        stream.resize((stream.size() + 59) / 60 * 60, '\0');
        for (std::size_t first = 0; first < stream.size(); first += 3600) {
            std::string vertical(1, 61);
            vertical.resize(61, '\0');
            int slots[61] = {};
            for (int r = 1; r <= 61; ++r) {
                std::string row = r == 61 ? vertical : static_cast<char>(r) + stream.substr(std::min(first + r * 60 - 60, stream.size()), 60);
                row.resize(61, '\0');
                if (r < 61 && first + r * 60 <= stream.size()) records.push_back(Line(row));
                for (int m = 0; m < 61; ++m) slots[(m - r + 62) % 61] += static_cast<unsigned char>(row[m]);
                for (int m = 1; r < 61 && m < 61; ++m) vertical[m] = static_cast<char>(vertical[m] - row[m]);
            }
            std::string diagonal(1, 63);
            for (int s = 0; s < 60; ++s) diagonal += static_cast<char>(-slots[s]);
            records.insert(records.end(), {Line(vertical), Line(diagonal)});
        }
        // A title, then a numbered line after every 50 lines and at the end.
        const std::string name = f.name + (f.ext.empty() ? "" : "." + f.ext);
        std::size_t lines = records.size() + 2;
        lines += (lines - 1) / 49;
        text += "<<< " + name + " for UNIX ( use jis7 ish ) [ " + std::to_string(lines) + " lines ] >>>\n";
        for (std::size_t n = 2, k = 0; n <= lines; ++n)
            text += n % 50 == 0 || n == lines ? "--- " + name + " (" + std::to_string(n) + "/" + std::to_string(lines) + ") ---\n" : records[k++] + "\n";
    }
    return text;
}

const std::vector<IshFile> kSamples = {{Sample("rand20k.bin"), "rand20k", "bin"}, {Sample("notes.txt"), "notes", "txt", 0x58A6392F}};

// ---- the reader

TEST(IshReader, RealTextsComeBackByteForByte) {
    ASSERT_EQ(Encode({kSamples[0]}), Sample("rand20k.ish"));
    ASSERT_EQ(Encode(kSamples), Sample("two-files.ish"));
    for (const char* sample : {"rand20k", "rand20k-damaged", "two-files"}) {
        SCOPED_TRACE(sample);
        const auto [summary, data] = Expected(sample);
        const std::string text = Sample(std::string(sample) + ".ish");
        // In a mail, with CR LF, blanks after some lines, and a line that is no record.
        const std::string mail = "From: someone\r\nSubject: files\r\n\r\nHere they are.\r\n" + std::string(78, '!') + "\r\n" +
                                 Lines(text, "  \r\n") + "-- \r\nbye";
        for (const std::string& form : {text, Lines(text, "\r\n"), mail}) {
            const OwnListing all = ReadOwn<ish::Reader>(form);
            EXPECT_EQ(all.summary, summary);
            EXPECT_TRUE(all.data == data);
        }
    }
    // The writer's local time, in its zone.
    EXPECT_EQ(ReadOwn<ish::Reader>(Sample("two-files.ish")).mtimes, (std::vector<std::int64_t>{1714946890, 1714946970}));
}

TEST(IshReader, EdgeSizesAndOtherFormsFromTheEncoder) {
    // 3598 bytes and the CRC fill one block; at 3599 and 3600 the CRC spills into a second.
    for (const std::size_t size : {0, 1, 58, 59, 3598, 3599, 3600, 7198}) {
        SCOPED_TRACE(size);
        const std::string data = Noise(size, static_cast<unsigned>(size));
        const OwnListing all = ReadOwn<ish::Reader>(Encode({{data, "EDGE", ""}, {data, "EDGE", ""}}));  // sent twice
        EXPECT_EQ(all.summary, "EDGE EDGE End");
        EXPECT_TRUE(all.data == (Names{data, data}));
    }
    // Other forms, by the title or by the header, and a file split over several texts: named,
    // refused with one message, and the file after them still read.
    std::string jis8 = Encode({kSamples[0]});
    jis8.replace(jis8.find("jis7"), 4, "jis8");
    IshFile split = kSamples[0], sjis = kSamples[0];
    split.volume = 1;
    sjis.form = 0x0D11;
    for (const std::string& text : {jis8 + Encode({kSamples[1]}), Encode({split, kSamples[1]}), Encode({sjis, kSamples[1]})}) {
        const OwnListing all = ReadOwn<ish::Reader>(text);
        EXPECT_EQ(all.summary, "rand20k.bin? notes.txt End");
        EXPECT_EQ(all.data, (Names{"", Sample("notes.txt")}));
        EXPECT_EQ(all.unsupported,
                  Names{"ISH texts other than jis7 (jis8, Shift-JIS, non-kana, a file split over several texts) are not supported yet"});
    }
}

TEST(IshReader, LostLinesRebuiltOrTheFileWithheld) {
    // rand20k.ish's data lines: 0-2 the header; block b (0 to 4) rows at 3 + 62 b to 62 + 62 b,
    // then its vertical and diagonal sums; the short block 5: rows 313-346, sums 347 and 348.
    constexpr std::size_t kAll = 20000, kNotOurs = ~std::size_t{0};
    std::set<std::size_t> cut;
    for (std::size_t n = 321; n < 349; ++n) cut.insert(n);
    const struct {
        std::set<std::size_t> dropped, altered;
        std::size_t handedOut;  // before Damaged; kAll when read whole
    } rows[] = {
        {{3, 62}, {}, kAll}, {{75}, {125}, kAll}, {{75, 126}, {}, kAll}, {{201}, {200}, kAll}, {{63, 64}, {}, kAll},
        {{313, 346}, {}, kAll}, {{330}, {348}, kAll}, {{347, 348}, {}, kAll}, {{0, 1}, {}, kAll}, {{}, {0, 2}, kAll},
        {{3, 4, 5}, {}, 0}, {{70, 71, 126}, {}, 3600}, {{313, 314}, {315}, 18000}, {cut, {}, 18000}, {{0, 1, 2}, {}, kNotOurs},
    };
    const std::string text = Sample("rand20k.ish"), data = Sample("rand20k.bin");
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        const OwnListing all = ReadOwn<ish::Reader>(Without(text, row.dropped, row.altered));
        EXPECT_EQ(all.summary, row.handedOut == kNotOurs ? "NotOurs" : row.handedOut == kAll ? "rand20k.bin End" : "rand20k.bin! End");
        EXPECT_TRUE(row.handedOut == kNotOurs || all.data == Names{data.substr(0, row.handedOut)});
    }
}

TEST(IshReader, OtherTextsNotOurs) {
    const std::string text = Sample("rand20k.ish");
    // A NUL byte before any header marks a binary file, read no further.
    for (const std::string& other : {std::string(), std::string("plain mail\r\n"), std::string(78, '!'), text.substr(0, text.find('\n', 80) - 1),
                                     std::string("RAR\0\r\n", 6) + text})
        EXPECT_EQ(ReadOwn<ish::Reader>(other).summary, "NotOurs");
}

// ---- through the library's calls

TEST(IshLibrary, CheckedAndExtractedIntoTheFolderGiven) {
    ScratchDir dir;
    WriteText(dir / "two.ish", Lines(Sample("two-files.ish"), "\r\n"));
    WriteText(dir / "lost.ish", Without(Sample("two-files.ish"), {100, 101, 102}));
    std::string jis8 = Sample("two-files.ish");
    WriteText(dir / "jis8.ish", jis8.replace(jis8.find("jis7"), 4, "jis8"));
    EXPECT_EQ(CheckArchive(Family::Ish, (dir / "two.ish").c_str(), 0), 1);
    EXPECT_EQ(CheckArchive(Family::Ish, (dir / "lost.ish").c_str(), 0), 1);
    EXPECT_EQ(CheckArchive(Family::Ish, (fs::path(DEXALO_TEST_DATA_DIR) / "ish/rand20k.bin").c_str(), 0), 0);
    ScriptedUser user;
    const auto extract = [&](const std::string& name) {  // as the front end calls it
        const std::string line = (dir / (name + ".ish")).string() + " /f=" + (dir / name).string() + "\\";
        return archivers::Run(Family::Ish, line.c_str(), nullptr, 0, &user);
    };
    EXPECT_EQ(extract("two"), 0);
    EXPECT_EQ(Tree(dir / "two"), (Files{{"rand20k.bin", Sample("rand20k.bin")}, {"notes.txt", Sample("notes.txt")}}));
    // A file the sums cannot rebuild is reported once, and nothing is left under its name.
    EXPECT_EQ(extract("lost"), kErrorCorrupt);
    EXPECT_EQ(Tree(dir / "lost"), Files{});
    ASSERT_EQ(user.reports.size(), 1u);
    EXPECT_EQ(user.reports[0].corruptEntry, L"rand20k.bin");
    // Another form: named, and said not supported.
    EXPECT_EQ(extract("jis8"), kErrorUnsupported);
    ASSERT_EQ(user.reports.size(), 2u);
    EXPECT_EQ(user.reports[1].unsupportedEntry, L"rand20k.bin");
    EXPECT_EQ(Tree(dir / "jis8"), Files{});
}

} // namespace
} // namespace dexalo::archivers::testing
