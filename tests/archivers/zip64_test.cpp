// ZIPs with Deflate64 entries, read by our own reader: made at test time with Debian's 7z
// (Deflate64, Deflate, stored; written to a pipe for data descriptors; encrypted) and zip
// (descriptors when writing to a pipe, 64-bit ones with -fz, bzip2), and Deflate streams and
// headers built bit by bit for what neither tool writes.
#include <zlib.h>

#include <functional>
#include <tuple>

#include "archiver_test_support.h"
#include "engine/codecs/inflate64.h"
#include "engine/pipeline/resolve.h"
#include "engine/formats/zip.h"

namespace dexalo::archivers::testing {
namespace {

using own::Status;
constexpr std::int64_t kTime = 1600000000;  // even, as MS-DOS times keep it

struct Item {
    Item(std::string n, std::string d = "", bool dir = false, bool wide = false, bool ro = false, std::int64_t time = kTime,
         std::string why = "", Status how = Status::Ok)
        : name(std::move(n)), data(std::move(d)), directory(dir), utf8(wide), readOnly(ro), mtime(time), unsupported(std::move(why)), read(how) {}
    std::string name, data;
    bool directory, utf8, readOnly;
    std::int64_t mtime;
    std::string unsupported;
    Status read;  // how reading the data ended
    bool operator==(const Item&) const = default;
};
void PrintTo(const Item& i, std::ostream* os) {
    *os << i.name << ": " << i.data.size() << " bytes, dir " << i.directory << " utf8 " << i.utf8 << " ro " << i.readOnly << " mtime "
        << i.mtime << " [" << i.unsupported << "] read " << static_cast<int>(i.read);
}
struct Listing {
    std::vector<Item> items;
    Status end = Status::End, open = Status::Ok;  // the last Next, and Open
    bool operator==(const Listing&) const = default;
};
void PrintTo(const Listing& l, std::ostream* os) { *os << ::testing::PrintToString(l.items) << " then " << static_cast<int>(l.end); }

// Every entry with its data, or only the first block of each (the rest left to Next to skip).
Listing ReadAll(const std::string& bytes, bool firstBlockOnly = false) {
    own::MemoryInput input(bytes.data(), bytes.size());
    zip::Reader reader(input);
    Listing out;
    if ((out.open = reader.Open()) != Status::Ok) return out;
    own::Entry e;
    while ((out.end = reader.Next(e)) == Status::Ok) {
        EXPECT_NE(e.utf8, e.oem) << e.name;
        Item& item = out.items.emplace_back(e.name, "", e.directory, e.utf8, e.readOnly, e.mtime, e.unsupported ? e.unsupported : "");
        EXPECT_EQ(e.encrypted, item.unsupported == "ZIP encryption not supported");
        const std::uint8_t* block = nullptr;
        std::size_t n = 0;
        while ((item.read = reader.Read(block, n)) == Status::Ok && n > 0 && !(firstBlockOnly && !item.data.empty())) {
            item.data.append(reinterpret_cast<const char*>(block), n);
            EXPECT_LE(item.data.size(), e.size) << e.name;
        }
    }
    return out;
}
bool UsesDeflate64(const std::string& bytes) {
    own::MemoryInput input(bytes.data(), bytes.size());
    return zip::UsesDeflate64(input);
}

// Printable noise in 36 KB that comes back 50 KB later, beyond Deflate's 32 KiB reach, amid
// lines that repeat nearby.
std::string LongText() {
    std::string noise, text;
    for (std::uint32_t x = 7; noise.size() < 36000;) noise += static_cast<char>('!' + ((x = x * 1103515245u + 12345u) >> 16) % 90);
    for (int i = 0; text.size() < 400000; ++i) {
        if (i % 1000 == 0) text += noise;
        text += "line " + std::to_string(i % 700) + " of the archive\n";
    }
    return text;
}
const std::string kLong = LongText();

class ZipArchives : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (std::system("command -v 7z >/dev/null && command -v zip >/dev/null") != 0) return;
        WriteText(dir_ / "long.txt", kLong);
        WriteText(dir_ / "empty.txt", "");
        WriteText(dir_ / "日本語.txt", "nihongo\n");
        WriteText(dir_ / "docs/ro.txt", "read only\n");
        const std::string files = " long.txt empty.txt docs 日本語.txt", z7 = "7z a -bd -tzip ";
        made_ = std::system(("(cd '" + dir_.path.string() + "' && chmod 444 docs/ro.txt && touch -d @" + std::to_string(kTime) +
                             " *.txt docs docs/ro.txt && " + z7 + "-mm=Deflate64 d64.zip" + files + " && " + z7 + "-mm=Deflate d8.zip" + files +
                             " && " + z7 + "-mm=Copy copy.zip" + files + " && " + z7 + "-mm=Deflate64 -so x" + files + " | cat > pipe64.zip && " +
                             "zip -qr -" + files + " | cat > pipe.zip && zip -qr -fz -" + files + " | cat > pipefz.zip && " + z7 +
                             "-mm=Deflate64 -pX enc.zip long.txt empty.txt && zip -q -Z bzip2 bz.zip long.txt docs/ro.txt) >/dev/null 2>&1")
                                .c_str()) == 0;
    }
    void SetUp() override {
        if (!made_) GTEST_SKIP() << "needs Debian's 7z (7zip) and zip to make the archives";
    }
    static std::string Archive(const std::string& name) { return ReadText(dir_ / name); }
    // What was archived, as a reader should list it; 7z flags the Japanese name as UTF-8.
    static std::vector<Item> Expected(bool utf8Flagged) {
        return {{"docs", "", true}, {"docs/ro.txt", "read only\n", false, false, true}, {"empty.txt"}, {"long.txt", kLong},
                {"日本語.txt", "nihongo\n", false, utf8Flagged}};
    }
    static Listing Sorted(Listing l) {
        std::sort(l.items.begin(), l.items.end(), [](const Item& a, const Item& b) { return a.name < b.name; });
        return l;
    }
    static inline ScratchDir dir_;
    static inline bool made_ = false;
};

TEST_F(ZipArchives, EveryWriterAndMethodGivesTheFilesBack) {
    for (const auto& [name, utf8, deflate64] : {std::tuple{"d64.zip", true, true}, {"d8.zip", true, false}, {"copy.zip", true, false},
                                                {"pipe64.zip", true, true}, {"pipe.zip", false, false}, {"pipefz.zip", false, false}}) {
        SCOPED_TRACE(name);
        const std::string bytes = Archive(name);
        EXPECT_EQ(Sorted(ReadAll(bytes)), Listing{Expected(utf8)});
        EXPECT_EQ(UsesDeflate64(bytes), deflate64);
        // Entries left after their first block are skipped (or, sizes unknown, decoded) over.
        const Listing skipped = Sorted(ReadAll(bytes, true));
        ASSERT_EQ(skipped.items.size(), 5u);
        EXPECT_EQ(skipped.items[4], Expected(utf8)[4]);
    }
    // Deflate64 reached back to the noise that Deflate had to store again.
    EXPECT_LT(Archive("d64.zip").size() + 30000, Archive("d8.zip").size());
}

TEST_F(ZipArchives, DamageEncryptionAndOtherMethods) {
    for (const char* name : {"d64.zip", "pipe64.zip"}) {
        SCOPED_TRACE(name);
        const std::string bytes = Archive(name);
        const std::size_t at = bytes.find("long.txt") + 5000;  // in its data
        std::string flipped = bytes;
        flipped[at] ^= 0x10;
        Listing got = Sorted(ReadAll(flipped));
        // Known sizes: only that entry is damaged. Sizes after the data: where it ends is lost.
        const auto damaged = std::find_if(got.items.begin(), got.items.end(), [](const Item& i) { return i.read != Status::Ok; });
        EXPECT_TRUE(damaged != got.items.end() ? damaged->name == "long.txt" && damaged->data.size() < kLong.size() : got.end == Status::Damaged);
        got = ReadAll(bytes.substr(0, at));
        EXPECT_TRUE(std::none_of(got.items.begin(), got.items.end(), [](const Item& i) { return i.name == "long.txt" && i.read == Status::Ok; }));
        EXPECT_EQ(got.end, Status::Damaged);
        EXPECT_FALSE(UsesDeflate64(bytes.substr(0, at)));
    }
    const std::string encrypted = Archive("enc.zip");
    EXPECT_TRUE(UsesDeflate64(encrypted));
    EXPECT_EQ(Sorted(ReadAll(encrypted)), (Listing{{{"empty.txt", "", false, false, false, kTime, "ZIP encryption not supported", Status::Unsupported},
                                                    {"long.txt", "", false, false, false, kTime, "ZIP encryption not supported", Status::Unsupported}}}));
    EXPECT_EQ(ReadAll(Archive("bz.zip")),
              (Listing{{{"long.txt", "", false, false, false, kTime, "unsupported ZIP compression method 12", Status::Unsupported},
                        {"docs/ro.txt", "read only\n", false, false, true}}}));
    for (const std::string& junk : {std::string(), std::string("PK\3"), "PK\5\6" + std::string(18, '\0'), Archive("long.txt")}) {
        EXPECT_EQ(ReadAll(junk).open, Status::NotOurs);
        EXPECT_FALSE(UsesDeflate64(junk));
    }
}

// Through the whole engine: an encrypted Deflate64 entry is an encryption we cannot read (an
// empty one holds nothing to decrypt).
TEST_F(ZipArchives, EncryptedEntriesThroughTheEngine) {
    ScratchDir out;
    EXPECT_EQ(Count(Family::Zip, dir_ / "enc.zip"), 2);
    EXPECT_EQ(Extract(Family::Zip, dir_ / "enc.zip", out / "x"), kErrorUnsupported);
    EXPECT_EQ(Tree(out / "x"), (Files{{"empty.txt", ""}}));
}

// ---- streams and headers built by hand

std::string Le(std::uint64_t v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i) & 0xFF);
    return out;
}

// Deflate's bits, least significant first; Huffman codes go most significant bit first.
struct Bits {
    std::string out;
    std::uint64_t acc = 0;
    int n = 0;
    Bits& Put(std::uint32_t v, int bits) {
        for (acc |= std::uint64_t{v} << n, n += bits; n >= 8; acc >>= 8, n -= 8) out += static_cast<char>(acc & 0xFF);
        return *this;
    }
    Bits& Code(std::uint32_t code, int len) {
        while (len-- > 0) Put(code >> len & 1, 1);
        return *this;
    }
    Bits& Fixed(int s) {  // a literal or length symbol in the fixed code
        return s < 144 ? Code(0x30 + s, 8) : s < 256 ? Code(0x190 + s - 144, 9) : s < 280 ? Code(s - 256, 7) : Code(0xC0 + s - 280, 8);
    }
    std::string Done() { return n > 0 ? Put(0, 8 - n).out : out; }
};

struct Inflated {
    Status status;
    std::string data;
    std::size_t used = 0;  // bytes of the stream, from what the decoder took and handed back
};
Inflated Inflate(const std::string& stream, bool deflate64, std::size_t chunk = 1 << 20) {
    struct Chunks final : inflate64::Source {
        const std::string& s;
        std::size_t chunk, at = 0;
        Chunks(const std::string& text, std::size_t size) : s(text), chunk(size) {}
        std::size_t Next(const std::uint8_t*& data) override {
            const std::size_t n = std::min(chunk, s.size() - at);
            data = reinterpret_cast<const std::uint8_t*>(s.data() + at);
            return at += n, n;
        }
    } source(stream, chunk);
    inflate64::Decoder decoder;
    decoder.Start(source, deflate64);
    Inflated out{Status::Damaged, ""};
    const std::uint8_t* data = nullptr;
    std::size_t n = 0;
    inflate64::Decoder::Status s;
    while ((s = decoder.Next(data, n)) == inflate64::Decoder::Status::Ok) out.data.append(reinterpret_cast<const char*>(data), n);
    if (s == inflate64::Decoder::Status::End) out.status = Status::End, out.used = source.at - decoder.Unused();
    return out;
}

TEST(Inflate64, WhatOnlyDeflate64MeansAndDamage) {
    std::string noise;
    for (std::uint32_t x = 1; noise.size() < 40000;) noise += static_cast<char>((x = x * 2654435761u + 1) >> 13);
    const std::string stored = std::string(1, '\0') + Le(40000, 2) + Le(0xFFFF - 40000, 2) + noise;  // a stored block, not the last
    // 'a', then code 285 with 16 extra bits of ones (65535 + 3) at distance 1; Deflate's 285 is
    // 258 without extra bits, and its distance code 31 (the ones) does not exist.
    const std::string run = Bits().Put(1, 1).Put(1, 2).Fixed('a').Fixed(285).Put(0xFFFF, 16).Code(0, 5).Fixed(256).Done();
    // Distance code 30 (32769 and up, 14 extra bits: 5) for length 4 (code 258).
    const std::string far = stored + Bits().Put(1, 1).Put(1, 2).Fixed(258).Code(30, 5).Put(5, 14).Fixed(256).Done();
    const std::string farOutput = noise + noise.substr(40000 - 32774, 4);
    // "abcde", then 11 from 5 back (code 265 and a 0 bit, distance code 4 and a 0 bit).
    const std::string overlap = Bits().Put(1, 1).Put(1, 2).Fixed('a').Fixed('b').Fixed('c').Fixed('d').Fixed('e').Fixed(265).Put(0, 1)
                                    .Code(4, 5).Put(0, 1).Fixed(256).Done();
    const std::string early = Bits().Put(1, 1).Put(1, 2).Fixed('a').Fixed(257).Code(1, 5).Fixed(256).Done();  // 2 back, 1 written
    const struct {
        std::string stream;
        bool deflate64;
        Inflated want;
    } rows[] = {
        {run, true, {Status::End, std::string(65539, 'a'), run.size()}},
        {run, false, {Status::Damaged, ""}},
        {far + "next", true, {Status::End, farOutput, far.size()}},
        {far, false, {Status::Damaged, ""}},
        {overlap, false, {Status::End, "abcdeabcdeabcdea", overlap.size()}},
        {early, true, {Status::Damaged, ""}},
        {run.substr(0, run.size() - 1), true, {Status::Damaged, ""}},      // cut short
        {stored.substr(0, 1000), true, {Status::Damaged, ""}},              // cut within a stored block
        {Bits().Put(1, 1).Put(3, 2).Done(), true, {Status::Damaged, ""}},  // block type 3
        {"\x01" + Le(3, 2) + Le(0xFFFC, 2) + "abcPK", false, {Status::End, "abc", 8}},
    };
    for (const auto& row : rows) {
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20}) {
            const Inflated got = Inflate(row.stream, row.deflate64, chunk);
            EXPECT_EQ(std::tie(got.status, got.data, got.used), std::tie(row.want.status, row.want.data, row.want.used))
                << row.stream.size() << " bytes, deflate64 " << row.deflate64 << ", chunks of " << chunk;
        }
    }
}

std::uint32_t Crc(const std::string& s) { return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size()))); }

// One entry: local header, data and descriptor; and its central record. Sizes of 0xFFFFFFFF
// in `local` are given by a Zip64 field; a descriptor of `form` (1 signed, 2 64-bit) follows
// when `flags` say so.
struct Made {
    std::string local, central;
};
Made Entry(std::size_t offset, const std::string& name, std::uint16_t flags, std::uint16_t method, const std::string& data, const std::string& original,
           const std::string& extra = "", std::uint32_t madeBy = 0x0014, std::uint32_t attributes = 0, int form = 0) {
    const bool after = flags & 8;
    const std::string sizes = after ? std::string(12, '\0') : Le(Crc(original), 4) + Le(data.size(), 4) + Le(original.size(), 4);
    const std::string common = Le(flags, 2) + Le(method, 2) + Le(0x28C4, 2) + Le(0x5064, 2);  // 2020-03-04 05:06:08
    Made m{"PK\3\4" + Le(20, 2) + common + sizes + Le(name.size(), 2) + Le(extra.size(), 2) + name + extra + data, ""};
    if (after) m.local += (form & 1 ? "PK\7\x08" : "") + Le(Crc(original), 4) + Le(data.size(), form & 2 ? 8 : 4) + Le(original.size(), form & 2 ? 8 : 4);
    m.central = "PK\1\2" + Le(madeBy, 2) + Le(20, 2) + common + Le(Crc(original), 4) + Le(data.size(), 4) + Le(original.size(), 4) +
                Le(name.size(), 2) + Le(0, 6) + Le(0, 2) + Le(attributes, 4) + Le(offset, 4) + name;
    return m;
}
std::string Zip(const std::vector<std::function<Made(std::size_t)>>& entries) {
    std::string locals, centrals;
    for (const auto& make : entries) {
        const Made m = make(locals.size());
        locals += m.local, centrals += m.central;
    }
    return locals + centrals + "PK\5\6" + Le(0, 4) + Le(entries.size(), 2) + Le(entries.size(), 2) + Le(centrals.size(), 4) + Le(locals.size(), 4) + Le(0, 2);
}

TEST(ZipHeaders, ExtraFieldsDescriptorsAndAttributes) {
    const std::string stored = "\x01" + Le(5, 2) + Le(0xFFFA, 2) + "hello";  // "hello" as one stored Deflate block
    const std::string name = "\x93\xFA.txt", utf8Name = "日.txt";          // 日 in Shift-JIS
    const std::int64_t dos = own::DosTimeToUnix(0x506428C4);
    const auto entry = [](auto... args) { return [=](std::size_t at) { return Entry(at, args...); }; };
    const std::string archive = Zip({
        entry("a.txt", 8, 9, stored, "hello", "", 0x0014, 0x01, 0),  // no signature, DOS read-only
        entry("b.txt", 8, 8, stored, "hello", "", 0x0314, 0100444u << 16, 3),  // signed, 64-bit sizes; Unix 0444
        entry(name, 0, 0, "raw", "raw", "\x75\x70" + Le(5 + utf8Name.size(), 2) + "\x01" + Le(Crc(name), 4) + utf8Name, 0x0314, 0100644u << 16),
        entry("stale", 0, 0, "raw", "raw", "\x75\x70" + Le(8, 2) + "\x01" + Le(0, 4) + "new"),  // its CRC is not the name's
        entry("t.txt", 0, 0, "time", "time", "UT" + Le(5, 2) + "\x01" + Le(kTime, 4)),
        entry("z.txt", 0, 8, stored, "hello", std::string("\x01\x00", 2) + Le(16, 2) + Le(5, 8) + Le(stored.size(), 8), 0x0014, 0, 0),
        entry("short", 0, 0, "four", "fore!"),  // stored sizes disagree
        entry("bad", 0, 8, stored, "hellO"),    // its CRC fails
        entry("locked", 9, 8, "PK\1\2", "?"),  // encrypted, sizes after it: nothing after it can be found
        entry("never", 0, 0, "x", "x"),
    });
    std::string zip64 = archive;  // its sizes now stand in the Zip64 field
    zip64.replace(zip64.find("z.txt") - 12, 8, Le(0xFFFFFFFF, 4) + Le(0xFFFFFFFF, 4));
    EXPECT_EQ(ReadAll(zip64),
              (Listing{{{"a.txt", "hello", false, false, true, dos}, {"b.txt", "hello", false, false, true, dos},
                        {utf8Name, "raw", false, true, false, dos}, {"stale", "raw", false, false, false, dos}, {"t.txt", "time"},
                        {"z.txt", "hello", false, false, false, dos}, {"short", "", false, false, false, dos, "", Status::Damaged},
                        {"bad", "", false, false, false, dos, "", Status::Damaged},
                        {"locked", "", false, false, false, dos, "ZIP encryption not supported", Status::Unsupported}},
                       Status::Damaged}));
}

// Past 8 GiB a size no longer fits the tar header our readers' stream is made of: the listing
// still gives it whole (the data is cut short, so nothing that large is ever written).
TEST(ZipHeaders, SizesPast8GiBListedWhole) {
    ScratchDir dir;
    std::string zip = Zip({[](std::size_t at) {
        return Entry(at, "huge.bin", 0, 9, "xx", "", std::string("\x01\x00", 2) + Le(16, 2) + Le(9ull << 30, 8) + Le(2, 8));
    }});
    zip.replace(zip.find("huge.bin") - 12, 8, Le(0xFFFFFFFF, 4) + Le(0xFFFFFFFF, 4));
    WriteText(dir / "huge.zip", zip);
    const auto archive = Resolve(Family::Zip, (dir / "huge.zip").wstring());
    ASSERT_EQ(archive->listing.entries.size(), 1u);
    EXPECT_EQ(archive->listing.entries[0].size, 9ull << 30);
}

// Sizes after the data, and a stream ending on each byte around 256 KiB, where the reader's
// buffer refills: what the decoder read ahead of the stream's end is handed back whole.
TEST(ZipHeaders, StreamsEndingAroundABufferRefill) {
    const std::int64_t dos = own::DosTimeToUnix(0x506428C4);
    for (std::size_t n = 262060; n < 262180; ++n) {
        const std::string data(n, 'x');
        std::string stream;
        for (std::size_t at = 0; at < n; at += 0xFFFF) {  // stored blocks, then the last one empty and coded
            const std::size_t size = std::min<std::size_t>(0xFFFF, n - at);
            stream += std::string(1, '\0') + Le(size, 2) + Le(0xFFFF - size, 2) + data.substr(at, size);
        }
        stream += Bits().Put(1, 1).Put(1, 2).Fixed(256).Done();
        const std::string archive = Zip({[&](std::size_t at) { return Entry(at, "a", 8, 8, stream, data, "", 0x0014, 0, 1); },
                                         [&](std::size_t at) { return Entry(at, "b.txt", 0, 0, "b", "b"); }});
        ASSERT_EQ(ReadAll(archive), (Listing{{{"a", data, false, false, false, dos}, {"b.txt", "b", false, false, false, dos}}})) << n;
    }
}

} // namespace
} // namespace dexalo::archivers::testing
