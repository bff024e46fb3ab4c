#include "win32/window/form_view.h"

#include <commctrl.h>

#include <algorithm>
#include <array>

#include "window/version_panel.h"
#include "win32/window/form_view_parts.h"

namespace dexalo::win32 {

// Functions of newer systems, looked up at run time so the program still starts without them.
UINT WindowDpi(HWND window) {
    using Fn = UINT(WINAPI*)(HWND);
    static const auto fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (fn != nullptr && window != nullptr) {
        if (const UINT dpi = fn(window)) return dpi;
    }
    const UniqueScreenDc screen(::GetDC(nullptr));
    const int dpi = screen ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 96;
    return dpi > 0 ? static_cast<UINT>(dpi) : 96u;
}

void AdjustForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi) {
    using Fn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    if (fn == nullptr || !fn(&rect, style, FALSE, exStyle, dpi)) {
        ::AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    }
}

int FontHeight(HFONT font) {
    constexpr int kFallback = 13;
    const UniqueScreenDc screen(::GetDC(nullptr));
    if (!screen) return kFallback;
    const SelectedObject selected(screen.get(), font);
    TEXTMETRICW metrics{};
    return ::GetTextMetricsW(screen.get(), &metrics) ? metrics.tmHeight : kFallback;
}

namespace {

LOGFONTW MessageFont(UINT dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    using Fn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi")));
    if (!(fn != nullptr && fn(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi))) {
        ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    }
    return metrics.lfMessageFont;
}

// The face the system really gives for a font (a substitute may stand in for the name asked).
std::wstring ActualFace(HFONT font) {
    const UniqueScreenDc screen(::GetDC(nullptr));
    if (!screen) return {};
    const SelectedObject selected(screen.get(), font);
    std::array<wchar_t, LF_FACESIZE> face{};
    if (::GetTextFaceW(screen.get(), static_cast<int>(face.size()), face.data()) == 0) return {};
    return face.data();
}

// The window's GUI font at 9 points. The captions were sized for a proportional Japanese UI
// face, so such a face is taken when the system really has one; otherwise the system's
// message font, whose font linking supplies the Japanese characters.
LOGFONTW FormLogFont(UINT dpi) {
    LOGFONTW font = MessageFont(dpi);
    font.lfHeight = -::MulDiv(9, static_cast<int>(dpi), 72);
    font.lfWidth = 0;
    font.lfQuality = DEFAULT_QUALITY;
    for (const wchar_t* face : {L"MS UI Gothic", L"ＭＳ Ｐゴシック", L"MS PGothic", L"Meiryo UI", L"IPAPGothic"}) {
        LOGFONTW candidate = font;
        ::lstrcpynW(candidate.lfFaceName, face, LF_FACESIZE);
        candidate.lfCharSet = SHIFTJIS_CHARSET;
        UniqueFont made(::CreateFontIndirectW(&candidate));
        if (made && ::lstrcmpiW(ActualFace(made.get()).c_str(), face) == 0) return candidate;
    }
    return font;
}

int TextWidth(HDC dc, const std::wstring& text) {
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

// Frames are containers with a background of their own, like the frames the layout was made for;
// a plain group box leaves its inside unpainted.
LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (message == WM_ERASEBKGND) {
        RECT rect;
        ::GetClientRect(window, &rect);
        HBRUSH brush = reinterpret_cast<HBRUSH>(
            ::SendMessageW(::GetParent(window), WM_CTLCOLORSTATIC, wParam, reinterpret_cast<LPARAM>(window)));
        ::FillRect(reinterpret_cast<HDC>(wParam), &rect, brush ? brush : ::GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(window, FrameProc, 1);
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

} // namespace

// Every version line and check-box caption must show whole within the layout's sizes; where the
// face runs wider than the one the layout was made for, the size steps down, to 7 points at least.
UniqueFont Form1View::MakeFormFont() const {
    LOGFONTW font = FormLogFont(dpi_);
    std::vector<std::pair<std::wstring, int>> texts;
    for (const VersionRow& row : kVersionRows) {
        texts.emplace_back(std::wstring(row.leader) + L"00.0", Px(2415));
        texts.emplace_back(std::wstring(row.missingLeader) + kMissingTail, Px(2415));
    }
    texts.emplace_back(kUnrarNeedsDll, Px(2415));
    const int checkMark = ::MulDiv(18, static_cast<int>(dpi_), 96);
    for (const ControlState& c : model_->Controls()) {
        if (c.kind == ControlKind::CheckBox) texts.emplace_back(c.caption, Px(c.width) - checkMark);
    }
    const int smallest = -::MulDiv(7, static_cast<int>(dpi_), 72);
    const UniqueScreenDc screen(::GetDC(nullptr));
    for (;;) {
        UniqueFont made(::CreateFontIndirectW(&font));
        bool fits = true;
        if (screen && made) {
            const SelectedObject selected(screen.get(), made.get());
            for (const auto& [text, room] : texts) fits = fits && TextWidth(screen.get(), text) <= room;
        }
        if (fits || font.lfHeight >= smallest) return made;
        ++font.lfHeight; // one pixel smaller
    }
}

void Form1View::CreateControls() {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    // Creation order is the keyboard order: focusable controls by tab index; then labels and
    // frames, which sit below the controls they hold.
    std::vector<const ControlState*> order;
    for (const ControlState& c : model_->Controls()) order.push_back(&c);
    std::stable_sort(order.begin(), order.end(), [](const ControlState* a, const ControlState* b) {
        const int ra = a->focusable ? 0 : (a->kind == ControlKind::Label ? 1 : 2);
        const int rb = b->focusable ? 0 : (b->kind == ControlKind::Label ? 1 : 2);
        return ra != rb ? ra < rb : a->tabIndex < b->tabIndex;
    });
    for (const ControlState* c : order) {
        const wchar_t* cls = L"BUTTON";
        DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
        DWORD exStyle = 0;
        switch (c->kind) {
        case ControlKind::GroupFrame: style |= BS_GROUPBOX; break;
        case ControlKind::PushButton: style |= BS_PUSHBUTTON | BS_MULTILINE | WS_TABSTOP; break;
        case ControlKind::CheckBox: style |= BS_CHECKBOX | WS_TABSTOP; break;
        case ControlKind::Label:
            cls = L"STATIC";
            style |= SS_LEFTNOWORDWRAP | SS_NOPREFIX;
            break;
        case ControlKind::DriveList:
            cls = L"COMBOBOX";
            style |= CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | WS_VSCROLL | WS_TABSTOP;
            break;
        case ControlKind::FolderList:
            cls = L"LISTBOX";
            style |= LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL |
                     WS_TABSTOP;
            exStyle |= WS_EX_CLIENTEDGE;
            break;
        }
        const int id = CommandId(c->id);
        HWND control = ::CreateWindowExW(exStyle, cls, c->caption.c_str(), style, 0, 0, 10, 10, window_.get(),
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        if (control == nullptr) continue;
        controls_[id] = control;
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
        if (c->kind == ControlKind::GroupFrame) {
            ::SetWindowSubclass(control, FrameProc, 1, 0);
        }
        if (c->kind == ControlKind::CheckBox) {
            ::SendMessageW(control, BM_SETCHECK, c->value == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
        }
        ::EnableWindow(control, c->enabled);
    }
}

void Form1View::ApplyLayout() {
    const auto& all = model_->Controls();
    for (const ControlState& c : all) {
        HWND control = ControlWindow(c.id);
        if (control == nullptr) continue;
        const RECT r = ControlRect(c.id);
        int height = r.bottom - r.top;
        if (c.kind == ControlKind::DriveList) height = Px(c.height) * 8; // room for the open list
        ::MoveWindow(control, r.left, r.top, r.right - r.left, height, FALSE);
    }
    SizeDriveList();
    if (HWND dir = ControlWindow(kDir1)) {
        ::SendMessageW(dir, LB_SETITEMHEIGHT, 0, std::max(FontHeight(font_.get()), ::MulDiv(16, dpi_, 96)) + 2);
    }
    ::InvalidateRect(window_.get(), nullptr, TRUE);
}

void Form1View::ApplyFont(UniqueFont font) {
    for (auto& [id, control] : controls_) {
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    }
    font_ = std::move(font); // the old font goes only once no control uses it
}

// The closed drive list is exactly as high as the table says.
void Form1View::SizeDriveList() {
    HWND drive = ControlWindow(kDrive1);
    if (drive == nullptr) return;
    const int target = Px(model_->Control(kDrive1).height);
    // Corrected by what the control really became: systems differ in the border they add.
    int field = static_cast<int>(::SendMessageW(drive, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
    for (int attempt = 0; attempt < 4; ++attempt) {
        RECT r;
        ::GetWindowRect(drive, &r);
        const int difference = target - (r.bottom - r.top);
        if (difference == 0) break;
        field = std::max(1, field + difference);
        driveField_ = field; // also what WM_MEASUREITEM answers for the field
        ::SendMessageW(drive, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
    }
    ::SendMessageW(drive, CB_SETITEMHEIGHT, 0, FontHeight(font_.get()) + 2);
}

RECT Form1View::ControlRect(ControlId id) const {
    const ControlState& c = model_->Control(id);
    const TwipPoint p = AbsolutePosition(model_->Controls(), c);
    const int left = Px(p.x), top = Px(p.y);
    return RECT{left, top, left + Px(c.width), top + Px(c.height)};
}

void Form1View::OnDpiChanged(UINT dpi, const RECT& suggested) {
    if (dpi == 0 || dpi == dpi_) return;
    dpi_ = dpi;
    ApplyFont(MakeFormFont());
    ApplyLayout();
    ::SetWindowPos(window_.get(), nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace dexalo::win32
