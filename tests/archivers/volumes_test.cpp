// Archives in several pieces, made at test time by zip -s, split, 7z -v and arj, and
// libarchive's own multi-volume RAR sets. Expectations come from the files archived and,
// for the RAR sets, from Debian's 7z listing them (`7z l -slt`: names, sizes, CRCs).
#include <zlib.h>

#include <random>

#include "archiver_test_support.h"
#include "engine/pipeline/report.h"
#include "engine/pipeline/resolve.h"

namespace dexalo::archivers::testing {
namespace {

using Crcs = std::map<std::string, std::uint32_t>;  // path ('/', folders end in one) -> CRC-32 (0 for folders)

// libarchive's own tests, in its source package in the dependency cache (whatever its version).
std::string LibarchiveTests() {
    const char* cache = std::getenv("DEXALO_DEPS_CACHE");
    const fs::path src = fs::path(cache ? cache : "/var/cache/dexalo-deps") / "src";
    std::error_code ignored;
    for (const auto& package : fs::directory_iterator(src, ignored))
        for (const auto& tree : fs::directory_iterator(package, ignored))
            if (fs::exists(tree.path() / "libarchive/test")) return (tree.path() / "libarchive/test/").string();
    return src.string() + "/";
}
// libarchive's RAR 4 set of six volumes and RAR 5 set of eight; the second file of each
// starts in the third volume and runs to the last.
const std::string kRar4Set = "test_rar_multivolume_multiple_files.part", kRar5Set = "test_read_format_rar5_multiarchive.part";
const Crcs kRar4Files = {{"LibarchiveAddingTest2.html", 0x5E05A663}, {"LibarchiveAddingTest.html", 0x5E05A663}};
const std::string kBin = "home/antek/temp/build/unrar5/libarchive/bin/";
const Crcs kRar5Files = {{kBin + "bsdcat_test", 0x35277473}, {kBin + "bsdtar_test", 0xE59665F8}};

std::uint32_t Crc(const std::string& data) {
    return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}
Crcs CrcTree(const fs::path& root) {
    Crcs crcs;
    for (const auto& [path, data] : Tree(root)) crcs[path] = path.back() == '/' ? 0 : Crc(data);
    return crcs;
}
// The same bytes every run, and nothing any format takes for its own.
std::string Noise(std::size_t size) {
    std::mt19937 random(20240611);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}
Names Sorted(Names names) {
    for (auto& name : names) std::replace(name.begin(), name.end(), '\\', '/');
    std::sort(names.begin(), names.end());
    return names;
}
Names KeysOf(const Crcs& crcs) {
    Names keys;
    for (const auto& entry : crcs) keys.push_back(entry.first);
    return keys;
}
// Piece names from a stem: "m.part", 6, ".rar" -> m.part1.rar ... m.part6.rar
Names Pieces(const std::string& stem, int count, const std::string& tail, int width = 1) {
    Names names;
    for (std::string n; static_cast<int>(names.size()) < count; names.push_back(stem + n + tail))
        n = std::to_string(names.size() + 1), n.insert(0, std::max(0, width - static_cast<int>(n.size())), '0');
    return names;
}

constexpr Family kCountFamilies[] = {Family::Lzh, Family::Zip, Family::Cab, Family::Tar, Family::Arj, Family::Rar, Family::Bga};

struct Kind {
    const char* what;
    Family family;
    std::string make;  // run in src/, '@' is set/; empty: libarchive's RAR 4 set (6 pieces) or RAR 5 set (8)
    Names pieces;      // what the tool writes, in order
};
const std::string kSplit = " && split -b 64k -a 3 --numeric-suffixes=1 ";
const Kind kZipS{"zip -s", Family::Zip, "zip -q -s 64k -r @s.zip a.txt sub big.bin", {"s.z01", "s.z02", "s.z03", "s.zip"}},
    kSplitZip{"split zip", Family::Zip, "zip -qr ../x.zip a.txt sub big.bin" + kSplit + "../x.zip @x.zip.", Pieces("x.zip.", 4, "", 3)},
    k7z{"7z -v", Family::Tar, "7z a -bd -v64k @x.7z a.txt sub big.bin", Pieces("x.7z.", 4, "", 3)},
    kTarGz{"split tar.gz", Family::Tar, "tar czf ../x.tgz a.txt sub big.bin" + kSplit + "../x.tgz @x.tar.gz.", Pieces("x.tar.gz.", 4, "", 3)},
    kArj{"split arj", Family::Arj, "arj a -r -a1 ../x.arj ." + kSplit + "../x.arj @x.arj.", Pieces("x.arj.", 4, "", 3)},
    kRar4{"RAR 4", Family::Rar, "", Pieces("m.part", 6, ".rar")},
    kRar4Old{"RAR 4 old names", Family::Rar, "", {"o.rar", "o.r00", "o.r01", "o.r02", "o.r03", "o.r04"}},
    kRar5{"RAR 5", Family::Rar, "", Pieces("f.part", 8, ".rar", 2)};

class Volumes : public ::testing::Test {
protected:
    // a.txt, sub/b.txt, and big.bin, which runs across several 64 KiB pieces.
    void SetUp() override {
        ForgetHandledSets();
        WriteText(src_ / "a.txt", "alpha\n");
        WriteText(src_ / "sub/b.txt", "beta\n");
        WriteText(src_ / "big.bin", Noise(200000));
        Shell(src_.path, "touch -d '2021-03-04 05:06:08' a.txt sub/b.txt big.bin sub");
    }
    // Runs a command in src/ with each '@' standing for the sets' folder.
    void Make(std::string command) {
        for (std::size_t at; (at = command.find('@')) != std::string::npos;) command.replace(at, 1, (dir_ / "set/").string());
        fs::create_directories(dir_ / "set");
        Shell(src_.path, command);
    }
    // The kind's set, anew in set/: libarchive's uuencoded RAR pieces renamed as the kind says.
    void MakeSet(const Kind& kind) {
        fs::remove_all(dir_ / "set");
        if (!kind.make.empty()) return Make(kind.make);
        fs::create_directories(dir_ / "set");
        const bool rar5 = kind.pieces.size() == 8;
        const Names uus = Pieces(LibarchiveTests() + (rar5 ? kRar5Set : kRar4Set), rar5 ? 8 : 6, ".rar.uu", rar5 ? 2 : 1);
        for (std::size_t i = 0; i < uus.size(); ++i) {
            if (!fs::exists(uus[i])) GTEST_SKIP() << "missing " << uus[i];
            Shell(dir_.path, "python3 -c \"import binascii,sys; sys.stdout.buffer.write(b''.join(binascii.a2b_uu(l) for l in "
                             "open('" + uus[i] + "').read().split('\\nend')[0].splitlines()[1:]))\" > 'set/" + kind.pieces[i] + "'");
        }
    }
    // What came out; libarchive's RAR sets store no folders, so those made on the way are left out.
    Crcs Extracted(const std::string& to, const Kind& kind) const {
        Crcs crcs = CrcTree(dir_ / to);
        if (kind.make.empty()) std::erase_if(crcs, [](const auto& entry) { return entry.first.back() == '/'; });
        return crcs;
    }
    fs::path Set(const std::string& name) const { return dir_ / "set" / name; }
    ScratchDir dir_, src_;
};

// Every kind, opened at its first and at later pieces: the count and the listing are the
// whole set's, only the owning family takes it, the set comes out once and whole.
TEST_F(Volumes, EachKindFromAnyPiece) {
    const std::pair<Kind, Names> rows[] = {
        {kZipS, {"s.zip", "s.z01", "s.z03"}}, {kSplitZip, {"x.zip.001", "x.zip.004"}}, {k7z, {"x.7z.001", "x.7z.002"}},
        {kTarGz, {"x.tar.gz.003", "x.tar.gz.001"}}, {kArj, {"x.arj.001", "x.arj.002"}}, {kRar4, {"m.part1.rar", "m.part4.rar"}},
        {kRar4Old, {"o.rar", "o.r03"}}, {kRar5, {"f.part01.rar", "f.part06.rar"}},
    };
    for (const auto& [kind, opened] : rows) {
        SCOPED_TRACE(kind.what);
        MakeSet(kind);
        if (IsSkipped()) return;
        const Crcs expected = kind.pieces == kRar4.pieces || kind.pieces == kRar4Old.pieces ? kRar4Files
                            : kind.pieces == kRar5.pieces                                    ? kRar5Files
                                                                                             : CrcTree(src_.path);
        for (const std::string& name : opened) {
            SCOPED_TRACE(name);
            const fs::path piece = Set(name);
            // Any piece's count and listing are the set's, scanned once under its first piece.
            const unsigned scans = ScanCount();
            EXPECT_EQ(Count(kind.family, piece), static_cast<int>(expected.size()));
            EXPECT_EQ(Sorted(List(kind.family, piece, "*")), KeysOf(expected));
            EXPECT_EQ(ScanCount(), scans + (name == opened[0]));
            for (Family family : kCountFamilies) EXPECT_EQ(family == kind.family || Count(family, piece) == -1, true) << NameOf(family);
            EXPECT_EQ(CheckArchive(Family::Ish, piece.c_str(), 0) + CheckArchive(Family::Jak, piece.c_str(), 0), 0);
        }
        EXPECT_EQ(Extract(kind.family, Set(opened[0]), dir_ / "first"), 0);
        EXPECT_EQ(Extracted("first", kind), expected);
        EXPECT_EQ(kind.make.empty() || fs::last_write_time(dir_ / "first/big.bin") == fs::last_write_time(src_ / "big.bin"), true);
        for (std::size_t i = 1; i < opened.size(); ++i) {
            // Another piece of the same set, chosen with it, does nothing; asked for again, it
            // extracts the whole set.
            EXPECT_EQ(Extract(kind.family, Set(opened[i]), dir_ / "again"), 0);
            EXPECT_FALSE(fs::exists(dir_ / "again")) << opened[i];
            EXPECT_EQ(Extract(kind.family, Set(opened[i]), dir_ / opened[i]), 0) << opened[i];
            EXPECT_EQ(Extracted(opened[i], kind), expected) << opened[i];
        }
        ForgetHandledSets();
        fs::remove_all(dir_ / "first");
    }
}

// A ZIP made on a Mac (decomposed UTF-8 names, no UTF-8 flag), split by zip -s or cut into
// plain pieces: its names are decided from the whole set's central directory, not from the
// first piece, which holds none.
TEST_F(Volumes, SplitZipNamesComeFromTheWholeSet) {
    Names expected;
    for (int i = 0; i < 4; ++i) {
        WriteText(src_ / ("写真/\u30CF\u309A\u30F3\u30BF\u3099" + std::to_string(i) + ".bin"), Noise(40000 + i));
        expected.push_back("写真/\u30D1\u30F3\u30C0" + std::to_string(i) + ".bin");
    }
    expected.push_back("写真/");
    Make("zip -qry -s 64k @m.zip 写真 && zip -qry ../m.zip 写真" + kSplit + "../m.zip @c.zip.");
    for (const char* opened : {"m.z01", "m.zip", "c.zip.001", "c.zip.002"}) {
        SCOPED_TRACE(opened);
        EXPECT_EQ(Sorted(List(Family::Zip, Set(opened), "*")), Sorted(expected));
        fs::remove_all(dir_ / "out");
        ForgetHandledSets();
        ASSERT_EQ(Extract(Family::Zip, Set(opened), dir_ / "out"), 0);
        EXPECT_EQ(Sorted(KeysOf(CrcTree(dir_ / "out"))), Sorted(expected));
    }
}

// A piece missing: one report naming it; what lies wholly before it is extracted, nothing cut
// short stays (no temporary file either); the other pieces' calls stay silent.
TEST_F(Volumes, AMissingPieceIsNamedOnce) {
    const Crcs small = {{"a.txt", Crc("alpha\n")}, {"sub/", 0}, {"sub/b.txt", Crc("beta\n")}};
    const Crcs html = {{"LibarchiveAddingTest2.html", 0x5E05A663}};  // the first file
    const struct {
        Kind kind;
        std::string removed, opened;
        Crcs kept;
    } rows[] = {
        {kZipS, "s.z02", "s.zip", small}, {kZipS, "s.zip", "s.z02", small}, {kSplitZip, "x.zip.003", "x.zip.004", small},
        {kRar4, "m.part4.rar", "m.part2.rar", html}, {kRar4, "m.part6.rar", "m.part1.rar", html},  // the last: by the end header
        {kRar4, "m.part1.rar", "m.part3.rar", {}}, {kRar4Old, "o.r03", "o.rar", html},
        {kRar5, "f.part05.rar", "f.part08.rar", {*kRar5Files.begin()}}, {k7z, "x.7z.002", "x.7z.001", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.kind.what + (" without " + row.removed));
        ForgetHandledSets();
        fs::remove_all(dir_ / "out");
        MakeSet(row.kind);
        if (IsSkipped()) return;
        fs::remove(Set(row.removed));
        // The front end must get as far as the main operation: the set counts as its family's.
        EXPECT_GE(Count(row.kind.family, Set(row.opened)), 1);
        ScriptedUser user;
        EXPECT_EQ(Extract(row.kind.family, Set(row.opened), dir_ / "out", &user), kErrorCorrupt);
        EXPECT_EQ(Extracted("out", row.kind), row.kept);
        ASSERT_EQ(user.reports.size(), 1u);
        EXPECT_EQ(user.reports[0].missingPiece, platform::FromPath(row.removed));
        for (const auto& other : row.kind.pieces)  // all of them chosen at once
            EXPECT_EQ(other == row.removed || other == row.opened || Extract(row.kind.family, Set(other), dir_ / "out", &user) == 0, true) << other;
        EXPECT_EQ(user.reports.size(), 1u);
        if (row.opened == "m.part2.rar") {  // what the user reads: the piece, not the damage it causes
            EXPECT_EQ(ReportText(L"/in/m.part2.rar", user.reports[0]), L"「m.part2.rar」を解凍できませんでした。\n\n"
                      L"分割された書庫の一部が見つかりません: m.part4.rar\nこれより後のファイルは解凍していません。");
        }
    }
}

// A split file that is no archive: only the split-file library takes it, and joins it once
// into name.ext (or a numbered name: nothing is ever replaced). A piece missing is reported
// and leaves nothing behind.
TEST_F(Volumes, JoiningASplitFile) {
    const std::string movie = Noise(600000);  // three blocks of the join
    WriteText(src_ / "movie.mp4", movie);
    WriteText(src_ / "photos.zip.002", "not a piece\n");  // an entry that would overwrite a piece
    Make("split -b 64k -a 3 --numeric-suffixes=1 movie.mp4 @movie.mp4. && touch -d '2021-03-04 05:06:08' @movie.mp4.* && "
         "touch -d tomorrow photos.zip.002 && zip -qr ../photos.zip a.txt sub photos.zip.002 && "
         "split -b 200 -a 3 --numeric-suffixes=1 ../photos.zip @photos.zip.");
    const auto check = [](const fs::path& piece) { return CheckArchive(Family::Jak, piece.c_str(), 0); };
    const auto combine = [](const fs::path& piece, const std::string& folder, UserInterface* user = nullptr) {
        return Combine(Family::Jak, piece.c_str(), folder.c_str(), user);
    };
    for (const char* piece : {"movie.mp4.001", "movie.mp4.003"}) {
        for (Family family : kCountFamilies) EXPECT_EQ(Count(family, Set(piece)), -1) << piece;
        EXPECT_EQ(CheckArchive(Family::Ish, Set(piece).c_str(), 0), 0);
        EXPECT_EQ(check(Set(piece)), 1) << piece;
    }
    EXPECT_EQ(Count(Family::Zip, Set("photos.zip.002")), 4);  // a.txt, sub/, sub/b.txt, photos.zip.002
    EXPECT_EQ(check(Set("photos.zip.001")), 0);
    const std::string piece = ReadText(Set("photos.zip.002"));
    EXPECT_EQ(Extract(Family::Zip, Set("photos.zip.001"), dir_ / "set"), kErrorRefused);  // a newer entry all the same
    EXPECT_EQ(ReadText(Set("photos.zip.002")), piece);
    EXPECT_EQ(ReadText(Set("sub/b.txt")), "beta\n");
    fs::create_directories(dir_ / "set/folder.001");
    EXPECT_EQ(check(src_ / "a.txt") + check(Set("folder.001")), 0);

    const std::string out = (dir_ / "out").string() + "/";  // as the front end passes it
    ScriptedUser cancelling;  // after the second block: nothing stays, not even the temporary file
    cancelling.cancelIn = L"movie.mp4";
    EXPECT_EQ(combine(Set("movie.mp4.001"), out, &cancelling), kErrorCancelled);
    EXPECT_EQ(Tree(dir_ / "out"), Files{});
    EXPECT_TRUE(cancelling.reports.empty());
    EXPECT_EQ(cancelling.total, movie.size());
    EXPECT_EQ(combine(Set("movie.mp4.002"), out), 0);  // chosen with it: the cancel stands
    EXPECT_EQ(Tree(dir_ / "out"), Files{});
    EXPECT_EQ(combine(Set("movie.mp4.001"), out), 0);  // dropped again after the cancel
    EXPECT_EQ(combine(Set("movie.mp4.003"), out), 0);  // the same set: done already
    EXPECT_EQ(Tree(dir_ / "out"), (Files{{"movie.mp4", movie}}));
    EXPECT_EQ(fs::last_write_time(dir_ / "out/movie.mp4"), fs::last_write_time(Set("movie.mp4.001")));
    EXPECT_EQ(combine(Set("movie.mp4.003"), out), 0);  // asked for again
    EXPECT_EQ(Tree(dir_ / "out"), (Files{{"movie.mp4", movie}, {"movie (2).mp4", movie}}));

    ScriptedUser user;  // a destination that cannot be made: a file stands in the way
    ForgetHandledSets();
    EXPECT_EQ(combine(Set("movie.mp4.001"), (src_ / "a.txt/in").string(), &user), kErrorCannotWrite);
    ASSERT_EQ(user.reports.size(), 1u);
    EXPECT_EQ(user.reports[0].unwritable, platform::FromPath(src_ / "a.txt"));
    EXPECT_EQ(ReadText(src_ / "a.txt"), "alpha\n");

    fs::remove(Set("movie.mp4.002"));
    ForgetHandledSets();
    EXPECT_EQ(check(Set("movie.mp4.003")), 1);  // taken, so that the missing piece is named
    EXPECT_EQ(combine(Set("movie.mp4.003"), (dir_ / "cut").string(), &user), kErrorCorrupt);
    EXPECT_EQ(combine(Set("movie.mp4.001"), (dir_ / "cut").string(), &user), 0);  // the same set: told once
    ASSERT_EQ(user.reports.size(), 2u);
    EXPECT_EQ(user.reports[1].missingPiece, L"movie.mp4.002");
    EXPECT_EQ(ReportText(L"movie.mp4.003", user.reports[1]),
              L"「movie.mp4.003」を結合できませんでした。\n\n分割されたファイルの一部が見つかりません: movie.mp4.002");
    EXPECT_EQ(Tree(dir_ / "cut"), Files{});
    EXPECT_EQ(combine(src_ / "a.txt", out, &user), kErrorCannotOpen);  // no piece at all
    EXPECT_EQ(combine("", out, &user), kErrorCannotOpen);
    EXPECT_EQ(user.reports.size(), 4u);
}

} // namespace
} // namespace dexalo::archivers::testing
