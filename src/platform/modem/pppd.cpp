#include "platform/modem/pppd.h"

#include "platform/ras.h"

#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace modem {

QStringList pppdArguments(const QString &peer, const QString &user, int logFd, int passwordFd)
{
    QStringList args{u"call"_s, peer, u"nodetach"_s, u"logfd"_s, QString::number(logFd)};
    if (!user.isEmpty())
        args << u"user"_s << user;
    args << u"passwordfd"_s << QString::number(passwordFd);
    return args;
}

QString pppdProgram()
{
    // The tests' stand-in for pppd, which this machine's kernel could not run.
    if (const QString chosen = qEnvironmentVariable("VANTELO_PPPD"); !chosen.isEmpty())
        return chosen;
    for (const QString &path : {u"/usr/sbin/pppd"_s, u"/sbin/pppd"_s}) {
        if (QFileInfo::exists(path))
            return path;
    }
    return QStandardPaths::findExecutable(u"pppd"_s);
}

QString peersFilePath(const QString &peer)
{
    const QString folder = qEnvironmentVariable("VANTELO_PPP_PEERS_DIR", u"/etc/ppp/peers"_s);
    return folder + u'/' + peer;
}

PppdProgress readPppdLogLine(const QString &line)
{
    const QString text = line.trimmed();
    if (text.startsWith(u"Connect: "_s) && text.contains(u"<-->"_s)) {
        const QString name = text.mid(9).section(u' ', 0, 0);
        return {PppdProgress::LinkStarted, name};
    }
    if (text.contains(u"authentication succeeded"_s, Qt::CaseInsensitive))
        return {PppdProgress::Authenticated, {}};
    // Ours, not the peer's ("peer authentication failed" is the peer failing us).
    if (text.contains(u"authentication failed"_s, Qt::CaseInsensitive) &&
        !text.contains(u"peer authentication failed"_s, Qt::CaseInsensitive))
        return {PppdProgress::AuthenticationFailed, {}};
    // Its LCP echo requests went unanswered: the far end is gone though the
    // line is up ("No response to 4 echo-requests", then "Serial link appears
    // to be disconnected.").
    if ((text.startsWith(u"No response to "_s) && text.endsWith(u" echo-requests"_s)) ||
        text.startsWith(u"Serial link appears to be disconnected"_s))
        return {PppdProgress::PeerDead, {}};
    if (text.startsWith(u"local  IP address"_s) || text.startsWith(u"local IP address"_s) ||
        text.startsWith(u"local  LL address"_s))
        return {PppdProgress::NetworkUp, {}};
    return {};
}

DWORD pppdExitError(int exitStatus)
{
    // pppd's exit statuses, as its manual lists them.
    switch (exitStatus) {
    case 0:  // the link ended normally: the far end closed it
    case 16: // the modem hung up: carrier lost or the far end hung up
        return ERROR_REMOTE_DISCONNECTION;
    case 2: // an error in the options: the peers file
        return ERROR_READING_INI_FILE;
    case 3: // not setuid root and not run by root
        return ERROR_NO_DIALIN_PERMISSION;
    case 4: // the kernel has no PPP
        return ERROR_PPP_NO_PROTOCOLS_CONFIGURED;
    case 5: // ended by a signal nobody here sent: not the user's hang-up
        return ERROR_PORT_DISCONNECTED;
    case 6: // the port's lock
        return ERROR_PORT_NOT_AVAILABLE;
    case 7: // the port could not be opened
        return ERROR_HARDWARE_FAILURE;
    case 10: // negotiation failed
    case 11: // the peer failed to authenticate
    case 17: // the line is looped back
        return ERROR_PPP_LCP_TERMINATED;
    case 15: // the peer stopped answering echo requests
        return ERROR_PPP_TIMEOUT;
    case 19: // we failed to authenticate to the peer
        return ERROR_AUTHENTICATION_FAILURE;
    case 1:  // a fatal error
    case 8:  // a connect script failed
    case 9:  // a pty command failed
    case 18: // an init script failed
        return ERROR_RASMAN_CANNOT_INITIALIZE;
    default: // idle, connect time limit, callback
        return ERROR_NO_CONNECTION;
    }
}

QString pppdExitWords(int exitStatus)
{
    switch (exitStatus) {
    case 0:
        return u"the far end closed the link"_s;
    case 1:
        return u"pppd met a fatal error"_s;
    case 2:
        return u"pppd refused its options (the peers file or the options Vantelo gave)"_s;
    case 3:
        return u"pppd is not installed setuid root"_s;
    case 4:
        return u"this system's kernel has no PPP"_s;
    case 5:
        return u"pppd was told to end by a signal that did not come from Vantelo"_s;
    case 6:
        return u"pppd could not lock the port"_s;
    case 7:
        return u"pppd could not open the port"_s;
    case 8:
    case 9:
    case 18:
        return u"a script pppd runs failed"_s;
    case 10:
        return u"the far end and this machine could not agree on the link"_s;
    case 11:
        return u"the far end did not authenticate itself"_s;
    case 12:
        return u"the link was idle for too long"_s;
    case 13:
        return u"the link reached its time limit"_s;
    case 15:
        return u"the far end stopped answering (no LCP echo replies) while the line stayed up: "
               u"a dead link, which pppd ended"_s;
    case 16:
        return u"the modem hung up: the carrier was lost or the far end hung up"_s;
    case 17:
        return u"the line is looped back: the modem hears itself"_s;
    case 19:
        return u"the ISP refused the login or password"_s;
    default:
        return u"pppd ended the link"_s;
    }
}

} // namespace modem
