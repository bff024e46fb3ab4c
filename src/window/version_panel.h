#pragma once
// The lines of the archiver version panel, Label1(0) to Label1(9).
#include <cstdint>
#include <string>

namespace dexalo {

struct VersionRow {
    const wchar_t* leader;        // in front of the four version characters
    const wchar_t* missingLeader; // handed to DLL_NASI when the library is missing
};

// Indexed by archive type: 0 LZH, 1 ZIP, 2 CAB, 3 TAR, 4 ARJ, 5 ISH, 6 RAR, 7 BGA, 8 YZ1, 9 JAK.
extern const VersionRow kVersionRows[10];

inline constexpr const wchar_t* kMissingTail = L"........Version. なし";
inline constexpr const wchar_t* kUnrarNeedsDll = L"UNRAR32.DLL ..Unrar.dllが必要";
inline constexpr int kRarIndex = 6;

// A version in hundredths as the pattern "0.00" shows it, cut to its first four characters
// (139 -> "1.39", 5 -> "0.05", 1000 -> "10.0", -1 -> "-0.0").
std::wstring VersionText(std::int32_t hundredths, wchar_t decimalSeparator);

} // namespace dexalo
