#pragma once

#include "platform/wintypes.h"

#ifndef _WIN32
inline constexpr UINT SND_SYNC = 0;
inline constexpr UINT SND_ASYNC = 1;
inline constexpr UINT SND_NODEFAULT = 2;

// Plays a .wav file; with SND_ASYNC it returns at once while the sound plays.
// A missing or unreadable file plays nothing; with SND_NODEFAULT no default
// sound replaces it. Returns TRUE when playback started.
BOOL sndPlaySoundA(LPCSTR lpszSound, UINT fuSound);
#endif
