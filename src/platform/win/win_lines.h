#pragma once

// The figures of one of the system's dial-up connections, for the lines'
// calls on Windows. They are read in a source of their own, with the system's
// <ras.h>, whose records of the same names as platform/ras.h's first versions
// cannot meet them in one unit.

#include "platform/win/stat_registry.h"

struct HRASCONN__; // a connection handle (HRASCONN) points to it

namespace platform::winlines {

// The service's statistics of this connection (RasGetConnectionStatistics);
// false when it gives none (the connection is gone, or not up yet).
bool connectionFigures(HRASCONN__ *connection, statistics::Figures &figures);

} // namespace platform::winlines
