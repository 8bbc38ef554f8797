#include "platform/modem/modem_line.h"

#include "platform/modem/call_process.h"
#include "platform/modem/modem_settings.h"
#include "platform/paths.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
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

// Starts vantelo-call with the call's lock on descriptor 3 and the request on
// its standard input; waits only for its first process, which leaves at once.
DWORD startCallProcess(const CallRequest &request)
{
    const QString program = callProgram();
    if (program.isEmpty())
        return ERROR_RASMAN_CANNOT_INITIALIZE;
    const QString lockPath = callLockPath(request.handle);
    if (lockPath.isEmpty())
        return line::ERROR_RUNTIME_FOLDER_UNUSABLE;
    const int lockFd = line::openRuntimeFile(lockPath, O_RDWR | O_CREAT);
    if (lockFd < 0)
        return ERROR_RASMAN_CANNOT_INITIALIZE;
    if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(lockFd);
        return ERROR_PORT_ALREADY_OPEN;
    }
    int requestPipe[2];
    if (::pipe2(requestPipe, O_CLOEXEC) != 0) {
        ::close(lockFd);
        return ERROR_RASMAN_CANNOT_INITIALIZE;
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
    QByteArray handleText = QByteArray::number(request.handle);
    char handleOption[] = "--handle";
    char *argv[] = {path.data(), handleOption, handleText.data(), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, path.constData(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(requestPipe[0]);
    ::close(lockFd); // the call's process holds the lock from now on
    if (spawned != 0) {
        ::close(requestPipe[1]);
        return ERROR_RASMAN_CANNOT_INITIALIZE;
    }
    QByteArray bytes = encodeCallRequest(request);
    const bool written =
        ::write(requestPipe[1], bytes.constData(), size_t(bytes.size())) == bytes.size();
    bytes.fill('\0');
    ::close(requestPipe[1]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!written || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return ERROR_RASMAN_CANNOT_INITIALIZE;
    return 0;
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
        call->state = RASCS_OpenPort;
        // Texts that could speak to the modem or to pppd end the call at once,
        // before anything is opened or started.
        if (!isDialableNumber(r.number) || !isSafeUserName(r.userName) ||
            !isSafePeerName(r.settings.peer) || !isSafeModemCommand(r.settings.init) ||
            r.password.contains(u'\0')) {
            call->state = RASCS_Disconnected;
            call->error = ERROR_WRONG_INFO_SPECIFIED;
            call->finished = true;
            return 0;
        }
        return startCallProcess(r);
    }

    line::CallStatus status(const line::Call &call, qint64 nowMs) const override
    {
        Q_UNUSED(nowMs);
        if (call.hangUpAtMs >= 0)
            return {RASCS_Disconnected, call.finished ? call.error : 0};
        if (call.finished)
            return {RASCS_Disconnected, call.error};
        if (!callProcessAlive(call.handle))
            return {RASCS_Disconnected, ERROR_NO_CONNECTION};
        return {call.state, 0};
    }

    DWORD hangUp(line::Call *call, line::LineState *state, qint64 nowMs) const override
    {
        Q_UNUSED(state);
        const bool alive = !call->finished && callProcessAlive(call->handle);
        const bool first = call->hangUpAtMs < 0;
        if (first)
            call->hangUpAtMs = nowMs;
        if (!alive) {
            // Nothing is left to close: the call is forgotten now.
            call->closeAtMs = nowMs;
            if (const QString path = callLockPath(call->handle); !path.isEmpty())
                ::unlink(QFile::encodeName(path).constData());
            return 0;
        }
        // A process that has not yet reported its pid sees the hang-up in the
        // store at its first report.
        if (first && call->pid > 0)
            ::kill(pid_t(call->pid), SIGTERM);
        return 0; // the call's process forgets the call once the port is released
    }

    std::optional<line::Statistics> statistics(const line::Call &call, qint64 nowMs) const override
    {
        const line::CallStatus now = status(call, nowMs);
        if (now.state < RASCS_DeviceConnected || now.state == RASCS_Disconnected)
            return std::nullopt;
        return line::Statistics{call.speed, interfaceCounter(call.interfaceName, "tx_bytes"),
                                interfaceCounter(call.interfaceName, "rx_bytes")};
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
