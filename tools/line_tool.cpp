#include "line_tool.h"

// The line tool's shared helpers (see line_tool.h).

#include "platform/ansi.h"
#include "platform/console.h"
#include "platform/lines.h"
#include "platform/ras.h"
#include "platform/ras_lists.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QStringList>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

using namespace Qt::StringLiterals;

namespace linetool {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

QString errorText(DWORD code)
{
    char buffer[256] = {};
    if (RasGetErrorStringA(code, buffer, sizeof buffer) != 0)
        return u"Unknown error."_s;
    return QString::fromLocal8Bit(buffer);
}

// A change of the lines that was not made: the line was busy, its folder
// unusable, or there is no simulated line (what lines::runtimeProblem() says).
int lineUnchanged()
{
    err() << "vantelo-line: " << lines::runtimeProblem() << Qt::endl;
    return Failure;
}

int serviceError(DWORD code)
{
    err() << "vantelo-line: error " << code << ": " << errorText(code) << Qt::endl;
    return Failure;
}

QString stateWords(DWORD state, DWORD error)
{
    // Each stage as the line tool names it; the stages of one step share a name.
    static constexpr std::pair<RASCONNSTATE, QStringView> names[] = {
        {RASCS_OpenPort, u"Opening port"},
        {RASCS_PortOpened, u"Port opened"},
        {RASCS_ConnectDevice, u"Dialing"},
        {RASCS_DeviceConnected, u"Device connected"},
        {RASCS_AllDevicesConnected, u"Device connected"},
        {RASCS_Authenticate, u"Authenticating"},
        {RASCS_AuthNotify, u"Authenticating"},
        {RASCS_AuthRetry, u"Authenticating"},
        {RASCS_AuthCallback, u"Authenticating"},
        {RASCS_AuthChangePassword, u"Authenticating"},
        {RASCS_AuthProject, u"Authenticating"},
        {RASCS_AuthLinkSpeed, u"Authenticating"},
        {RASCS_AuthAck, u"Authenticating"},
        {RASCS_ReAuthenticate, u"Authenticating"},
        {RASCS_Authenticated, u"Authenticated"},
        {RASCS_LogonNetwork, u"Logging on to network"},
        {RASCS_Connected, u"Connected"},
    };
    if (state == RASCS_Disconnected) {
        if (error == 0)
            return u"Disconnected"_s;
        return u"Disconnected (%1: %2)"_s.arg(error).arg(errorText(error));
    }
    for (const auto &[stage, name] : names) {
        if (state == DWORD(stage))
            return name.toString();
    }
    return u"State %1"_s.arg(state);
}

// The active connections; false (with *code set) when they cannot be listed.
bool connections(std::vector<RASCONN> *list, DWORD *code)
{
    *code = platform::listConnections(*list);
    return *code == ERROR_SUCCESS;
}

// Hangs the connection up and waits until the service no longer knows it.
bool hangUpAndWait(HRASCONN handle, int limitMs)
{
    const QDeadlineTimer deadline(limitMs);
    for (;;) {
        const DWORD rc = RasHangUpA(handle);
        if (rc == ERROR_INVALID_HANDLE)
            return true;
        if (lines::isLineProblem(rc))
            return false;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(kPollMs);
    }
}

} // namespace linetool
