#include "platform/window_handles.h"

// Windows and icons on Windows are the system's own handles: a widget's
// native window (QWidget::winId) and an icon made from a QIcon. Two kinds of
// message reach the program's windows from outside Qt, and a native event
// filter on the windows' message loop takes them:
// - the tray icon's callback (the record's uCallbackMessage, with the mouse
//   message in lParam) becomes the TrayCallbackEvent that the program's
//   window handles on every system;
// - the dial's progress messages (RasDialEvent), which the program does not
//   process: it follows a call by asking for its state.

#include "platform/win/win_shell.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QHash>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace {

// WM_RASDIALEVENT, and the message of that name the service uses when one is
// registered.
constexpr UINT RasDialEventFixed = 0xCCCD;

bool isDialEvent(UINT message)
{
    static const UINT registered = RegisterWindowMessageA("RasDialEvent");
    return message == RasDialEventFixed || (registered != 0 && message == registered);
}

class MessageFilter final : public QAbstractNativeEventFilter
{
public:
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override
    {
        if (eventType != "windows_generic_MSG" || !message)
            return false;
        const MSG *msg = static_cast<const MSG *>(message);
        if (isDialEvent(msg->message)) {
            *result = 0;
            return true;
        }
        const UINT mouse =
            platform::tray::callbackMouseMessage(msg->hwnd, msg->message, msg->wParam, msg->lParam);
        if (mouse == 0)
            return false;
        if (QObject *window = platform::windowFromHandle(msg->hwnd))
            QCoreApplication::postEvent(window,
                                        new platform::TrayCallbackEvent(msg->message, mouse));
        *result = 0;
        return true;
    }
};

// Installed on the application's loop when the first window handle is given
// out: the tray record and the dial's notifier both carry one.
void installFilter()
{
    static MessageFilter filter;
    static QPointer<QCoreApplication> installedOn;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || installedOn == app)
        return;
    app->installNativeEventFilter(&filter);
    installedOn = app;
}

QHash<qint64, HICON> &iconsByKey()
{
    static QHash<qint64, HICON> icons;
    return icons;
}

} // namespace

namespace platform {

HWND windowHandle(QObject *window)
{
    WId id = 0;
    if (auto *widget = qobject_cast<QWidget *>(window))
        id = widget->window()->winId();
    else if (auto *qwindow = qobject_cast<QWindow *>(window))
        id = qwindow->winId();
    if (id == 0)
        return nullptr;
    installFilter();
    return reinterpret_cast<HWND>(id);
}

QObject *windowFromHandle(HWND hwnd)
{
    if (!hwnd)
        return nullptr;
    return QWidget::find(reinterpret_cast<WId>(hwnd));
}

// One system icon per QIcon, at the size of the tray's icons, kept for the
// life of the process (the program has one).
HICON iconHandle(const QIcon &icon)
{
    if (icon.isNull())
        return nullptr;
    const auto known = iconsByKey().constFind(icon.cacheKey());
    if (known != iconsByKey().constEnd())
        return known.value();
    const int side = GetSystemMetrics(SM_CXSMICON) > 0 ? GetSystemMetrics(SM_CXSMICON) : 16;
    const HICON handle = icon.pixmap(side, side).toImage().toHICON();
    if (handle)
        iconsByKey().insert(icon.cacheKey(), handle);
    return handle;
}

QIcon iconFromHandle(HICON handle)
{
    if (!handle)
        return QIcon();
    const QImage image = QImage::fromHICON(handle);
    return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}

HINSTANCE instanceHandle()
{
    return GetModuleHandleW(nullptr);
}

// The shell's notification area is part of every Windows desktop.
bool desktopHasTray()
{
    return true;
}

// The shell passes every mouse message on to the window, which opens its menu.
void setTrayMenu(HWND, UINT, QMenu *) {}

QEvent::Type TrayCallbackEvent::eventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

} // namespace platform
