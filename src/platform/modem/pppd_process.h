#pragma once

// pppd's process for one call: checked before it starts, started on the
// modem line with its log and password on pipes of their own, supervised
// until it exits (a hang-up ends it: SIGTERM, SIGKILL after a grace period),
// its log read for the call's progress, and its end put into the service's
// error and words.

#include "platform/modem/pppd.h"
#include "platform/wintypes.h"

#include <QString>

#include <functional>
#include <sys/types.h>

namespace modem {

class ModemLog;
class Port;

struct PppdEnd
{
    DWORD error = 0;     // 0 when the call was hung up
    bool hangUp = false; // the call was hung up while pppd ran
    QString words;       // what happened, when the error's own text is too general
};

class PppdProcess final
{
public:
    // What the call hears of pppd; each returns false when the call is gone
    // or hung up meanwhile, which ends pppd.
    struct Hooks
    {
        std::function<bool(pid_t)> started;
        std::function<bool(const PppdProgress &)> progressed;
    };

    PppdProcess(ModemLog &log, Hooks hooks) : m_log(log), m_hooks(std::move(hooks)) {}

    // Runs pppd on the port's line for the peer and user; the password is
    // handed to pppd and wiped here. Returns once pppd has exited.
    PppdEnd run(Port &port, const QString &peer, const QString &user, QString &password);

private:
    DWORD start(Port &port, const QString &peer, const QString &user, QString &password, pid_t *pid,
                int *logFd);
    int supervise(pid_t pid, int logFd);
    bool readLog(int fd, QByteArray *pending);
    void drainLog(int fd, QByteArray *pending);
    void readLine(const QString &line);
    PppdEnd ended(int status) const;

    ModemLog &m_log;
    Hooks m_hooks;
    bool m_hangUp = false;
    QString m_stage = QStringLiteral("Starting PPP"); // where pppd is, in words
    QString m_said;                                   // pppd's latest line
    bool m_authenticationFailed = false;
    QString m_peerDead; // pppd's words when its echo requests went unanswered
};

// Whether pppd can be run at all, before it is started: 0 or the error.
DWORD checkPppd(const QString &program, const QString &peer);

} // namespace modem
