#pragma once
// One move-only owner for every Win32 handle kind, and every kind's traits: what is invalid
// and how to close it. The program and our archiver libraries both use them.
#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace dexalo::win32 {

template <class Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;
    UniqueResource() = default;
    explicit UniqueResource(Type value) : value_(value) {}
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { reset(); }

    Type get() const { return value_; }
    explicit operator bool() const { return Traits::Valid(value_); }
    Type release() { return std::exchange(value_, Traits::Invalid()); }
    void reset(Type value = Traits::Invalid()) {
        if (Traits::Valid(value_)) Traits::Close(value_);
        value_ = value;
    }
    // For an API's out parameter; closes what was held first.
    Type* put() {
        reset();
        return &value_;
    }

private:
    Type value_ = Traits::Invalid();
};

// Kernel handles (files, processes, threads, events), closed with CloseHandle.
struct KernelTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static bool Valid(Type h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Type h) { ::CloseHandle(h); }
};
using UniqueKernelHandle = UniqueResource<KernelTraits>;

// File searches, closed with FindClose.
struct FindTraits : KernelTraits {
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::FindClose(h); }
};
using UniqueFindHandle = UniqueResource<FindTraits>;

struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static bool Valid(Type h) { return h != nullptr; }
    static void Close(Type h) { ::FreeLibrary(h); }
};
using UniqueModule = UniqueResource<ModuleTraits>;

struct BstrTraits {
    using Type = BSTR;
    static Type Invalid() { return nullptr; }
    static bool Valid(Type s) { return s != nullptr; }
    static void Close(Type s) { ::SysFreeString(s); }
};
using UniqueBstr = UniqueResource<BstrTraits>;

struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static bool Valid(Type key) { return key != nullptr; }
    static void Close(Type key) { ::RegCloseKey(key); }
};
using UniqueRegKey = UniqueResource<RegKeyTraits>;

// A GDI object (font, brush, pen) deleted with DeleteObject.
template <class T>
struct GdiObjectTraits {
    using Type = T;
    static Type Invalid() { return nullptr; }
    static bool Valid(Type object) { return object != nullptr; }
    static void Close(Type object) { ::DeleteObject(object); }
};
template <class T>
using UniqueGdiObject = UniqueResource<GdiObjectTraits<T>>;
using UniqueFont = UniqueGdiObject<HFONT>;
using UniqueBrush = UniqueGdiObject<HBRUSH>;
using UniquePen = UniqueGdiObject<HPEN>;

// The screen's device context (GetDC(nullptr)), given back with ReleaseDC.
struct ScreenDcTraits {
    using Type = HDC;
    static Type Invalid() { return nullptr; }
    static bool Valid(Type dc) { return dc != nullptr; }
    static void Close(Type dc) { ::ReleaseDC(nullptr, dc); }
};
using UniqueScreenDc = UniqueResource<ScreenDcTraits>;

// A window destroyed with DestroyWindow, unless it is gone already.
struct WindowTraits {
    using Type = HWND;
    static Type Invalid() { return nullptr; }
    static bool Valid(Type window) { return window != nullptr; }
    static void Close(Type window) {
        if (::IsWindow(window)) ::DestroyWindow(window);
    }
};
using UniqueWindow = UniqueResource<WindowTraits>;

} // namespace dexalo::win32
