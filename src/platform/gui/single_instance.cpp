#include "platform/single_instance.h"

// What both systems share: the lock is taken without waiting, and a start
// that finds it held hands its request to the first one and ends.

#include "platform/gui/instance_system.h"

#include <QDeadlineTimer>
#include <QThread>

using namespace Qt::StringLiterals;

namespace platform {

namespace {

// The pause between two attempts to reach a first start that is not listening yet.
constexpr unsigned long RetryPauseMs = 20;

} // namespace

using namespace instance;

SingleInstance::SingleInstance(const QString &folder, QObject *parent)
    : QObject(parent), m_folder(folder), m_lock(noLock())
{}

SingleInstance::~SingleInstance()
{
    // The socket goes before the lock, so the next first start finds no
    // socket of ours to connect to.
    m_listener.reset();
    if (m_lock != noLock())
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
    if (m_lock == noLock()) {
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
    m_listener = makeListener(this);
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
