#pragma once

// Registry reads of the dynamic statistics (HKEY_DYN_DATA). On systems other
// than Windows the line of the first active call publishes the dial-up
// adapter's values under "PerfStats\StatData": the simulated line while the
// modems of one of its calls are linked (from RASCS_DeviceConnected, through
// the logon, until the call ends), a modem call from the modem's CONNECT
// until the call ends, with the byte counters of its network interface.
//
// On Windows the program's RegOpenKeyExA, RegQueryValueExA and RegCloseKey go
// through the platform's statistics reading below (the way <windows.h> itself
// maps a call's name to another): Windows 95/98/Me publish the statistics in
// the registry, and there the reading is the registry's own. Windows NT and
// its successors have no HKEY_DYN_DATA "PerfStats\StatData"; there the same
// key opens on the service's statistics of the first active connection, whose
// values "Dial-Up Adapter\ConnectSpeed", "...\BytesXmit" and "...\BytesRecvd"
// read as four little-endian bytes of REG_BINARY, like the registry's.

#include "platform/wintypes.h"

#ifdef _WIN32
namespace platform {

// RegOpenKeyExA, except that HKEY_DYN_DATA "PerfStats\StatData" (any letter
// case) opens even where the registry lacks it: the key returned then stands
// for the service's statistics. Other keys are the registry's.
LONG statsRegOpenKeyEx(HKEY root, LPCSTR subKey, DWORD options, REGSAM samDesired, HKEY *result);
// RegQueryValueExA; on the service's statistics key, the three values above
// (the figures of the first active connection; ERROR_FILE_NOT_FOUND when no
// connection is active or the service gives no figures, and for other names).
LONG statsRegQueryValueEx(HKEY key, LPCSTR valueName, DWORD *reserved, DWORD *type, BYTE *data,
                          DWORD *size);
// RegCloseKey; closing the service's statistics key succeeds and frees nothing.
LONG statsRegCloseKey(HKEY key);

} // namespace platform

// The statistics reading's own source defines VANTELO_REGISTRY_IMPLEMENTATION
// before including this header, to reach the system's calls.
#ifndef VANTELO_REGISTRY_IMPLEMENTATION
#define RegOpenKeyExA platform::statsRegOpenKeyEx
#define RegQueryValueExA platform::statsRegQueryValueEx
#define RegCloseKey platform::statsRegCloseKey
#endif
#else
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006u;
inline constexpr DWORD KEY_QUERY_VALUE = 0x0001;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, DWORD samDesired, HKEY *phkResult);
LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, DWORD *lpReserved, DWORD *lpType, BYTE *lpData,
                      DWORD *lpcbData);
LONG RegCloseKey(HKEY hKey);

#include <QByteArray>
#include <QString>

namespace platform::statistics {

// In-process only, for tests of the statistics readers: override what the
// lines publish under HKEY_DYN_DATA "PerfStats\StatData". A value set here is
// returned as these bytes (REG_BINARY) whatever the line's state; a removed
// one is absent; without the key, opening "PerfStats\StatData" fails.
void setStatisticsValue(const QString &valueName, const QByteArray &bytes);
void removeStatisticsValue(const QString &valueName);
void setStatisticsKeyPresent(bool present);
void clearStatisticsOverrides();

} // namespace platform::statistics
#endif
