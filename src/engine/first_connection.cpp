#include "engine/first_connection.h"

#include <vector>

FirstConnection QueryFirstConnection()
{
    // Asked every second: the listing's room is made once per thread, and
    // only record 0, the one read, is cleared before each listing (clearing
    // all 256 records each time cost more than the rest of the poll).
    thread_local std::vector<RASCONN> buffer(256);
    buffer[0] = RASCONN{};
    buffer[0].dwSize = sizeof(RASCONN);
    DWORD bytes = buffer[0].dwSize * static_cast<DWORD>(buffer.size());
    DWORD count = 0;
    RasEnumConnectionsA(buffer.data(), &bytes, &count);

    FirstConnection first;
    first.conn = buffer[0];
    first.status.dwSize = sizeof(RASCONNSTATUS);
    RasGetConnectStatusA(first.conn.hrasconn, &first.status);
    return first;
}
