#pragma once
// An in-memory dialog template, so the libraries need no resource script.
#include <windows.h>

#include <string>
#include <vector>

namespace dexalo::archivers::win32 {

class DialogTemplate {
public:
    // Dialog units; the font is the system's dialog font (MS UI Gothic on a Japanese system).
    DialogTemplate(const std::wstring& title, short width, short height);
    // `windowClass` is a system class name ("Button", "Edit", "Static", "msctls_progress32").
    void Add(const wchar_t* windowClass, const std::wstring& text, WORD id, DWORD style, short x, short y, short cx,
             short cy);
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void Text(const std::wstring& text);
    void AlignToDword();
    std::vector<WORD> words_;
};

} // namespace dexalo::archivers::win32
