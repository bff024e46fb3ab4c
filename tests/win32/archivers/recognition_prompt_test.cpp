// The password prompt raised while the program recognises an archive whose names are
// encrypted: the program's thread hands us no window, so the prompt keeps that thread's
// windows from taking input while it is up, as a task-modal message box does.
#include <windows.h>

#include <gtest/gtest.h>

#include "engine/pipeline/passwords.h"
#include "win32/windowed_run.h"

namespace dexalo::archivers {
namespace {

HWND gProgram = nullptr;
bool gProgramTookInput = true;
std::wstring gTitle;

// Runs inside the prompt's own message loop: looks, then answers キャンセル.
void CALLBACK LookAndCancel(HWND, UINT, UINT_PTR timer, DWORD) {
    const HWND prompt = FindWindowW(L"#32770", nullptr);
    if (prompt == nullptr) return;
    KillTimer(nullptr, timer);
    gProgramTookInput = IsWindowEnabled(gProgram) != FALSE;
    wchar_t title[64] = {};
    GetWindowTextW(prompt, title, 64);
    gTitle = title;
    PostMessageW(prompt, WM_COMMAND, IDCANCEL, 0);
}

TEST(RecognitionPrompt, KeepsTheProgramsWindowsFromInputWhileItIsUp) {
    auto* volatile linked = &win32::AskWhileRecognising;  // links the windows, which register it
    (void)linked;
    gProgram = CreateWindowW(L"STATIC", L"program", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(gProgram, nullptr);
    ASSERT_TRUE(CurrentRecognitionQuestion());
    ASSERT_NE(SetTimer(nullptr, 0, 100, &LookAndCancel), 0u);
    EXPECT_EQ(CurrentRecognitionQuestion()(L"C:\\a\\h.7z", false), std::nullopt);
    EXPECT_EQ(gTitle, L"パスワード - h.7z");
    EXPECT_FALSE(gProgramTookInput);
    EXPECT_TRUE(IsWindowEnabled(gProgram));  // given back afterwards
    DestroyWindow(gProgram);
}

} // namespace
} // namespace dexalo::archivers
