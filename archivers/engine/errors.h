#pragma once
// Results of the main operation. 0 is success; each failure has its own code.

namespace dexalo::archivers {

inline constexpr int kOk = 0;
inline constexpr int kErrorCannotOpen = 0x8010;    // missing, unreadable, or not this library's family
inline constexpr int kErrorCorrupt = 0x8020;       // damaged or truncated data
inline constexpr int kErrorUnsupported = 0x8030;   // compression method or encryption we cannot read
inline constexpr int kErrorCannotWrite = 0x8040;   // a folder or file could not be created or replaced
inline constexpr int kErrorRefused = 0x8050;       // entries skipped because their paths were unsafe
inline constexpr int kErrorCommandLine = 0x8060;   // the command line was not understood
inline constexpr int kErrorCancelled = 0x8080;     // the user stopped the extraction

// Find calls: 0 = entry found, -1 = no further entry, this = bad handle or argument.
inline constexpr int kFindEnd = -1;
inline constexpr int kFindError = 0x8070;

} // namespace dexalo::archivers
