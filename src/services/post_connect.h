#pragma once

// What happens once a connection is up: applications started, a sound played;
// and the file dialog that picks the sound.

#include "platform/wintypes.h"

#include <QString>

// Starts the applications of AppLaunchList, without waiting for them.
void LaunchAfterConnect();

// Plays a .wav file in the background, no default sound; sets SoundPlayed.
void PlayWaveFile(const QString &path);

// The "Open" dialog; the chosen path, or "" when cancelled. The filter holds
// display names and patterns, each followed by a NUL.
QString BrowseForFile(HWND owner, const QString &title, const QString &filter);
