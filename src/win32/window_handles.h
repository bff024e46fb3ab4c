#pragma once
// Move-only owners for the window's GDI objects, windows and COM state.
#include <windows.h>
#include <ole2.h>

#include <utility>

namespace dexalo::win32 {

// A GDI object (font, brush) deleted with DeleteObject.
template <class T>
class UniqueGdiObject {
public:
    UniqueGdiObject() = default;
    explicit UniqueGdiObject(T object) : object_(object) {}
    UniqueGdiObject(UniqueGdiObject&& other) noexcept : object_(other.release()) {}
    UniqueGdiObject& operator=(UniqueGdiObject&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueGdiObject(const UniqueGdiObject&) = delete;
    UniqueGdiObject& operator=(const UniqueGdiObject&) = delete;
    ~UniqueGdiObject() { reset(); }

    T get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    T release() { return std::exchange(object_, nullptr); }
    void reset(T object = nullptr) {
        if (object_ != nullptr) ::DeleteObject(object_);
        object_ = object;
    }

private:
    T object_ = nullptr;
};

using UniqueFont = UniqueGdiObject<HFONT>;
using UniqueBrush = UniqueGdiObject<HBRUSH>;

// A window destroyed with DestroyWindow, unless it is gone already.
class UniqueWindow {
public:
    UniqueWindow() = default;
    explicit UniqueWindow(HWND window) : window_(window) {}
    UniqueWindow(UniqueWindow&& other) noexcept : window_(other.release()) {}
    UniqueWindow& operator=(UniqueWindow&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueWindow(const UniqueWindow&) = delete;
    UniqueWindow& operator=(const UniqueWindow&) = delete;
    ~UniqueWindow() { reset(); }

    HWND get() const { return window_; }
    explicit operator bool() const { return window_ != nullptr; }
    HWND release() { return std::exchange(window_, nullptr); }
    void reset(HWND window = nullptr) {
        if (window_ != nullptr && ::IsWindow(window_)) ::DestroyWindow(window_);
        window_ = window;
    }

private:
    HWND window_ = nullptr;
};

// OLE on this thread for as long as the object lives (drag and drop needs it).
class OleSession {
public:
    OleSession() : ok_(SUCCEEDED(::OleInitialize(nullptr))) {}
    OleSession(const OleSession&) = delete;
    OleSession& operator=(const OleSession&) = delete;
    ~OleSession() {
        if (ok_) ::OleUninitialize();
    }
    bool ok() const { return ok_; }

private:
    bool ok_;
};

// A COM interface pointer that releases its reference.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(T* p) : p_(p) {} // takes over one reference
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() {
        if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
    }

private:
    T* p_ = nullptr;
};

} // namespace dexalo::win32
