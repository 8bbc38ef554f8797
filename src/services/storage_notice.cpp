#include "services/storage_notice.h"

#include <QDir>
#include <QMutex>
#include <QSet>

#include <utility>

namespace StorageNotice {

namespace {

struct State
{
    QMutex mutex;
    QSet<QString> told;
    QStringList waiting;
    std::function<void()> listener;
};

State &state()
{
    static State s;
    return s;
}

QString sentence(Problem problem, const QString &path, const QString &reason)
{
    const QString where = QDir::toNativeSeparators(path);
    const QString why = reason.isEmpty() ? QStringLiteral("unknown reason") : reason;
    if (problem == Problem::NotRead)
        return QStringLiteral("Vantelo cannot read %1 (%2); it runs with its defaults and "
                              "leaves the file as it is.")
            .arg(where, why);
    return QStringLiteral("Vantelo cannot save %1 (%2); changes to it are lost.").arg(where, why);
}

} // namespace

void report(Problem problem, const QString &path, const QString &reason)
{
    State &s = state();
    std::function<void()> listener;
    {
        const QMutexLocker locker(&s.mutex);
        if (s.told.contains(path))
            return;
        s.told.insert(path);
        s.waiting.append(sentence(problem, path, reason));
        listener = s.listener;
    }
    if (listener)
        listener();
}

QStringList take()
{
    State &s = state();
    const QMutexLocker locker(&s.mutex);
    return std::exchange(s.waiting, {});
}

void setListener(std::function<void()> listener)
{
    State &s = state();
    bool waiting = false;
    {
        const QMutexLocker locker(&s.mutex);
        s.listener = listener;
        waiting = !s.waiting.isEmpty();
    }
    if (listener && waiting)
        listener();
}

void reset()
{
    State &s = state();
    const QMutexLocker locker(&s.mutex);
    s.told.clear();
    s.waiting.clear();
    s.listener = nullptr;
}

} // namespace StorageNotice
