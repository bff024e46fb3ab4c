#pragma once
// The ten archive types the settings window can associate with the program, indexed like
// Check1(0)..Check1(9) and AssocState.
#include <array>
#include <span>
#include <string_view>

namespace dexalo {

struct AssociationType {
    std::wstring_view caption;                    // the association check box's caption
    std::wstring_view ProgID;                     // class key under the class root
    std::span<const std::wstring_view> extensions; // registration order; the first one is tested
    std::wstring_view contentType;
    std::wstring_view description;
    std::wstring_view iconFile;                   // in the settings folder
    std::span<const std::wstring_view> removalOrder; // extension keys, then the ProgID
};

inline constexpr int kAssociationTypeCount = 10;

extern const std::array<AssociationType, kAssociationTypeCount> kAssociationTable;

// The verb offered by the shell for every associated type.
inline constexpr std::wstring_view kShellVerb = L"Dexaloで解凍";
inline constexpr std::wstring_view kContentTypeValue = L"Content Type";

} // namespace dexalo
