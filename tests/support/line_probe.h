#pragma once

// Looks at the dial-up line straight through the service's calls, as the
// tests' independent witness of what the code under test did.

#include "platform/ansi.h"
#include "platform/ras.h"
#include "platform/ras_lists.h"

#include <QDeadlineTimer>
#include <QList>
#include <QStringList>
#include <QThread>

#include <vector>

namespace lineprobe {

// A state no call is ever in: the service no longer knows the handle.
inline constexpr DWORD Gone = 0xFFFFFFFFu;

inline DWORD stateOf(HRASCONN handle)
{
    RASCONNSTATUS status{};
    status.dwSize = sizeof status;
    return RasGetConnectStatusA(handle, &status) == 0 ? DWORD(status.rasconnstate) : Gone;
}

inline DWORD errorOf(HRASCONN handle)
{
    RASCONNSTATUS status{};
    status.dwSize = sizeof status;
    return RasGetConnectStatusA(handle, &status) == 0 ? status.dwError : Gone;
}

// The listed calls' handles, in the service's order.
inline QList<HRASCONN> listedHandles()
{
    std::vector<RASCONN> conns;
    platform::listConnections(conns);
    QList<HRASCONN> handles;
    for (const RASCONN &conn : conns)
        handles.append(conn.hrasconn);
    return handles;
}

// The listed calls' entry names, in the service's order.
inline QStringList listedEntries()
{
    std::vector<RASCONN> conns;
    platform::listConnections(conns);
    QStringList entries;
    for (const RASCONN &conn : conns)
        entries.append(platform::fieldText(conn.szEntryName, sizeof conn.szEntryName));
    return entries;
}

// The state of the first listed call (Gone when there is none).
inline DWORD firstState()
{
    const QList<HRASCONN> handles = listedHandles();
    return handles.isEmpty() ? Gone : stateOf(handles.first());
}

// Hangs the call up and waits until the service no longer knows it; false
// when it is still known after `limitMs`.
// The service's words for an error, as a caller showing it gets them.
inline QString errorText(DWORD code)
{
    char text[256] = {};
    if (RasGetErrorStringA(code, text, sizeof text) != 0)
        return {};
    return QString::fromLocal8Bit(text);
}

inline bool hangUpAndWait(HRASCONN handle, int limitMs = 8000)
{
    const QDeadlineTimer deadline(limitMs);
    while (!deadline.hasExpired()) {
        if (RasHangUpA(handle) == ERROR_INVALID_HANDLE)
            return true;
        QThread::msleep(10);
    }
    return false;
}

} // namespace lineprobe
