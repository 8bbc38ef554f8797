#include "platform/modem/call_process.h"

#include "platform/line/call_store.h"
#include "platform/modem/hayes.h"
#include "platform/modem/modem_line.h"
#include "platform/modem/port.h"
#include "platform/modem/pppd.h"
#include "platform/paths.h"
#include "platform/ras.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace modem {

namespace {

// How long the modem may take to answer its reset command (or the dial's
// timeout, when that is shorter).
constexpr int kInitTimeoutMs = 10000;
// How long pppd may take to end after it was asked to.
constexpr int kPppdGraceMs = 5000;

// Signals reach the loop through this pipe: the handler only writes their number.
int g_signalPipe[2] = {-1, -1};

extern "C" void onSignal(int signal)
{
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

void installSignals()
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGCHLD})
        ::sigaction(s, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

qint64 monotonicMs()
{
    timespec ts = {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The latest modem call's log, $XDG_RUNTIME_DIR/vantelo/modem.log: the modem
// dialog and pppd's messages (pppd hides the password), for a person finding
// out why a call failed. A call starts it afresh only when no other call is
// writing it (each call holds a lock on it while it lives); otherwise it adds
// its lines at the end, so no call ever writes into a log emptied under it.
class CallLog final
{
public:
    explicit CallLog(HRASCONN handle)
    {
        // Never through a link: a new file is 0600, an existing one keeps its mode.
        const QString folder = platform::runtimeFolder();
        const int fd = folder.isEmpty() ? -1
                                        : line::openRuntimeFile(folder + u"/modem.log"_s,
                                                                O_WRONLY | O_CREAT | O_APPEND);
        // Every writer holds a shared lock; emptying needs it alone.
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) [[maybe_unused]]
            const int emptied = ::ftruncate(fd, 0);
        if (fd >= 0)
            ::flock(fd, LOCK_SH);
        if (fd >= 0 && !m_file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
            ::close(fd);
        write(u"Call %1."_s.arg(handle));
    }
    void write(const QString &line)
    {
        if (!m_file.isOpen())
            return;
        m_file.write(QDateTime::currentDateTime().toString(u"HH:mm:ss.zzz "_s).toUtf8() +
                     line.toUtf8() + '\n');
        m_file.flush();
    }

private:
    QFile m_file;
};

class ModemCall final
{
public:
    explicit ModemCall(const CallRequest &request) : m_request(request), m_log(request.handle) {}

    void run()
    {
        if (!report([](line::Call &c) { c.pid = ::getpid(); }))
            return; // forgotten, or hung up before it began
        const DWORD rc = dial();
        if (m_hangUpRequested) {
            finishHangUp();
            return;
        }
        if (rc != 0) {
            m_log.write(u"The call failed: error %1. %2"_s.arg(rc).arg(m_words));
            m_port.hangUpAndClose();
            report([rc, this](line::Call &c) {
                c.state = RASCS_Disconnected;
                c.error = rc;
                c.errorWords = m_words;
                c.finished = true;
                c.pppdPid = 0;
            });
        }
    }

private:
    // The call up to pppd's end; 0 when the user hung up, else the error that ended it.
    DWORD dial()
    {
        const ModemSettings &s = m_request.settings;
        m_log.write(u"Opening %1 at %2 bit/s."_s.arg(s.device).arg(s.speed));
        if (const DWORD rc = m_port.open(s.device, s.speed); rc != 0) {
            m_words = m_port.problem();
            return rc;
        }
        if (!report([](line::Call &c) { c.state = RASCS_PortOpened; }))
            return 0;

        if (!s.init.isEmpty()) {
            quint32 unused = 0;
            const int timeoutMs = std::min(kInitTimeoutMs, s.timeoutSec * 1000);
            const DWORD rc =
                command(u"The modem's reset"_s, s.init, timeoutMs, Answer::Ok, &unused);
            if (rc != 0 || m_hangUpRequested)
                return rc;
        }
        if (!report([](line::Call &c) { c.state = RASCS_ConnectDevice; }))
            return 0;
        quint32 speed = 0;
        const DWORD rc =
            command(u"Dialing %1"_s.arg(dialCommand(m_request.number).mid(4)),
                    dialCommand(m_request.number), s.timeoutSec * 1000, Answer::Connect, &speed);
        if (rc != 0 || m_hangUpRequested)
            return rc;
        if (speed == 0)
            speed = quint32(s.speed);
        m_online = true;
        if (!report([speed](line::Call &c) {
                c.state = RASCS_DeviceConnected;
                c.speed = speed;
            }))
            return 0;
        return runPppd();
    }

    // Sends a command and waits for its final answer. A failure's words name
    // the `stage` and what the modem said.
    DWORD command(const QString &stage, const QString &text, int timeoutMs, Answer wanted,
                  quint32 *speed)
    {
        const auto failed = [&](DWORD rc, const QString &what) {
            m_words = stage + u": "_s + what;
            return rc;
        };
        const QByteArray bytes = text.toLatin1();
        m_log.write(u"> "_s + text);
        const QByteArray line = bytes + '\r';
        if (::write(m_port.fd(), line.constData(), size_t(line.size())) != line.size())
            return failed(ERROR_HARDWARE_FAILURE, u"the command could not be sent to the modem."_s);
        AnswerReader reader(bytes);
        const qint64 deadline = monotonicMs() + timeoutMs;
        for (;;) {
            const qint64 left = deadline - monotonicMs();
            if (left <= 0) {
                m_log.write(u"No answer in time."_s);
                const QString waited = QString::number((timeoutMs + 999) / 1000);
                if (reader.sawUnrecognized())
                    return failed(
                        ERROR_UNRECOGNIZED_RESPONSE,
                        u"the modem sent only what no modem answers, for %1 s."_s.arg(waited));
                if (wanted == Answer::Ok)
                    return failed(ERROR_DEVICE_NOT_READY,
                                  u"the modem did not answer %1 within %2 s."_s.arg(text, waited));
                return failed(ERROR_NO_ANSWER,
                              u"the far end did not answer within %1 s."_s.arg(waited));
            }
            pollfd fds[2] = {{m_port.fd(), POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}};
            if (::poll(fds, 2, int(left)) < 0 && errno != EINTR)
                return ERROR_HARDWARE_FAILURE;
            if (fds[1].revents & POLLIN) {
                readSignals();
                if (m_hangUpRequested) {
                    // Any character ends a dial in progress.
                    [[maybe_unused]] const ssize_t n = ::write(m_port.fd(), "\r", 1);
                    return 0;
                }
            }
            if (fds[0].revents & POLLIN) {
                char buffer[256];
                const ssize_t n = ::read(m_port.fd(), buffer, sizeof buffer);
                if (n > 0) {
                    const QByteArray got(buffer, n);
                    m_log.write(u"< "_s + QString::fromLatin1(got).trimmed());
                    const Answer answer = reader.feed(got);
                    if (answer == Answer::None)
                        continue;
                    if (answer == wanted) {
                        *speed = reader.connectSpeed();
                        return 0;
                    }
                    const QString said = u"the modem answered \"%1\"."_s.arg(
                        QString::fromLatin1(reader.finalLine().left(80)));
                    if (answer == Answer::Ok || answer == Answer::Connect)
                        return failed(ERROR_UNRECOGNIZED_RESPONSE, said);
                    return failed(answerError(answer), said);
                }
                if (n == 0 || (errno != EAGAIN && errno != EINTR))
                    return failed(ERROR_HARDWARE_FAILURE, u"the modem is gone."_s);
            } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                return failed(ERROR_HARDWARE_FAILURE, u"the modem is gone."_s);
            }
        }
    }

    // Whether pppd can be run at all, before it is started: 0 or the error.
    DWORD checkPppd(const QString &program) const
    {
        if (program.isEmpty())
            return ERROR_RASMAN_CANNOT_INITIALIZE;
        if (::access(QFile::encodeName(program).constData(), X_OK) != 0)
            return errno == ENOENT ? ERROR_RASMAN_CANNOT_INITIALIZE : ERROR_NO_DIALIN_PERMISSION;
        struct stat st = {};
        const QByteArray peers = QFile::encodeName(peersFilePath(m_request.settings.peer));
        if (::stat(peers.constData(), &st) != 0)
            return errno == EACCES ? ERROR_NO_DIALIN_PERMISSION : ERROR_READING_INI_FILE;
        return 0;
    }

    DWORD runPppd()
    {
        const QString program = pppdProgram();
        if (const DWORD rc = checkPppd(program); rc != 0)
            return rc;
        int logPipe[2];
        int passwordPipe[2];
        int execPipe[2];
        if (::pipe2(logPipe, O_CLOEXEC) != 0 || ::pipe2(passwordPipe, O_CLOEXEC) != 0 ||
            ::pipe2(execPipe, O_CLOEXEC) != 0)
            return ERROR_RASMAN_CANNOT_INITIALIZE;
        // No trailing newline: the plugin would keep it as part of the password.
        QByteArray password = m_request.password.toLocal8Bit();
        const bool sent = ::write(passwordPipe[1], password.constData(), size_t(password.size())) ==
                          password.size();
        ::close(passwordPipe[1]);
        // pppd holds the password from here on: the call no longer keeps it.
        password.fill('\0');
        m_request.password.fill(u'\0');
        m_request.password.clear();
        const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (!sent || devNull < 0)
            return ERROR_RASMAN_CANNOT_INITIALIZE;

        constexpr int kLogFd = 3;
        constexpr int kPasswordFd = 4;
        std::vector<std::string> args{QFile::encodeName(program).toStdString()};
        for (const QString &a :
             pppdArguments(m_request.settings.peer, m_request.userName, kLogFd, kPasswordFd))
            args.push_back(a.toLocal8Bit().toStdString());
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        m_log.write(u"Starting pppd: %1"_s.arg(QString::fromStdString([&] {
            std::string all;
            for (const std::string &a : args)
                all += (all.empty() ? "" : " ") + a;
            return all;
        }())));

        // The modem line becomes pppd's standard input; its log arrives on
        // logfd and its standard error; the password on passwordfd.
        const int sources[5] = {m_port.fd(), devNull, logPipe[1], logPipe[1], passwordPipe[0]};
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
            int high[5];
            for (int i = 0; i < 5; ++i)
                high[i] = ::fcntl(sources[i], F_DUPFD, 20);
            for (int i = 0; i < 5; ++i) {
                ::dup2(high[i], i);
            }
            // Clear the non-blocking flag the port was opened with: pppd reads it itself.
            ::fcntl(0, F_SETFL, ::fcntl(0, F_GETFL) & ~O_NONBLOCK);
            ::close_range(5, ~0U, 0);
            ::sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            for (int s : {SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGPIPE})
                ::signal(s, SIG_DFL);
            ::execv(argv[0], argv.data());
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
            m_log.write(u"pppd could not be started: %1"_s.arg(
                QString::fromLocal8Bit(::strerror(execError))));
            return execError == EACCES || execError == EPERM ? ERROR_NO_DIALIN_PERMISSION
                                                             : ERROR_RASMAN_CANNOT_INITIALIZE;
        }
        // The port's lock names pppd while it runs, so the port stays locked
        // for as long as pppd may use it, even should this process die.
        m_port.handLockTo(pid);
        report([pid](line::Call &c) { c.pppdPid = pid; });
        const int status = supervise(pid, logPipe[0]);
        m_port.handLockTo(::getpid());
        ::close(logPipe[0]);
        if (m_hangUpRequested)
            return 0;
        if (WIFEXITED(status))
            m_log.write(u"pppd exited with status %1."_s.arg(WEXITSTATUS(status)));
        else
            m_log.write(u"pppd was killed."_s);
        const QString said =
            m_pppdSaid.isEmpty() ? QString() : u" (pppd: \"%1\")"_s.arg(m_pppdSaid.left(80));
        if (m_authenticationFailed) {
            m_words = u"Logging in: the ISP refused the login or password%1."_s.arg(said);
            return ERROR_AUTHENTICATION_FAILURE;
        }
        if (WIFEXITED(status) && WEXITSTATUS(status) != 5) {
            const DWORD rc = pppdExitError(WEXITSTATUS(status));
            if (rc != ERROR_PPP_NO_PROTOCOLS_CONFIGURED && rc != ERROR_READING_INI_FILE)
                m_words = u"%1: %2 (pppd's status %3)%4."_s.arg(m_pppdStage)
                              .arg(pppdExitWords(WEXITSTATUS(status)))
                              .arg(WEXITSTATUS(status))
                              .arg(said);
            return rc;
        }
        // Nobody here asked pppd to end: someone else ended it.
        m_words = WIFSIGNALED(status)
                      ? u"pppd was killed by signal %1 (%2), not by Vantelo: the link is down."_s
                            .arg(WTERMSIG(status))
                            .arg(QString::fromLocal8Bit(::strsignal(WTERMSIG(status))))
                      : u"pppd was told to end by a signal that did not come from Vantelo: the "
                        u"link is down."_s;
        return ERROR_PORT_DISCONNECTED;
    }

    // Follows pppd until it exits; returns its wait status.
    int supervise(pid_t pid, int logFd)
    {
        QByteArray pending;
        qint64 killAt = -1;
        bool killed = false;
        for (;;) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                drainLog(logFd, &pending);
                return status;
            }
            int timeout = -1; // nothing to do until pppd or a signal speaks
            if (killAt >= 0)
                timeout = int(std::max<qint64>(0, killAt - monotonicMs()));
            pollfd fds[2] = {{logFd, POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}};
            const int ready = ::poll(fds, 2, timeout);
            if (ready < 0 && errno != EINTR)
                return 0;
            if (fds[1].revents & POLLIN) {
                const bool before = m_hangUpRequested;
                readSignals();
                if (m_hangUpRequested && !before) {
                    m_log.write(u"Hanging up."_s);
                    ::kill(-pid, SIGTERM);
                    ::kill(pid, SIGTERM);
                    killAt = monotonicMs() + kPppdGraceMs;
                }
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
    bool readLog(int fd, QByteArray *pending)
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
                readPppdLine(line);
        }
        if (pending->size() > 4096)
            pending->clear();
        return true;
    }

    void drainLog(int fd, QByteArray *pending)
    {
        if (fd < 0)
            return;
        for (;;) {
            pollfd p = {fd, POLLIN, 0};
            if (::poll(&p, 1, 0) <= 0 || !readLog(fd, pending))
                break;
        }
    }

    void readPppdLine(const QString &line)
    {
        m_log.write(u"pppd: "_s + line);
        m_pppdSaid = line;
        const PppdProgress progress = readPppdLogLine(line);
        switch (progress.step) {
        case PppdProgress::None:
            return;
        case PppdProgress::LinkStarted:
            m_pppdStage = u"Logging in"_s;
            report([&progress](line::Call &c) {
                c.interfaceName = progress.interfaceName;
                c.state = RASCS_Authenticate;
            });
            return;
        case PppdProgress::Authenticated:
            m_pppdStage = u"The network"_s;
            report([](line::Call &c) { c.state = RASCS_Authenticated; });
            return;
        case PppdProgress::AuthenticationFailed:
            // pppd may end later with another status (the far end hangs up
            // meanwhile): the refused login is what the user must hear of.
            m_authenticationFailed = true;
            return;
        case PppdProgress::NetworkUp:
            m_pppdStage = u"On line"_s;
            report([](line::Call &c) { c.state = RASCS_Connected; });
            return;
        }
    }

    void readSignals()
    {
        char received[32];
        ssize_t n;
        while ((n = ::read(g_signalPipe[0], received, sizeof received)) > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                if (received[i] != SIGCHLD)
                    m_hangUpRequested = true;
            }
        }
    }

    // Changes the call's record; false (and a hang-up) when the record is
    // gone or was hung up meanwhile.
    bool report(const std::function<void(line::Call &)> &change)
    {
        // The call's own process has no window: it waits for the lock as long as it takes.
        line::LineLock lock(-1);
        line::LineState state = line::readLineState();
        const qint64 now = line::nowMs();
        line::Call *call = line::findCall(state.calls, m_request.handle, now);
        if (!call || call->hangUpAtMs >= 0) {
            m_hangUpRequested = true;
            return false;
        }
        change(*call);
        line::writeLineState(state, now);
        return true;
    }

    // The user hung up: the port is released, then the call is forgotten.
    void finishHangUp()
    {
        m_port.hangUpAndClose(m_online);
        if (!m_port.problem().isEmpty())
            m_log.write(m_port.problem());
        line::LineLock lock(-1);
        line::LineState state = line::readLineState();
        const qint64 now = line::nowMs();
        if (line::Call *call = line::findCall(state.calls, m_request.handle, now)) {
            call->closeAtMs = now;
            line::writeLineState(state, now);
        }
        if (const QString path = callLockPath(m_request.handle); !path.isEmpty())
            ::unlink(QFile::encodeName(path).constData());
        m_log.write(u"Hung up."_s);
    }

    CallRequest m_request;
    CallLog m_log;
    Port m_port;
    QString m_words; // what happened, when the error's own text is too general
    bool m_hangUpRequested = false;
    QString m_pppdStage = u"Starting PPP"_s; // where pppd is, in words
    QString m_pppdSaid;                      // pppd's latest line
    bool m_online = false;                   // the modem answered CONNECT: a call is on the line
    bool m_authenticationFailed = false;
};

} // namespace

QByteArray encodeCallRequest(const CallRequest &request)
{
    const ModemSettings &s = request.settings;
    const QJsonObject o{
        {u"handle"_s, qint64(request.handle)},
        {u"device"_s, s.device},
        {u"speed"_s, s.speed},
        {u"init"_s, s.init},
        {u"timeout"_s, s.timeoutSec},
        {u"peer"_s, s.peer},
        {u"number"_s, request.number},
        {u"user"_s, request.userName},
        {u"password"_s, request.password},
    };
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool decodeCallRequest(const QByteArray &bytes, CallRequest *request)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    request->handle = static_cast<HRASCONN>(o.value(u"handle"_s).toInteger());
    request->settings.device = o.value(u"device"_s).toString();
    request->settings.speed = o.value(u"speed"_s).toInt(DefaultSpeed);
    request->settings.init = o.value(u"init"_s).toString();
    request->settings.timeoutSec = o.value(u"timeout"_s).toInt(DefaultTimeoutSec);
    request->settings.peer = o.value(u"peer"_s).toString(DefaultPeer);
    request->number = o.value(u"number"_s).toString();
    request->userName = o.value(u"user"_s).toString();
    request->password = o.value(u"password"_s).toString();
    return request->handle != 0 && !request->settings.device.isEmpty();
}

void runCall(const CallRequest &request)
{
    installSignals();
    ModemCall call(request);
    call.run();
}

} // namespace modem
