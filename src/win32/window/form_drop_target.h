#pragma once
// The OLE drop target of Form1 and its drop-accepting controls: reads the file list (CF_HDROP)
// of the dropped data and hands it on; nothing else about the drop matters.
#include <windows.h>
#include <ole2.h>

#include <functional>
#include <string>
#include <vector>

namespace dexalo::win32 {

// Must return at once: the drag source (Explorer) waits for Drop to return.
using DroppedFilesFn = std::function<void(const std::vector<std::wstring>& files)>;

// The file list a data object carries, in its order; empty when it carries none.
std::vector<std::wstring> DroppedFiles(IDataObject* data);

class FormDropTarget final : public IDropTarget {
public:
    // Created with one reference, owned by the caller.
    static FormDropTarget* Create(DroppedFilesFn onDrop);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD keys, POINTL point, DWORD* effect) override;
    HRESULT STDMETHODCALLTYPE DragOver(DWORD keys, POINTL point, DWORD* effect) override;
    HRESULT STDMETHODCALLTYPE DragLeave() override;
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD keys, POINTL point, DWORD* effect) override;

    // Stops handing drops on (the window is going away).
    void Disconnect() { onDrop_ = nullptr; }

private:
    explicit FormDropTarget(DroppedFilesFn onDrop) : onDrop_(std::move(onDrop)) {}
    ~FormDropTarget() = default;
    static DWORD Effect(bool hasFiles, DWORD allowed);

    LONG refs_ = 1;
    bool hasFiles_ = false;
    DroppedFilesFn onDrop_;
};

} // namespace dexalo::win32
