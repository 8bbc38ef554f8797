#include "engine/first_connection.h"

#include <vector>

FirstConnection QueryFirstConnection()
{
    std::vector<RASCONN> buffer(256);
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
