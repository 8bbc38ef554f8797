#pragma once

// One running Vantelo per user: a later start asks the running one to show
// itself and ends, instead of a second monitor following the same call.
//
// Who is first is decided by a lock on a file of the given folder, so two
// starts at the same moment cannot both win; the first then listens on a
// local socket in that folder, and a later start connects to it and sends its
// request. The lock dies with its process, so a crashed Vantelo leaves
// nothing that keeps the next start out. The request travels over a Unix
// domain socket, or over a named pipe on Windows.

#include <QObject>
#include <QString>

#include <memory>

namespace platform {

class InstanceListener;

class SingleInstance final : public QObject
{
    Q_OBJECT

public:
    enum class Role {
        First,       // this process runs the program and serves later starts
        Unguarded,   // no folder, or its lock cannot be used: runs without the guard
        Forwarded,   // another process runs: it was asked to show itself
        Unreachable, // another process holds the lock but could not be reached
    };

    // `folder` is the user's private runtime folder (runtimeFolder()); an
    // empty one leaves the program unguarded.
    explicit SingleInstance(const QString &folder, QObject *parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // Decides this process's role; called once. A later start tries for
    // `timeoutMs` to reach the first one (which may still be starting).
    Role claim(int timeoutMs = 2000);

    // Why the guard is off (Unguarded) or the first could not be reached
    // (Unreachable); empty otherwise.
    QString problem() const { return m_problem; }

    QString lockPath() const;
    QString socketPath() const;

signals:
    // A later start asked this one to show itself.
    void showRequested();

private:
    bool tryLock();
    bool listen();
    bool forward(int timeoutMs);

    QString m_folder;
    QString m_problem;
    // The socket a first start listens on, and the connections it serves.
    std::unique_ptr<InstanceListener> m_listener;
    // The open lock file (a descriptor, or a handle on Windows); kept open
    // while this process is the first.
    qintptr m_lock = -1;
    bool m_locked = false;
};

} // namespace platform
