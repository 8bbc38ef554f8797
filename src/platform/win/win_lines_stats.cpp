#include "platform/win/win_lines.h"

// The statistics of one connection, as the service keeps them per connection
// since Windows 2000 (the program itself reads those of the first connection,
// through the statistics key).

#include <ras.h>

#include <cstring>

bool platform::winlines::connectionFigures(HRASCONN connection, statistics::Figures &figures)
{
    RAS_STATS stats;
    std::memset(&stats, 0, sizeof(stats));
    stats.dwSize = sizeof(stats);
    if (RasGetConnectionStatistics(connection, &stats) != ERROR_SUCCESS)
        return false;
    figures.connectSpeed = stats.dwBps;
    figures.bytesSent = stats.dwBytesXmited;
    figures.bytesReceived = stats.dwBytesRcved;
    return true;
}
