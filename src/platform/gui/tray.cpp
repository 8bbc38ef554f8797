#include "gui_state.h"

#include "platform/ansi.h"
#include "platform/shell.h"
#include "platform/window_handles.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

using namespace Qt::StringLiterals;

namespace platform::gui {

namespace {

// Whether the icons go to a status-notifier host over D-Bus rather than to an
// XEmbed tray. Qt chooses once for the whole run, the first time it makes an
// icon or is asked whether there is a tray, by asking the session bus for a
// watcher that has a host; the same question is asked here at the same
// moment, and the answer kept. Qt is therefore never asked before there is
// a tray (see TrayWatch): asked on a desktop with none, it would keep to
// XEmbed, and a status-notifier panel that starts later would never see the
// icon.
std::optional<bool> g_statusNotifierHost;

const QString WatcherService = u"org.kde.StatusNotifierWatcher"_s;
const QString WatcherPath = u"/StatusNotifierWatcher"_s;

bool askStatusNotifierHost()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(WatcherService).value())
        return false;
    const QDBusInterface host(WatcherService, WatcherPath, WatcherService, bus);
    return host.property("IsStatusNotifierHostRegistered").toBool();
}

// Whether an XEmbed tray holds the screen's system tray selection.
bool askXEmbedTray()
{
    const auto *x11 =
        qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    // The screen's number is the display name's last part (":0.1"), 0 without.
    int screen = 0;
    const QByteArray display = qgetenv("DISPLAY");
    const qsizetype colon = display.lastIndexOf(':');
    if (const qsizetype dot = display.indexOf('.', colon); colon >= 0 && dot > colon)
        screen = display.mid(dot + 1).toInt();
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen);
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.constData()),
        nullptr);
    if (!atom)
        return false;
    xcb_get_selection_owner_reply_t *owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    std::free(owner);
    std::free(atom);
    return owned;
}

bool trayPresent()
{
    if (const std::optional<bool> present = state().desktopTray)
        return *present;
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return false;
    return askStatusNotifierHost() || askXEmbedTray();
}

bool statusNotifierHost()
{
    if (!g_statusNotifierHost)
        g_statusNotifierHost = askStatusNotifierHost();
    return *g_statusNotifierHost;
}

// How many of the latest Shell_NotifyIconA calls the seams keep.
constexpr qsizetype ShellNotifyCallsKept = 1024;

std::vector<TrayRecord>::iterator findIcon(HWND hwnd, UINT id)
{
    auto &icons = state().trayIcons;
    return std::find_if(icons.begin(), icons.end(),
                        [&](const TrayRecord &r) { return r.hwnd == hwnd && r.id == id; });
}

// Takes what the flags say from the record.
void apply(TrayRecord &record, const NOTIFYICONDATA &data)
{
    if (data.uFlags & NIF_MESSAGE) {
        record.hasMessage = true;
        record.callbackMessage = data.uCallbackMessage;
    }
    if (data.uFlags & NIF_ICON)
        record.icon = data.hIcon;
    if (data.uFlags & NIF_TIP)
        // A tip without a NUL keeps all but its last byte, the NUL's place.
        record.tip = platform::fieldText(data.szTip, static_cast<int>(sizeof data.szTip) - 1);
    // The desktop hears only of what changed: a tip rewritten every second
    // does not send the icon's pixels again.
    if (QSystemTrayIcon *tray = record.tray.data()) {
        if ((data.uFlags & NIF_ICON) || tray->icon().isNull()) {
            QIcon icon = iconFromHandle(record.icon);
            if (icon.isNull())
                icon = QApplication::windowIcon();
            tray->setIcon(icon);
        }
        if (tray->toolTip() != record.tip)
            tray->setToolTip(record.tip);
    }
}

// The mouse messages a desktop activation stands for. An XEmbed tray passes
// the clicks on as they come: a press, then a double click. A
// status-notifier host has one Activate call for what its user does to open
// the program (a click on some, a double click on others, each click of a
// double click on yet others): it stands for the double click that shows the
// window.
QList<UINT> messagesFor(QSystemTrayIcon::ActivationReason reason, bool statusNotifier)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        if (statusNotifier)
            return {WM_LBUTTONDOWN, WM_LBUTTONDBLCLK};
        return {WM_LBUTTONDOWN};
    case QSystemTrayIcon::DoubleClick:
        return {WM_LBUTTONDOWN, WM_LBUTTONDBLCLK};
    case QSystemTrayIcon::Context:
        // A right click is a press and a release, as the desktop reports them.
        return {WM_RBUTTONDOWN, WM_RBUTTONUP};
    default:
        return {};
    }
}

void activated(HWND hwnd, UINT id, QSystemTrayIcon::ActivationReason reason)
{
    const auto it = findIcon(hwnd, id);
    if (it == state().trayIcons.end())
        return;
    for (UINT message : messagesFor(reason, statusNotifierHost())) {
        if (!deliverTrayMouse(*it, message))
            return;
    }
}

void watchForTray();

// The icon, or null without a widget application to own one or while the
// desktop has no tray (watchForTray makes it once one appears). Once made it
// stays: an XEmbed tray that restarts takes it again, and so does a
// status-notifier watcher that starts again.
QSystemTrayIcon *createTray(HWND hwnd, UINT id)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return nullptr;
    if (!g_statusNotifierHost && !trayPresent()) {
        watchForTray();
        return nullptr;
    }
    statusNotifierHost(); // asked before Qt asks it

    // Owned by the application, so it goes with it at exit.
    auto *tray = new QSystemTrayIcon(QCoreApplication::instance());
    QObject::connect(
        tray, &QSystemTrayIcon::activated, tray,
        [hwnd, id](QSystemTrayIcon::ActivationReason reason) { activated(hwnd, id, reason); });
    return tray;
}

// Gives the icons without a tray theirs, with their icon, tip and menu.
void makeMissingTrays()
{
    for (TrayRecord &record : state().trayIcons) {
        if (!record.tray.isNull())
            continue;
        record.tray = createTray(record.hwnd, record.id);
        if (record.tray.isNull())
            continue;
        NOTIFYICONDATA data{};
        data.uFlags = NIF_ICON;
        data.hIcon = record.icon;
        apply(record, data);
        if (record.menu && statusNotifierHost())
            record.tray->setContextMenu(record.menu);
        record.tray->show();
    }
}

// Waits, while the desktop has no tray, for one to appear: a status-notifier
// watcher on the session bus (the bus tells of it), its host or an XEmbed
// tray taking the screen's selection (looked for once a second). Qt is asked
// nothing until then, so it picks the kind of tray that has appeared. Made
// with the first icon that finds no tray, it stays for the run, idle once
// every icon has its tray.
class TrayWatch : public QObject
{
public:
    TrayWatch() : QObject(QCoreApplication::instance())
    {
        const QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected()) {
            auto *watcher = new QDBusServiceWatcher(
                WatcherService, bus, QDBusServiceWatcher::WatchForRegistration, this);
            connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &TrayWatch::look);
        }
        m_timer.setInterval(1000);
        connect(&m_timer, &QTimer::timeout, this, &TrayWatch::look);
    }

    void start() { m_timer.start(); }

private:
    void look()
    {
        const bool waiting = std::any_of(state().trayIcons.cbegin(), state().trayIcons.cend(),
                                         [](const TrayRecord &r) { return r.tray.isNull(); });
        if (!waiting) {
            m_timer.stop();
            return;
        }
        if (!trayPresent())
            return;
        m_timer.stop();
        makeMissingTrays(); // starts the watch again if the tray went meanwhile
    }

    QTimer m_timer;
};

void watchForTray()
{
    static QPointer<TrayWatch> watch;
    if (watch.isNull())
        watch = new TrayWatch;
    watch->start();
}

void removeTray(TrayRecord &record)
{
    if (QSystemTrayIcon *tray = record.tray.data()) {
        tray->hide();
        tray->deleteLater();
    }
    record.tray = nullptr;
}

} // namespace

bool deliverTrayMouse(const TrayRecord &record, UINT mouseMessage)
{
    if (!record.hasMessage)
        return false;
    QObject *window = windowFromHandle(record.hwnd);
    if (!window)
        return false;
    QCoreApplication::postEvent(window,
                                new TrayCallbackEvent(record.callbackMessage, mouseMessage));
    return true;
}

} // namespace platform::gui

using namespace platform::gui;

BOOL Shell_NotifyIconA(DWORD dwMessage, NOTIFYICONDATA *lpData)
{
    // Recorded first, so the seams see the calls with or without a tray.
    // The tip is rewritten every second for as long as the program runs: the
    // record keeps the latest calls only, dropping the older half at once
    // when full, so it neither grows without end nor moves on every call.
    NOTIFYICONDATA copy{};
    if (lpData)
        copy = *lpData;
    auto &calls = state().shellNotifyCalls;
    if (calls.size() >= ShellNotifyCallsKept)
        calls.remove(0, ShellNotifyCallsKept / 2);
    calls.append({dwMessage, copy});
    if (!lpData)
        return FALSE;

    auto &icons = state().trayIcons;
    const auto it = findIcon(lpData->hWnd, lpData->uID);
    switch (dwMessage) {
    case NIM_ADD: {
        if (it != icons.end())
            return FALSE;
        TrayRecord record;
        record.hwnd = lpData->hWnd;
        record.id = lpData->uID;
        record.tray = createTray(record.hwnd, record.id);
        apply(record, *lpData);
        if (!record.tray.isNull())
            record.tray->show();
        icons.push_back(std::move(record));
        return platform::desktopHasTray() ? TRUE : FALSE;
    }
    case NIM_MODIFY:
        if (it == icons.end())
            return FALSE;
        apply(*it, *lpData);
        // The tip changes every second: the desktop is not asked again here.
        return it->tray.isNull() ? FALSE : TRUE;
    case NIM_DELETE: {
        if (it == icons.end())
            return FALSE;
        const bool shown = !it->tray.isNull() && platform::desktopHasTray();
        removeTray(*it);
        icons.erase(it);
        return shown ? TRUE : FALSE;
    }
    default:
        return FALSE;
    }
}

namespace platform {

// Asked of the desktop, not of Qt: Qt would settle its kind of tray with the
// first question (see g_statusNotifierHost).
bool desktopHasTray()
{
    return gui::trayPresent();
}

void setTrayMenu(HWND hwnd, UINT id, QMenu *menu)
{
    const auto it = gui::findIcon(hwnd, id);
    if (it == gui::state().trayIcons.end())
        return;
    it->menu = menu;
    // Qt hands the menu to the host as a D-Bus menu, which the host draws.
    if (QSystemTrayIcon *tray = it->tray.data(); tray && gui::statusNotifierHost())
        tray->setContextMenu(menu);
}

} // namespace platform

namespace platform::seams {

bool sendTrayMouse(HWND hwnd, UINT mouseMessage)
{
    auto &icons = gui::state().trayIcons;
    const auto it = std::find_if(icons.begin(), icons.end(),
                                 [hwnd](const gui::TrayRecord &r) { return r.hwnd == hwnd; });
    if (it == icons.end())
        return false;
    // The same path as an XEmbed tray's clicks; other messages pass as they are.
    QList<UINT> messages{mouseMessage};
    if (mouseMessage == WM_LBUTTONDOWN)
        messages = gui::messagesFor(QSystemTrayIcon::Trigger, false);
    else if (mouseMessage == WM_LBUTTONDBLCLK)
        messages = gui::messagesFor(QSystemTrayIcon::DoubleClick, false);
    else if (mouseMessage == WM_RBUTTONDOWN || mouseMessage == WM_RBUTTONUP)
        messages = gui::messagesFor(QSystemTrayIcon::Context, false);
    for (UINT message : messages) {
        if (!gui::deliverTrayMouse(*it, message))
            return false;
    }
    return true;
}

bool sendTrayActivate(HWND hwnd)
{
    auto &icons = gui::state().trayIcons;
    const auto it = std::find_if(icons.begin(), icons.end(),
                                 [hwnd](const gui::TrayRecord &r) { return r.hwnd == hwnd; });
    if (it == icons.end())
        return false;
    for (UINT message : gui::messagesFor(QSystemTrayIcon::Trigger, true)) {
        if (!gui::deliverTrayMouse(*it, message))
            return false;
    }
    return true;
}

QMenu *trayMenu()
{
    const auto &icons = gui::state().trayIcons;
    if (icons.empty() || !icons.front().tray)
        return nullptr;
    return icons.front().tray->contextMenu();
}

void setDesktopTray(std::optional<bool> present)
{
    gui::state().desktopTray = present;
}

void setStatusNotifierHost(bool host)
{
    gui::g_statusNotifierHost = host;
}

QString trayToolTip()
{
    const auto &icons = gui::state().trayIcons;
    return icons.empty() ? QString() : icons.front().tip;
}

const QList<ShellNotifyCall> &shellNotifyCalls()
{
    return gui::state().shellNotifyCalls;
}

void clearShellNotifyCalls()
{
    gui::state().shellNotifyCalls.clear();
}

} // namespace platform::seams
