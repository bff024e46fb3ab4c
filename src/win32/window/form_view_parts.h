#pragma once
// What the parts of Form1View share: the control ids and the window's metrics.
#include <windows.h>

#include <optional>

#include "window/controls.h"

namespace dexalo::win32 {

// Posted by a drop: the queued file lists wait for the window's own message loop.
inline constexpr UINT kDropsQueuedMessage = WM_APP + 1;

int CommandId(ControlId id);
std::optional<ControlId> FromCommandId(int commandId);

UINT WindowDpi(HWND window);
void AdjustForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi);
int FontHeight(HFONT font);

} // namespace dexalo::win32
