#include "win32/windowed_run.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/pipeline/api.h"
#include "common/archiver_contract.h"
#include "engine/pipeline/extract.h"
#include "engine/pipeline/report.h"
#include "common/win32/quiet_errors.h"
#include "common/win32/dialog_template.h"
// The program's own move-only owners for kernel handles and windows.
#include "common/win32/handles.h"
#include "common/win32/module_path.h"

namespace dexalo::archivers::win32 {

namespace {

using dexalo::win32::UniqueKernelHandle;
using dexalo::win32::UniqueWindow;
using dexalo::win32::ModulePath;
using dexalo::win32::ThisModule;

constexpr DWORD kProgressDelayMs = 500;  // quick extractions show nothing
constexpr DWORD kRefreshMs = 100;
constexpr int kBarRange = 1000;
constexpr WORD kFirstLine = 100, kSecondLine = 101, kBar = 102, kPassword = 103;

// Our messages carry the library's file name (unzip32.dll...), so the user knows who speaks.
std::wstring LibraryName() {
    const std::wstring path = ModulePath(ThisModule());
    return path.empty() ? std::wstring(L"Dexalo") : DisplayName(path);
}

// On the owner, or on the screen's work area when there is none to see.
void Centre(HWND window, HWND owner) {
    RECT area{}, self{};
    if (owner == nullptr || !IsWindowVisible(owner) || IsIconic(owner) || !GetWindowRect(owner, &area))
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    if (!GetWindowRect(window, &self)) return;
    const LONG w = self.right - self.left, h = self.bottom - self.top;
    SetWindowPos(window, nullptr, area.left + (area.right - area.left - w) / 2,
                 area.top + (area.bottom - area.top - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Between the worker, which extracts, and the calling thread, which owns the windows.
class Session final : public UserInterface {
public:
    struct Snapshot {
        std::wstring archive, entry;
        std::uint64_t consumed = 0, total = 0;
    };
    struct Question {
        std::wstring archive;
        bool wrong = false;
    };

    Session() : ask_(CreateEventW(nullptr, FALSE, FALSE, nullptr)), answered_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    bool Ready() const { return ask_ && answered_; }
    HANDLE AskEvent() const { return ask_.get(); }

    // The worker's side.
    void Progress(const std::wstring& archive, const std::wstring& entry, std::uint64_t consumed,
                  std::uint64_t total) override {
        std::lock_guard lock(mutex_);
        if (now_.archive != archive) now_.archive = archive;
        if (now_.entry != entry) now_.entry = entry;
        now_.consumed = consumed;
        now_.total = total;
    }
    bool Cancelled() override { return cancelled_.load(); }
    // Hands the question to the calling thread and waits for its answer.
    std::optional<std::wstring> Passphrase(const std::wstring& archive, bool wrong) override {
        {
            std::lock_guard lock(mutex_);
            question_ = Question{archive, wrong};
            answer_.reset();
        }
        if (!SetEvent(ask_.get())) return std::nullopt;
        WaitForSingleObject(answered_.get(), INFINITE);
        std::lock_guard lock(mutex_);
        return std::exchange(answer_, std::nullopt);
    }
    void Report(const std::wstring& archive, const ExtractResult& result) override {
        std::lock_guard lock(mutex_);
        report_ = ReportText(archive, result);
    }

    // The calling thread's side.
    Snapshot Now() {
        std::lock_guard lock(mutex_);
        return now_;
    }
    void Cancel() { cancelled_ = true; }
    Question Asked() {
        std::lock_guard lock(mutex_);
        return question_;
    }
    void Answer(std::optional<std::wstring> answer) {
        {
            std::lock_guard lock(mutex_);
            answer_ = std::move(answer);
        }
        SetEvent(answered_.get());
    }
    std::wstring TakeReport() {
        std::lock_guard lock(mutex_);
        return std::exchange(report_, {});
    }

private:
    UniqueKernelHandle ask_, answered_;
    std::mutex mutex_;
    std::atomic<bool> cancelled_{false};
    Snapshot now_;
    Question question_;
    std::optional<std::wstring> answer_;
    std::wstring report_;
};

struct DialogContext {
    HWND owner;
    Session* session;  // progress window
    std::wstring text;  // password prompt
    std::optional<std::wstring> answer;
    bool joining = false;  // the progress window's words: joining a split file, not extracting
};

INT_PTR CALLBACK ProgressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* context = reinterpret_cast<DialogContext*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SendDlgItemMessageW(dialog, kBar, PBM_SETRANGE32, 0, kBarRange);
        Centre(dialog, reinterpret_cast<DialogContext*>(lParam)->owner);
        return TRUE;
    case WM_CLOSE:  // closing the window means cancel too
    case WM_COMMAND:
        if (context != nullptr && (message == WM_CLOSE || LOWORD(wParam) == IDCANCEL)) {
            context->session->Cancel();
            SetDlgItemTextW(dialog, kSecondLine, L"キャンセルしています…");
            EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
            return TRUE;
        }
        return FALSE;
    default: return FALSE;
    }
}

INT_PTR CALLBACK PasswordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* context = reinterpret_cast<DialogContext*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        context = reinterpret_cast<DialogContext*>(lParam);
        SetDlgItemTextW(dialog, kFirstLine, context->text.c_str());
        Centre(dialog, context->owner);
        SetForegroundWindow(dialog);
        return TRUE;  // the focus goes to the edit box, the first control that takes it
    case WM_COMMAND:
        if (context == nullptr) return FALSE;
        if (LOWORD(wParam) == IDOK) {
            const HWND edit = GetDlgItem(dialog, kPassword);
            std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
            text.resize(static_cast<std::size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
            context->answer = std::move(text);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    default: return FALSE;
    }
}

std::optional<std::wstring> AskPassword(HWND owner, const Session::Question& question) {
    DialogTemplate dialog(L"パスワード - " + DisplayName(question.archive), 220, 74);
    dialog.Add(L"Static", L"", kFirstLine, SS_LEFT | SS_NOPREFIX, 7, 7, 206, 20);
    dialog.Add(L"Edit", L"", kPassword, ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 30, 206, 13);
    dialog.Add(L"Button", L"OK", IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, 107, 53, 50, 14);
    dialog.Add(L"Button", L"キャンセル", IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 163, 53, 50, 14);
    DialogContext context{owner, nullptr, PassphrasePrompt(question.archive, question.wrong), std::nullopt};
    const INT_PTR r = DialogBoxIndirectParamW(ThisModule(), dialog.Get(), owner, PasswordProc,
                                              reinterpret_cast<LPARAM>(&context));
    return r == IDOK ? std::move(context.answer) : std::nullopt;
}

UniqueWindow ShowProgress(DialogContext& context, const std::wstring& archive) {
    DialogTemplate dialog((context.joining ? L"結合中 - " : L"解凍中 - ") + DisplayName(archive), 220, 74);
    dialog.Add(L"Static", (context.joining ? L"ファイル: " : L"書庫: ") + DisplayName(archive), kFirstLine,
               SS_LEFTNOWORDWRAP | SS_NOPREFIX, 7, 7, 206, 9);
    dialog.Add(L"Static", L"", kSecondLine, SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_PATHELLIPSIS, 7, 19, 206, 9);
    dialog.Add(PROGRESS_CLASSW, L"", kBar, 0, 7, 32, 206, 10);
    dialog.Add(L"Button", L"キャンセル", IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 163, 53, 50, 14);
    UniqueWindow window(CreateDialogIndirectParamW(ThisModule(), dialog.Get(), context.owner, ProgressProc,
                                                   reinterpret_cast<LPARAM>(&context)));
    if (window) {
        ShowWindow(window.get(), SW_SHOW);
        if (context.owner == nullptr) SetForegroundWindow(window.get());
    }
    return window;
}

void Refresh(HWND window, const Session::Snapshot& now, std::wstring& shownEntry) {
    if (!IsWindowEnabled(GetDlgItem(window, IDCANCEL))) return;  // cancelling: the text says so
    if (now.entry != shownEntry) {
        shownEntry = now.entry;
        SetDlgItemTextW(window, kSecondLine, now.entry.c_str());
    }
    const std::uint64_t done = now.total == 0 ? 0 : std::min(now.consumed, now.total) * kBarRange / now.total;
    SendDlgItemMessageW(window, kBar, PBM_SETPOS, static_cast<WPARAM>(done), 0);
}

// The owner takes no input while the call runs, as under a modal dialog.
class OwnerDisabled {
public:
    explicit OwnerDisabled(HWND owner)
        : owner_(owner), disabled_(owner != nullptr && IsWindow(owner) && IsWindowEnabled(owner)) {
        if (disabled_) EnableWindow(owner_, FALSE);
    }
    ~OwnerDisabled() { Restore(); }
    OwnerDisabled(const OwnerDisabled&) = delete;
    OwnerDisabled& operator=(const OwnerDisabled&) = delete;
    void Restore() {
        if (disabled_) EnableWindow(owner_, TRUE);
        disabled_ = false;
    }

private:
    HWND owner_;
    bool disabled_;
};

BOOL CALLBACK CollectInputWindow(HWND window, LPARAM list) {
    if (IsWindowVisible(window) && IsWindowEnabled(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

const bool kRecognitionPrompt = [] {
    SetRecognitionQuestion(&win32::AskWhileRecognising);
    return true;
}();

struct Job {
    const std::function<int(UserInterface*)>& work;
    Session* session;
    int code = kErrorCannotOpen;

    static DWORD WINAPI Main(void* self) {
        auto* job = static_cast<Job*>(self);
        // The worker opens the files: no system dialog of its own may come up there either.
        const dexalo::win32::QuietSystemErrors quiet;
        try {
            job->code = job->work(job->session);
        } catch (...) {
            // nothing may unwind into the system's thread start; the code stays "cannot open"
        }
        return 0;
    }
};

} // namespace

std::optional<std::wstring> AskWhileRecognising(const std::wstring& archive, bool wrong) {
    const HWND active = GetActiveWindow();
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), &CollectInputWindow, reinterpret_cast<LPARAM>(&windows));
    std::list<OwnerDisabled> disabled;
    for (HWND window : windows) disabled.emplace_back(window);
    return AskPassword(active != nullptr ? active : windows.empty() ? nullptr : windows.front(), {archive, wrong});
}

int RunWithWindows(Family family, HWND owner, const char* commandLine, char* output, DWORD outputSize) {
    return RunWithWindows(owner, [&](UserInterface* ui) { return Run(family, commandLine, output, outputSize, ui); });
}

int RunWithWindows(HWND owner, const std::function<int(UserInterface* ui)>& work, bool joining) {
    if (owner != nullptr && !IsWindow(owner)) owner = nullptr;
    Session session;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    if (!session.Ready() || !InitCommonControlsEx(&controls)) return work(nullptr);
    Job job{work, &session};
    UniqueKernelHandle worker(CreateThread(nullptr, 0, &Job::Main, &job, 0, nullptr));
    if (!worker) return work(nullptr);  // silently, as without windows

    OwnerDisabled ownerDisabled(owner);
    DialogContext context{owner, &session, {}, std::nullopt, joining};
    UniqueWindow progress;
    std::wstring shownEntry;
    std::optional<WPARAM> quit;
    DWORD started = GetTickCount();
    for (;;) {
        const HANDLE waits[] = {worker.get(), session.AskEvent()};
        const DWORD r = MsgWaitForMultipleObjectsEx(2, waits, kRefreshMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (r == WAIT_OBJECT_0) break;
        if (r == WAIT_OBJECT_0 + 1) {
            session.Answer(AskPassword(progress ? progress.get() : owner, session.Asked()));
            started = GetTickCount();  // the time spent typing is not the extraction's
        } else if (r == WAIT_FAILED) {
            Sleep(kRefreshMs);
        }
        // After every wake, timeouts included: a message that arrived while we were busy
        // (painting, a click) is never left waiting for newer input to wake us.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = msg.wParam;  // for the caller's own loop, once we are done
            } else if (!progress || !IsDialogMessageW(progress.get(), &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        if (!progress && GetTickCount() - started >= kProgressDelayMs) {
            const std::wstring archive = session.Now().archive;  // empty until the first entry
            if (!archive.empty()) progress = ShowProgress(context, archive);
        }
        if (progress) Refresh(progress.get(), session.Now(), shownEntry);
    }
    // The owner first, so that it is activated again when our window goes.
    ownerDisabled.Restore();
    progress.reset();
    const std::wstring report = session.TakeReport();
    if (!report.empty())
        MessageBoxW(owner, report.c_str(), LibraryName().c_str(), MB_ICONERROR | MB_OK | MB_SETFOREGROUND);
    if (quit) PostQuitMessage(static_cast<int>(*quit));
    return job.code;
}

} // namespace dexalo::archivers::win32
