#include "window/version_panel.h"

namespace dexalo {

const VersionRow kVersionRows[10] = {
    {L"UNLHA32.DLL ..........Version. ", L"UNLHA32.DLL ."},
    {L"UNZIP32.DLL ............Version. ", L"UNZIP32.DLL ..."},
    {L"CAB32.DLL .................Version. ", L"CAB32.DLL ........"},
    {L"TAR32.DLL .................Version. ", L"TAR32.DLL ........"},
    {L"UNARJ32.DLL .........Version. ", L"UNARJ32.DLL "},
    {L"ISH32.DLL ....................Version. ", L"ISH32.DLL ..........."},
    {L"UNRAR32.DLL .........Version. ", L"UNRAR32.DLL "},
    {L"BGA32.DLL .................Version. ", L"BGA32.DLL ........"},
    {L"YZ1.DLL .........................Version. ", L"YZ1.DLL ................"},
    {L"JACK32.DLL ..............Version. ", L"JACK32.DLL ......"},
};

std::wstring VersionText(std::int32_t hundredths, wchar_t decimalSeparator) {
    // Integer arithmetic: a value in hundredths has exactly two decimals, so nothing rounds.
    const std::int64_t v = hundredths;
    const std::int64_t magnitude = v < 0 ? -v : v;
    std::wstring text = v < 0 ? L"-" : L"";
    text += std::to_wstring(magnitude / 100);
    text += decimalSeparator;
    const auto cents = static_cast<int>(magnitude % 100);
    text += static_cast<wchar_t>(L'0' + cents / 10);
    text += static_cast<wchar_t>(L'0' + cents % 10);
    return text.substr(0, 4);
}

} // namespace dexalo
