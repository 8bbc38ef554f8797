#pragma once

// Registry reads of the dynamic statistics (HKEY_DYN_DATA). On systems other
// than Windows the simulated line publishes the dial-up adapter's values
// under "PerfStats\StatData" while the modems of one of its calls are linked
// (from RASCS_DeviceConnected, through the logon, until the call ends).

#include "platform/wintypes.h"

#ifndef _WIN32
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006u;
inline constexpr DWORD KEY_QUERY_VALUE = 0x0001;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, DWORD samDesired, HKEY *phkResult);
LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, DWORD *lpReserved, DWORD *lpType, BYTE *lpData,
                      DWORD *lpcbData);
LONG RegCloseKey(HKEY hKey);
#endif
