#include "platform/window_handles.h"

#include <QCoreApplication>
#include <QHash>
#include <QIcon>
#include <QObject>
#include <QPointer>

namespace {

// Handles are plain counters. A handle keeps naming its object through a
// QPointer, so a handle of a destroyed object resolves to nothing even if a new
// object takes the old one's address.
struct WindowTable
{
    HWND next = 0x00010000;
    QHash<QObject *, HWND> byObject;
    QHash<HWND, QPointer<QObject>> byHandle;
};

WindowTable &windows()
{
    static WindowTable table;
    return table;
}

struct IconTable
{
    HICON next = 0x00200000;
    QHash<qint64, HICON> byKey;
    QHash<HICON, QIcon> byHandle;
};

IconTable &icons()
{
    static IconTable table;
    return table;
}

} // namespace

namespace platform {

HWND windowHandle(QObject *window)
{
    if (!window)
        return 0;
    WindowTable &t = windows();
    const auto known = t.byObject.constFind(window);
    if (known != t.byObject.constEnd()) {
        const QPointer<QObject> &object = t.byHandle[known.value()];
        if (object == window)
            return known.value();
        // The address belonged to an object that has gone since.
        t.byHandle.remove(known.value());
    }
    const HWND handle = t.next++;
    t.byObject.insert(window, handle);
    t.byHandle.insert(handle, window);
    return handle;
}

QObject *windowFromHandle(HWND hwnd)
{
    return windows().byHandle.value(hwnd).data();
}

HICON iconHandle(const QIcon &icon)
{
    if (icon.isNull())
        return 0;
    IconTable &t = icons();
    const auto known = t.byKey.constFind(icon.cacheKey());
    if (known != t.byKey.constEnd())
        return known.value();
    const HICON handle = t.next++;
    t.byKey.insert(icon.cacheKey(), handle);
    t.byHandle.insert(handle, icon);
    return handle;
}

QIcon iconFromHandle(HICON handle)
{
    return icons().byHandle.value(handle);
}

HINSTANCE instanceHandle()
{
    return windowHandle(QCoreApplication::instance());
}

QEvent::Type TrayCallbackEvent::eventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

} // namespace platform
