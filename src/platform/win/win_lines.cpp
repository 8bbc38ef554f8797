#include "platform/lines.h"

// The lines on Windows are the system's dial-up connections: their calls are
// what the Remote Access Service lists, each with its device, state and
// figures; what only the dialing process knows (the number dialed, the
// account, the network interface) stays empty. The phonebook is the system's
// own, and there is no simulated line: its controls change nothing and say so.

#include "platform/ansi.h"
#include "platform/ras_lists.h"
#include "platform/win/win_lines.h"

#include <QList>
#include <QString>

#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

thread_local QString t_problem;

void noSimulatedLine()
{
    t_problem = u"the simulated line exists only on Linux; on Windows every entry is "
                u"the system's own, dialed by its Remote Access Service."_s;
}

// The service's connections; empty when it cannot list them.
std::vector<RASCONN> connections()
{
    std::vector<RASCONN> buffer;
    platform::listConnections(buffer);
    return buffer;
}

} // namespace

namespace lines {

QString phonebookPath()
{
    return QString();
}

void ensurePhonebook() {}

QString description()
{
    return u"the system's dial-up\n"
           u"entries, dialed by its Remote Access Service."_s;
}

void setLockWaitMs(int) {}

QString runtimeProblem()
{
    return t_problem;
}

bool isLineProblem(DWORD)
{
    return false;
}

QList<CallRecord> calls()
{
    t_problem.clear();
    QList<CallRecord> records;
    for (const RASCONN &conn : connections()) {
        RASCONNSTATUS status{};
        status.dwSize = sizeof(RASCONNSTATUS);
        // A connection closed since it was listed is left out.
        if (RasGetConnectStatusA(conn.hrasconn, &status) != ERROR_SUCCESS)
            continue;
        CallRecord r;
        r.handle = conn.hrasconn;
        r.kind = platform::fieldText(conn.szDeviceType, sizeof conn.szDeviceType).toLower();
        r.entryName = platform::fieldText(conn.szEntryName, sizeof conn.szEntryName);
        r.deviceName = platform::fieldText(conn.szDeviceName, sizeof conn.szDeviceName);
        r.state = status.rasconnstate;
        r.error = status.dwError;
        platform::statistics::Figures figures;
        if (status.rasconnstate != RASCS_Disconnected &&
            platform::winlines::connectionFigures(conn.hrasconn, figures)) {
            r.linked = true;
            r.speed = figures.connectSpeed;
            r.bytesSent = figures.bytesSent;
            r.bytesReceived = figures.bytesReceived;
        }
        records.append(r);
    }
    return records;
}

int dropSimulatedCarrier()
{
    noSimulatedLine();
    return 0;
}

void setNextSimulatedHangUpDelay(int)
{
    noSimulatedLine();
}

bool forceNextSimulatedOutcome(const QString &, QString *)
{
    noSimulatedLine();
    return true;
}

void resetSimulatedLine()
{
    noSimulatedLine();
}

} // namespace lines
