#pragma once

// The Windows scalar and handle types the program's records and calls are
// written with. On Windows they come from the system headers; elsewhere they
// are defined here with the sizes of the 32-bit system, so every record keeps
// its published layout.

#ifdef _WIN32
#include <windows.h>
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
#endif
