#include "platform/single_instance.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#ifdef _WIN32
#include <QLocalServer>
#include <QLocalSocket>
#include <windows.h>
#else
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <list>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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

#ifdef _WIN32

// Sends the request to the first start's local server; false with `error`
// set when it cannot be reached by `deadline`.
bool sendShowRequest(const QString &path, const QDeadlineTimer &deadline, QString *error)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    if (socket.waitForConnected(static_cast<int>(qMax<qint64>(deadline.remainingTime(), 0)))) {
        socket.write(ShowRequest, static_cast<qint64>(sizeof ShowRequest - 1));
        while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(static_cast<int>(
                                                qMax<qint64>(deadline.remainingTime(), 0)))) {
        }
        const bool sent = socket.bytesToWrite() == 0;
        socket.disconnectFromServer();
        if (sent)
            return true;
    }
    *error = socket.errorString();
    return false;
}

#else

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The address of the socket at `path`; false when the path does not fit.
bool socketAddress(const QString &path, sockaddr_un *address)
{
    const QByteArray name = QFile::encodeName(path);
    *address = {};
    address->sun_family = AF_UNIX;
    if (name.isEmpty() || static_cast<size_t>(name.size()) >= sizeof address->sun_path)
        return false;
    std::memcpy(address->sun_path, name.constData(), static_cast<size_t>(name.size()));
    return true;
}

const sockaddr *asSocketAddress(const sockaddr_un *address)
{
    return static_cast<const sockaddr *>(static_cast<const void *>(address));
}

// Waits until `fd` is ready for `events` or `deadline` passes.
bool waitFor(int fd, short events, const QDeadlineTimer &deadline)
{
    for (;;) {
        pollfd entry{fd, events, 0};
        const int result =
            ::poll(&entry, 1, static_cast<int>(qMax<qint64>(deadline.remainingTime(), 0)));
        if (result > 0)
            return true;
        if (result == 0 || errno != EINTR)
            return false;
    }
}

// Sends the request over a socket of this system that never blocks past
// `deadline`; false with `error` set when the first start cannot be reached.
bool sendShowRequest(const QString &path, const QDeadlineTimer &deadline, QString *error)
{
    sockaddr_un address;
    if (!socketAddress(path, &address)) {
        *error = errnoText(ENAMETOOLONG);
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = errnoText(errno);
        return false;
    }
    int failure = 0;
    if (::connect(fd, asSocketAddress(&address), sizeof address) != 0) {
        failure = errno;
        if (failure == EINPROGRESS || failure == EINTR) {
            socklen_t size = sizeof failure;
            failure = ETIMEDOUT;
            if (waitFor(fd, POLLOUT, deadline) &&
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size) != 0)
                failure = errno;
        }
    }
    const char *left = ShowRequest;
    size_t leftSize = sizeof ShowRequest - 1;
    while (failure == 0 && leftSize > 0) {
        const ssize_t sent = ::send(fd, left, leftSize, MSG_NOSIGNAL);
        if (sent > 0) {
            left += sent;
            leftSize -= static_cast<size_t>(sent);
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(fd, POLLOUT, deadline))
                failure = ETIMEDOUT;
        } else if (sent < 0 && errno != EINTR) {
            failure = errno;
        }
    }
    ::close(fd);
    if (failure != 0)
        *error = errnoText(failure);
    return failure == 0;
}

#endif

} // namespace

#ifdef _WIN32

class SingleInstance::Listener final
{
public:
    explicit Listener(SingleInstance *owner) : m_owner(owner) {}

    bool listen(const QString &path, QString *error)
    {
        m_server.setSocketOptions(QLocalServer::UserAccessOption);
        // Only the holder of the lock listens: a socket left by one that ended
        // without closing it is stale.
        QLocalServer::removeServer(path);
        if (!m_server.listen(path)) {
            *error = m_server.errorString();
            return false;
        }
        QObject::connect(&m_server, &QLocalServer::newConnection, m_owner, [this] { serve(); });
        return true;
    }

private:
    void serve()
    {
        while (QLocalSocket *peer = m_server.nextPendingConnection()) {
            auto read = [this, peer] {
                while (peer->canReadLine()) {
                    if (peer->readLine(RequestLimit).trimmed() == "show")
                        emit m_owner->showRequested();
                }
                if (peer->bytesAvailable() >= RequestLimit)
                    peer->abort();
            };
            QObject::connect(peer, &QLocalSocket::readyRead, m_owner, read);
            QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            // The request may have come, and its sender gone, before the
            // connection was taken.
            read();
            if (peer->state() == QLocalSocket::UnconnectedState)
                peer->deleteLater();
        }
    }

    SingleInstance *m_owner;
    QLocalServer m_server;
};

#else

class SingleInstance::Listener final
{
public:
    explicit Listener(SingleInstance *owner) : m_owner(owner) {}
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;

    ~Listener()
    {
        for (Peer &peer : m_peers)
            delete peer.notifier;
        for (Peer &peer : m_peers)
            ::close(peer.fd);
        if (m_fd < 0)
            return;
        // The socket is ours (this process holds the lock): a later start
        // finds none to connect to.
        if (m_bound)
            ::unlink(m_name.constData());
        m_notifier.reset();
        ::close(m_fd);
    }

    bool listen(const QString &path, QString *error)
    {
        sockaddr_un address;
        if (!socketAddress(path, &address)) {
            *error = errnoText(ENAMETOOLONG);
            return false;
        }
        m_name = QFile::encodeName(path);
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (m_fd < 0) {
            *error = errnoText(errno);
            return false;
        }
        // Only the holder of the lock listens: a socket left by one that ended
        // without closing it is stale.
        ::unlink(m_name.constData());
        if (::bind(m_fd, asSocketAddress(&address), sizeof address) != 0) {
            *error = errnoText(errno);
            return false;
        }
        m_bound = true;
        // Private to the user before anyone can connect: connections are
        // taken only once it listens.
        if (::chmod(m_name.constData(), 0600) != 0 || ::listen(m_fd, Backlog) != 0) {
            *error = errnoText(errno);
            return false;
        }
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_owner,
                         [this] { acceptPeers(); });
        return true;
    }

private:
    struct Peer
    {
        int fd = -1;
        QSocketNotifier *notifier = nullptr;
        QByteArray pending;
    };

    static constexpr int Backlog = 16;
    // At most this many connections are taken at a time, so that a burst of
    // them cannot hold up the event loop.
    static constexpr int AcceptsAtATime = 8;

    void acceptPeers()
    {
        for (int i = 0; i < AcceptsAtATime; ++i) {
            const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0)
                return;
            Peer &peer = m_peers.emplace_back();
            peer.fd = fd;
            peer.notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
            const auto at = std::prev(m_peers.end());
            QObject::connect(peer.notifier, &QSocketNotifier::activated, m_owner,
                             [this, at] { readPeer(at); });
        }
    }

    // One read of a peer's request lines at a time; the peer is let go at its
    // end, on an error, or when it sends more than a request without a line end.
    void readPeer(std::list<Peer>::iterator at)
    {
        Peer &peer = *at;
        char chunk[RequestLimit];
        const ssize_t got = ::read(peer.fd, chunk, sizeof chunk);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        int shows = 0;
        if (got > 0) {
            peer.pending.append(chunk, got);
            for (qsizetype end = peer.pending.indexOf('\n'); end >= 0;
                 end = peer.pending.indexOf('\n')) {
                if (peer.pending.left(end).trimmed() == "show")
                    ++shows;
                peer.pending.remove(0, end + 1);
            }
        }
        if (got <= 0 || peer.pending.size() >= RequestLimit) {
            // Its notifier may be the one calling: it goes later.
            peer.notifier->setEnabled(false);
            peer.notifier->deleteLater();
            ::close(peer.fd);
            m_peers.erase(at);
        }
        // Last, as the window shown may run an event loop of its own.
        SingleInstance *const owner = m_owner;
        for (int i = 0; i < shows; ++i)
            emit owner->showRequested();
    }

    SingleInstance *m_owner;
    int m_fd = -1;
    QByteArray m_name;
    bool m_bound = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::list<Peer> m_peers;
};

#endif

SingleInstance::SingleInstance(const QString &folder, QObject *parent)
    : QObject(parent), m_folder(folder), m_lock(NoLock)
{}

SingleInstance::~SingleInstance()
{
    // The socket goes before the lock, so the next first start finds no
    // socket of ours to connect to.
    m_listener.reset();
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
    m_listener = std::make_unique<Listener>(this);
    QString error;
    if (!m_listener->listen(socketPath(), &error)) {
        m_listener.reset();
        m_problem = u"cannot listen on %1 (%2); a later start cannot reach this one"_s.arg(
            socketPath(), error);
        return false;
    }
    return true;
}

bool SingleInstance::forward(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        // The first may hold the lock and not listen yet: try again until the
        // time is up.
        QString error;
        if (sendShowRequest(socketPath(), deadline, &error)) {
            m_problem.clear();
            return true;
        }
        m_problem =
            u"Vantelo is already running but does not answer at %1 (%2)"_s.arg(socketPath(), error);
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

} // namespace platform
