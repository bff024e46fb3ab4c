#include "common/win32/dialog_template.h"

#include <cstring>

namespace dexalo::archivers::win32 {

namespace {

template <class T>
void Put(std::vector<WORD>& words, const T& value) {
    static_assert(sizeof(T) % sizeof(WORD) == 0);
    const std::size_t at = words.size();
    words.resize(at + sizeof(T) / sizeof(WORD));
    std::memcpy(words.data() + at, &value, sizeof(T));
}

} // namespace

DialogTemplate::DialogTemplate(const std::wstring& title, short width, short height) {
    DLGTEMPLATE head{};
    head.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SHELLFONT;
    head.cx = width;
    head.cy = height;
    Put(words_, head);
    words_.push_back(0);  // no menu
    words_.push_back(0);  // the standard dialog class
    Text(title);
    words_.push_back(9);  // points
    Text(L"MS Shell Dlg");
}

void DialogTemplate::Add(const wchar_t* windowClass, const std::wstring& text, WORD id, DWORD style, short x,
                         short y, short cx, short cy) {
    AlignToDword();
    DLGITEMTEMPLATE item{};
    item.style = style | WS_CHILD | WS_VISIBLE;
    item.x = x;
    item.y = y;
    item.cx = cx;
    item.cy = cy;
    item.id = id;
    Put(words_, item);
    Text(windowClass);
    Text(text);
    words_.push_back(0);  // no creation data
    ++reinterpret_cast<DLGTEMPLATE*>(words_.data())->cdit;
}

void DialogTemplate::Text(const std::wstring& text) {
    for (wchar_t c : text) words_.push_back(static_cast<WORD>(c));
    words_.push_back(0);
}

void DialogTemplate::AlignToDword() {
    if (words_.size() % 2 != 0) words_.push_back(0);
}

} // namespace dexalo::archivers::win32
