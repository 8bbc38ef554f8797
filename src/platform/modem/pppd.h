#pragma once

// What Vantelo asks of the system's pppd and what it reads back: the argument
// list, the progress in pppd's log, and its exit status in the service's words.

#include "platform/wintypes.h"

#include <QString>
#include <QStringList>

namespace modem {

// pppd's arguments after its own name: the peers file first (it loads the
// passwordfd plugin that a later option needs), then only unprivileged
// options. Each text is one argument, never split or quoted: no shell ever
// reads them. No secret is among them, so the list is safe to show.
QStringList pppdArguments(const QString &peer, const QString &user, int logFd, int passwordFd);

// The pppd program: /usr/sbin/pppd, /sbin/pppd or one on PATH; empty when
// there is none. VANTELO_PPPD names another program (the tests' stand-in).
QString pppdProgram();
// Where pppd reads a peers file: /etc/ppp/peers, or the folder that
// VANTELO_PPP_PEERS_DIR names (the tests' own, read by their stand-in).
QString peersFilePath(const QString &peer);

// What a line of pppd's log tells about the link.
struct PppdProgress
{
    enum Step { None, LinkStarted, Authenticated, AuthenticationFailed, NetworkUp, PeerDead };
    Step step = None;
    QString interfaceName; // with LinkStarted: "Connect: ppp0 <--> /dev/ttyS0"
};
PppdProgress readPppdLogLine(const QString &line);

// The service's error for the way pppd ended, when the user did not ask for it.
DWORD pppdExitError(int exitStatus);

// What that status means, in words for the user ("the modem hung up: the
// carrier was lost or the far end hung up").
QString pppdExitWords(int exitStatus);

} // namespace modem
