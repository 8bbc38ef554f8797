#pragma once

// The shell: the tray icon record and call, and starting a program by command
// line. On systems other than Windows the tray icon is a QSystemTrayIcon and a
// program is started without a shell (see WinExec). The system's <shellapi.h>
// is never included with this header: it declares a later, larger record
// under the same name.

#include "platform/wintypes.h"

#include <cstddef>

// The first ANSI form of the tray icon record (88 bytes where handles are 4
// bytes wide; on 64-bit Windows the same fields in the system's 64-bit layout).
RECORD_PACK_BEGIN
struct NOTIFYICONDATA
{
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    char szTip[64];
};
RECORD_PACK_END
static_assert(sizeof(NOTIFYICONDATA) == RECORD_LAYOUT(104, 88));
static_assert(offsetof(NOTIFYICONDATA, uCallbackMessage) == RECORD_LAYOUT(24, 16));
static_assert(offsetof(NOTIFYICONDATA, hIcon) == RECORD_LAYOUT(32, 20));
static_assert(offsetof(NOTIFYICONDATA, szTip) == RECORD_LAYOUT(40, 24));

inline constexpr DWORD NIM_ADD = 0;
inline constexpr DWORD NIM_MODIFY = 1;
inline constexpr DWORD NIM_DELETE = 2;
inline constexpr UINT NIF_MESSAGE = 1;
inline constexpr UINT NIF_ICON = 2;
inline constexpr UINT NIF_TIP = 4;

// Adds, changes or removes the tray icon the record describes (by hWnd and
// uID). Mouse activity on the icon reaches the window hWnd stands for as a
// platform::TrayCallbackEvent carrying uCallbackMessage and the mouse message
// (WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN then WM_RBUTTONUP; on
// Windows every mouse message the shell reports). Elsewhere NIM_ADD and
// NIM_DELETE return FALSE when the desktop has no tray (the icon is kept all
// the same, for a tray that appears later), and NIM_MODIFY, called every
// second, only when the icon was never added; on Windows the shell answers. On Windows the record
// goes to the shell as its first version, whatever cbSize says.
BOOL Shell_NotifyIconA(DWORD dwMessage, NOTIFYICONDATA *lpData);

#ifdef _WIN32
namespace platform {
// WinExec on Windows: "Start.exe ADDRESS" opens the address with the shell's
// own opener (ShellExecuteA), as Windows 95's Start.exe did; any other command
// line goes to the system's WinExec. Neither passes through a command
// interpreter.
UINT winExec(LPCSTR lpCmdLine, UINT uCmdShow);
} // namespace platform
// The program's WinExec is the one above (the way <windows.h> maps names);
// the shell's own source defines VANTELO_SHELL_IMPLEMENTATION to reach the
// system's.
#ifndef VANTELO_SHELL_IMPLEMENTATION
#define WinExec platform::winExec
#endif
#else
// Starts a program by command line without waiting for it. The command line
// is split into program and arguments (double quotes group) and the program is
// started directly, never through a shell. "Start.exe ADDRESS" opens the
// address with the desktop's URL opener. Returns a value above 31 when the
// program was started, ERROR_FILE_NOT_FOUND when it could not be.
UINT WinExec(LPCSTR lpCmdLine, UINT uCmdShow);
#endif
