#pragma once

// The Remote Access Service: records, connection states, error codes and calls,
// with their Windows names. On Windows the calls are the system's own
// (rasapi32's ANSI entry points); elsewhere they are served by this system's
// lines (platform/line).
//
// The records are the first (Windows 95 / NT 4) versions with ANSI texts, on
// every system: the caller selects the version by the size it puts into
// dwSize, sizeof the record. The system's <ras.h> is never included: it
// declares only the latest, larger versions under these names.

#include "platform/wintypes.h"

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
// A connection handle is a pointer-wide handle of the service.
DECLARE_HANDLE(HRASCONN);
#else
using HRASCONN = std::uint32_t;
#endif

inline constexpr int RAS_MaxEntryName = 256;
inline constexpr int RAS_MaxDeviceType = 16;
inline constexpr int RAS_MaxDeviceName = 128;
inline constexpr int RAS_MaxPhoneNumber = 128;
inline constexpr int RAS_MaxCallbackNumber = 128;
inline constexpr int UNLEN = 256;
inline constexpr int PWLEN = 256;
inline constexpr int DNLEN = 15;

#pragma pack(push, 4)

struct RASENTRYNAME
{
    DWORD dwSize;
    char szEntryName[RAS_MaxEntryName + 1];
};

struct RASCONN
{
    DWORD dwSize;
    HRASCONN hrasconn;
    char szEntryName[RAS_MaxEntryName + 1];
    char szDeviceType[RAS_MaxDeviceType + 1];
    char szDeviceName[RAS_MaxDeviceName + 1];
};

enum RASCONNSTATE : DWORD {
    RASCS_OpenPort = 0,
    RASCS_PortOpened = 1,
    RASCS_ConnectDevice = 2,
    RASCS_DeviceConnected = 3,
    RASCS_AllDevicesConnected = 4,
    RASCS_Authenticate = 5,
    RASCS_AuthNotify = 6,
    RASCS_AuthRetry = 7,
    RASCS_AuthCallback = 8,
    RASCS_AuthChangePassword = 9,
    RASCS_AuthProject = 10,
    RASCS_AuthLinkSpeed = 11,
    RASCS_AuthAck = 12,
    RASCS_ReAuthenticate = 13,
    RASCS_Authenticated = 14,
    RASCS_PrepareForCallback = 15,
    RASCS_WaitForModemReset = 16,
    RASCS_WaitForCallback = 17,
    RASCS_Projected = 18,
    RASCS_StartAuthentication = 19,
    RASCS_CallbackComplete = 20,
    RASCS_LogonNetwork = 21,
    RASCS_Interactive = 0x1000,
    RASCS_RetryAuthentication = 0x1001,
    RASCS_CallbackSetByCaller = 0x1002,
    RASCS_PasswordExpired = 0x1003,
    RASCS_Connected = 0x2000,
    RASCS_Disconnected = 0x2001,
};

struct RASCONNSTATUS
{
    DWORD dwSize;
    RASCONNSTATE rasconnstate;
    DWORD dwError;
    char szDeviceType[RAS_MaxDeviceType + 1];
    char szDeviceName[RAS_MaxDeviceName + 1];
};

struct RASDIALPARAMS
{
    DWORD dwSize;
    char szEntryName[RAS_MaxEntryName + 1];
    char szPhoneNumber[RAS_MaxPhoneNumber + 1];
    char szCallbackNumber[RAS_MaxCallbackNumber + 1];
    char szUserName[UNLEN + 1];
    char szPassword[PWLEN + 1];
    char szDomain[DNLEN + 1];
};

#pragma pack(pop)

// The published layouts. A handle has the width of a pointer on Windows (8
// bytes on 64-bit Windows, where the record is the same version in the
// system's 64-bit layout) and 4 bytes elsewhere.
inline constexpr std::size_t RasHandleWidth = sizeof(HRASCONN);
static_assert(RasHandleWidth == 4 || RasHandleWidth == 8);
static_assert(sizeof(RASENTRYNAME) == 264);
static_assert(offsetof(RASENTRYNAME, szEntryName) == 4);
static_assert(sizeof(RASCONN) == (RasHandleWidth == 4 ? 412 : 416));
static_assert(offsetof(RASCONN, hrasconn) == 4);
static_assert(offsetof(RASCONN, szEntryName) == 4 + RasHandleWidth);
static_assert(offsetof(RASCONN, szDeviceType) == 261 + RasHandleWidth);
static_assert(offsetof(RASCONN, szDeviceName) == 278 + RasHandleWidth);
static_assert(sizeof(RASCONNSTATUS) == 160);
static_assert(offsetof(RASCONNSTATUS, rasconnstate) == 4);
static_assert(offsetof(RASCONNSTATUS, dwError) == 8);
static_assert(offsetof(RASCONNSTATUS, szDeviceType) == 12);
static_assert(offsetof(RASCONNSTATUS, szDeviceName) == 29);
static_assert(sizeof(RASDIALPARAMS) == 1052);
static_assert(offsetof(RASDIALPARAMS, szEntryName) == 4);
static_assert(offsetof(RASDIALPARAMS, szPhoneNumber) == 261);
static_assert(offsetof(RASDIALPARAMS, szCallbackNumber) == 390);
static_assert(offsetof(RASDIALPARAMS, szUserName) == 519);
static_assert(offsetof(RASDIALPARAMS, szPassword) == 776);
static_assert(offsetof(RASDIALPARAMS, szDomain) == 1033);

// Error codes of the Remote Access Service (raserror.h).
inline constexpr DWORD PENDING = 600;
inline constexpr DWORD ERROR_INVALID_PORT_HANDLE = 601;
inline constexpr DWORD ERROR_PORT_ALREADY_OPEN = 602;
inline constexpr DWORD ERROR_BUFFER_TOO_SMALL = 603;
inline constexpr DWORD ERROR_WRONG_INFO_SPECIFIED = 604;
inline constexpr DWORD ERROR_PORT_NOT_CONNECTED = 606;
inline constexpr DWORD ERROR_DEVICE_DOES_NOT_EXIST = 608;
inline constexpr DWORD ERROR_BUFFER_INVALID = 610;
inline constexpr DWORD ERROR_PORT_NOT_FOUND = 615;
inline constexpr DWORD ERROR_CANNOT_OPEN_PHONEBOOK = 621;
inline constexpr DWORD ERROR_CANNOT_LOAD_PHONEBOOK = 622;
inline constexpr DWORD ERROR_CANNOT_FIND_PHONEBOOK_ENTRY = 623;
inline constexpr DWORD ERROR_CANNOT_WRITE_PHONEBOOK = 624;
inline constexpr DWORD ERROR_PORT_DISCONNECTED = 628;
inline constexpr DWORD ERROR_REMOTE_DISCONNECTION = 629;
inline constexpr DWORD ERROR_HARDWARE_FAILURE = 630;
inline constexpr DWORD ERROR_USER_DISCONNECTION = 631;
inline constexpr DWORD ERROR_INVALID_SIZE = 632;
inline constexpr DWORD ERROR_PORT_NOT_AVAILABLE = 633;
inline constexpr DWORD ERROR_UNKNOWN = 635;
inline constexpr DWORD ERROR_REQUEST_TIMEOUT = 638;
inline constexpr DWORD ERROR_SERVER_NOT_RESPONDING = 650;
inline constexpr DWORD ERROR_NO_CONNECTION = 668;
inline constexpr DWORD ERROR_LINE_BUSY = 676;
inline constexpr DWORD ERROR_VOICE_ANSWER = 677;
inline constexpr DWORD ERROR_NO_ANSWER = 678;
inline constexpr DWORD ERROR_NO_CARRIER = 679;
inline constexpr DWORD ERROR_NO_DIALTONE = 680;
inline constexpr DWORD ERROR_NO_DIALIN_PERMISSION = 649;
inline constexpr DWORD ERROR_FROM_DEVICE = 651;
inline constexpr DWORD ERROR_UNRECOGNIZED_RESPONSE = 652;
inline constexpr DWORD ERROR_UNKNOWN_DEVICE_TYPE = 663;
inline constexpr DWORD ERROR_PORT_NOT_CONFIGURED = 665;
inline constexpr DWORD ERROR_DEVICE_NOT_READY = 666;
inline constexpr DWORD ERROR_READING_INI_FILE = 667;
inline constexpr DWORD ERROR_AUTHENTICATION_FAILURE = 691;
inline constexpr DWORD ERROR_RASMAN_CANNOT_INITIALIZE = 711;
inline constexpr DWORD ERROR_PPP_TIMEOUT = 718;
inline constexpr DWORD ERROR_PPP_NO_PROTOCOLS_CONFIGURED = 720;
inline constexpr DWORD ERROR_PPP_LCP_TERMINATED = 734;

// RasDialA notifier type: the notifier is a window handle.
inline constexpr DWORD RASDIAL_NOTIFIER_HWND = 0xFFFFFFFF;

namespace platform {

// A connection handle as a signed number as wide as a pointer, for the
// program's "this connection or -1 for all" arguments: on a system with 4-byte
// handles it is the handle read as a signed 32-bit number, so the 32-bit
// number a caller kept names the same connection; a 64-bit handle is kept
// whole.
using ConnectionId = std::intptr_t;
inline ConnectionId connectionId(HRASCONN connection)
{
#ifdef _WIN32
    return reinterpret_cast<ConnectionId>(connection);
#else
    return static_cast<std::int32_t>(connection);
#endif
}

// The window handle as RasDialA takes it for RASDIAL_NOTIFIER_HWND.
inline void *dialNotifier(HWND window)
{
#ifdef _WIN32
    return window;
#else
    return reinterpret_cast<void *>(static_cast<std::uintptr_t>(window));
#endif
}

} // namespace platform

#if defined(_WIN32) && defined(VANTELO_RAS_SERVICE)
// Built into a DLL that serves these calls itself (the tests' line under wine).
#define VANTELO_RASAPI extern "C" __declspec(dllexport) DWORD WINAPI
#elif defined(_WIN32)
#define VANTELO_RASAPI extern "C" __declspec(dllimport) DWORD WINAPI
#else
#define VANTELO_RASAPI DWORD
#endif

VANTELO_RASAPI RasEnumEntriesA(LPCSTR reserved, LPCSTR lpszPhonebook, RASENTRYNAME *lprasentryname,
                               DWORD *lpcb, DWORD *lpcEntries);
VANTELO_RASAPI RasEnumConnectionsA(RASCONN *lprasconn, DWORD *lpcb, DWORD *lpcConnections);
VANTELO_RASAPI RasGetConnectStatusA(HRASCONN hrasconn, RASCONNSTATUS *lprasconnstatus);
VANTELO_RASAPI RasGetErrorStringA(UINT uErrorValue, LPSTR lpszErrorString, DWORD cBufSize);
VANTELO_RASAPI RasGetEntryDialParamsA(LPCSTR lpszPhonebook, RASDIALPARAMS *lprasdialparams,
                                      BOOL *lpfPassword);
VANTELO_RASAPI RasSetEntryDialParamsA(LPCSTR lpszPhonebook, RASDIALPARAMS *lprasdialparams,
                                      BOOL fRemovePassword);
VANTELO_RASAPI RasDialA(void *lpRasDialExtensions, LPCSTR lpszPhonebook,
                        RASDIALPARAMS *lprasdialparams, DWORD dwNotifierType, void *lpvNotifier,
                        HRASCONN *lphRasConn);
VANTELO_RASAPI RasHangUpA(HRASCONN hrasconn);

#undef VANTELO_RASAPI
