#pragma once

// The Windows scalar and handle types and constants the program's records and
// calls are written with. On Windows they come from the system headers;
// elsewhere they are defined here with the sizes and values of the 32-bit
// system, so every record keeps its published layout.
//
// On Windows only the core of <windows.h> is taken: the shell's, the sound's
// and the file dialog's headers declare later, larger versions of the records
// the platform headers declare in their first versions, under the same names.

// The records of the first versions keep 4-byte packing wherever pointers
// and handles are 4 bytes wide; on 64-bit Windows they take the system's
// 64-bit layout. Their layouts are pinned with RECORD_LAYOUT(on64, on32): the
// offset or size on 64-bit Windows, and on 32-bit Windows and every other
// system.
#ifdef _WIN64
#define RECORD_PACK_BEGIN
#define RECORD_PACK_END
#define RECORD_LAYOUT(on64, on32) (on64)
#else
#define RECORD_PACK_BEGIN _Pragma("pack(push, 4)")
#define RECORD_PACK_END _Pragma("pack(pop)")
#define RECORD_LAYOUT(on64, on32) (on32)
#endif

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#if defined(_INC_SHELLAPI) || defined(_INC_COMMDLG) || defined(_RAS_H_)
// Their records would clash with the first versions declared here.
#error "platform headers come before a full <windows.h>, <shellapi.h>, <commdlg.h> and <ras.h>"
#endif
#else
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using BOOL = std::int32_t;
using LPCSTR = const char *;
using LPSTR = char *;
using LPARAM = LONG;

// Handles are 32-bit numbers, as in the 32-bit system. A handle that stands for
// an object of this process (a window, an icon, a buffer in a record) is
// resolved through the platform's handle tables.
using HWND = std::uint32_t;
using HICON = std::uint32_t;
using HINSTANCE = std::uint32_t;
using HKEY = std::uint32_t;

inline constexpr BOOL FALSE = 0;
inline constexpr BOOL TRUE = 1;

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_MORE_DATA = 234;

// The mouse messages the tray icon reports, and the ways a program is shown.
inline constexpr UINT WM_MOUSEMOVE = 0x200;
inline constexpr UINT WM_LBUTTONDOWN = 0x201;
inline constexpr UINT WM_LBUTTONDBLCLK = 0x203;
inline constexpr UINT WM_RBUTTONDOWN = 0x204;
inline constexpr UINT WM_RBUTTONUP = 0x205;

inline constexpr UINT SW_HIDE = 0;
inline constexpr UINT SW_SHOWNORMAL = 1;
#endif
