// A test line for the Windows program under wine: a rasapi32.dll of our own,
// put beside vantelo.exe and chosen over wine's (WINEDLLOVERRIDES=rasapi32=n),
// whose Remote Access Service answers as the simulated line's sample far end
// does: one phonebook entry, "Vantelo Demo", which accepts the login demo with
// the password demo and answers at 28 800 bit/s. wine's own rasapi32 has no
// entries and fails every dial, so without this no call could be followed.
//
// The line lives in the process that loaded the DLL: a dial made by one
// program is not seen by another. A dial goes through the service's states,
// one a status query, and ends connected, or disconnected with error 691
// (another login or password); the program learns them by asking, as it does
// from the system's service. The connection's statistics grow with each query.
//
// Only the calls the program and the line tool make are here, in the records'
// first versions (platform/ras.h), the sizes the callers give checked as the
// service checks them.

#define VANTELO_RAS_SERVICE
#include "platform/ras.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr char EntryName[] = "Vantelo Demo";
constexpr char DeviceType[] = "modem";
constexpr char DeviceName[] = "Vantelo Test Modem";
constexpr DWORD Speed = 28800;

// The states a dial reports on its way, one per status query.
constexpr RASCONNSTATE Steps[] = {RASCS_OpenPort,        RASCS_PortOpened,   RASCS_ConnectDevice,
                                  RASCS_DeviceConnected, RASCS_Authenticate, RASCS_Authenticated};
constexpr int StepCount = sizeof(Steps) / sizeof(Steps[0]);

// The connection's statistics as the service keeps them (RAS_STATS of the
// system's <ras.h>, which cannot be included beside the first versions).
struct RAS_STATS
{
    DWORD dwSize;
    DWORD dwBytesXmited;
    DWORD dwBytesRcved;
    DWORD dwFramesXmited;
    DWORD dwFramesRcved;
    DWORD dwCrcErr;
    DWORD dwTimeoutErr;
    DWORD dwAlignmentErr;
    DWORD dwHardwareOverrunErr;
    DWORD dwFramingErr;
    DWORD dwBufferOverrunErr;
    DWORD dwCompressionRatioIn;
    DWORD dwCompressionRatioOut;
    DWORD dwBps;
    DWORD dwConnectDuration;
};
static_assert(sizeof(RAS_STATS) == 60);

struct Line
{
    bool open = false;     // a connection exists (dialing, connected or failed)
    bool accepted = false; // the far end took the login
    int step = 0;          // status queries answered so far
    DWORD bytes = 0;
};

Line line;
CRITICAL_SECTION guard;

// The one connection's handle: any value the program keeps as it is given.
HRASCONN handleOfLine()
{
    return reinterpret_cast<HRASCONN>(static_cast<std::uintptr_t>(0x5A1));
}

struct Lock
{
    Lock() { EnterCriticalSection(&guard); }
    ~Lock() { LeaveCriticalSection(&guard); }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;
};

void copyText(char *to, std::size_t room, const char *text)
{
    std::strncpy(to, text, room - 1);
    to[room - 1] = '\0';
}

bool connected(const Line &l)
{
    return l.open && l.accepted && l.step >= StepCount;
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        InitializeCriticalSection(&guard);
    else if (reason == DLL_PROCESS_DETACH)
        DeleteCriticalSection(&guard);
    return TRUE;
}

DWORD WINAPI RasEnumEntriesA(LPCSTR, LPCSTR, RASENTRYNAME *entries, DWORD *bytes, DWORD *count)
{
    if (!bytes || !count)
        return ERROR_INVALID_PARAMETER;
    if (entries && entries->dwSize != sizeof(RASENTRYNAME))
        return ERROR_INVALID_SIZE;
    *count = 0;
    if (!entries || *bytes < sizeof(RASENTRYNAME)) {
        *bytes = sizeof(RASENTRYNAME);
        return ERROR_BUFFER_TOO_SMALL;
    }
    *bytes = sizeof(RASENTRYNAME);
    copyText(entries->szEntryName, sizeof entries->szEntryName, EntryName);
    *count = 1;
    return ERROR_SUCCESS;
}

DWORD WINAPI RasGetEntryDialParamsA(LPCSTR, RASDIALPARAMS *params, BOOL *passwordStored)
{
    if (!params || !passwordStored)
        return ERROR_INVALID_PARAMETER;
    if (params->dwSize != sizeof(RASDIALPARAMS))
        return ERROR_INVALID_SIZE;
    if (std::strcmp(params->szEntryName, EntryName) != 0)
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    params->szPhoneNumber[0] = '\0';
    params->szCallbackNumber[0] = '\0';
    params->szUserName[0] = '\0';
    params->szPassword[0] = '\0';
    params->szDomain[0] = '\0';
    *passwordStored = FALSE;
    return ERROR_SUCCESS;
}

DWORD WINAPI RasSetEntryDialParamsA(LPCSTR, RASDIALPARAMS *params, BOOL)
{
    if (!params)
        return ERROR_INVALID_PARAMETER;
    if (params->dwSize != sizeof(RASDIALPARAMS))
        return ERROR_INVALID_SIZE;
    return std::strcmp(params->szEntryName, EntryName) == 0 ? ERROR_SUCCESS
                                                            : ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
}

DWORD WINAPI RasDialA(void *, LPCSTR, RASDIALPARAMS *params, DWORD, void *, HRASCONN *connection)
{
    if (!params || !connection)
        return ERROR_INVALID_PARAMETER;
    if (params->dwSize != sizeof(RASDIALPARAMS))
        return ERROR_INVALID_SIZE;
    if (std::strcmp(params->szEntryName, EntryName) != 0)
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    const Lock lock;
    if (line.open)
        return ERROR_PORT_NOT_AVAILABLE;
    line = Line{};
    line.open = true;
    line.accepted = std::strcmp(params->szUserName, "demo") == 0 &&
                    std::strcmp(params->szPassword, "demo") == 0;
    *connection = handleOfLine();
    return ERROR_SUCCESS;
}

DWORD WINAPI RasEnumConnectionsA(RASCONN *conns, DWORD *bytes, DWORD *count)
{
    if (!conns || !bytes || !count)
        return ERROR_INVALID_PARAMETER;
    if (conns->dwSize != sizeof(RASCONN))
        return ERROR_INVALID_SIZE;
    const Lock lock;
    *count = 0;
    if (!line.open) {
        *bytes = 0;
        return ERROR_SUCCESS;
    }
    if (*bytes < sizeof(RASCONN)) {
        *bytes = sizeof(RASCONN);
        return ERROR_BUFFER_TOO_SMALL;
    }
    *bytes = sizeof(RASCONN);
    conns->hrasconn = handleOfLine();
    copyText(conns->szEntryName, sizeof conns->szEntryName, EntryName);
    copyText(conns->szDeviceType, sizeof conns->szDeviceType, DeviceType);
    copyText(conns->szDeviceName, sizeof conns->szDeviceName, DeviceName);
    *count = 1;
    return ERROR_SUCCESS;
}

DWORD WINAPI RasGetConnectStatusA(HRASCONN connection, RASCONNSTATUS *status)
{
    if (!status)
        return ERROR_INVALID_PARAMETER;
    if (status->dwSize != sizeof(RASCONNSTATUS))
        return ERROR_INVALID_SIZE;
    const Lock lock;
    if (!line.open || connection != handleOfLine())
        return ERROR_INVALID_HANDLE;
    status->dwError = 0;
    if (line.step < StepCount) {
        status->rasconnstate = Steps[line.step++];
    } else if (line.accepted) {
        status->rasconnstate = RASCS_Connected;
    } else {
        status->rasconnstate = RASCS_Disconnected;
        status->dwError = ERROR_AUTHENTICATION_FAILURE;
    }
    copyText(status->szDeviceType, sizeof status->szDeviceType, DeviceType);
    copyText(status->szDeviceName, sizeof status->szDeviceName, DeviceName);
    return ERROR_SUCCESS;
}

DWORD WINAPI RasHangUpA(HRASCONN connection)
{
    const Lock lock;
    if (!line.open || connection != handleOfLine())
        return ERROR_INVALID_HANDLE;
    line = Line{};
    return ERROR_SUCCESS;
}

DWORD WINAPI RasGetErrorStringA(UINT code, LPSTR text, DWORD room)
{
    if (!text || room == 0)
        return ERROR_INVALID_PARAMETER;
    const char *message = nullptr;
    switch (code) {
    case ERROR_AUTHENTICATION_FAILURE:
        message = "Access was denied because the username and/or password was invalid on the "
                  "domain.";
        break;
    case ERROR_CANNOT_FIND_PHONEBOOK_ENTRY:
        message = "The system could not find the phone book entry for this connection.";
        break;
    case ERROR_PORT_NOT_AVAILABLE:
        message = "The port is already in use or is not configured for Remote Access dialout.";
        break;
    default:
        return ERROR_INVALID_PARAMETER;
    }
    if (std::strlen(message) >= room)
        return ERROR_INSUFFICIENT_BUFFER;
    std::strcpy(text, message);
    return ERROR_SUCCESS;
}

__declspec(dllexport) DWORD WINAPI RasGetConnectionStatistics(HRASCONN connection, RAS_STATS *stats)
{
    if (!stats)
        return ERROR_INVALID_PARAMETER;
    if (stats->dwSize != sizeof(RAS_STATS))
        return ERROR_INVALID_SIZE;
    const Lock lock;
    if (!line.open || connection != handleOfLine())
        return ERROR_INVALID_HANDLE;
    const DWORD size = stats->dwSize;
    std::memset(stats, 0, sizeof(RAS_STATS));
    stats->dwSize = size;
    if (connected(line)) {
        line.bytes += 1024;
        stats->dwBytesXmited = line.bytes / 4;
        stats->dwBytesRcved = line.bytes;
        stats->dwBps = Speed;
    }
    return ERROR_SUCCESS;
}

} // extern "C"
