// The single-instance guard on Linux and other Unix systems: the lock is a
// file locked with flock, and the first start listens on a Unix socket in the
// user's private runtime folder.

#include "platform/gui/instance_system.h"

#include <QDeadlineTimer>
#include <QFile>
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

using namespace Qt::StringLiterals;

namespace platform::instance {

namespace {

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

class Listener final : public InstanceListener
{
public:
    explicit Listener(SingleInstance *owner) : m_owner(owner) {}
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;

    ~Listener() override
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

    bool listen(const QString &path, QString *error) override
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

} // namespace

qintptr noLock()
{
    return -1;
}

qintptr openLockFile(const QString &path, QString *error)
{
    // A link in the folder's place of the lock is not followed.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    return fd;
}

bool lockWithoutWaiting(qintptr lock)
{
    int result = 0;
    do {
        result = ::flock(static_cast<int>(lock), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

void closeLockFile(qintptr lock)
{
    ::close(static_cast<int>(lock));
}

std::unique_ptr<InstanceListener> makeListener(SingleInstance *owner)
{
    return std::make_unique<Listener>(owner);
}

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

} // namespace platform::instance
