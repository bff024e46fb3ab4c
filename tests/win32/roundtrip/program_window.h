#pragma once
// dexalo.exe started without arguments and driven from outside, as a user would: its window
// found by caption, controls by their captions or kinds, buttons pressed with BM_CLICK.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "roundtrip_support.h"

namespace dexalo::test {

inline constexpr const wchar_t* kFormCaption = L"Dexalo Version.2.66 by.Vanto";
inline constexpr const wchar_t* kOk = L"OK(適用+終了)";
inline constexpr const wchar_t* kCancel = L"キャンセル(終了)";
inline constexpr const wchar_t* kApply = L"適用(設定保存)";
inline constexpr const wchar_t* kDesktop = L"ﾃﾞｽｸﾄｯﾌﾟ";
inline constexpr const wchar_t* kMyDocuments = L"My Documents";
inline constexpr const wchar_t* kTemp = L"TEMP";
inline constexpr const wchar_t* kNextToArchive = L"書庫と同じ場所に解凍";
inline constexpr const wchar_t* kOpenAfterwards = L"解凍後に解凍先を開く";

inline std::wstring WindowText(HWND window) {
    wchar_t text[512]{};
    ::SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 10000, nullptr);
    return text;
}

class ProgramWindow {
public:
    // Starts the program in folder `current` and waits until its window is shown.
    ProgramWindow(const Installation& in, const std::wstring& current) {
        std::wstring line = L"\"" + in.exe + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        if (!::CreateProcessW(in.exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, current.c_str(),
                              &startup, &process)) {
            ADD_FAILURE() << "dexalo.exe did not start: " << ::GetLastError();
            return;
        }
        process_ = process.hProcess;
        ::CloseHandle(process.hThread);
        id_ = process.dwProcessId;
        sweeper_ = std::make_unique<BoxSweeper>(id_);
        for (int i = 0; i < 600 && window_ == nullptr; ++i) {
            if (::WaitForSingleObject(process_, 50) == WAIT_OBJECT_0) break;
            ::EnumWindows(FindForm, reinterpret_cast<LPARAM>(this));
        }
        if (window_ == nullptr) ADD_FAILURE() << "the window did not open";
    }
    ProgramWindow(const ProgramWindow&) = delete;
    ProgramWindow& operator=(const ProgramWindow&) = delete;
    ~ProgramWindow() {
        if (process_ != nullptr) {
            if (::WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
                ADD_FAILURE() << "the program was still running";
                ::TerminateProcess(process_, 99);
                ::WaitForSingleObject(process_, 10000);
            }
            ::CloseHandle(process_);
        }
    }

    bool open() const { return window_ != nullptr; }
    HWND window() const { return window_; }

    HWND Control(const std::wstring& caption) const { return Child(caption, nullptr); }
    HWND DriveList() const { return Child({}, L"ComboBox"); }
    HWND FolderList() const { return Child({}, L"ListBox"); }

    // Presses a button or toggles a box, and returns once its handler has run.
    void Click(const std::wstring& caption) {
        HWND control = Control(caption);
        ASSERT_NE(control, nullptr) << Utf8(caption);
        DWORD_PTR ignored = 0;
        ASSERT_NE(::SendMessageTimeoutW(control, BM_CLICK, 0, 0, SMTO_NORMAL, 30000, &ignored), 0)
            << "no answer to " << Utf8(caption);
    }
    bool Checked(const std::wstring& caption) const {
        return ::SendMessageW(Control(caption), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    bool Enabled(const std::wstring& caption) const { return ::IsWindowEnabled(Control(caption)) != FALSE; }

    // The folder list's entries and the one that is current.
    std::vector<std::wstring> Folders() const {
        std::vector<std::wstring> entries;
        HWND list = FolderList();
        const auto count = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t text[MAX_PATH]{};
            if (::SendMessageW(list, LB_GETTEXTLEN, i, 0) < MAX_PATH)
                ::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
            entries.push_back(text);
        }
        return entries;
    }
    std::wstring CurrentFolder() const {
        const auto at = ::SendMessageW(FolderList(), LB_GETCURSEL, 0, 0);
        const auto all = Folders();
        return at >= 0 && static_cast<size_t>(at) < all.size() ? all[static_cast<size_t>(at)] : L"<none>";
    }
    // Opens an entry of the folder list, as a double-click does.
    void OpenFolder(const std::wstring& name) {
        const auto all = Folders();
        const auto at = std::find(all.begin(), all.end(), name);
        ASSERT_NE(at, all.end()) << "no entry " << Utf8(name);
        HWND list = FolderList();
        ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(at - all.begin()), 0);
        ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(list), LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
    }

    std::wstring CurrentDrive() const {
        HWND combo = DriveList();
        const auto at = ::SendMessageW(combo, CB_GETCURSEL, 0, 0);
        wchar_t text[MAX_PATH]{};
        if (at < 0 || ::SendMessageW(combo, CB_GETLBTEXTLEN, at, 0) >= MAX_PATH) return L"<none>";
        ::SendMessageW(combo, CB_GETLBTEXT, at, reinterpret_cast<LPARAM>(text));
        return text;
    }
    // Chooses the drive whose entry starts with `letterColon` ("z:"), as picking it from the list does.
    void ChooseDrive(const std::wstring& letterColon) {
        HWND combo = DriveList();
        const auto count = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t text[MAX_PATH]{};
            if (::SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) >= MAX_PATH) continue;
            ::SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            if (std::wstring(text).rfind(letterColon, 0) == 0) {
                ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
                ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(combo), CBN_SELCHANGE),
                               reinterpret_cast<LPARAM>(combo));
                return;
            }
        }
        ADD_FAILURE() << "no drive " << Utf8(letterColon);
    }

    // Presses a button that ends the program (OK, Cancel) and waits for the end; the exit code.
    DWORD PressToEnd(const std::wstring& caption) {
        HWND control = Control(caption);
        EXPECT_NE(control, nullptr) << Utf8(caption);
        ::PostMessageW(control, BM_CLICK, 0, 0);
        return WaitForEnd();
    }
    DWORD WaitForEnd() {
        if (::WaitForSingleObject(process_, 30000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the program did not end";
            return 99;
        }
        DWORD code = 99;
        ::GetExitCodeProcess(process_, &code);
        return code;
    }

    // Message boxes the program showed so far ("title<TAB>text").
    std::vector<std::wstring> Messages() const { return sweeper_ ? sweeper_->Seen() : std::vector<std::wstring>{}; }

private:
    static BOOL CALLBACK FindForm(HWND window, LPARAM param) {
        auto* self = reinterpret_cast<ProgramWindow*>(param);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner != self->id_ || !::IsWindowVisible(window) || WindowText(window) != kFormCaption) return TRUE;
        self->window_ = window;
        return FALSE;
    }
    struct Search {
        std::wstring caption;
        const wchar_t* cls;
        HWND found = nullptr;
    };
    static BOOL CALLBACK FindChild(HWND child, LPARAM param) {
        auto* search = reinterpret_cast<Search*>(param);
        if (search->cls != nullptr) {
            wchar_t cls[32]{};
            ::GetClassNameW(child, cls, 32);
            if (::lstrcmpiW(cls, search->cls) != 0) return TRUE;
        } else if (WindowText(child) != search->caption) {
            return TRUE;
        }
        search->found = child;
        return FALSE;
    }
    HWND Child(const std::wstring& caption, const wchar_t* cls) const {
        Search search{caption, cls};
        if (window_ != nullptr) ::EnumChildWindows(window_, FindChild, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    HANDLE process_ = nullptr;
    DWORD id_ = 0;
    HWND window_ = nullptr;
    std::unique_ptr<BoxSweeper> sweeper_;
};

} // namespace dexalo::test
