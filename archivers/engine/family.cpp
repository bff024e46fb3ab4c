#include "engine/family.h"

#include <archive.h>

#include <cstring>
#include <fstream>
#include <string>

#include "engine/own_stream.h"
#include "engine/platform.h"
#include "engine/scan.h"

namespace dexalo::archivers {

wchar_t SeparatorOf(Family family) {
    // The front end's single-folder check splits ARJ listings at '\\', as CAB and RAR ones.
    return family == Family::Cab || family == Family::Rar || family == Family::Arj ? L'\\' : L'/';
}

std::string_view NameOf(Family family) {
    switch (family) {
    case Family::Lzh: return "LZH";
    case Family::Zip: return "ZIP";
    case Family::Cab: return "CAB";
    case Family::Tar: return "TAR";
    case Family::Rar: return "RAR";
    case Family::Arj: return "ARJ";
    }
    return "?";
}

namespace {

// Names the code page of names stored without a Unicode flag; left to libarchive when unknown.
void SetNameCharset(archive* reader, const char* format, const std::string& charset) {
    if (!charset.empty()) archive_read_set_format_option(reader, format, "hdrcharset", charset.c_str());
}

} // namespace

void ConfigureReader(archive* reader, Family family, bool zipLocalHeaders) {
    switch (family) {
    case Family::Lzh:
        archive_read_support_format_lha(reader);
        // Names are Shift-JIS unless a header names another code page or carries UTF-16.
        archive_read_set_format_option(reader, "lha", "hdrcharset", "CP932");
        break;
    case Family::Zip:
        if (zipLocalHeaders)
            archive_read_support_format_zip_streamable(reader);
        else
            archive_read_support_format_zip_seekable(reader);
        SetNameCharset(reader, "zip", platform::OemCharset());
        break;
    case Family::Cab:
        archive_read_support_format_cab(reader);
        SetNameCharset(reader, "cab", platform::AnsiCharset());
        break;
    case Family::Tar:
        archive_read_support_format_tar(reader);
        archive_read_support_format_raw(reader);
        archive_read_support_filter_gzip(reader);
        archive_read_support_filter_bzip2(reader);
        archive_read_support_filter_compress(reader);
        archive_read_support_filter_xz(reader);
        archive_read_support_filter_lzma(reader);
        archive_read_support_filter_zstd(reader);
        break;
    case Family::Rar:
        archive_read_support_format_rar(reader);
        archive_read_support_format_rar5(reader);
        // RAR 4 names without the Unicode flag; RAR5 names are always UTF-8.
        SetNameCharset(reader, "rar", platform::AnsiCharset());
        break;
    case Family::Arj:
        // Our ARJ reader hands libarchive a pax stream (see arj_stream.h).
        archive_read_support_format_tar(reader);
        break;
    }
}

int OpenFamilyReader(archive* reader, Family family, const std::wstring& archivePath) {
    const platform::Path path = platform::ToPath(archivePath);
    return family == Family::Arj ? OpenArjReader(reader, path) : platform::OpenReader(reader, path, kReadBlockSize);
}

bool StartsWithZipLocalHeader(const std::wstring& archivePath) {
    char magic[4] = {};
    std::ifstream file(platform::SystemPath(platform::ToPath(archivePath)), std::ios::binary);
    return file.read(magic, 4) && std::memcmp(magic, "PK\x03\x04", 4) == 0;
}

bool IsLoneStream(archive* reader) {
    return (archive_format(reader) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_RAW;
}

bool IsOwnArchive(archive* reader, Family family) {
    const int base = archive_format(reader) & ARCHIVE_FORMAT_BASE_MASK;
    switch (family) {
    case Family::Lzh: return base == ARCHIVE_FORMAT_LHA;
    case Family::Zip: return base == ARCHIVE_FORMAT_ZIP;
    case Family::Cab: return base == ARCHIVE_FORMAT_CAB;
    case Family::Rar: return base == ARCHIVE_FORMAT_RAR || base == ARCHIVE_FORMAT_RAR_V5;
    case Family::Arj: return true;  // the stream opened only on an ARJ main header
    case Family::Tar:
        if (base == ARCHIVE_FORMAT_TAR) return true;
        // Any file passes the raw reader; only a compressed stream is ours.
        return base == ARCHIVE_FORMAT_RAW && archive_filter_count(reader) > 1 &&
               archive_filter_code(reader, 0) != ARCHIVE_FILTER_NONE;
    }
    return false;
}

} // namespace dexalo::archivers
