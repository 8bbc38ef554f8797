#include "platform/modem/pppd_process.h"

#include "platform/modem/call_events.h"
#include "platform/modem/port.h"
#include "platform/ras.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace modem {

namespace {

// How long pppd may take to end after it was asked to.
constexpr int kPppdGraceMs = 5000;

// In the child: the descriptors pppd is given, in order, become 0 to 4 (the
// modem line as standard input, /dev/null as standard output, its log on
// logfd and standard error, the password on passwordfd) and nothing else is
// left open but `report`, closed by exec, where an exec that fails writes
// its errno. Returns only on failure, with errno set.
void execPppd(const int (&sources)[5], int report, char *const *argv)
{
    // Moved above every descriptor the child may hold first, so that no
    // dup2 below overwrites another source or the report pipe.
    const int reportHigh = ::fcntl(report, F_DUPFD_CLOEXEC, 20);
    if (reportHigh < 0)
        return;
    int high[5];
    for (int i = 0; i < 5; ++i) {
        high[i] = ::fcntl(sources[i], F_DUPFD, reportHigh + 1);
        if (high[i] < 0)
            return;
    }
    for (int i = 0; i < 5; ++i) {
        if (::dup2(high[i], i) != i)
            return;
    }
    // Clear the non-blocking flag the port was opened with: pppd reads it itself.
    ::fcntl(0, F_SETFL, ::fcntl(0, F_GETFL) & ~O_NONBLOCK);
    ::close_range(5, unsigned(reportHigh - 1), 0);
    ::close_range(unsigned(reportHigh + 1), ~0U, 0);
    ::sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGPIPE})
        ::signal(s, SIG_DFL);
    ::execv(argv[0], argv);
    const int error = errno;
    [[maybe_unused]] const ssize_t n = ::write(reportHigh, &error, sizeof error);
    errno = error;
}

// The lines pppd writes as it closes a link, whatever ended it: they tell
// nothing of why, so the reason is the line said before them.
bool isClosingSummary(const QString &line)
{
    for (const QLatin1StringView start :
         {"Connection terminated"_L1, "Connect time "_L1, "Sent "_L1, "Exit."_L1,
          "Terminating on signal"_L1, "Using interface "_L1, "Script "_L1}) {
        if (line.startsWith(start))
            return true;
    }
    return false;
}

// Whether pppd's line is about the network's setup (IPCP, IPV6CP), which
// comes after the login, or straight after the link when no login is asked.
bool isNetworkLine(const QString &line)
{
    return line.startsWith(u"IPCP"_s) || line.startsWith(u"IPV6CP"_s) ||
           line.contains(u"IP address"_s, Qt::CaseInsensitive);
}

const QString kNetworkStage = QStringLiteral("The network");

} // namespace

DWORD checkPppd(const QString &program, const QString &peer)
{
    if (program.isEmpty())
        return ERROR_RASMAN_CANNOT_INITIALIZE;
    if (::access(QFile::encodeName(program).constData(), X_OK) != 0)
        return errno == ENOENT ? ERROR_RASMAN_CANNOT_INITIALIZE : ERROR_NO_DIALIN_PERMISSION;
    struct stat st = {};
    const QByteArray peers = QFile::encodeName(peersFilePath(peer));
    if (::stat(peers.constData(), &st) != 0)
        return errno == EACCES ? ERROR_NO_DIALIN_PERMISSION : ERROR_READING_INI_FILE;
    return 0;
}

PppdEnd PppdProcess::run(Port &port, const QString &peer, const QString &user, QString &password)
{
    pid_t pid = -1;
    int logFd = -1;
    if (const DWORD rc = start(port, peer, user, password, &pid, &logFd); rc != 0)
        return PppdEnd{rc, false, {}};
    // The port's lock names pppd while it runs, so the port stays locked
    // for as long as pppd may use it, even should this process die.
    port.handLockTo(pid);
    if (!m_hooks.started(pid))
        m_hangUp = true;
    const int status = supervise(pid, logFd);
    port.handLockTo(::getpid());
    ::close(logFd);
    if (m_hangUp)
        return PppdEnd{0, true, {}};
    return ended(status);
}

DWORD PppdProcess::start(Port &port, const QString &peer, const QString &user, QString &password,
                         pid_t *pidOut, int *logFd)
{
    const QString program = pppdProgram();
    if (const DWORD rc = checkPppd(program, peer); rc != 0)
        return rc;
    int logPipe[2];
    int passwordPipe[2];
    int execPipe[2];
    if (::pipe2(logPipe, O_CLOEXEC) != 0 || ::pipe2(passwordPipe, O_CLOEXEC) != 0 ||
        ::pipe2(execPipe, O_CLOEXEC) != 0)
        return ERROR_RASMAN_CANNOT_INITIALIZE;
    // No trailing newline: the plugin would keep it as part of the password.
    QByteArray secret = password.toLocal8Bit();
    const bool sent =
        ::write(passwordPipe[1], secret.constData(), size_t(secret.size())) == secret.size();
    ::close(passwordPipe[1]);
    // pppd holds the password from here on: the call no longer keeps it.
    secret.fill('\0');
    password.fill(u'\0');
    password.clear();
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (!sent || devNull < 0)
        return ERROR_RASMAN_CANNOT_INITIALIZE;

    constexpr int kLogFd = 3;
    constexpr int kPasswordFd = 4;
    std::vector<std::string> args{QFile::encodeName(program).toStdString()};
    for (const QString &a : pppdArguments(peer, user, kLogFd, kPasswordFd))
        args.push_back(a.toLocal8Bit().toStdString());
    std::vector<char *> argv;
    std::string all;
    for (std::string &a : args) {
        argv.push_back(a.data());
        all += (all.empty() ? "" : " ") + a;
    }
    argv.push_back(nullptr);
    m_log.write(u"Starting pppd: %1"_s.arg(QString::fromStdString(all)));

    const int sources[5] = {port.fd(), devNull, logPipe[1], logPipe[1], passwordPipe[0]};
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // pppd ends with the call's process: a process group of its own
        // for whoever ends it, and a SIGTERM should its supervisor die.
        // (A setuid pppd drops the latter at exec; the call's record then
        // names it, and the next look at the line ends it.)
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        execPppd(sources, execPipe[1], argv.data());
        // Descriptors that could not be set up are reported as exec's failure.
        const int error = errno;
        [[maybe_unused]] const ssize_t n = ::write(execPipe[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(logPipe[1]);
    ::close(passwordPipe[0]);
    ::close(execPipe[1]);
    ::close(devNull);
    if (pid < 0) {
        ::close(logPipe[0]);
        ::close(execPipe[0]);
        return ERROR_RASMAN_CANNOT_INITIALIZE;
    }
    int execError = 0;
    const ssize_t n = ::read(execPipe[0], &execError, sizeof execError);
    ::close(execPipe[0]);
    if (n == sizeof execError) {
        ::waitpid(pid, nullptr, 0);
        ::close(logPipe[0]);
        m_log.write(
            u"pppd could not be started: %1"_s.arg(QString::fromLocal8Bit(::strerror(execError))));
        return execError == EACCES || execError == EPERM ? ERROR_NO_DIALIN_PERMISSION
                                                         : ERROR_RASMAN_CANNOT_INITIALIZE;
    }
    *pidOut = pid;
    *logFd = logPipe[0];
    return 0;
}

// Follows pppd until it exits; returns its wait status.
int PppdProcess::supervise(pid_t pid, int logFd)
{
    QByteArray pending;
    qint64 killAt = -1;
    bool killed = false;
    bool asked = false; // pppd was asked to end
    for (;;) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            drainLog(logFd, &pending);
            return status;
        }
        int timeout = -1; // nothing to do until pppd or a signal speaks
        if (killAt >= 0)
            timeout = int(std::max<qint64>(0, killAt - monotonicMs()));
        pollfd fds[2] = {{logFd, POLLIN, 0}, {signalFd(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, asked || !m_hangUp ? timeout : 0);
        if (ready < 0 && errno != EINTR)
            return 0;
        if ((fds[1].revents & POLLIN) && readHangUpSignals())
            m_hangUp = true;
        if (m_hangUp && !asked) {
            m_log.write(u"Hanging up."_s);
            ::kill(-pid, SIGTERM);
            ::kill(pid, SIGTERM);
            killAt = monotonicMs() + kPppdGraceMs;
            asked = true;
        }
        // Once pppd closes its log, only its exit is left to wait for.
        if ((fds[0].revents & (POLLIN | POLLHUP)) && !readLog(logFd, &pending))
            logFd = -1;
        if (killAt >= 0 && !killed && monotonicMs() >= killAt) {
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
            killed = true;
            killAt = -1;
        }
    }
}

// Reads what pppd logged; false once its end of the pipe is closed.
bool PppdProcess::readLog(int fd, QByteArray *pending)
{
    if (fd < 0)
        return false;
    char buffer[1024];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0)
        return n < 0 && (errno == EINTR || errno == EAGAIN);
    pending->append(buffer, n);
    qsizetype end;
    while ((end = pending->indexOf('\n')) >= 0) {
        const QString line = QString::fromLocal8Bit(pending->left(end)).trimmed();
        pending->remove(0, end + 1);
        if (!line.isEmpty())
            readLine(line);
    }
    if (pending->size() > 4096)
        pending->clear();
    return true;
}

void PppdProcess::drainLog(int fd, QByteArray *pending)
{
    if (fd < 0)
        return;
    for (;;) {
        pollfd p = {fd, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0 || !readLog(fd, pending))
            break;
    }
}

void PppdProcess::readLine(const QString &line)
{
    m_log.write(u"pppd: "_s + line);
    if (!isClosingSummary(line))
        m_said = line;
    const PppdProgress progress = readPppdLogLine(line);
    switch (progress.step) {
    case PppdProgress::None:
        if (isNetworkLine(line) && m_stage != u"On line"_s)
            m_stage = kNetworkStage;
        return;
    case PppdProgress::LinkStarted:
        m_stage = u"Logging in"_s;
        break;
    case PppdProgress::Authenticated:
        m_stage = kNetworkStage;
        break;
    case PppdProgress::AuthenticationFailed:
        // pppd may end later with another status (the far end hangs up
        // meanwhile): the refused login is what the user must hear of.
        m_authenticationFailed = true;
        return;
    case PppdProgress::PeerDead:
        // pppd then closes the link, and may end with the status of a
        // hang-up (the line it gave back reads as hung up): the dead link is
        // what happened.
        if (m_peerDead.isEmpty())
            m_peerDead = line;
        return;
    case PppdProgress::NetworkUp:
        m_stage = u"On line"_s;
        break;
    }
    if (!m_hooks.progressed(progress))
        m_hangUp = true;
}

PppdEnd PppdProcess::ended(int status) const
{
    if (WIFEXITED(status))
        m_log.write(u"pppd exited with status %1."_s.arg(WEXITSTATUS(status)));
    else
        m_log.write(u"pppd was killed."_s);
    const QString said = m_said.isEmpty() ? QString() : u" (pppd: \"%1\")"_s.arg(m_said.left(80));
    if (m_authenticationFailed)
        return PppdEnd{ERROR_AUTHENTICATION_FAILURE, false,
                       u"Logging in: the ISP refused the login or password%1."_s.arg(said)};
    if (!m_peerDead.isEmpty() && WIFEXITED(status))
        return PppdEnd{ERROR_PPP_TIMEOUT, false,
                       u"%1: %2 (pppd: \"%3\")."_s.arg(m_stage)
                           .arg(pppdExitWords(15))
                           .arg(m_peerDead.left(80))};
    if (WIFEXITED(status) && WEXITSTATUS(status) != 5) {
        const DWORD rc = pppdExitError(WEXITSTATUS(status));
        // A negotiation that failed once the login was done is the network's:
        // the ISP gave this machine no addresses it could agree on.
        const QString what =
            m_stage == kNetworkStage && WEXITSTATUS(status) == 10
                ? u"the ISP and this machine could not agree on the network's addresses "
                  u"(IPCP)"_s
                : pppdExitWords(WEXITSTATUS(status));
        QString words;
        if (rc != ERROR_PPP_NO_PROTOCOLS_CONFIGURED && rc != ERROR_READING_INI_FILE)
            words = u"%1: %2 (pppd's status %3)%4."_s.arg(m_stage)
                        .arg(what)
                        .arg(WEXITSTATUS(status))
                        .arg(said);
        return PppdEnd{rc, false, words};
    }
    // Nobody here asked pppd to end: someone else ended it.
    return PppdEnd{ERROR_PORT_DISCONNECTED, false,
                   WIFSIGNALED(status)
                       ? u"pppd was killed by signal %1 (%2), not by Vantelo: the link is down."_s
                             .arg(WTERMSIG(status))
                             .arg(QString::fromLocal8Bit(::strsignal(WTERMSIG(status))))
                       : u"pppd was told to end by a signal that did not come from Vantelo: the "
                         u"link is down."_s};
}

} // namespace modem
