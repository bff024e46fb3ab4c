#pragma once
// Module-level state shared by start-up, extraction and the window.
#include <cstdint>
#include <string>

namespace dexalo {

using WindowHandle = std::uintptr_t;

struct ModuleState {
    std::wstring DestFolder;           // always ends in a backslash
    std::int32_t OptionFlags = 1;      // 1 = next to the archive, 2 = open afterwards, summed
    WindowHandle MainWindowHandle = 0; // 0 in command-line mode and during window start-up
};

// Where the running executable lives.
struct ProgramLocation {
    std::wstring folder; // no trailing backslash, except at a drive root ("C:\")
    std::wstring name;   // file name without its extension
};

// Message-box style used for every message of the program.
inline constexpr std::uint32_t kStopStyle = 0x10010; // MB_ICONSTOP | MB_SETFOREGROUND

} // namespace dexalo
