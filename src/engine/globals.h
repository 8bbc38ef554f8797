#pragma once

// Program-wide state. Each value has one owner that writes it; the others only
// read it. All of it lives on the user-interface thread.

#include "platform/shell.h"

#include <QString>
#include <QtGlobal>

#include <array>

// A duration as three 16-bit signed counters: seconds, minutes, hours.
struct Duration
{
    qint16 seconds = 0;
    qint16 minutes = 0;
    qint16 hours = 0;
};

// The title of the application, in message boxes, the tray tip and the about window.
inline const QString AppTitle = QStringLiteral("Vantelo BETA");
// The version, as the build names it.
inline constexpr int AppMajor = VANTELO_VERSION_MAJOR;
inline constexpr int AppMinor = VANTELO_VERSION_MINOR;
inline constexpr int AppRevision = VANTELO_VERSION_PATCH;

// The last Remote Access Service error to be put into words (dialing and hang-up write it).
inline qint32 LastRasError = 0;
// Dialing type: 1 tone, anything else pulse (the options window's load writes it).
inline qint16 DialType = 0;

// Connected time since the program started, advanced by the connection monitor.
inline Duration SessionDuration;
inline Duration TotalDuration;
inline Duration MonthDuration;

// The post-connect sound: played once per connection.
inline qint16 SoundPlayed = 0;
inline QString WaveFilePath;

// Applications started after connecting (nothing fills the list yet).
inline std::array<QString, 100> AppLaunchList;
inline qint16 AppLaunchCount = 0;

// Whether closing the dialer window only hides it (nonzero) or ends the program (0).
inline qint16 HideOnClose = 0;
// The tray icon record, filled when the dialer window loads.
inline NOTIFYICONDATA TrayIconData{};
