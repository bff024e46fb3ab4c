#include "win32/window/form_view.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <array>

#include "window/version_panel.h"
#include "win32/common/quiet_errors.h"

namespace dexalo::win32 {

namespace {

// Control ids: one block per array, the index added. 1 and 2 stay free for IDOK and IDCANCEL,
// which the dialog keys send.
int BlockOf(ControlArray array) {
    switch (array) {
    case ControlArray::Frame1: return 100;
    case ControlArray::Command1: return 200;
    case ControlArray::Check1: return 300;
    case ControlArray::Label1: return 400;
    case ControlArray::Drive1: return 500;
    case ControlArray::Dir1: return 600;
    }
    return 0;
}
int CommandId(ControlId id) { return BlockOf(id.array) + id.index; }

std::optional<ControlId> FromCommandId(int commandId) {
    struct Block {
        ControlArray array;
        int count;
    };
    static const Block kBlocks[] = {{ControlArray::Frame1, kFrameCount}, {ControlArray::Command1, kCommandCount},
                                    {ControlArray::Check1, kCheckCount}, {ControlArray::Label1, kLabelCount},
                                    {ControlArray::Drive1, 1},           {ControlArray::Dir1, 1}};
    for (const Block& b : kBlocks) {
        const int index = commandId - BlockOf(b.array);
        if (index >= 0 && index < b.count) return ControlId{b.array, index};
    }
    return std::nullopt;
}

// Functions of newer systems, looked up at run time so the program still starts without them.
UINT WindowDpi(HWND window) {
    using Fn = UINT(WINAPI*)(HWND);
    static const auto fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (fn != nullptr && window != nullptr) {
        if (const UINT dpi = fn(window)) return dpi;
    }
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
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
    HDC screen = ::GetDC(nullptr);
    if (screen == nullptr) return {};
    HGDIOBJ old = ::SelectObject(screen, font);
    std::array<wchar_t, LF_FACESIZE> face{};
    ::GetTextFaceW(screen, static_cast<int>(face.size()), face.data());
    ::SelectObject(screen, old);
    ::ReleaseDC(nullptr, screen);
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

int FontHeight(HFONT font) {
    HDC screen = ::GetDC(nullptr);
    if (screen == nullptr) return 13;
    HGDIOBJ old = ::SelectObject(screen, font);
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(screen, &metrics);
    ::SelectObject(screen, old);
    ::ReleaseDC(nullptr, screen);
    return metrics.tmHeight;
}

BOOL CALLBACK FirstIconGroup(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) {
    if (!IS_INTRESOURCE(name)) return TRUE; // a string name lives only during the enumeration
    *reinterpret_cast<LPWSTR*>(found) = name;
    return FALSE;
}

HICON ProgramIcon(HINSTANCE instance, int size) {
    LPWSTR first = nullptr;
    ::EnumResourceNamesW(instance, RT_GROUP_ICON, FirstIconGroup, reinterpret_cast<LONG_PTR>(&first));
    if (first == nullptr) return nullptr;
    return static_cast<HICON>(::LoadImageW(instance, first, IMAGE_ICON, size, size, LR_SHARED));
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

void DrawFolderGlyph(HDC dc, int x, int y, int size, bool open) {
    const auto s = [size](int v) { return ::MulDiv(v, size, 16); };
    HPEN pen = ::CreatePen(PS_SOLID, 1, RGB(128, 96, 0));
    HBRUSH back = ::CreateSolidBrush(RGB(230, 180, 60));
    HBRUSH front = ::CreateSolidBrush(RGB(255, 222, 110));
    HGDIOBJ oldPen = ::SelectObject(dc, pen);
    HGDIOBJ oldBrush = ::SelectObject(dc, back);
    const POINT body[] = {{x, y + s(3)}, {x + s(6), y + s(3)}, {x + s(7), y + s(5)}, {x + s(14), y + s(5)},
                          {x + s(14), y + s(14)}, {x, y + s(14)}};
    ::Polygon(dc, body, 6);
    ::SelectObject(dc, front);
    if (open) {
        const POINT flap[] = {{x + s(3), y + s(8)}, {x + s(16), y + s(8)}, {x + s(13), y + s(14)}, {x, y + s(14)}};
        ::Polygon(dc, flap, 4);
    } else {
        ::Rectangle(dc, x, y + s(7), x + s(14) + 1, y + s(14) + 1);
    }
    ::SelectObject(dc, oldBrush);
    ::SelectObject(dc, oldPen);
    ::DeleteObject(front);
    ::DeleteObject(back);
    ::DeleteObject(pen);
}

void RegisterFormClass(HINSTANCE instance, WNDPROC proc) {
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof(cls);
    cls.lpfnWndProc = proc;
    cls.hInstance = instance;
    cls.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    cls.hIcon = ProgramIcon(instance, 32);
    cls.hIconSm = ProgramIcon(instance, 16);
    cls.lpszClassName = kFormClassName;
    ::RegisterClassExW(&cls); // a second view in the same process finds it registered
}

constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT;

} // namespace

Form1View::Form1View(ModuleState& state, ArchiverLibraries& libraries, ExtractFileFn extractFile,
                     ProgramLocation program, AssociationService& associations, SettingsStorage& storage,
                     const AnsiCodec& codec)
    : platform_(*this, codec), settings_(std::move(program), storage, codec) {
    model_ = std::make_unique<Form1>(
        Form1Services{state, libraries, associations, settings_, platform_, platform_, std::move(extractFile)});

    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    RegisterFormClass(instance, WindowProc);
    // WM_NCCREATE takes the handle into window_.
    ::CreateWindowExW(kFormExStyle, kFormClassName, kFormCaption, kFormStyle, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0,
                      nullptr, nullptr, instance, this);
    if (!window_) {
        return;
    }
    dpi_ = WindowDpi(window_.get());
    font_ = MakeFormFont();
    CreateControls();
    ApplyLayout();

    // Centred on the screen, with the fixed client area.
    RECT frame{0, 0, Px(kFormClientWidth), Px(kFormClientHeight)};
    AdjustForDpi(frame, kFormStyle, kFormExStyle, dpi_);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromWindow(window_.get(), MONITOR_DEFAULTTOPRIMARY), &monitor);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    const RECT& screen = monitor.rcMonitor;
    ::SetWindowPos(window_.get(), nullptr, screen.left + (screen.right - screen.left - width) / 2,
                   screen.top + (screen.bottom - screen.top - height) / 2, width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);

    RefreshDriveList(true);
    RefreshFolderList();
    model_->SetObserver(this);
    RegisterDropTargets();
}

Form1View::~Form1View() {
    if (model_) {
        model_->SetObserver(nullptr);
    }
    RevokeDropTargets();
    window_.reset();
    if (dropTarget_ != nullptr) {
        dropTarget_->Disconnect();
        dropTarget_->Release();
    }
}

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
    HDC screen = ::GetDC(nullptr);
    for (;;) {
        UniqueFont made(::CreateFontIndirectW(&font));
        bool fits = true;
        if (screen != nullptr && made) {
            HGDIOBJ old = ::SelectObject(screen, made.get());
            for (const auto& [text, room] : texts) fits = fits && TextWidth(screen, text) <= room;
            ::SelectObject(screen, old);
        }
        if (fits || font.lfHeight >= smallest) {
            if (screen != nullptr) ::ReleaseDC(nullptr, screen);
            return made;
        }
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

HWND Form1View::ControlWindow(ControlId id) const {
    auto it = controls_.find(CommandId(id));
    return it == controls_.end() ? nullptr : it->second;
}

RECT Form1View::ControlRect(ControlId id) const {
    const ControlState& c = model_->Control(id);
    const TwipPoint p = AbsolutePosition(model_->Controls(), c);
    const int left = Px(p.x), top = Px(p.y);
    return RECT{left, top, left + Px(c.width), top + Px(c.height)};
}

std::optional<ControlId> Form1View::IdOf(HWND control) const {
    if (control == nullptr || ::GetParent(control) != window_.get()) return std::nullopt;
    return FromCommandId(::GetDlgCtrlID(control));
}

HBRUSH Form1View::BrushFor(std::uint32_t color) {
    auto& brush = brushes_[color];
    if (!brush) brush.reset(::CreateSolidBrush(static_cast<COLORREF>(color)));
    return brush.get();
}

void Form1View::Load() {
    if (loaded_ || ended_ || !window_) return;
    loaded_ = true;
    model_->Form_Load();
}

int Form1View::Run() {
    if (!window_) return 1; // no window could be made: nothing would ever end the loop
    Load();
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ProcessMessage(message);
    }
    return exitCode_;
}

void Form1View::ProcessMessage(MSG& message) {
    if (window_ && ::IsDialogMessageW(window_.get(), &message)) return;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
}

void Form1View::ShowFormWindow() {
    if (!window_) return;
    ::ShowWindow(window_.get(), SW_SHOW);
    ::UpdateWindow(window_.get());
    ::SetForegroundWindow(window_.get());
    // Focus starts on the control with the lowest tab index, Check1(12).
    if (HWND first = ControlWindow(Check1(12))) ::SetFocus(first);
}

void Form1View::EndForm() {
    if (ended_) return;
    ended_ = true;
    RevokeDropTargets();
    window_.reset();
    ::PostQuitMessage(exitCode_);
}

void Form1View::RegisterDropTargets() {
    if (!ole_.ok() || !window_) return;
    dropTarget_ = FormDropTarget::Create([this](const std::vector<std::wstring>& files) {
        if (model_ && !ended_) model_->FilesDropped(files);
    });
    auto add = [this](HWND target) {
        if (target != nullptr && SUCCEEDED(::RegisterDragDrop(target, dropTarget_))) dropWindows_.push_back(target);
    };
    add(window_.get());
    for (const ControlState& c : model_->Controls()) {
        if (c.acceptsDrops) add(ControlWindow(c.id));
    }
}

void Form1View::RevokeDropTargets() {
    for (HWND target : dropWindows_) ::RevokeDragDrop(target);
    dropWindows_.clear();
}

void Form1View::ControlChanged(ControlId id, ControlProperty what) {
    if (ended_) return;
    HWND control = ControlWindow(id);
    if (control == nullptr) return;
    const ControlState& c = model_->Control(id);
    switch (what) {
    case ControlProperty::Caption: ::SetWindowTextW(control, c.caption.c_str()); break;
    case ControlProperty::Value:
        ::SendMessageW(control, BM_SETCHECK, c.value == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
        break;
    case ControlProperty::Enabled: ::EnableWindow(control, c.enabled); break;
    case ControlProperty::ForeColor:
    case ControlProperty::BackColor: ::InvalidateRect(control, nullptr, TRUE); break;
    case ControlProperty::Drive: RefreshDriveList(false); break;
    case ControlProperty::Path: RefreshFolderList(); break;
    }
}

void Form1View::RefreshDriveList(bool queryLabels) {
    HWND combo = ControlWindow(kDrive1);
    if (combo == nullptr) return;
    std::vector<wchar_t> letters;
    const DWORD mask = ::GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (mask & (1u << i)) letters.push_back(static_cast<wchar_t>(L'a' + i));
    }
    const std::wstring& current = model_->Drive();
    const wchar_t currentLetter = current.empty() ? L'\0' : current[0];
    // A drive the model was set to is shown while it is current, even if the machine lacks it.
    if (currentLetter != L'\0' && std::find(letters.begin(), letters.end(), currentLetter) == letters.end()) {
        letters.insert(std::upper_bound(letters.begin(), letters.end(), currentLetter), currentLetter);
    }
    std::vector<DriveItem> items;
    for (wchar_t letter : letters) {
        auto cached = driveLabels_.find(letter);
        if (cached == driveLabels_.end() && queryLabels && (mask & (1u << (letter - L'a')))) {
            std::wstring root{static_cast<wchar_t>(letter - L'a' + L'A'), L':', L'\\'};
            std::wstring label;
            const UINT type = ::GetDriveTypeW(root.c_str());
            if (type == DRIVE_FIXED || type == DRIVE_RAMDISK || type == DRIVE_REMOTE) {
                std::array<wchar_t, MAX_PATH + 1> name{};
                const QuietSystemErrors quiet;
                if (::GetVolumeInformationW(root.c_str(), name.data(), static_cast<DWORD>(name.size()), nullptr,
                                            nullptr, nullptr, nullptr, 0)) {
                    label = name.data();
                }
            }
            cached = driveLabels_.emplace(letter, label).first;
        }
        std::wstring text{letter, L':'};
        if (cached != driveLabels_.end() && !cached->second.empty()) text += L" [" + cached->second + L"]";
        items.push_back({letter, std::move(text)});
    }
    const bool same = items.size() == drives_.size() &&
                      std::equal(items.begin(), items.end(), drives_.begin(),
                                 [](const DriveItem& a, const DriveItem& b) { return a.text == b.text; });
    if (!same) {
        drives_ = std::move(items);
        ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
        for (const DriveItem& d : drives_) {
            ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(d.text.c_str()));
        }
    }
    int selected = -1;
    for (std::size_t i = 0; i < drives_.size(); ++i) {
        if (drives_[i].letter == currentLetter) selected = static_cast<int>(i);
    }
    ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

void Form1View::RefreshFolderList() {
    HWND list = ControlWindow(kDir1);
    if (list == nullptr) return;
    folderEntries_ = FolderEntries(model_->Path());
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (const FolderEntry& e : folderEntries_) {
        ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(e.name.c_str()));
    }
    const int current = CurrentFolderIndex(folderEntries_);
    ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(current), 0);
    ::SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(std::max(0, current - 3)), 0);
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
}

void Form1View::OpenFolderEntry(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= folderEntries_.size()) return;
    const std::wstring path = folderEntries_[static_cast<std::size_t>(index)].path;
    if (!model_->SetPath(path) && !ended_) {
        RefreshFolderList(); // the folder went away: show what is there now
    }
}

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
    return self->HandleMessage(message, wParam, lParam);
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
    HGDIOBJ old = ::SelectObject(dc, font_.get());
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textRect,
                DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    ::SelectObject(dc, old);
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
    HGDIOBJ old = ::SelectObject(dc, font_.get());
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
    ::SelectObject(dc, old);
    if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) ::DrawFocusRect(dc, &r);
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
