#include "shell/association_table.h"

namespace dexalo {
namespace {

using namespace std::string_view_literals;

constexpr std::wstring_view kLzhExt[] = {L".lzh"sv, L".lzs"sv, L".lha"sv};
constexpr std::wstring_view kLzhDel[] = {L".lzh"sv, L".lha"sv, L".lzs"sv, L"LzhFile"sv};
constexpr std::wstring_view kZipExt[] = {L".zip"sv, L".jar"sv};
constexpr std::wstring_view kZipDel[] = {L".jar"sv, L".zip"sv, L"ZipFile"sv};
constexpr std::wstring_view kCabExt[] = {L".cab"sv};
constexpr std::wstring_view kCabDel[] = {L".cab"sv, L"CabFile"sv};
constexpr std::wstring_view kTarExt[] = {L".tar"sv, L".tgz"sv, L".tbz"sv, L".bz2"sv,
                                         L".z"sv,   L".taz"sv, L".gz"sv};
constexpr std::wstring_view kTarDel[] = {L".tar"sv, L".tgz"sv, L".tbz"sv, L".bz2"sv,
                                         L".z"sv,   L".taz"sv, L".gz"sv,  L"TarFile"sv};
constexpr std::wstring_view kArjExt[] = {L".arj"sv};
constexpr std::wstring_view kArjDel[] = {L".arj"sv, L"ArjFile"sv};
constexpr std::wstring_view kIshExt[] = {L".ish"sv};
constexpr std::wstring_view kIshDel[] = {L".ish"sv, L"IshFile"sv};
constexpr std::wstring_view kRarExt[] = {L".rar"sv};
constexpr std::wstring_view kRarDel[] = {L".rar"sv, L"RarFile"sv};
constexpr std::wstring_view kBgaExt[] = {L".gza"sv, L".bza"sv};
constexpr std::wstring_view kBgaDel[] = {L".gza"sv, L".bza"sv, L"BgaFile"sv};
constexpr std::wstring_view kYz1Ext[] = {L".yz1"sv};
constexpr std::wstring_view kYz1Del[] = {L".yz1"sv, L"Yz1File"sv};
constexpr std::wstring_view kJakExt[] = {L".jak"sv};
constexpr std::wstring_view kJakDel[] = {L".jak"sv, L"JakFile"sv};

} // namespace

const std::array<AssociationType, kAssociationTypeCount> kAssociationTable = {{
    {L"LZH( .lzh等)", L"LzhFile", kLzhExt, L"application/x-lzh-compressed", L"LZH File", L"LZH.ico", kLzhDel},
    {L"ZIP( .zip)", L"ZipFile", kZipExt, L"application/x-zip-compressed", L"ZIP File", L"ZIP.ico", kZipDel},
    {L"CAB( .cab)", L"CabFile", kCabExt, L"application/x-cab-compressed", L"CAB File", L"CAB.ico", kCabDel},
    {L"TAR( .tar等)", L"TarFile", kTarExt, L"application/x-tar", L"TAR File", L"TAR.ico", kTarDel},
    {L"ARJ( .arj)", L"ArjFile", kArjExt, L"application/x-arj-compressed", L"ARJ File", L"ARJ.ico", kArjDel},
    {L"ISH( .ish)", L"IshFile", kIshExt, L"application/x-ish", L"ISH File", L"ISH.ico", kIshDel},
    {L"RAR( .rar)", L"RarFile", kRarExt, L"application/x-rar-compressed", L"RAR File", L"RAR.ico", kRarDel},
    {L"BGA( .gza等)", L"BgaFile", kBgaExt, L"application/x-bga", L"BGA File", L"BGA.ico", kBgaDel},
    {L"YZ1( .yz1)", L"Yz1File", kYz1Ext, L"application/x-yz1", L"YZ1 File", L"YZ1.ico", kYz1Del},
    {L"JAK( .jak)", L"JakFile", kJakExt, L"application/x-jak", L"JAK File", L"JAK.ico", kJakDel},
}};

} // namespace dexalo
