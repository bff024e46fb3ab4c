#include "engine/pipeline/family.h"

#include <cstring>
#include <iterator>
#include <algorithm>
#include <string>

#include "engine/formats/arj.h"
#include "engine/formats/bga.h"
#include "engine/formats/ish.h"
#include "engine/formats/lzh.h"
#include "engine/formats/rar5.h"
#include "engine/platform/platform.h"
#include "engine/formats/zip.h"

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

struct FamilyTraits {
    Family family;
    std::string_view name;
    wchar_t separator;  // the front end's single-folder check splits CAB, RAR and ARJ listings at '\\'
    void (*configure)(archive* reader, const ZipNames* zipNames, bool fallback);
    bool (*isOwn)(archive* reader, bool ownStream);
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
    Decrypt decrypt = nullptr;
    // The names it reads from the archive's directory itself.
    std::shared_ptr<const ZipNames> (*directoryNames)(const std::vector<std::wstring>& pieces) = nullptr;
};

void ReadOurOwn(archive* reader, const ZipNames*, bool) { archive_read_support_format_tar(reader); }
bool OpenedOnItsHeader(archive*, bool) { return true; }  // our readers open only on their format

// One row per family, in Family order.
constexpr FamilyTraits kFamilies[] = {
    // libarchive decodes -lh0- and -lh5- to -lh7-; archives with older methods (-lh1-, -lh4-,
    // LArc's -lzs- and -lz5-) are read by our reader, whose pax stream the tar reader takes.
    {Family::Lzh, "LZH", L'/',
     [](archive* r, const ZipNames*, bool) {
         archive_read_support_format_lha(r);
         archive_read_support_format_tar(r);
         // Names are Shift-JIS unless a header names another code page or carries UTF-16.
         archive_read_set_format_option(r, "lha", "hdrcharset", "CP932");
     },
     [](archive* r, bool ownStream) {
         return BaseFormat(r) == ARCHIVE_FORMAT_LHA || (BaseFormat(r) == ARCHIVE_FORMAT_TAR && ownStream);
     },
     &MakeOwn<lzh::Reader>, &lzh::HasMethodsOnlyWeRead},
    // libarchive decodes no Deflate64: ZIPs with such entries are read by our reader, whose
    // pax stream the tar reader takes.
    {Family::Zip, "ZIP", L'/',
     [](archive* r, const ZipNames* names, bool localHeaders) {
         if (localHeaders)
             archive_read_support_format_zip_streamable(r);
         else
             archive_read_support_format_zip_seekable(r);
         archive_read_support_format_tar(r);
         // Names without the UTF-8 flag are read as UTF-8 when all of them are UTF-8 (macOS
         // writes them so); each entry is named from the central directory (entry_reader.cpp).
         SetNameCharset(r, "zip", names && names->utf8 ? std::string("UTF-8") : platform::OemCharset());
     },
     [](archive* r, bool ownStream) {
         return BaseFormat(r) == ARCHIVE_FORMAT_ZIP || (BaseFormat(r) == ARCHIVE_FORMAT_TAR && ownStream);
     },
     &MakeOwn<zip::Reader>, &zip::UsesDeflate64,
     // A ZIP whose central directory libarchive refuses (cut short, or oddly padded) can
     // still be read entry by entry from its local headers.
     &StartsWithZipLocalHeader, true, SetKind::SplitZip, nullptr, &ReadZipNames},
    {Family::Cab, "CAB", L'\\',
     [](archive* r, const ZipNames*, bool) {
         archive_read_support_format_cab(r);
         SetNameCharset(r, "cab", platform::AnsiCharset());
     },
     [](archive* r, bool) { return BaseFormat(r) == ARCHIVE_FORMAT_CAB; }},
    {Family::Tar, "TAR", L'/',
     [](archive* r, const ZipNames*, bool) {
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
     [](archive* r, bool gunzipped) {
         if (BaseFormat(r) == ARCHIVE_FORMAT_TAR || BaseFormat(r) == ARCHIVE_FORMAT_7ZIP) return true;
         // Any file passes the raw reader; only a compressed stream is ours.
         return BaseFormat(r) == ARCHIVE_FORMAT_RAW &&
                (gunzipped || (archive_filter_count(r) > 1 && archive_filter_code(r, 0) != ARCHIVE_FILTER_NONE));
     },
     nullptr, nullptr, nullptr, true, SetKind::Single, &OpenDecryptedSevenZip},
    // Our readers hand libarchive a pax stream (see own_stream.h).
    {Family::Arj, "ARJ", L'\\', &ReadOurOwn, &OpenedOnItsHeader, &MakeOwn<arj::Reader>},
    {Family::Ish, "ISH", L'\\', &ReadOurOwn, &OpenedOnItsHeader, &MakeOwn<ish::Reader>, nullptr, nullptr, false},
    {Family::Rar, "RAR", L'\\',
     [](archive* r, const ZipNames*, bool) {
         archive_read_support_format_rar(r);
         archive_read_support_format_rar5(r);
         // RAR 4 names without the Unicode flag; RAR5 names are always UTF-8.
         SetNameCharset(r, "rar", platform::AnsiCharset());
     },
     [](archive* r, bool) { return BaseFormat(r) == ARCHIVE_FORMAT_RAR || BaseFormat(r) == ARCHIVE_FORMAT_RAR_V5; },
     nullptr, nullptr, nullptr, true, SetKind::RarVolumes, &OpenDecryptedRar5},
    {Family::Bga, "BGA", L'\\', &ReadOurOwn, &OpenedOnItsHeader, &MakeOwn<bga::Reader>},
    // The split-file library reads nothing through libarchive: its calls (Join) go to the set
    // finder and the join in extract.cpp, which take plain pieces that no other family takes.
    {Family::Jak, "JAK", L'\\', [](archive*, const ZipNames*, bool) {}, [](archive*, bool) { return false; }},
};

constexpr bool InFamilyOrder() {
    for (std::size_t i = 0; i < std::size(kFamilies); ++i)
        if (static_cast<std::size_t>(kFamilies[i].family) != i) return false;
    return true;
}
static_assert(InFamilyOrder(), "one row per family, in Family order");

const FamilyTraits& TraitsOf(Family family) { return kFamilies[static_cast<std::size_t>(family)]; }

} // namespace

ReaderPtr NewFamilyReader(Family family, const ZipNames* zipNames, bool fallback) {
    ReaderPtr reader(archive_read_new());
    if (reader) TraitsOf(family).configure(reader.get(), zipNames, fallback);
    return reader;
}

VolumeSet SetFor(Family family, const std::wstring& path) {
    return FindSet(path, TraitsOf(family).volumes);
}

std::shared_ptr<const ZipNames> DirectoryNames(Family family, const VolumeSet& set) {
    const auto read = TraitsOf(family).directoryNames;
    return read && !set.pieces.empty() ? read(set.pieces) : nullptr;
}

OwnReaderMaker OwnReaderFor(Family family, const VolumeSet& set) {
    const FamilyTraits& traits = TraitsOf(family);
    if (!traits.ownReader || set.pieces.empty()) return nullptr;
    return !traits.ownReaderOnly || TestFileBytes(set.pieces, traits.ownReaderOnly) ? traits.ownReader : nullptr;
}

OwnReaderMaker OwnReaderOf(Family family) { return TraitsOf(family).ownReader; }

Decrypt DecryptFor(Family family) { return TraitsOf(family).decrypt; }

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

bool IsOwnArchive(archive* reader, Family family, bool ownStream) { return TraitsOf(family).isOwn(reader, ownStream); }

bool NamesEncrypted(archive* reader) {
    const char* message = archive_error_string(reader);
    if (message == nullptr) return false;
    return (BaseFormat(reader) == ARCHIVE_FORMAT_7ZIP && std::strstr(message, "encrypted") != nullptr) ||
           (BaseFormat(reader) == ARCHIVE_FORMAT_RAR_V5 && std::strstr(message, "Encryption") != nullptr);
}

bool CheckNeedsWholeListing(Family family) { return TraitsOf(family).checkNeedsWholeListing; }

bool IsLoneStream(archive* reader) { return BaseFormat(reader) == ARCHIVE_FORMAT_RAW; }

} // namespace dexalo::archivers
