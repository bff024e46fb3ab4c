#include "win32/window/form_view.h"

#include <algorithm>

#include "startup/guarded.h"
#include "win32/window/form_view_parts.h"

namespace dexalo::win32 {

namespace {

void DrawFolderGlyph(HDC dc, int x, int y, int size, bool open) {
    const auto s = [size](int v) { return ::MulDiv(v, size, 16); };
    const UniquePen pen(::CreatePen(PS_SOLID, 1, RGB(128, 96, 0)));
    const UniqueBrush back(::CreateSolidBrush(RGB(230, 180, 60)));
    const UniqueBrush front(::CreateSolidBrush(RGB(255, 222, 110)));
    if (!pen || !back || !front) return;
    // Declared after the objects, so they are deselected before they are deleted.
    const SelectedObject penSelected(dc, pen.get());
    const SelectedObject brushSelected(dc, back.get());
    const POINT body[] = {{x, y + s(3)}, {x + s(6), y + s(3)}, {x + s(7), y + s(5)}, {x + s(14), y + s(5)},
                          {x + s(14), y + s(14)}, {x, y + s(14)}};
    ::Polygon(dc, body, 6);
    ::SelectObject(dc, front.get()); // the guard still puts the first brush back
    if (open) {
        const POINT flap[] = {{x + s(3), y + s(8)}, {x + s(16), y + s(8)}, {x + s(13), y + s(14)}, {x, y + s(14)}};
        ::Polygon(dc, flap, 4);
    } else {
        ::Rectangle(dc, x, y + s(7), x + s(14) + 1, y + s(14) + 1);
    }
}

} // namespace

LRESULT CALLBACK Form1View::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        auto* created = static_cast<Form1View*>(create->lpCreateParams);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
        created->window_ = UniqueWindow(window);
    }
    auto* self = reinterpret_cast<Form1View*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr || self->window_.get() != window) {
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_.release();
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    // A failing handler ends that message only; nothing may unwind into the system's code.
    LRESULT result = 0;
    Guarded([&] { result = self->HandleMessage(message, wParam, lParam); });
    return result;
}

LRESULT Form1View::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND window = window_.get();
    switch (message) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_CLOSE:
        if (!ended_) model_->Form_Unload();
        return 0;
    case kDropsQueuedMessage:
        ExtractQueuedDrops();
        return 0;
    case WM_ERASEBKGND:
        PaintBackground(reinterpret_cast<HDC>(wParam));
        return 1;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return OnControlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), false);
    case WM_CTLCOLORLISTBOX:
        return OnControlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), true);
    case WM_MEASUREITEM:
        OnMeasureItem(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_DRAWITEM:
        OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_ACTIVATE: {
        // Keep the focused control across switches to other windows, as dialogs do.
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = ::GetFocus();
            if (focus != nullptr && ::IsChild(window, focus)) lastFocus_ = focus;
        } else if (lastFocus_ != nullptr && ::IsWindow(lastFocus_) && ::IsChild(window, lastFocus_)) {
            ::SetFocus(lastFocus_);
            return 0;
        }
        break;
    }
    default:
        break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void Form1View::OnCommand(WORD id, WORD code, HWND control) {
    if (ended_) return;
    if (id == IDOK && control == nullptr) {
        // Enter: presses the focused button, or opens the selected entry of the folder list.
        HWND focus = ::GetFocus();
        const std::optional<ControlId> focused = IdOf(focus);
        if (focused && focused->array == ControlArray::Command1 && ::IsWindowEnabled(focus)) {
            model_->Command1_Click(focused->index);
        } else if (focused && focused->array == ControlArray::Dir1) {
            OpenFolderEntry(static_cast<int>(::SendMessageW(focus, LB_GETCURSEL, 0, 0)));
        }
        return;
    }
    const std::optional<ControlId> source = FromCommandId(id);
    if (!source) return;
    switch (source->array) {
    case ControlArray::Command1:
        if (code == BN_CLICKED) model_->Command1_Click(source->index);
        break;
    case ControlArray::Check1:
        if (code == BN_CLICKED) model_->CheckClicked(source->index);
        break;
    case ControlArray::Drive1:
        if (code == CBN_SELCHANGE) {
            const auto index = static_cast<int>(::SendMessageW(control, CB_GETCURSEL, 0, 0));
            if (index >= 0 && static_cast<std::size_t>(index) < drives_.size()) {
                const std::wstring entry = drives_[static_cast<std::size_t>(index)].text;
                model_->SetDrive(entry);
            }
            if (!ended_) RefreshDriveList(false);
        } else if (code == CBN_DROPDOWN) {
            RefreshDriveList(true);
        }
        break;
    case ControlArray::Dir1:
        if (code == LBN_DBLCLK) OpenFolderEntry(static_cast<int>(::SendMessageW(control, LB_GETCURSEL, 0, 0)));
        break;
    default:
        break;
    }
}

LRESULT Form1View::OnControlColor(HDC dc, HWND control, bool listLike) {
    const std::optional<ControlId> id = IdOf(control);
    if (!id) return ::DefWindowProcW(window_.get(), listLike ? WM_CTLCOLORLISTBOX : WM_CTLCOLORSTATIC,
                                     reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control));
    const ControlState& c = model_->Control(*id);
    const bool windowLike = c.kind == ControlKind::DriveList || c.kind == ControlKind::FolderList;
    const auto back = static_cast<std::uint32_t>(
        c.backColor ? *c.backColor : ::GetSysColor(windowLike ? COLOR_WINDOW : COLOR_BTNFACE));
    const COLORREF fore = c.foreColor ? *c.foreColor : ::GetSysColor(windowLike ? COLOR_WINDOWTEXT : COLOR_BTNTEXT);
    ::SetTextColor(dc, fore);
    ::SetBkColor(dc, back);
    return reinterpret_cast<LRESULT>(BrushFor(back));
}

void Form1View::PaintBackground(HDC dc) {
    RECT client;
    ::GetClientRect(window_.get(), &client);
    ::FillRect(dc, &client, BrushFor(kFormBackColor));
}

void Form1View::OnMeasureItem(MEASUREITEMSTRUCT& item) {
    const int text = FontHeight(font_.get());
    if (item.CtlID == static_cast<UINT>(CommandId(kDir1))) {
        item.itemHeight = static_cast<UINT>(std::max(text, ::MulDiv(16, dpi_, 96)) + 2);
    } else if (item.CtlID == static_cast<UINT>(CommandId(kDrive1))) {
        const bool field = item.itemID == static_cast<UINT>(-1);
        item.itemHeight = static_cast<UINT>(field && driveField_ > 0 ? driveField_ : text + 2);
    }
}

void Form1View::OnDrawItem(const DRAWITEMSTRUCT& item) {
    if (item.CtlID == static_cast<UINT>(CommandId(kDir1))) {
        DrawFolderItem(item);
    } else if (item.CtlID == static_cast<UINT>(CommandId(kDrive1))) {
        DrawDriveItem(item);
    }
}

void Form1View::DrawDriveItem(const DRAWITEMSTRUCT& item) {
    const ControlState& c = model_->Control(kDrive1);
    HDC dc = item.hDC;
    RECT r = item.rcItem;
    const bool field = (item.itemState & ODS_COMBOBOXEDIT) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0 || !c.enabled;
    const bool highlight = (item.itemState & ODS_SELECTED) && !disabled && (!field || (item.itemState & ODS_FOCUS));
    const auto back = static_cast<COLORREF>(c.backColor ? *c.backColor : ::GetSysColor(COLOR_WINDOW));
    ::FillRect(dc, &r, BrushFor(back));
    if (item.itemID == static_cast<UINT>(-1) || item.itemID >= drives_.size()) return;
    const std::wstring& text = drives_[item.itemID].text;
    RECT textRect = r;
    textRect.left += ::MulDiv(2, dpi_, 96);
    if (highlight) {
        ::FillRect(dc, &r, ::GetSysColorBrush(COLOR_HIGHLIGHT));
    }
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(disabled ? COLOR_GRAYTEXT : highlight ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    {
        const SelectedObject withFont(dc, font_.get());
        ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textRect,
                    DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) ::DrawFocusRect(dc, &r);
}

void Form1View::DrawFolderItem(const DRAWITEMSTRUCT& item) {
    const ControlState& c = model_->Control(kDir1);
    HDC dc = item.hDC;
    const RECT r = item.rcItem;
    const auto back = static_cast<COLORREF>(c.backColor ? *c.backColor : ::GetSysColor(COLOR_WINDOW));
    ::FillRect(dc, &r, BrushFor(back));
    if (item.itemID == static_cast<UINT>(-1) || item.itemID >= folderEntries_.size()) return;
    const FolderEntry& e = folderEntries_[item.itemID];
    const int glyph = ::MulDiv(16, dpi_, 96);
    const int x = r.left + ::MulDiv(2 + 8 * e.level, dpi_, 96);
    DrawFolderGlyph(dc, x, r.top + (r.bottom - r.top - glyph) / 2, glyph, e.open);
    RECT textRect{x + glyph + ::MulDiv(3, dpi_, 96), r.top, r.right, r.bottom};
    const SelectedObject withFont(dc, font_.get());
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, e.name.c_str(), static_cast<int>(e.name.size()), &extent);
    const bool selected = (item.itemState & ODS_SELECTED) != 0 && c.enabled;
    if (selected) {
        RECT mark{textRect.left - 1, r.top, std::min<LONG>(r.right, textRect.left + extent.cx + 2), r.bottom};
        ::FillRect(dc, &mark, ::GetSysColorBrush(COLOR_HIGHLIGHT));
    }
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc,
                   ::GetSysColor(!c.enabled ? COLOR_GRAYTEXT : selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    ::DrawTextW(dc, e.name.c_str(), static_cast<int>(e.name.size()), &textRect,
                DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) ::DrawFocusRect(dc, &r);
}

} // namespace dexalo::win32
