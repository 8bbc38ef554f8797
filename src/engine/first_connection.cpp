#include "engine/first_connection.h"

#include "platform/ras_lists.h"

#include <vector>

FirstConnection QueryFirstConnection()
{
    // Asked every second: the listing's room is made once per thread.
    thread_local std::vector<RASCONN> buffer;
    platform::listConnections(buffer);

    FirstConnection first;
    if (!buffer.empty()) {
        first.conn = buffer[0];
    } else {
        first.conn = RASCONN{};
        first.conn.dwSize = sizeof(RASCONN);
    }
    first.status.dwSize = sizeof(RASCONNSTATUS);
    RasGetConnectStatusA(first.conn.hrasconn, &first.status);
    return first;
}
