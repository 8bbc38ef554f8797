#include "line_tool.h"

// vantelo-line: the dial-up lines from the command line. It lists the
// phonebook, shows, dials and hangs up connections, on a real modem or on the
// simulated line, through the same Remote Access Service calls as the program,
// and steers the simulated line (drop the carrier, force an outcome, slow the
// next hang-up), also while Vantelo runs. Where there is no simulated line
// (Windows), its controls fail with the platform's reason.
//
// Exit status: 0 success, 1 the line refused or failed (code and text on
// stderr), 2 wrong usage (usage on stderr).

#include "platform/ansi.h"
#include "platform/console.h"
#include "platform/lines.h"
#include "platform/ras.h"
#include "platform/ras_lists.h"
#include "platform/simline.h"

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
    switch (state) {
    case RASCS_OpenPort:
        return u"Opening port"_s;
    case RASCS_PortOpened:
        return u"Port opened"_s;
    case RASCS_ConnectDevice:
        return u"Dialing"_s;
    case RASCS_DeviceConnected:
    case RASCS_AllDevicesConnected:
        return u"Device connected"_s;
    case RASCS_Authenticate:
    case RASCS_AuthNotify:
    case RASCS_AuthRetry:
    case RASCS_AuthCallback:
    case RASCS_AuthChangePassword:
    case RASCS_AuthProject:
    case RASCS_AuthLinkSpeed:
    case RASCS_AuthAck:
    case RASCS_ReAuthenticate:
        return u"Authenticating"_s;
    case RASCS_Authenticated:
        return u"Authenticated"_s;
    case RASCS_LogonNetwork:
        return u"Logging on to network"_s;
    case RASCS_Connected:
        return u"Connected"_s;
    case RASCS_Disconnected:
        if (error == 0)
            return u"Disconnected"_s;
        return u"Disconnected (%1: %2)"_s.arg(error).arg(errorText(error));
    default:
        return u"State %1"_s.arg(state);
    }
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
