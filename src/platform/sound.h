#pragma once

#include "platform/wintypes.h"

inline constexpr UINT SND_SYNC = 0;
inline constexpr UINT SND_ASYNC = 1;
inline constexpr UINT SND_NODEFAULT = 2;

#ifdef _WIN32
// The system's own (winmm). Its header, <mmsystem.h>, is not included: the
// constants above are the same values under the same names.
extern "C" __declspec(dllimport) BOOL WINAPI sndPlaySoundA(LPCSTR lpszSound, UINT fuSound);
#else

// Plays a .wav file; with SND_ASYNC it returns at once while the sound plays.
// A missing or unreadable file plays nothing; with SND_NODEFAULT no default
// sound replaces it. Returns TRUE when playback started.
BOOL sndPlaySoundA(LPCSTR lpszSound, UINT fuSound);
#endif
