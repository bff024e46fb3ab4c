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

// Handles whose invalid value is null, closed by one call.
template <class T, auto CloseFn>
struct NullHandleTraits {
    using Type = T;
    static Type Invalid() { return nullptr; }
    static bool Valid(Type h) { return h != nullptr; }
    static void Close(Type h) { CloseFn(h); }
};

using ModuleTraits = NullHandleTraits<HMODULE, &::FreeLibrary>;
using UniqueModule = UniqueResource<ModuleTraits>;
using BstrTraits = NullHandleTraits<BSTR, &::SysFreeString>;
using UniqueBstr = UniqueResource<BstrTraits>;
using RegKeyTraits = NullHandleTraits<HKEY, &::RegCloseKey>;
using UniqueRegKey = UniqueResource<RegKeyTraits>;

inline void DeleteGdiObject(HGDIOBJ object) { ::DeleteObject(object); }
inline void ReleaseScreenDc(HDC dc) { ::ReleaseDC(nullptr, dc); }
inline void DestroyLiveWindow(HWND window) {
    if (::IsWindow(window)) ::DestroyWindow(window);
}

// A GDI object (font, brush, pen) deleted with DeleteObject.
template <class T>
using UniqueGdiObject = UniqueResource<NullHandleTraits<T, &DeleteGdiObject>>;
using UniqueFont = UniqueGdiObject<HFONT>;
using UniqueBrush = UniqueGdiObject<HBRUSH>;
using UniquePen = UniqueGdiObject<HPEN>;

// The screen's device context (GetDC(nullptr)), given back with ReleaseDC.
using UniqueScreenDc = UniqueResource<NullHandleTraits<HDC, &ReleaseScreenDc>>;

// A window destroyed with DestroyWindow, unless it is gone already.
using UniqueWindow = UniqueResource<NullHandleTraits<HWND, &DestroyLiveWindow>>;

} // namespace dexalo::win32
