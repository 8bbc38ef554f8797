#pragma once

// The shell: the tray icon record and call, and starting a program by command
// line. On systems other than Windows the tray icon is a QSystemTrayIcon and a
// program is started without a shell (see WinExec).

#include "platform/wintypes.h"

#ifdef _WIN32
#include <shellapi.h>
#else
#include <cstddef>

#pragma pack(push, 4)
// The first, 88-byte ANSI form of the tray icon record.
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
#pragma pack(pop)
static_assert(sizeof(NOTIFYICONDATA) == 88);
static_assert(offsetof(NOTIFYICONDATA, uCallbackMessage) == 16);
static_assert(offsetof(NOTIFYICONDATA, hIcon) == 20);
static_assert(offsetof(NOTIFYICONDATA, szTip) == 24);

inline constexpr DWORD NIM_ADD = 0;
inline constexpr DWORD NIM_MODIFY = 1;
inline constexpr DWORD NIM_DELETE = 2;
inline constexpr UINT NIF_MESSAGE = 1;
inline constexpr UINT NIF_ICON = 2;
inline constexpr UINT NIF_TIP = 4;

inline constexpr UINT WM_MOUSEMOVE = 0x200;
inline constexpr UINT WM_LBUTTONDOWN = 0x201;
inline constexpr UINT WM_LBUTTONDBLCLK = 0x203;
inline constexpr UINT WM_RBUTTONDOWN = 0x204;
inline constexpr UINT WM_RBUTTONUP = 0x205;

inline constexpr UINT SW_HIDE = 0;
inline constexpr UINT SW_SHOWNORMAL = 1;

// Adds, changes or removes the tray icon the record describes (by hWnd and
// uID). Mouse activity on the icon reaches the window hWnd stands for as a
// platform::TrayCallbackEvent carrying uCallbackMessage and the mouse message
// (WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN then WM_RBUTTONUP). Returns FALSE when the
// desktop has no tray; nothing else changes then.
BOOL Shell_NotifyIconA(DWORD dwMessage, NOTIFYICONDATA *lpData);

// Starts a program by command line without waiting for it. The command line
// is split into program and arguments (double quotes group) and the program is
// started directly, never through a shell. "Start.exe ADDRESS" opens the
// address with the desktop's URL opener. Returns a value above 31 when the
// program was started, ERROR_FILE_NOT_FOUND when it could not be.
UINT WinExec(LPCSTR lpCmdLine, UINT uCmdShow);
#endif
