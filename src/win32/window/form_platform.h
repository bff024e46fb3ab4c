#pragma once
// Form1's outside world on Win32: window order, the drive probe, folders, special folders,
// the temporary folder, message boxes.
#include <windows.h>

#include "startup/settings.h"
#include "window/form_services.h"

namespace dexalo::win32 {

// What the platform needs from the window that owns it.
class FormHost {
public:
    virtual ~FormHost() = default;
    virtual HWND FormWindow() const = 0;
    virtual void ShowFormWindow() = 0;
    virtual void EndForm() = 0;
};

class Win32FormPlatform final : public FormPlatform, public ShellFolders {
public:
    Win32FormPlatform(FormHost& host, const AnsiCodec& codec) : host_(host), codec_(codec) {}

    void SetWindowPos(WindowHandle window, std::intptr_t insertAfter) override;
    std::uint32_t ProbeDrive(const std::wstring& drive) override;
    std::optional<std::wstring> ResolveFolder(const std::wstring& path) override;
    std::wstring CurrentFolder() override;
    std::wstring TempPath() override;
    wchar_t DecimalSeparator() override;
    void MessageBox(const std::wstring& text, const std::wstring& title, std::uint32_t style) override;
    void ShowForm() override { host_.ShowFormWindow(); }
    WindowHandle FormHandle() override { return reinterpret_cast<WindowHandle>(host_.FormWindow()); }
    void EndProgram() override { host_.EndForm(); }

    std::int32_t GetSpecialFolderLocation(WindowHandle owner, int folder, ItemIdList& list) override;
    bool GetPathFromIDList(ItemIdList list, std::wstring& path) override;
    void Free(ItemIdList list) override;

private:
    FormHost& host_;
    const AnsiCodec& codec_;
};

} // namespace dexalo::win32
