#include "platform/single_instance.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace platform {

namespace {

// What a later start sends: one line.
constexpr char ShowRequest[] = "show\n";
// A request line is short; a peer that sends more without a line end is cut off.
constexpr qint64 RequestLimit = 64;
// The pause between two attempts to reach a first start that is not listening yet.
constexpr unsigned long RetryPauseMs = 20;

#ifdef _WIN32
const qintptr NoLock = reinterpret_cast<qintptr>(INVALID_HANDLE_VALUE);
#else
constexpr qintptr NoLock = -1;
#endif

// Opens (creating it, private to the user) the lock file; NoLock on failure
// with `error` set.
qintptr openLockFile(const QString &path, QString *error)
{
#ifdef _WIN32
    const HANDLE file = CreateFileW(
        reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        *error = u"error %1"_s.arg(GetLastError());
    return reinterpret_cast<qintptr>(file);
#else
    // A link in the folder's place of the lock is not followed.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    return fd;
#endif
}

// Takes the lock without waiting; false when another process holds it.
bool lockWithoutWaiting(qintptr lock)
{
#ifdef _WIN32
    OVERLAPPED at{};
    return LockFileEx(reinterpret_cast<HANDLE>(lock),
                      LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
#else
    int result = 0;
    do {
        result = ::flock(static_cast<int>(lock), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0;
#endif
}

void closeLockFile(qintptr lock)
{
#ifdef _WIN32
    CloseHandle(reinterpret_cast<HANDLE>(lock));
#else
    ::close(static_cast<int>(lock));
#endif
}

} // namespace

SingleInstance::SingleInstance(const QString &folder, QObject *parent)
    : QObject(parent), m_folder(folder), m_lock(NoLock)
{}

SingleInstance::~SingleInstance()
{
    if (m_server) {
        // The socket goes before the lock, so the next first start finds no
        // socket of ours to connect to.
        m_server->close();
        delete m_server;
        m_server = nullptr;
    }
    if (m_lock != NoLock)
        closeLockFile(m_lock);
}

QString SingleInstance::lockPath() const
{
    return m_folder + u"/instance.lock"_s;
}

QString SingleInstance::socketPath() const
{
    return m_folder + u"/instance.socket"_s;
}

SingleInstance::Role SingleInstance::claim(int timeoutMs)
{
    if (m_folder.isEmpty()) {
        m_problem = u"no private runtime folder; more than one Vantelo may run"_s;
        return Role::Unguarded;
    }
    QString error;
    m_lock = openLockFile(lockPath(), &error);
    if (m_lock == NoLock) {
        m_problem = u"cannot open %1 (%2); more than one Vantelo may run"_s.arg(lockPath(), error);
        return Role::Unguarded;
    }
    if (!tryLock()) {
        if (forward(timeoutMs))
            return Role::Forwarded;
        // Unless the running one ended meanwhile and this one took the lock.
        if (!m_locked)
            return Role::Unreachable;
    }
    listen();
    return Role::First;
}

bool SingleInstance::tryLock()
{
    m_locked = lockWithoutWaiting(m_lock);
    return m_locked;
}

bool SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Only the holder of the lock listens: a socket left by one that ended
    // without closing it is stale.
    QLocalServer::removeServer(socketPath());
    if (!m_server->listen(socketPath())) {
        m_problem = u"cannot listen on %1 (%2); a later start cannot reach this one"_s.arg(
            socketPath(), m_server->errorString());
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::serveConnections);
    return true;
}

bool SingleInstance::forward(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        // The first may hold the lock and not listen yet: try again until the
        // time is up.
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(static_cast<int>(qMax<qint64>(deadline.remainingTime(), 0)))) {
            socket.write(ShowRequest, static_cast<qint64>(sizeof ShowRequest - 1));
            while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(static_cast<int>(
                                                    qMax<qint64>(deadline.remainingTime(), 0)))) {
            }
            const bool sent = socket.bytesToWrite() == 0;
            socket.disconnectFromServer();
            if (sent) {
                m_problem.clear();
                return true;
            }
        }
        m_problem = u"Vantelo is already running but does not answer at %1 (%2)"_s.arg(
            socketPath(), socket.errorString());
        // The first one ended meanwhile: this one takes its place.
        if (tryLock()) {
            m_problem.clear();
            return false;
        }
        if (deadline.hasExpired())
            return false;
        QThread::msleep(RetryPauseMs);
    }
}

void SingleInstance::serveConnections()
{
    while (QLocalSocket *peer = m_server->nextPendingConnection()) {
        auto read = [this, peer] {
            while (peer->canReadLine()) {
                if (peer->readLine(RequestLimit).trimmed() == "show")
                    emit showRequested();
            }
            if (peer->bytesAvailable() >= RequestLimit)
                peer->abort();
        };
        connect(peer, &QLocalSocket::readyRead, this, read);
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        // The request may have come, and its sender gone, before the
        // connection was taken.
        read();
        if (peer->state() == QLocalSocket::UnconnectedState)
            peer->deleteLater();
    }
}

} // namespace platform
