#include "gui_state.h"

#include "platform/shell.h"
#include "platform/window_handles.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QSystemTrayIcon>

#include <algorithm>

namespace platform::gui {

namespace {

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
        record.tip = fieldText(data.szTip, static_cast<int>(sizeof data.szTip));
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

// The mouse messages a desktop activation stands for.
QList<UINT> messagesFor(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
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
    for (UINT message : messagesFor(reason)) {
        if (!deliverTrayMouse(*it, message))
            return;
    }
}

// The desktop's tray, or null when there is none (no tray, or no widget
// application to own one).
QSystemTrayIcon *createTray(HWND hwnd, UINT id)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()) ||
        !QSystemTrayIcon::isSystemTrayAvailable())
        return nullptr;
    // Owned by the application, so it goes with it at exit.
    auto *tray = new QSystemTrayIcon(QCoreApplication::instance());
    QObject::connect(
        tray, &QSystemTrayIcon::activated, tray,
        [hwnd, id](QSystemTrayIcon::ActivationReason reason) { activated(hwnd, id, reason); });
    return tray;
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

QString fieldText(const char *field, int size)
{
    // A field without a NUL keeps all but its last byte, the NUL's place.
    const int length = static_cast<int>(qstrnlen(field, static_cast<size_t>(size)));
    return QString::fromLocal8Bit(field, qMin(length, size - 1));
}

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
        const bool shown = !record.tray.isNull();
        if (shown)
            record.tray->show();
        icons.push_back(std::move(record));
        return shown ? TRUE : FALSE;
    }
    case NIM_MODIFY:
        if (it == icons.end())
            return FALSE;
        apply(*it, *lpData);
        return it->tray.isNull() ? FALSE : TRUE;
    case NIM_DELETE: {
        if (it == icons.end())
            return FALSE;
        const bool shown = !it->tray.isNull();
        removeTray(*it);
        icons.erase(it);
        return shown ? TRUE : FALSE;
    }
    default:
        return FALSE;
    }
}

namespace platform::seams {

bool sendTrayMouse(HWND hwnd, UINT mouseMessage)
{
    auto &icons = gui::state().trayIcons;
    const auto it = std::find_if(icons.begin(), icons.end(),
                                 [hwnd](const gui::TrayRecord &r) { return r.hwnd == hwnd; });
    if (it == icons.end())
        return false;
    // The same path as the desktop's activations; other messages pass as they are.
    QList<UINT> messages{mouseMessage};
    if (mouseMessage == WM_LBUTTONDOWN)
        messages = gui::messagesFor(QSystemTrayIcon::Trigger);
    else if (mouseMessage == WM_LBUTTONDBLCLK)
        messages = gui::messagesFor(QSystemTrayIcon::DoubleClick);
    else if (mouseMessage == WM_RBUTTONDOWN || mouseMessage == WM_RBUTTONUP)
        messages = gui::messagesFor(QSystemTrayIcon::Context);
    for (UINT message : messages) {
        if (!gui::deliverTrayMouse(*it, message))
            return false;
    }
    return true;
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
