#include "win32/window/form_view.h"

#include <algorithm>
#include <array>

#include "common/win32/quiet_errors.h"
#include "win32/window/form_view_parts.h"

namespace dexalo::win32 {

// Control ids: one block per array, the index added. 1 and 2 stay free for IDOK and IDCANCEL,
// which the dialog keys send.
namespace {
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
} // namespace

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

namespace {

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
    if (dropTarget_) dropTarget_->Disconnect();
}

HWND Form1View::ControlWindow(ControlId id) const {
    auto it = controls_.find(CommandId(id));
    return it == controls_.end() ? nullptr : it->second;
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
    dropTarget_ = ComPtr<FormDropTarget>(
        FormDropTarget::Create([this](const std::vector<std::wstring>& files) { QueueDrop(files); }));
    auto add = [this](HWND target) {
        if (target != nullptr && SUCCEEDED(::RegisterDragDrop(target, dropTarget_.get()))) dropWindows_.push_back(target);
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

// The drop source waits until Drop returns, so a drop only queues its list and returns; the
// window's own loop extracts it.
void Form1View::QueueDrop(const std::vector<std::wstring>& files) {
    if (ended_ || !window_) return;
    queuedDrops_.push_back(files);
    if (!::PostMessageW(window_.get(), kDropsQueuedMessage, 0, 0)) {
        queuedDrops_.pop_back(); // never extracted later, at some other drop's turn
    }
}

// In drop order. A message box during an extraction runs a loop of its own, which may deliver
// further drops' messages: those lists wait for the running one instead of starting inside it.
void Form1View::ExtractQueuedDrops() {
    if (extractingDrops_) return;
    extractingDrops_ = true;
    while (!queuedDrops_.empty() && !ended_) {
        const std::vector<std::wstring> files = std::move(queuedDrops_.front());
        queuedDrops_.pop_front();
        model_->FilesDropped(files);
    }
    queuedDrops_.clear(); // the window ended: nothing more is extracted
    extractingDrops_ = false;
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

} // namespace dexalo::win32
