#pragma once
// The main operation with the library's own windows: extraction on a worker thread while
// the calling thread keeps its windows alive, a progress window with キャンセル after about
// half a second, a password prompt for encrypted entries, and one error message at the end.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "engine/pipeline/family.h"
#include "engine/pipeline/user_interface.h"

namespace dexalo::archivers::win32 {

// `owner` (may be NULL) owns our windows and is disabled while the call runs, as under a
// modal dialog; our windows are centred on it, or on the screen without one.
int RunWithWindows(Family family, HWND owner, const char* commandLine, char* output, DWORD outputSize);

// The same for any work that talks to the user through `ui` and returns a result code; the
// progress window says "結合中" (joining) rather than "解凍中" when `joining`.
int RunWithWindows(HWND owner, const std::function<int(UserInterface* ui)>& work, bool joining = false);

// The password prompt for an archive whose names are encrypted, asked while the program
// recognises it, on the program's own thread: that thread's windows take no input while it
// is up, as under a task-modal message box. Loading this library makes it the engine's
// recognition question (SetRecognitionQuestion).
std::optional<std::wstring> AskWhileRecognising(const std::wstring& archive, bool wrong);

} // namespace dexalo::archivers::win32
