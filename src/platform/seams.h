#pragma once

// Test seams of the platform's user-facing calls: tests observe the calls and
// answer modal dialogs here, so no test ever blocks on a dialog, plays a sound
// or starts a program. Nothing in the program itself uses this header.

#include "platform/dialogs.h"
#include "platform/shell.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QMenu;

namespace platform::seams {

// The Shell_NotifyIconA calls of the process, in order, with a copy of the
// record: the latest 512 at least; older ones are dropped, 512 at a time.
struct ShellNotifyCall
{
    DWORD message;
    NOTIFYICONDATA data;
};
const QList<ShellNotifyCall> &shellNotifyCalls();
void clearShellNotifyCalls();
// Acts as the user's mouse on the tray icon of the window hwnd (and uID):
// delivers the TrayCallbackEvent the desktop would. Returns false when no
// icon of that window is in the tray.
bool sendTrayMouse(HWND hwnd, UINT mouseMessage);
// Acts as a status-notifier host's Activate call on the icon of window hwnd
// (what such a host sends for a click or a double click on the icon).
bool sendTrayActivate(HWND hwnd);
// The tray tip text as the desktop shows it now, empty when there is no icon.
QString trayToolTip();
// The menu the icon offers a desktop that draws it, or nullptr.
QMenu *trayMenu();
// Makes desktopHasTray() answer `present` (a test's desktop with or without a
// tray), or, with std::nullopt, ask the desktop again.
void setDesktopTray(std::optional<bool> present);
// Makes the icons go to a status-notifier host (true) or an XEmbed tray
// (false) as far as the program's side goes: how activations read, whether
// the menu is handed over. Called before the icon is added.
void setStatusNotifierHost(bool host);

// While quiet (the default is not quiet), message boxes are not shown: each
// returns the next queued answer, or IDOK; file dialogs are not shown: each
// returns the next queued file name, or is cancelled; sounds are not played
// and programs are not started. Every such call is still recorded.
void setQuiet(bool quiet);

// Forgets every recorded call of every kind, as a test starts.
void clearAllCalls();

struct MessageBoxCall
{
    HWND owner;
    QString text;
    QString caption;
    UINT type;
};
const QList<MessageBoxCall> &messageBoxCalls();
void clearMessageBoxCalls();
void setNextMessageBoxAnswer(int answer);

struct OpenFileCall
{
    HWND owner;
    QString title;
    QStringList filter; // display names and patterns, in order
    DWORD flags;
    DWORD structSize = 0;   // lStructSize
    DWORD maxFile = 0;      // nMaxFile
    QByteArray initialFile; // lpstrFile as passed, up to its first NUL
};
const QList<OpenFileCall> &openFileCalls();
void clearOpenFileCalls();
// The next file dialog returns this path as if the user had chosen it (an
// empty path: the user cancels).
void setNextOpenFileName(const QString &path);

struct SoundCall
{
    QString path;
    UINT flags;
};
const QList<SoundCall> &soundCalls();
void clearSoundCalls();

struct ProgramStartCall
{
    QString commandLine;
    UINT showCommand;
};
const QList<ProgramStartCall> &programStartCalls();
void clearProgramStartCalls();

} // namespace platform::seams
