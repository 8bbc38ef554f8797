#include "platform/modem/modem_line.h"

#include "platform/line/call_json.h"
#include "platform/modem/call_process.h"
#include "platform/modem/modem_settings.h"
#include "platform/modem/port.h"
#include "platform/modem/pppd.h"
#include "platform/modem/preflight.h"
#include "platform/paths.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace Qt::StringLiterals;

namespace modem {

QString callLockPath(HRASCONN handle)
{
    const QString folder = platform::runtimeFolder();
    return folder.isEmpty() ? QString() : folder + u"/call-%1.lock"_s.arg(handle);
}

namespace {

// Whether the call's process still runs: it holds the call's lock as long as it lives.
bool callProcessAlive(HRASCONN handle)
{
    const QString path = callLockPath(handle);
    const int fd = path.isEmpty() ? -1 : line::openRuntimeFile(path, O_RDONLY);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

// The pppd a call's record names, if it still runs: a process by that pid
// whose name is pppd's (so a pid used again by another program is left alone).
bool orphanPppdAlive(const line::Call &call)
{
    const qint64 pppdPid = modemPart(call).pppdPid;
    if (!processRunning(int(pppdPid)))
        return false;
    QFile comm(u"/proc/%1/comm"_s.arg(pppdPid));
    if (!comm.open(QIODevice::ReadOnly))
        return false;
    // The kernel keeps the first 15 bytes of a program's name.
    const QByteArray name = QFile::encodeName(QFileInfo(pppdProgram()).fileName()).left(15);
    return comm.readAll().trimmed() == name;
}

// Ends a pppd whose supervisor died: SIGTERM, SIGKILL once `force`.
void endOrphanPppd(const line::Call &call, bool force)
{
    if (!orphanPppdAlive(call))
        return;
    const pid_t pid = pid_t(modemPart(call).pppdPid);
    ::kill(-pid, force ? SIGKILL : SIGTERM);
    ::kill(pid, force ? SIGKILL : SIGTERM);
}

// How long an orphaned pppd may take to end after SIGTERM.
constexpr qint64 kOrphanGraceMs = 5000;

// A counter of the interface's statistics, cut to 32 bits as the system's own are.
quint32 interfaceCounter(const QString &interfaceName, const char *counter)
{
    if (interfaceName.isEmpty() || interfaceName.contains(u'/') || interfaceName.startsWith(u'.'))
        return 0;
    QFile file(u"/sys/class/net/%1/statistics/%2"_s.arg(interfaceName, QLatin1StringView(counter)));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return static_cast<quint32>(file.read(32).trimmed().toULongLong());
}

// Writes all of `bytes` to a pipe; false when the reader is gone. A reader
// that went away is an error of this call, never a SIGPIPE that ends the
// dialing program: the signal is held for the write and taken back after.
bool writeToPipe(int fd, const QByteArray &bytes)
{
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t before;
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &before);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    if (done < bytes.size() && !sigismember(&before, SIGPIPE)) {
        // The SIGPIPE this write raised, if any, is taken back before it is unblocked.
        const timespec none = {0, 0};
        while (::sigtimedwait(&pipeSignal, nullptr, &none) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return done == bytes.size();
}

// Starts vantelo-call with the call's lock on descriptor 3 and the request on
// its standard input; waits only for its first process, which leaves at once.
Problem startCallProcess(const CallRequest &request)
{
    const QString program = callProgram();
    if (program.isEmpty())
        return {ERROR_RASMAN_CANNOT_INITIALIZE,
                u"Vantelo's call program, vantelo-call, is not installed beside it."_s};
    const QString lockPath = callLockPath(request.handle);
    if (lockPath.isEmpty())
        return {line::ERROR_RUNTIME_FOLDER_UNUSABLE, {}};
    const int lockFd = line::openRuntimeFile(lockPath, O_RDWR | O_CREAT);
    if (lockFd < 0)
        return {line::ERROR_RUNTIME_FOLDER_UNUSABLE, {}};
    if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(lockFd);
        return {ERROR_PORT_ALREADY_OPEN, {}};
    }
    const QByteArray lockFile = QFile::encodeName(lockPath);
    // A call that does not start leaves no lock behind.
    const auto failed = [&](const QString &why) {
        ::unlink(lockFile.constData());
        return Problem{ERROR_RASMAN_CANNOT_INITIALIZE,
                       u"Vantelo's call program could not take the call: "_s + why};
    };
    int requestPipe[2];
    if (::pipe2(requestPipe, O_CLOEXEC) != 0) {
        ::close(lockFd);
        return failed(QString::fromLocal8Bit(std::strerror(errno)));
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, requestPipe[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, lockFd, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGPIPE})
        sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

    QByteArray path = QFile::encodeName(program);
    char *argv[] = {path.data(), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, path.constData(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(requestPipe[0]);
    ::close(lockFd); // the call's process holds the lock from now on
    if (spawned != 0) {
        ::close(requestPipe[1]);
        return failed(QString::fromLocal8Bit(std::strerror(spawned)));
    }
    QByteArray bytes = encodeCallRequest(request);
    const bool written = writeToPipe(requestPipe[1], bytes);
    bytes.fill('\0');
    ::close(requestPipe[1]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!written || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return failed(u"it refused the request."_s);
    return {};
}

// The texts of a dial that are checked before anything starts (604).
Problem checkTexts(const line::PhonebookFile &phonebook, const QString &entry, const CallRequest &r)
{
    const auto tooLong = [&](const QString &key, qsizetype limit) {
        const QString value = phonebook.value(entry, key);
        if (value.size() <= limit)
            return Problem{};
        return Problem{ERROR_WRONG_INFO_SPECIFIED,
                       u"The entry's %1= is %2 characters long; at most %3 can be used."_s.arg(
                           key, QString::number(value.size()), QString::number(limit))};
    };
    for (const auto &[key, limit] :
         {std::pair{u"Device"_s, MaxDeviceLength}, std::pair{u"Init"_s, MaxInitLength},
          std::pair{u"Peer"_s, MaxPeerLength}}) {
        if (const Problem p = tooLong(key, limit))
            return p;
    }
    if (!isDialableNumber(r.number))
        return {
            ERROR_WRONG_INFO_SPECIFIED,
            u"The number \"%1\" holds characters a modem cannot dial."_s.arg(r.number.left(40))};
    if (!isSafeUserName(r.userName))
        return {ERROR_WRONG_INFO_SPECIFIED,
                u"The login may not begin with '-' nor hold control characters."_s};
    if (!isSafePeerName(r.settings.peer))
        return {ERROR_WRONG_INFO_SPECIFIED,
                u"The entry's Peer= must be a plain file name of /etc/ppp/peers."_s};
    if (!isSafeModemCommand(r.settings.init))
        return {ERROR_WRONG_INFO_SPECIFIED,
                u"The entry's Init= must be one line of printable ASCII."_s};
    // pppd would get the password cut at a NUL; a replacement character
    // stands for bytes that were not text and are lost already.
    if (r.password.contains(u'\0') || r.password.contains(QChar::ReplacementCharacter))
        return {ERROR_WRONG_INFO_SPECIFIED,
                u"The password holds a NUL or bytes that are not text: pppd would not get it "
                u"as typed."_s};
    return {};
}

class ModemLine final : public line::Line
{
public:
    line::Kind kind() const override { return line::Kind::Modem; }

    DWORD dial(const line::PhonebookFile &phonebook, const line::DialRequest &request,
               line::Call *call, line::LineState *state) const override
    {
        Q_UNUSED(state);
        CallRequest r;
        r.handle = call->handle;
        r.settings = modemSettings(phonebook, request.entry);
        r.number = request.phoneNumber;
        if (r.number.isEmpty())
            r.number = phonebook.value(request.entry, u"PhoneNumber"_s).trimmed();
        r.userName = request.userName;
        r.password = request.password;
        call->deviceName = r.settings.device;
        call->deviceType = u"modem"_s;
        call->phoneNumber = r.number;
        call->speed = 0;
        ModemPart &part = modemPart(call);
        part.state = RASCS_OpenPort;
        // What cannot be dialed ends the call at once, before anything is
        // opened or started: texts that could speak to the modem or to pppd,
        // values too long to travel, a device that is not there, an account
        // that may not use the modem or run pppd, pppd's missing options.
        Problem problem = checkTexts(phonebook, request.entry, r);
        if (!problem)
            problem = checkDevice(request.entry, phonebook.value(request.entry, u"Device"_s));
        if (!problem)
            problem = checkPermissions(r.settings.device, pppdProgram(),
                                       peersFilePath(r.settings.peer), Credentials::current());
        if (!problem)
            problem = startCallProcess(r);
        if (problem) {
            part.state = RASCS_Disconnected;
            part.error = problem.code;
            part.errorWords = problem.words;
            part.finished = true;
        }
        return 0;
    }

    line::CallStatus status(const line::Call &call, qint64 nowMs) const override
    {
        Q_UNUSED(nowMs);
        const ModemPart &part = modemPart(call);
        if (call.hangUpAtMs >= 0)
            return {RASCS_Disconnected, part.finished ? part.error : 0};
        if (part.finished)
            return {RASCS_Disconnected, part.error};
        if (!callProcessAlive(call.handle)) {
            // pppd must not go on alone with the modem: it is ended now.
            endOrphanPppd(call, false);
            return {RASCS_Disconnected, ERROR_NO_CONNECTION};
        }
        return {part.state, 0};
    }

    DWORD hangUp(line::Call *call, line::LineState *state, qint64 nowMs) const override
    {
        Q_UNUSED(state);
        const ModemPart &part = modemPart(*call);
        const bool alive = !part.finished && callProcessAlive(call->handle);
        const bool first = call->hangUpAtMs < 0;
        if (first)
            call->hangUpAtMs = nowMs;
        if (!alive && orphanPppdAlive(*call)) {
            // Its process died and left pppd: the call is forgotten once pppd is gone.
            endOrphanPppd(*call, nowMs - call->hangUpAtMs >= kOrphanGraceMs);
            return 0;
        }
        if (!alive) {
            // Nothing is left to close: the call is forgotten now.
            call->closeAtMs = nowMs;
            if (const QString path = callLockPath(call->handle); !path.isEmpty())
                ::unlink(QFile::encodeName(path).constData());
            return 0;
        }
        // A process that has not yet reported its pid sees the hang-up in the
        // store at its first report.
        if (first && part.pid > 0)
            ::kill(pid_t(part.pid), SIGTERM);
        return 0; // the call's process forgets the call once the port is released
    }

    std::optional<line::Statistics> statistics(const line::Call &call, qint64 nowMs) const override
    {
        const line::CallStatus now = status(call, nowMs);
        if (now.state < RASCS_DeviceConnected || now.state == RASCS_Disconnected)
            return std::nullopt;
        const QString &ifName = modemPart(call).interfaceName;
        return line::Statistics{call.speed, interfaceCounter(ifName, "tx_bytes"),
                                interfaceCounter(ifName, "rx_bytes")};
    }

    // The call as its process last reported it.
    void writeCall(const line::Call &call, QJsonObject *o) const override
    {
        const ModemPart &part = modemPart(call);
        o->insert(u"pid"_s, part.pid);
        o->insert(u"state"_s, qint64(part.state));
        o->insert(u"error"_s, qint64(part.error));
        o->insert(u"finished"_s, part.finished);
        o->insert(u"interface"_s, part.interfaceName);
        if (!part.errorWords.isEmpty())
            o->insert(u"errorWords"_s, part.errorWords);
        if (part.pppdPid > 0)
            o->insert(u"pppdPid"_s, part.pppdPid);
    }

    bool readCall(const QJsonObject &o, line::Call *call) const override
    {
        using line::bounded;
        // A pid of 0 is "not reported yet"; anything else outside the kernel's
        // range would make a signal reach other processes than the call's.
        ModemPart part;
        part.pid = bounded(o, u"pid"_s, 0, 1, line::MaxPid);
        const qint64 state = bounded(o, u"state"_s, RASCS_OpenPort, 0, 0xFFFFFFFFll);
        if (!knownState(state))
            return false;
        part.state = static_cast<RASCONNSTATE>(state);
        const qint64 error = bounded(o, u"error"_s, 0, 0, 0xFFFFFFFFll);
        part.error = static_cast<DWORD>(
            error == 0 || (error >= 600 && error <= 799) ? error : ERROR_UNKNOWN);
        part.finished = o.value(u"finished"_s).toBool();
        part.interfaceName = o.value(u"interface"_s).toString();
        // Words are shown in a 256-byte buffer: anything longer is not ours.
        part.errorWords = o.value(u"errorWords"_s).toString().left(255);
        part.pppdPid = bounded(o, u"pppdPid"_s, 0, 1, line::MaxPid);
        call->part = part;
        return true;
    }

    QString interfaceName(const line::Call &call) const override
    {
        return modemPart(call).interfaceName;
    }

    QString errorWords(const line::Call &call, DWORD code) const override
    {
        const ModemPart &part = modemPart(call);
        return part.finished && part.error == code ? part.errorWords : QString();
    }

    const char *errorText(DWORD code) const override { return modem::errorText(code); }

private:
    static bool knownState(qint64 state)
    {
        return (state >= RASCS_OpenPort && state <= RASCS_LogonNetwork) ||
               (state >= RASCS_Interactive && state <= RASCS_PasswordExpired) ||
               state == RASCS_Connected || state == RASCS_Disconnected;
    }
};

} // namespace

const line::Line &modemLine()
{
    static const ModemLine line;
    return line;
}

QString callProgram()
{
    const QString self = QFileInfo(u"/proc/self/exe"_s).canonicalFilePath();
    const QString folder = QFileInfo(self).absolutePath();
    const QStringList candidates{
        folder + u"/../libexec/vantelo/vantelo-call"_s,
        folder + u"/vantelo-call"_s,
        QStringLiteral(VANTELO_BUILD_CALL_PROGRAM),
    };
    for (const QString &candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return info.canonicalFilePath();
    }
    return {};
}

} // namespace modem
