#pragma once
// The class root's read through its fixed buffer, on its own so that a test can watch the
// bytes around the buffer.
#include <windows.h>

#include <cstddef>
#include <span>
#include <string>

namespace dexalo::win32 {

inline constexpr std::size_t kReadBufferSize = 517;

// Zeroes buffer, learns the size of the value valueName of key, then reads at most the buffer's
// size. Yields the value's bytes up to the first zero, or "" when the value is missing or its
// text and terminating zero do not fit, so a cut value never passes for one of ours. `status`,
// when given, says which (ERROR_MORE_DATA for a value that does not fit).
std::string ReadValueBytes(HKEY key, const char* valueName, std::span<BYTE, kReadBufferSize> buffer,
                           LSTATUS* status = nullptr);

} // namespace dexalo::win32
