// A test line for the Windows program under wine: a rasapi32.dll of our own,
// put beside vantelo.exe and chosen over wine's (WINEDLLOVERRIDES=rasapi32=n),
// whose Remote Access Service answers as the simulated line does on Linux.
// wine's own rasapi32 has no entries and fails every dial, so without this no
// call could be followed.
//
// The entries are the sections of the user's phonebook where Windows keeps it,
// %APPDATA%\Microsoft\Network\Connections\Pbk\rasphone.pbk, read with the
// system's private-profile calls; each far end behaves by the simulated
// line's keys and defaults: SimUser and SimPassword (the account it accepts;
// any when SimUser is empty), SimSpeed, SimOutcome (connect, busy, noanswer,
// nodialtone, nocarrier), SimStageMs and SimDropAfterSec. Without that file
// there is one entry, "Vantelo Demo", which accepts demo with the password
// demo. A call goes through the same stages, one stage time each, and ends
// with the same errors: the outcome's at the modems' link, 691 at the logon,
// 679 when the line drops.
//
// The line lives in the process that loaded the DLL: a dial made by one
// program is not seen by another. Only the calls the program and the line tool
// make are here, with the records' first versions (platform/ras.h), the sizes
// the callers give checked as the service checks them.

#define VANTELO_RAS_SERVICE
#include "platform/ras.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

namespace {

constexpr char DemoEntry[] = "Vantelo Demo";
constexpr char DeviceType[] = "modem";
constexpr char DeviceName[] = "Vantelo Test Modem";

// The stages a call goes through before it is connected, one stage time each.
constexpr RASCONNSTATE Stages[] = {RASCS_OpenPort,        RASCS_PortOpened,   RASCS_ConnectDevice,
                                   RASCS_DeviceConnected, RASCS_Authenticate, RASCS_Authenticated};
constexpr ULONGLONG StageCount = sizeof(Stages) / sizeof(Stages[0]);
constexpr ULONGLONG LinkedAfterStages = 3;
constexpr ULONGLONG LogonEndsAfterStages = 5;

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

// How an entry's far end behaves.
struct FarEnd
{
    std::string name;
    std::string user;
    std::string password;
    DWORD speed = 28800;
    DWORD outcomeError = 0; // the error the modems' link ends with; 0: it links
    ULONGLONG stageMs = 400;
    ULONGLONG dropAfterMs = 0; // 0: never
};

struct Line
{
    bool open = false; // a connection exists (dialing, connected or ended)
    FarEnd farEnd;
    bool accepted = false;
    ULONGLONG dialedAt = 0;
};

Line line;
CRITICAL_SECTION guard;

struct Lock
{
    Lock() { EnterCriticalSection(&guard); }
    ~Lock() { LeaveCriticalSection(&guard); }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;
};

// The one connection's handle: any value the program keeps as it is given.
HRASCONN handleOfLine()
{
    return reinterpret_cast<HRASCONN>(static_cast<std::uintptr_t>(0x5A1));
}

void copyText(char *to, std::size_t room, const std::string &text)
{
    const std::size_t n = text.size() < room - 1 ? text.size() : room - 1;
    std::memcpy(to, text.data(), n);
    to[n] = '\0';
}

// A record the caller hands in must be there and of the size it claims.
template <typename Record> bool sized(const Record *record)
{
    return record && record->dwSize == sizeof(Record);
}

std::string phonebookPath()
{
    char appData[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("APPDATA", appData, sizeof appData);
    if (n == 0 || n >= sizeof appData)
        return std::string();
    return std::string(appData) + "\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";
}

bool phonebookExists(const std::string &path)
{
    return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> entryNames()
{
    const std::string path = phonebookPath();
    if (!phonebookExists(path))
        return {DemoEntry};
    std::vector<char> names(32768);
    const DWORD n = GetPrivateProfileSectionNamesA(names.data(), static_cast<DWORD>(names.size()),
                                                   path.c_str());
    std::vector<std::string> entries;
    for (const char *name = names.data(); name < names.data() + n && *name;
         name += std::strlen(name) + 1)
        entries.emplace_back(name);
    return entries;
}

std::string value(const std::string &path, const std::string &entry, const char *key)
{
    char text[512];
    GetPrivateProfileStringA(entry.c_str(), key, "", text, sizeof text, path.c_str());
    return text;
}

ULONGLONG number(const std::string &path, const std::string &entry, const char *key,
                 ULONGLONG fallback, ULONGLONG highest)
{
    const std::string text = value(path, entry, key);
    char *end = nullptr;
    const unsigned long long n = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || n > highest)
        return fallback;
    return n;
}

DWORD outcomeError(const std::string &name)
{
    static const struct
    {
        const char *name;
        DWORD error;
    } outcomes[] = {{"busy", ERROR_LINE_BUSY},
                    {"noanswer", ERROR_NO_ANSWER},
                    {"nodialtone", ERROR_NO_DIALTONE},
                    {"nocarrier", ERROR_NO_CARRIER}};
    for (const auto &o : outcomes)
        if (strcasecmp(name.c_str(), o.name) == 0)
            return o.error;
    return 0;
}

// The far end of ENTRY, or false when the phonebook has no such entry.
bool farEndOf(const char *entry, FarEnd &farEnd)
{
    const std::string path = phonebookPath();
    farEnd = FarEnd{};
    farEnd.name = entry;
    if (!phonebookExists(path)) {
        farEnd.user = "demo";
        farEnd.password = "demo";
        return std::strcmp(entry, DemoEntry) == 0;
    }
    bool found = false;
    for (const std::string &name : entryNames())
        found = found || name == entry;
    if (!found)
        return false;
    farEnd.user = value(path, entry, "SimUser");
    farEnd.password = value(path, entry, "SimPassword");
    farEnd.speed = static_cast<DWORD>(number(path, entry, "SimSpeed", 28800, 0x7fffffff));
    farEnd.outcomeError = outcomeError(value(path, entry, "SimOutcome"));
    farEnd.stageMs = number(path, entry, "SimStageMs", 400, 24 * 3600 * 1000);
    farEnd.dropAfterMs = number(path, entry, "SimDropAfterSec", 0, 366 * 24 * 3600) * 1000;
    return true;
}

bool accepted(const FarEnd &farEnd, const char *user, const char *password)
{
    return farEnd.user.empty() ||
           (strcasecmp(user, farEnd.user.c_str()) == 0 && farEnd.password == password);
}

struct Status
{
    RASCONNSTATE state;
    DWORD error;
    ULONGLONG linkedMs; // how long the modems have been linked, 0 before
};

Status statusOf(const Line &l)
{
    const ULONGLONG elapsed = GetTickCount64() - l.dialedAt;
    const ULONGLONG stage = l.farEnd.stageMs;
    const ULONGLONG linkedAt = LinkedAfterStages * stage;
    const ULONGLONG linked = elapsed >= linkedAt ? elapsed - linkedAt : 0;
    if (l.farEnd.outcomeError != 0 && elapsed >= linkedAt)
        return {RASCS_Disconnected, l.farEnd.outcomeError, 0};
    if (!l.accepted && elapsed >= LogonEndsAfterStages * stage)
        return {RASCS_Disconnected, ERROR_AUTHENTICATION_FAILURE, 0};
    const ULONGLONG connectedAt = StageCount * stage;
    if (elapsed >= connectedAt) {
        if (l.farEnd.dropAfterMs > 0 && elapsed >= connectedAt + l.farEnd.dropAfterMs)
            return {RASCS_Disconnected, ERROR_NO_CARRIER, 0};
        return {RASCS_Connected, 0, linked};
    }
    const ULONGLONG index = stage == 0 ? 0 : elapsed / stage;
    return {Stages[index < StageCount ? index : StageCount - 1], 0, linked};
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
    if (entries && !sized(entries))
        return ERROR_INVALID_SIZE;
    const std::vector<std::string> names = entryNames();
    const DWORD needed = static_cast<DWORD>(names.size() * sizeof(RASENTRYNAME));
    *count = 0;
    if (!entries || *bytes < needed) {
        *bytes = needed;
        return ERROR_BUFFER_TOO_SMALL;
    }
    *bytes = needed;
    for (const std::string &name : names) {
        entries[*count].dwSize = sizeof(RASENTRYNAME);
        copyText(entries[*count].szEntryName, sizeof entries->szEntryName, name);
        ++*count;
    }
    return ERROR_SUCCESS;
}

DWORD WINAPI RasGetEntryDialParamsA(LPCSTR, RASDIALPARAMS *params, BOOL *passwordStored)
{
    if (!sized(params) || !passwordStored)
        return params && passwordStored ? ERROR_INVALID_SIZE : ERROR_INVALID_PARAMETER;
    FarEnd farEnd;
    if (!farEndOf(params->szEntryName, farEnd))
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
    if (!sized(params))
        return params ? ERROR_INVALID_SIZE : ERROR_INVALID_PARAMETER;
    FarEnd farEnd;
    return farEndOf(params->szEntryName, farEnd) ? ERROR_SUCCESS
                                                 : ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
}

DWORD WINAPI RasDialA(void *, LPCSTR, RASDIALPARAMS *params, DWORD, void *, HRASCONN *connection)
{
    if (!sized(params) || !connection)
        return params && connection ? ERROR_INVALID_SIZE : ERROR_INVALID_PARAMETER;
    FarEnd farEnd;
    if (!farEndOf(params->szEntryName, farEnd))
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    const Lock lock;
    if (line.open)
        return ERROR_PORT_NOT_AVAILABLE;
    line = Line{};
    line.open = true;
    line.accepted = accepted(farEnd, params->szUserName, params->szPassword);
    line.farEnd = farEnd;
    line.dialedAt = GetTickCount64();
    *connection = handleOfLine();
    return ERROR_SUCCESS;
}

// The connections' records come in the size the caller gives, as the
// service takes each version of them: the first version's fields start every
// later one (the statistics path asks with mingw's, Windows XP's, record).
DWORD WINAPI RasEnumConnectionsA(RASCONN *conns, DWORD *bytes, DWORD *count)
{
    if (!conns || !bytes || !count)
        return ERROR_INVALID_PARAMETER;
    const DWORD size = conns->dwSize;
    if (size < sizeof(RASCONN) || size > 4096)
        return ERROR_INVALID_SIZE;
    const Lock lock;
    *count = 0;
    if (!line.open) {
        *bytes = 0;
        return ERROR_SUCCESS;
    }
    if (*bytes < size) {
        *bytes = size;
        return ERROR_BUFFER_TOO_SMALL;
    }
    *bytes = size;
    std::memset(conns, 0, size);
    conns->dwSize = size;
    conns->hrasconn = handleOfLine();
    copyText(conns->szEntryName, sizeof conns->szEntryName, line.farEnd.name);
    copyText(conns->szDeviceType, sizeof conns->szDeviceType, DeviceType);
    copyText(conns->szDeviceName, sizeof conns->szDeviceName, DeviceName);
    *count = 1;
    return ERROR_SUCCESS;
}

DWORD WINAPI RasGetConnectStatusA(HRASCONN connection, RASCONNSTATUS *status)
{
    if (!sized(status))
        return status ? ERROR_INVALID_SIZE : ERROR_INVALID_PARAMETER;
    const Lock lock;
    if (!line.open || connection != handleOfLine())
        return ERROR_INVALID_HANDLE;
    const Status now = statusOf(line);
    status->rasconnstate = now.state;
    status->dwError = now.error;
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
    static const struct
    {
        DWORD code;
        const char *text;
    } messages[] = {
        {ERROR_CANNOT_FIND_PHONEBOOK_ENTRY,
         "The system could not find the phone book entry for this connection."},
        {ERROR_PORT_NOT_AVAILABLE,
         "The port is already in use or is not configured for Remote Access dialout."},
        {ERROR_LINE_BUSY, "The phone number you are trying to reach is busy."},
        {ERROR_NO_ANSWER, "The remote computer did not respond."},
        {ERROR_NO_CARRIER, "The modem did not connect."},
        {ERROR_NO_DIALTONE, "There is no dial tone."},
        {ERROR_AUTHENTICATION_FAILURE,
         "Access was denied because the username and/or password was invalid on the domain."},
    };
    for (const auto &m : messages) {
        if (m.code != code)
            continue;
        if (std::strlen(m.text) >= room)
            return ERROR_INSUFFICIENT_BUFFER;
        std::strcpy(text, m.text);
        return ERROR_SUCCESS;
    }
    return ERROR_INVALID_PARAMETER;
}

__declspec(dllexport) DWORD WINAPI RasGetConnectionStatistics(HRASCONN connection, RAS_STATS *stats)
{
    if (!sized(stats))
        return stats ? ERROR_INVALID_SIZE : ERROR_INVALID_PARAMETER;
    const Lock lock;
    if (!line.open || connection != handleOfLine())
        return ERROR_INVALID_HANDLE;
    const Status now = statusOf(line);
    std::memset(stats, 0, sizeof(RAS_STATS));
    stats->dwSize = sizeof(RAS_STATS);
    if (now.state != RASCS_Disconnected && now.linkedMs > 0) {
        // As on the simulated line: the far end sends at 55 % of the speed,
        // this end at 12 %, after the negotiation's few hundred bytes.
        const ULONGLONG full = now.linkedMs * line.farEnd.speed / 8000;
        stats->dwBytesRcved = static_cast<DWORD>(312 + full * 55 / 100);
        stats->dwBytesXmited = static_cast<DWORD>(248 + full * 12 / 100);
        stats->dwBps = line.farEnd.speed;
        const ULONGLONG logon = (StageCount - LinkedAfterStages) * line.farEnd.stageMs;
        if (now.state == RASCS_Connected && now.linkedMs > logon)
            stats->dwConnectDuration = static_cast<DWORD>(now.linkedMs - logon);
    }
    return ERROR_SUCCESS;
}

} // extern "C"
