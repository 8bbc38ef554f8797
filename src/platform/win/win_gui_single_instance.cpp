// The single-instance guard on Windows: the lock is a file locked with
// LockFileEx, and the first start listens on Qt's local server (a named pipe
// only the user can open).

#include "platform/gui/instance_system.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <windows.h>

using namespace Qt::StringLiterals;

namespace platform::instance {

namespace {

class Listener final : public InstanceListener
{
public:
    explicit Listener(SingleInstance *owner) : m_owner(owner) {}

    bool listen(const QString &path, QString *error) override
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

} // namespace

qintptr noLock()
{
    return reinterpret_cast<qintptr>(INVALID_HANDLE_VALUE);
}

qintptr openLockFile(const QString &path, QString *error)
{
    const HANDLE file = CreateFileW(
        reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        *error = u"error %1"_s.arg(GetLastError());
    return reinterpret_cast<qintptr>(file);
}

bool lockWithoutWaiting(qintptr lock)
{
    OVERLAPPED at{};
    return LockFileEx(reinterpret_cast<HANDLE>(lock),
                      LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

void closeLockFile(qintptr lock)
{
    CloseHandle(reinterpret_cast<HANDLE>(lock));
}

std::unique_ptr<InstanceListener> makeListener(SingleInstance *owner)
{
    return std::make_unique<Listener>(owner);
}

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

} // namespace platform::instance
