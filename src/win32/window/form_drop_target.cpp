#include "win32/window/form_drop_target.h"

#include <shellapi.h>

#include "startup/guarded.h"

namespace dexalo::win32 {

namespace {

FORMATETC HdropFormat() { return FORMATETC{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}; }

// What GetData hands out, released with ReleaseStgMedium (a no-op while it holds nothing).
class StorageMedium {
public:
    StorageMedium() = default;
    ~StorageMedium() { ::ReleaseStgMedium(&medium_); }
    StorageMedium(const StorageMedium&) = delete;
    StorageMedium& operator=(const StorageMedium&) = delete;
    STGMEDIUM* put() { return &medium_; }
    const STGMEDIUM& get() const { return medium_; }

private:
    STGMEDIUM medium_{};
};

// Global memory locked for the guard's lifetime; null when it cannot be locked.
class LockedGlobal {
public:
    explicit LockedGlobal(HGLOBAL memory) : memory_(memory), data_(memory ? ::GlobalLock(memory) : nullptr) {}
    ~LockedGlobal() {
        if (data_ != nullptr) ::GlobalUnlock(memory_);
    }
    LockedGlobal(const LockedGlobal&) = delete;
    LockedGlobal& operator=(const LockedGlobal&) = delete;
    void* get() const { return data_; }

private:
    HGLOBAL memory_;
    void* data_;
};

bool CarriesFiles(IDataObject* data) {
    FORMATETC format = HdropFormat();
    return data != nullptr && data->QueryGetData(&format) == S_OK;
}

} // namespace

std::vector<std::wstring> DroppedFiles(IDataObject* data) {
    std::vector<std::wstring> files;
    if (data == nullptr) {
        return files;
    }
    FORMATETC format = HdropFormat();
    StorageMedium medium;
    if (FAILED(data->GetData(&format, medium.put())) || medium.get().tymed != TYMED_HGLOBAL) {
        return files;
    }
    const LockedGlobal locked(medium.get().hGlobal);
    if (auto drop = static_cast<HDROP>(locked.get())) {
        const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            const UINT length = ::DragQueryFileW(drop, i, nullptr, 0);
            std::wstring path(length + 1, L'\0');
            const UINT copied = ::DragQueryFileW(drop, i, path.data(), length + 1);
            path.resize(copied);
            if (!path.empty()) {
                files.push_back(std::move(path));
            }
        }
    }
    return files;
}

FormDropTarget* FormDropTarget::Create(DroppedFilesFn onDrop) { return new FormDropTarget(std::move(onDrop)); }

HRESULT STDMETHODCALLTYPE FormDropTarget::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDropTarget)) {
        *object = static_cast<IDropTarget*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE FormDropTarget::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }

ULONG STDMETHODCALLTYPE FormDropTarget::Release() {
    const LONG refs = ::InterlockedDecrement(&refs_);
    if (refs == 0) {
        delete this;
    }
    return static_cast<ULONG>(refs);
}

DWORD FormDropTarget::Effect(bool hasFiles, DWORD allowed) {
    if (!hasFiles) {
        return DROPEFFECT_NONE;
    }
    if (allowed & DROPEFFECT_COPY) {
        return DROPEFFECT_COPY;
    }
    return allowed & (DROPEFFECT_MOVE | DROPEFFECT_LINK);
}

HRESULT STDMETHODCALLTYPE FormDropTarget::DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) {
    hasFiles_ = CarriesFiles(data);
    if (effect != nullptr) {
        *effect = Effect(hasFiles_, *effect);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FormDropTarget::DragOver(DWORD, POINTL, DWORD* effect) {
    if (effect != nullptr) {
        *effect = Effect(hasFiles_, *effect);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FormDropTarget::DragLeave() {
    hasFiles_ = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FormDropTarget::Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) {
    hasFiles_ = false;
    // The list is copied out: the source's data is released before extraction starts.
    const std::vector<std::wstring> files = DroppedFiles(data);
    if (effect != nullptr) {
        // Only ever "copied": a source that is told "moved" may delete the dropped archives.
        *effect = !files.empty() && (*effect & DROPEFFECT_COPY) ? DROPEFFECT_COPY : DROPEFFECT_NONE;
    }
    if (files.empty() || !onDrop_) {
        return S_OK;
    }
    Guarded([&] { onDrop_(files); });
    return S_OK;
}

} // namespace dexalo::win32
