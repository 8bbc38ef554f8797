#pragma once

// What a call's process waits on besides its modem and pppd: the signals that
// hang it up (each handler only writes the signal's number into a pipe the
// call polls), a clock that never jumps, and the modem log a person reads to
// find out why a call failed.

#include "platform/ras.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace modem {

// Milliseconds of a clock that never goes back.
qint64 monotonicMs();

// Routes SIGTERM, SIGINT, SIGHUP (a hang-up) and SIGCHLD into the pipe that
// signalFd() reads; ignores SIGPIPE.
void installSignals();
int signalFd();
// Reads the signals received so far; true when one of them asks the call to end.
bool readHangUpSignals();

// The latest modem call's log, $XDG_RUNTIME_DIR/vantelo/modem.log: the modem
// dialog and pppd's messages (pppd hides the password). A call starts it
// afresh only when no other call is writing it (each call holds a lock on it
// while it lives); otherwise it adds its lines at the end, so no call ever
// writes into a log emptied under it.
class ModemLog final
{
public:
    explicit ModemLog(HRASCONN handle);
    // A log kept in `transcript` alone, for a dialogue that is no call (a
    // probe of a port): the latest call's log stays as it was.
    explicit ModemLog(QStringList *transcript) : m_transcript(transcript) {}
    void write(const QString &line);

private:
    QFile m_file;
    QStringList *m_transcript = nullptr;
};

} // namespace modem
