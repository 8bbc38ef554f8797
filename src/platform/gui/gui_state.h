#pragma once

// State shared by the platform's user-facing calls: what the test seams record
// and answer, and the tray icons of the process. User-interface thread only.

#include "platform/seams.h"

#include <QList>
#include <QPointer>
#include <QQueue>
#include <QString>

#include <optional>
#include <vector>

class QMenu;
class QSystemTrayIcon;

namespace platform::gui {

// One tray icon as the records describe it. The record lives from NIM_ADD to
// NIM_DELETE even when the desktop has no tray; `tray` is then null.
struct TrayRecord
{
    HWND hwnd = 0;
    UINT id = 0;
    bool hasMessage = false;
    UINT callbackMessage = 0;
    HICON icon = 0;
    QString tip;
    QPointer<QSystemTrayIcon> tray;
    QPointer<QMenu> menu; // for desktops that draw the icon's menu
};

struct State
{
    bool quiet = false;
    QList<seams::ShellNotifyCall> shellNotifyCalls;
    QList<seams::MessageBoxCall> messageBoxCalls;
    QQueue<int> messageBoxAnswers;
    QList<seams::OpenFileCall> openFileCalls;
    QQueue<QString> openFileNames;
    QList<seams::SoundCall> soundCalls;
    QList<seams::ProgramStartCall> programStartCalls;
    std::vector<TrayRecord> trayIcons;
    std::optional<bool> desktopTray; // a test's answer to desktopHasTray()
};

State &state();

// Posts to the icon's window what a mouse message on the icon amounts to: a
// double click is preceded by a press, as on the desktop. False when the
// record asks for no callback or its window is gone.
bool deliverTrayMouse(const TrayRecord &record, UINT mouseMessage);

} // namespace platform::gui
