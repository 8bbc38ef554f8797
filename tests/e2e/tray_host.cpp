// A minimal notification-area host for the end-to-end tests.
//
// It owns org.kde.StatusNotifierWatcher on the session bus and says that a
// host is registered, which is what makes a Qt program put its tray icon on
// the bus as a StatusNotifierItem instead of looking for an XEmbed tray. It
// shows nothing: every item that registers or goes away is reported on
// standard output, one line each, so a test can find the item and then talk
// to it directly (read its ToolTip, call its ContextMenu):
//
//   registered <bus name> <object path>
//   unregistered <bus name> <object path>
//
// The first line, "ready", comes once the watcher's name is owned.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QStringList>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

const QString watcherService = u"org.kde.StatusNotifierWatcher"_s;
const QString watcherPath = u"/StatusNotifierWatcher"_s;
const QString defaultItemPath = u"/StatusNotifierItem"_s;

void report(const QString &line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class StatusNotifierWatcher final : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    explicit StatusNotifierWatcher(const QDBusConnection &bus, QObject *parent = nullptr)
        : QObject(parent), m_bus(bus), m_owners(this)
    {
        m_owners.setConnection(m_bus);
        m_owners.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
        connect(&m_owners, &QDBusServiceWatcher::serviceUnregistered, this,
                &StatusNotifierWatcher::ownerGone);
    }

    QStringList registeredItems() const { return m_items; }
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

public Q_SLOTS:
    // Items name themselves either by a bus name (the item then lives at
    // /StatusNotifierItem) or by an object path on the caller's connection.
    void RegisterStatusNotifierItem(const QString &serviceOrPath)
    {
        QString service = serviceOrPath;
        QString path = defaultItemPath;
        if (serviceOrPath.startsWith(u'/')) {
            service = message().service();
            path = serviceOrPath;
        }
        const QString item = service + path;
        if (m_items.contains(item))
            return;
        m_items.append(item);
        m_owners.addWatchedService(service);
        report(u"registered "_s + service + u' ' + path);
        Q_EMIT StatusNotifierItemRegistered(item);
    }

    void RegisterStatusNotifierHost(const QString &service)
    {
        // This process is the one host; others are accepted and forgotten.
        Q_UNUSED(service)
        Q_EMIT StatusNotifierHostRegistered();
    }

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString &item);
    void StatusNotifierItemUnregistered(const QString &item);
    void StatusNotifierHostRegistered();
    void StatusNotifierHostUnregistered();

private:
    void ownerGone(const QString &service)
    {
        m_owners.removeWatchedService(service);
        for (qsizetype i = m_items.size() - 1; i >= 0; --i) {
            const QString item = m_items.at(i);
            const qsizetype slash = item.indexOf(u'/');
            if (item.left(slash) != service)
                continue;
            m_items.removeAt(i);
            report(u"unregistered "_s + service + u' ' + item.mid(slash));
            Q_EMIT StatusNotifierItemUnregistered(item);
        }
    }

    QDBusConnection m_bus;
    QDBusServiceWatcher m_owners;
    QStringList m_items;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fputs("tray_host: no session bus\n", stderr);
        return 2;
    }
    StatusNotifierWatcher watcher(bus);
    if (!bus.registerObject(watcherPath, &watcher,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties)) {
        std::fputs("tray_host: cannot export the watcher\n", stderr);
        return 2;
    }
    if (!bus.registerService(watcherService)) {
        std::fprintf(stderr, "tray_host: cannot own %s: %s\n",
                     watcherService.toLocal8Bit().constData(),
                     bus.lastError().message().toLocal8Bit().constData());
        return 2;
    }
    // The host side: a name of its own, as hosts have, and the signal that
    // tells items already waiting that they can register now.
    bus.registerService(u"org.kde.StatusNotifierHost-%1"_s.arg(QCoreApplication::applicationPid()));
    Q_EMIT watcher.StatusNotifierHostRegistered();
    report(u"ready"_s);
    return app.exec();
}

#include "tray_host.moc"
