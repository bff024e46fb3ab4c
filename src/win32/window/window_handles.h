#pragma once
// Move-only owners for the window's GDI objects, windows and COM state.
#include <windows.h>
#include <ole2.h>

#include <utility>

#include "common/win32/handles.h"

namespace dexalo::win32 {

// A GDI object (font, brush) deleted with DeleteObject.
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

// A GDI object selected into a device context for the guard's lifetime; the one it replaced
// goes back at the end, so that the object can be deleted afterwards.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object)
        : dc_(dc), old_(dc != nullptr && object != nullptr ? ::SelectObject(dc, object) : nullptr) {}
    ~SelectedObject() {
        if (old_ != nullptr && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

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
