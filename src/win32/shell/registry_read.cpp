#include "win32/shell/registry_read.h"

#include <algorithm>

namespace dexalo::win32 {

std::string ReadValueBytes(HKEY key, const char* valueName, std::span<BYTE, kReadBufferSize> buffer,
                           LSTATUS* status) {
    LSTATUS ignored = ERROR_SUCCESS;
    LSTATUS& result = status ? *status : ignored;
    std::fill(buffer.begin(), buffer.end(), BYTE{0});
    DWORD type = 0;
    DWORD size = 0;
    // When the value is missing the size stays 0. The A function may report more than the
    // converted text needs, so only the second call decides whether it fits.
    ::RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size);
    type = REG_SZ;
    size = std::min<DWORD>(size, static_cast<DWORD>(buffer.size()));
    result = ::RegQueryValueExA(key, valueName, nullptr, &type, buffer.data(), &size);
    if (result != ERROR_SUCCESS) return {}; // missing, or longer than the buffer
    // Whatever the value's type, its bytes count as text up to the first zero, which must lie
    // within the buffer.
    const auto end = std::find(buffer.begin(), buffer.end(), BYTE{0});
    if (end == buffer.end()) {
        result = ERROR_MORE_DATA;
        return {};
    }
    return std::string(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(end - buffer.begin()));
}

} // namespace dexalo::win32
