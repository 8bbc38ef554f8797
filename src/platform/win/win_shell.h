#pragma once

// The tray icons the program's Shell_NotifyIconA put into the shell, as far as
// their callback messages go: which message to a window is the shell telling
// of mouse activity on one of them. Qt-free; user-interface thread only.

#include "platform/wintypes.h"

namespace platform::tray {

// The mouse message (WM_MOUSEMOVE .. WM_MBUTTONDBLCLK) that the message
// `message` with `wParam` and `lParam`, sent to `window`, reports on a tray
// icon of that window, or 0 when it is no such report. The shell sends an
// icon's first-form callback as its uCallbackMessage with its uID in wParam
// and the mouse message in lParam. Since the program's callback message is
// WM_MOUSEMOVE, a real mouse move whose wParam and coordinates looked exactly
// like that would be taken for one; the window is hidden while it matters.
UINT callbackMouseMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The callback message of the icon (window, id), 0 when it has none.
UINT callbackMessage(HWND window, UINT id);

} // namespace platform::tray
