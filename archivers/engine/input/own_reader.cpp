#include "engine/input/own_reader.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace dexalo::archivers::own {

std::size_t MemoryInput::Read(std::uint8_t* data, std::size_t size) {
    const std::size_t n = std::min(size, size_ - at_);
    if (n > 0) std::memcpy(data, data_ + at_, n);
    at_ += n;
    return n;
}

bool MemoryInput::Skip(std::uint64_t size) {
    if (size > size_ - at_) return false;
    at_ += static_cast<std::size_t>(size);
    return true;
}

bool MemoryInput::Seek(std::uint64_t position) {
    if (position > size_) return false;
    at_ = static_cast<std::size_t>(position);
    return true;
}

std::int64_t DosTimeToUnix(std::uint32_t dos) {
    std::tm tm{};
    tm.tm_year = static_cast<int>(dos >> 25 & 0x7F) + 80;
    tm.tm_mon = static_cast<int>(dos >> 21 & 0x0F) - 1;
    tm.tm_mday = static_cast<int>(dos >> 16 & 0x1F);
    tm.tm_hour = static_cast<int>(dos >> 11 & 0x1F);
    tm.tm_min = static_cast<int>(dos >> 5 & 0x3F);
    tm.tm_sec = static_cast<int>(dos & 0x1F) * 2;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    return t < 0 ? 0 : static_cast<std::int64_t>(t);
}

} // namespace dexalo::archivers::own
