#pragma once

// Windows of the program as the platform's records see them: a handle for a
// window object and for an icon (the system's own on Windows, 32-bit numbers
// of the platform's tables elsewhere), the event a tray icon's mouse activity
// arrives as, and the screen's twips per pixel.

#include "platform/wintypes.h"

#include <QEvent>

class QIcon;
class QMenu;
class QObject;

namespace platform {

// The handle that stands for a window object (0 for nullptr); the same object
// keeps the same handle. windowFromHandle gives nullptr for a handle that no
// longer names a live object.
HWND windowHandle(QObject *window);
QObject *windowFromHandle(HWND hwnd);

HICON iconHandle(const QIcon &icon);
QIcon iconFromHandle(HICON handle);

// The program's instance handle (on Windows the executable's module; elsewhere
// the handle of the application object, which stands for it).
HINSTANCE instanceHandle();

// Twips (1/1440 inch) per screen pixel; the program lays its windows out at
// 15 twips per pixel, as at the usual 96 dots per inch.
inline constexpr int TwipsPerPixelX = 15;
inline constexpr int TwipsPerPixelY = 15;
inline constexpr int twipsToPixels(int twips)
{
    return twips / TwipsPerPixelX;
}

// Whether the desktop shows tray icons now: a tray (XEmbed) or a
// status-notifier host is there. Where none is, an icon added to the tray is
// kept, and shown as soon as one appears.
bool desktopHasTray();

// The menu of the tray icon of window hwnd (and uID) on desktops that draw a
// tray icon's menu themselves (status-notifier hosts, which ask for it over
// D-Bus and never pass the right click on). On the others the window gets the
// right button's mouse messages and opens its menu itself. The menu stays the
// window's; nullptr takes it back.
void setTrayMenu(HWND hwnd, UINT id, QMenu *menu);

// Posted to the window of a tray icon when the mouse acts on the icon: the
// record's callback message and the mouse message (WM_LBUTTONDOWN,
// WM_LBUTTONDBLCLK, or WM_RBUTTONDOWN then WM_RBUTTONUP for a right click).
class TrayCallbackEvent final : public QEvent
{
public:
    TrayCallbackEvent(UINT callbackMessage, UINT mouseMessage)
        : QEvent(eventType()), m_callbackMessage(callbackMessage), m_mouseMessage(mouseMessage)
    {}
    static QEvent::Type eventType();
    UINT callbackMessage() const { return m_callbackMessage; }
    UINT mouseMessage() const { return m_mouseMessage; }

private:
    UINT m_callbackMessage;
    UINT m_mouseMessage;
};

} // namespace platform
