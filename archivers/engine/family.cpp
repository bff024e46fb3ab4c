#include "engine/family.h"

#include <archive.h>

#include <string>

#include "engine/platform.h"

namespace dexalo::archivers {

wchar_t SeparatorOf(Family family) {
    return family == Family::Cab || family == Family::Rar ? L'\\' : L'/';
}

std::string_view NameOf(Family family) {
    switch (family) {
    case Family::Lzh: return "LZH";
    case Family::Zip: return "ZIP";
    case Family::Cab: return "CAB";
    case Family::Tar: return "TAR";
    case Family::Rar: return "RAR";
    }
    return "?";
}

namespace {

// Names the code page of names stored without a Unicode flag; left to libarchive when unknown.
void SetNameCharset(archive* reader, const char* format, const std::string& charset) {
    if (!charset.empty()) archive_read_set_format_option(reader, format, "hdrcharset", charset.c_str());
}

} // namespace

void ConfigureReader(archive* reader, Family family) {
    switch (family) {
    case Family::Lzh:
        archive_read_support_format_lha(reader);
        // Names are Shift-JIS unless a header names another code page or carries UTF-16.
        archive_read_set_format_option(reader, "lha", "hdrcharset", "CP932");
        break;
    case Family::Zip:
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
    }
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
    case Family::Tar:
        if (base == ARCHIVE_FORMAT_TAR) return true;
        // Any file passes the raw reader; only a compressed stream is ours.
        return base == ARCHIVE_FORMAT_RAW && archive_filter_count(reader) > 1 &&
               archive_filter_code(reader, 0) != ARCHIVE_FILTER_NONE;
    }
    return false;
}

} // namespace dexalo::archivers
