#pragma once
// Owns an open registry key; closed with RegCloseKey.
#include <windows.h>

#include <utility>

namespace dexalo::win32 {

class UniqueRegKey {
public:
    UniqueRegKey() = default;
    explicit UniqueRegKey(HKEY key) : key_(key) {}
    UniqueRegKey(UniqueRegKey&& other) noexcept : key_(other.release()) {}
    UniqueRegKey& operator=(UniqueRegKey&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueRegKey(const UniqueRegKey&) = delete;
    UniqueRegKey& operator=(const UniqueRegKey&) = delete;
    ~UniqueRegKey() { reset(); }

    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    HKEY release() { return std::exchange(key_, nullptr); }
    void reset(HKEY key = nullptr) {
        if (key_ != nullptr) ::RegCloseKey(key_);
        key_ = key;
    }
    // For the out parameter of the open and create calls; closes what was held.
    HKEY* put() {
        reset();
        return &key_;
    }

private:
    HKEY key_ = nullptr;
};

} // namespace dexalo::win32
