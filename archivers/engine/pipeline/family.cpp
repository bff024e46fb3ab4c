#include "engine/pipeline/family.h"

#include <cerrno>
#include <cstring>
#include <iterator>
#include <list>
#include <map>
#include <mutex>
#include <algorithm>
#include <string>

#include "engine/formats/arj.h"
#include "engine/formats/bga.h"
#include "engine/formats/ish.h"
#include "engine/formats/lzh.h"
#include "engine/formats/rar5.h"
#include "engine/pipeline/own_stream.h"
#include "engine/platform/platform.h"
#include "engine/pipeline/input_reader.h"
#include "engine/pipeline/resolve.h"
#include "engine/formats/zip.h"
#include "engine/names/zip_names.h"

namespace dexalo::archivers {

namespace {

int BaseFormat(archive* reader) { return archive_format(reader) & ARCHIVE_FORMAT_BASE_MASK; }

// Names the code page of names stored without a Unicode flag; left to libarchive when unknown.
void SetNameCharset(archive* reader, const char* format, const std::string& charset) {
    if (!charset.empty()) archive_read_set_format_option(reader, format, "hdrcharset", charset.c_str());
}

template <class R>
std::unique_ptr<own::Reader> MakeOwn(own::Input& input) {
    return std::make_unique<R>(input);
}

bool StartsWithZipLocalHeader(const std::wstring& firstPiece) {
    std::uint8_t magic[4] = {};
    JoinedFile file({firstPiece});
    return file.Read(magic, 4) == 4 && std::memcmp(magic, "PK\x03\x04", 4) == 0;
}

// What an archive's bytes decided (its ZIP names, whether our reader must read it), kept by
// the set's stamp: the calls of one sequence (count, check, open and find, main operation)
// each need it, and the archive is read for it once.
struct Decided {
    SetStamp stamp;
    std::shared_ptr<const ZipNames> zipNames;
    bool zipNamesRead = false;
    std::map<bool (*)(own::Input&), bool> tests;
};
constexpr std::size_t kDecided = 8;
std::mutex gDecidedMutex;
std::list<Decided> gDecided;

// Runs `decide` on the set's entry, made when missing; under the lock, which the reads it
// does are short enough to hold.
template <class Decide>
auto WithDecided(const VolumeSet& set, Decide decide) {
    SetStamp stamp = StampOf(set, set.pieces.front());
    std::lock_guard lock(gDecidedMutex);
    auto it = std::find_if(gDecided.begin(), gDecided.end(), [&](const Decided& d) { return d.stamp == stamp; });
    if (it == gDecided.end()) {
        gDecided.push_front(Decided{std::move(stamp), nullptr, false, {}});
        if (gDecided.size() > kDecided) gDecided.pop_back();
        it = gDecided.begin();
    } else {
        gDecided.splice(gDecided.begin(), gDecided, it);
    }
    return decide(*it);
}

std::shared_ptr<const ZipNames> ZipNamesOf(const VolumeSet& set) {
    if (set.pieces.empty()) return nullptr;
    return WithDecided(set, [&](Decided& d) {
        if (!d.zipNamesRead) d.zipNames = ReadZipNames(set.pieces);
        d.zipNamesRead = true;
        return d.zipNames;
    });
}

bool Remembered(const VolumeSet& set, bool (*test)(own::Input&)) {
    return WithDecided(set, [&](Decided& d) {
        const auto it = d.tests.find(test);
        if (it != d.tests.end()) return it->second;
        return d.tests[test] = TestFileBytes(set.pieces, test);
    });
}

struct FamilyTraits {
    Family family;
    std::string_view name;
    wchar_t separator;  // the front end's single-folder check splits CAB, RAR and ARJ listings at '\\'
    void (*configure)(archive* reader, const VolumeSet& set, bool fallback);
    bool (*isOwn)(archive* reader);
    OwnReaderMaker ownReader = nullptr;  // nullptr: libarchive reads the file itself
    // When set, our reader reads only the archives this says it must; libarchive the rest.
    bool (*ownReaderOnly)(own::Input& input) = nullptr;
    bool (*fallbackMayRead)(const std::wstring& firstPiece) = nullptr;
    // The check call takes only archives whose headers read to the end; a text that merely
    // holds an encoded file is taken, so that the main operation can say what is wrong.
    bool checkNeedsWholeListing = true;
    // The family's own kind of volume set, read whole from any of its pieces (and, when the
    // family has a second way of reading, that way). Plain pieces are every family's.
    SetKind volumes = SetKind::Single;
    // Opens the reader on the archive decrypted, when it is encrypted in a way libarchive
    // cannot read and the password is given.
    Decryption (*decrypt)(archive* reader, const VolumeSet& set, bool namesOnly, const PasswordQuestion& ask) = nullptr;
};

void ReadOurOwn(archive* reader, const VolumeSet&, bool) { archive_read_support_format_tar(reader); }
bool OpenedOnItsHeader(archive*) { return true; }  // our readers open only on their format

// One row per family, in Family order.
constexpr FamilyTraits kFamilies[] = {
    // libarchive decodes -lh0- and -lh5- to -lh7-; archives with older methods (-lh1-, -lh4-,
    // LArc's -lzs- and -lz5-) are read by our reader, whose pax stream the tar reader takes.
    {Family::Lzh, "LZH", L'/',
     [](archive* r, const VolumeSet&, bool) {
         archive_read_support_format_lha(r);
         archive_read_support_format_tar(r);
         // Names are Shift-JIS unless a header names another code page or carries UTF-16.
         archive_read_set_format_option(r, "lha", "hdrcharset", "CP932");
     },
     [](archive* r) {
         return BaseFormat(r) == ARCHIVE_FORMAT_LHA || (BaseFormat(r) == ARCHIVE_FORMAT_TAR && OwnBytesRead(r));
     },
     &MakeOwn<lzh::Reader>, &lzh::HasMethodsOnlyWeRead},
    // libarchive decodes no Deflate64: ZIPs with such entries are read by our reader, whose
    // pax stream the tar reader takes.
    {Family::Zip, "ZIP", L'/',
     [](archive* r, const VolumeSet& set, bool localHeaders) {
         if (localHeaders)
             archive_read_support_format_zip_streamable(r);
         else
             archive_read_support_format_zip_seekable(r);
         archive_read_support_format_tar(r);
         // Names without the UTF-8 flag are read as UTF-8 when all of them are UTF-8 (macOS
         // writes them so), and each entry is named from the central directory.
         auto names = ZipNamesOf(set);
         SetNameCharset(r, "zip", names && names->utf8 ? std::string("UTF-8") : platform::OemCharset());
         if (names) AttachZipNames(r, std::move(names), !localHeaders);
     },
     [](archive* r) {
         return BaseFormat(r) == ARCHIVE_FORMAT_ZIP || (BaseFormat(r) == ARCHIVE_FORMAT_TAR && OwnBytesRead(r));
     },
     &MakeOwn<zip::Reader>, &zip::UsesDeflate64,
     // A ZIP whose central directory libarchive refuses (cut short, or oddly padded) can
     // still be read entry by entry from its local headers.
     &StartsWithZipLocalHeader, true, SetKind::SplitZip},
    {Family::Cab, "CAB", L'\\',
     [](archive* r, const VolumeSet&, bool) {
         archive_read_support_format_cab(r);
         SetNameCharset(r, "cab", platform::AnsiCharset());
     },
     [](archive* r) { return BaseFormat(r) == ARCHIVE_FORMAT_CAB; }},
    {Family::Tar, "TAR", L'/',
     [](archive* r, const VolumeSet&, bool) {
         archive_read_support_format_tar(r);
         archive_read_support_format_7zip(r);
         archive_read_support_format_raw(r);
         archive_read_support_filter_gzip(r);
         archive_read_support_filter_bzip2(r);
         archive_read_support_filter_compress(r);
         archive_read_support_filter_xz(r);
         archive_read_support_filter_lzma(r);
         archive_read_support_filter_zstd(r);
     },
     [](archive* r) {
         if (BaseFormat(r) == ARCHIVE_FORMAT_TAR || BaseFormat(r) == ARCHIVE_FORMAT_7ZIP) return true;
         // Any file passes the raw reader; only a compressed stream is ours.
         return BaseFormat(r) == ARCHIVE_FORMAT_RAW && archive_filter_count(r) > 1 &&
                archive_filter_code(r, 0) != ARCHIVE_FILTER_NONE;
     },
     nullptr, nullptr, nullptr, true, SetKind::Single, &OpenDecryptedSevenZip},
    // Our readers hand libarchive a pax stream (see own_stream.h).
    {Family::Arj, "ARJ", L'\\', &ReadOurOwn, &OpenedOnItsHeader, &MakeOwn<arj::Reader>},
    {Family::Ish, "ISH", L'\\', &ReadOurOwn, &OpenedOnItsHeader, &MakeOwn<ish::Reader>, nullptr, nullptr, false},
    {Family::Rar, "RAR", L'\\',
     [](archive* r, const VolumeSet&, bool) {
         archive_read_support_format_rar(r);
         archive_read_support_format_rar5(r);
         // RAR 4 names without the Unicode flag; RAR5 names are always UTF-8.
         SetNameCharset(r, "rar", platform::AnsiCharset());
     },
     [](archive* r) { return BaseFormat(r) == ARCHIVE_FORMAT_RAR || BaseFormat(r) == ARCHIVE_FORMAT_RAR_V5; },
     nullptr, nullptr, nullptr, true, SetKind::RarVolumes, &OpenDecryptedRar5},
    {Family::Bga, "BGA", L'\\', &ReadOurOwn, &OpenedOnItsHeader, &MakeOwn<bga::Reader>},
    // The split-file library reads nothing through libarchive: its calls (Join) go to the set
    // finder and the join in extract.cpp, which take plain pieces that no other family takes.
    {Family::Jak, "JAK", L'\\', [](archive*, const VolumeSet&, bool) {}, [](archive*) { return false; }},
};

constexpr bool InFamilyOrder() {
    for (std::size_t i = 0; i < std::size(kFamilies); ++i)
        if (static_cast<std::size_t>(kFamilies[i].family) != i) return false;
    return true;
}
static_assert(InFamilyOrder(), "one row per family, in Family order");

const FamilyTraits& TraitsOf(Family family) { return kFamilies[static_cast<std::size_t>(family)]; }

} // namespace

void ReaderFree::operator()(archive* reader) const {
    DetachZipNames(reader);
    archive_read_free(reader);
}

ReaderPtr NewFamilyReader(Family family, const VolumeSet& set, bool fallback) {
    ReaderPtr reader(archive_read_new());
    if (reader) TraitsOf(family).configure(reader.get(), set, fallback);
    return reader;
}

VolumeSet SetFor(Family family, const std::wstring& path) {
    return FindSet(path, TraitsOf(family).volumes);
}

int OpenFamilyReader(archive* reader, Family family, const VolumeSet& set, PasswordRequest* passwords) {
    if (set.pieces.empty()) {
        archive_set_error(reader, ENOENT, "the first piece of the set is missing");
        return ARCHIVE_FATAL;
    }
    const FamilyTraits& traits = TraitsOf(family);
    if (traits.decrypt && passwords) {
        passwords->outcome = traits.decrypt(reader, set, passwords->namesOnly, passwords->ask);
        if (passwords->outcome == Decryption::Opened) return ARCHIVE_OK;
        if (passwords->outcome == Decryption::Refused) {  // a failed open leaves libarchive's reader unusable
            archive_set_error(reader, EINVAL, "this encryption is not supported");
            return ARCHIVE_FATAL;
        }
    }
    const bool ours = traits.ownReader && (!traits.ownReaderOnly || Remembered(set, traits.ownReaderOnly));
    if (ours) return OpenOwnReader(reader, set.pieces, traits.ownReader);
    // Through the call's open files, which the checks before have opened already.
    return OpenJoinedReader(reader, set.pieces, kReadBlockSize);
}

bool FallbackMayRead(Family family, const VolumeSet& set) {
    const auto mayRead = TraitsOf(family).fallbackMayRead;
    return mayRead != nullptr && !set.pieces.empty() && mayRead(set.pieces.front());
}

bool SecondWayOnly(Family family, const VolumeSet& set) {
    const FamilyTraits& traits = TraitsOf(family);
    return traits.fallbackMayRead != nullptr && set.kind != SetKind::Single && set.kind == traits.volumes;
}

wchar_t SeparatorOf(Family family) { return TraitsOf(family).separator; }

std::string_view NameOf(Family family) { return TraitsOf(family).name; }

bool IsOwnArchive(archive* reader, Family family) { return TraitsOf(family).isOwn(reader); }

bool NamesEncrypted(archive* reader) {
    const char* message = archive_error_string(reader);
    if (message == nullptr) return false;
    return (BaseFormat(reader) == ARCHIVE_FORMAT_7ZIP && std::strstr(message, "encrypted") != nullptr) ||
           (BaseFormat(reader) == ARCHIVE_FORMAT_RAR_V5 && std::strstr(message, "Encryption") != nullptr);
}

bool CheckNeedsWholeListing(Family family) { return TraitsOf(family).checkNeedsWholeListing; }

bool IsLoneStream(archive* reader) { return BaseFormat(reader) == ARCHIVE_FORMAT_RAW; }

} // namespace dexalo::archivers
