// The program's dial-up records handed to the system's rasapi32, each with the
// dwSize the program puts in (its own records: the first versions). wine's
// rasapi32 is stubs: it lists no entry and no connection, checks no size,
// dials nothing and has no error texts. So under wine these checks prove that
// the calls bind to rasapi32's ANSI entry points, that the records go in and
// come back as the program expects when nothing is there, and they record what
// wine answered; the answers of a real service (sizes refused with
// ERROR_INVALID_SIZE, error texts, a real dial) are checked only on Windows.

#include "platform/ras.h"

#include "check.h"

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace {

// A connection handle of that value, whether the system's handles are
// pointers or numbers.
template <typename Handle = HRASCONN> Handle handleFrom(std::uintptr_t value)
{
    if constexpr (std::is_pointer_v<Handle>)
        return reinterpret_cast<Handle>(value);
    else
        return static_cast<Handle>(value);
}

void enumeratesEntriesAndConnections()
{
    std::vector<RASENTRYNAME> entries(8);
    std::memset(entries.data(), 0, entries.size() * sizeof(RASENTRYNAME));
    entries[0].dwSize = sizeof(RASENTRYNAME);
    DWORD bytes = static_cast<DWORD>(entries.size() * sizeof(RASENTRYNAME));
    DWORD count = 99;
    const DWORD listed = RasEnumEntriesA(nullptr, nullptr, entries.data(), &bytes, &count);
    NOTE("RasEnumEntriesA(dwSize %u) = %lu, %lu entries", unsigned(sizeof(RASENTRYNAME)),
         static_cast<unsigned long>(listed), static_cast<unsigned long>(count));
    CHECK(listed == ERROR_SUCCESS || listed == ERROR_BUFFER_TOO_SMALL);
    if (underWine())
        CHECK_EQ(count, 0);
    else if (listed == ERROR_SUCCESS)
        CHECK(count <= entries.size());

    std::vector<RASCONN> connections(8);
    std::memset(connections.data(), 0, connections.size() * sizeof(RASCONN));
    connections[0].dwSize = sizeof(RASCONN);
    bytes = static_cast<DWORD>(connections.size() * sizeof(RASCONN));
    count = 99;
    const DWORD active = RasEnumConnectionsA(connections.data(), &bytes, &count);
    NOTE("RasEnumConnectionsA(dwSize %u) = %lu, %lu connections", unsigned(sizeof(RASCONN)),
         static_cast<unsigned long>(active), static_cast<unsigned long>(count));
    CHECK_EQ(active, ERROR_SUCCESS);
    if (underWine()) {
        CHECK_EQ(count, 0);
        CHECK(connections[0].hrasconn == handleFrom(0));
    }
}

void statusOfNoConnectionStaysAtRest()
{
    // The engine asks for the first record's handle, 0 when there is none,
    // and acts only on the state: a state left at 0 changes nothing.
    for (const std::uintptr_t value : {std::uintptr_t(0), std::uintptr_t(0x5A5C)}) {
        RASCONNSTATUS status;
        std::memset(&status, 0, sizeof(status));
        status.dwSize = sizeof(RASCONNSTATUS);
        const DWORD result = RasGetConnectStatusA(handleFrom(value), &status);
        NOTE("RasGetConnectStatusA(0x%lx, dwSize %u) = %lu, state %lu",
             static_cast<unsigned long>(value), unsigned(sizeof(RASCONNSTATUS)),
             static_cast<unsigned long>(result), static_cast<unsigned long>(status.rasconnstate));
        CHECK_EQ(status.rasconnstate, 0);
        if (!underWine())
            CHECK(result != ERROR_SUCCESS);
    }
}

void errorTextsAndAFailingDial()
{
    char text[256];
    std::memset(text, 0, sizeof(text));
    const DWORD found = RasGetErrorStringA(ERROR_LINE_BUSY, text, sizeof(text));
    NOTE("RasGetErrorStringA(676) = %lu \"%s\"", static_cast<unsigned long>(found), text);
    if (underWine()) {
        // wine has no texts; the engine then shows its own message.
        CHECK(found != ERROR_SUCCESS);
    } else {
        CHECK_EQ(found, ERROR_SUCCESS);
        CHECK(text[0] != '\0');
    }
    CHECK(std::memchr(text, '\0', sizeof(text)) != nullptr);

    RASDIALPARAMS params;
    std::memset(&params, 0, sizeof(params));
    params.dwSize = sizeof(RASDIALPARAMS);
    std::strcpy(params.szEntryName, "Vantelo test entry that does not exist");
    std::strcpy(params.szPhoneNumber, "P0860");
    std::strcpy(params.szUserName, "demo");
    std::strcpy(params.szPassword, "demo");
    HRASCONN connection = handleFrom(0);
    // No notifier: the call is synchronous and fails at once.
    const DWORD dialed = RasDialA(nullptr, nullptr, &params, 0, nullptr, &connection);
    NOTE("RasDialA(dwSize %u, no such entry) = %lu", unsigned(sizeof(RASDIALPARAMS)),
         static_cast<unsigned long>(dialed));
    CHECK(dialed != ERROR_SUCCESS);
    if (connection != handleFrom(0))
        RasHangUpA(connection);
    if (underWine())
        CHECK(connection == handleFrom(0));
}

} // namespace

int main()
{
    NOTE("%s", underWine() ? "wine: its dial-up service is stubs" : "Windows");
    enumeratesEntriesAndConnections();
    statusOfNoConnectionStaysAtRest();
    errorTextsAndAFailingDial();
    return checkSummary("ras_test");
}
