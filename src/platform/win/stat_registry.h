#pragma once

// Where the statistics key reads its figures on a system whose registry has no
// HKEY_DYN_DATA "PerfStats\StatData": by default, the dial-up service's
// statistics of the first active connection. Tests put their own source in.

#include "platform/wintypes.h"

namespace platform::statistics {

struct Figures
{
    DWORD connectSpeed = 0;  // bits per second
    DWORD bytesSent = 0;     // "BytesXmit"
    DWORD bytesReceived = 0; // "BytesRecvd"
};

// Fills the figures and returns true, or returns false when there are none (no
// active connection, or the service gives nothing).
using Source = bool (*)(Figures &figures);

// The service's figures: RasGetConnectionStatistics of the first connection
// RasEnumConnectionsA lists.
bool serviceFigures(Figures &figures);

// Makes the statistics key read from source (nullptr: the service again) and
// returns the source it replaces.
Source setSource(Source source);

} // namespace platform::statistics
