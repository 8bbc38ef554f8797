#pragma once

// Private-profile files: the sectioned "key=value" text files of the system.
// On Windows the system's own calls; elsewhere the platform's, described here.
// Sections and keys match without regard to letter case; a missing file,
// section or key reads as the default. A write creates the file, the section
// and the key as needed (a new section at the end of the file, a new key at
// the end of its section) and otherwise replaces the value in place, keeping
// every other line as it was. A write never loses the rest of the file: it
// goes to a temporary file that then replaces the old one.
//
// The settings file holds a password, so every write leaves the file it writes
// readable by its owner only: a new file gets read and write access for its
// owner, an existing one keeps its owner's access and loses whatever access
// its group and others had. A file that is a link the user made (a dotfile
// manager's) is followed: the file it leads to is the one replaced, and the
// link stays.
//
// Only a regular file of at most 1 MiB is read, and never with a wait: a named
// pipe, a device, a folder or a larger file reads as the defaults, and a write
// refuses to replace it (as it refuses any file that is there but cannot be
// read), leaving it as it is. A write also refuses a section or key the reader
// would take for something else, such as a key starting with a byte order
// mark and a bracket.

#include "platform/wintypes.h"

#include <QString>

#ifdef _WIN32
namespace platform {
// The system's GetPrivateProfileStringA and WritePrivateProfileStringA, each
// noting for lastProfileProblem() what kept it from its file: the system's
// last error is not cleared by a call that succeeds, so it cannot tell alone.
DWORD getPrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                              LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
BOOL writePrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                               LPCSTR lpFileName);
} // namespace platform
// The program's calls go through them (the way <windows.h> maps names); their
// own source defines VANTELO_PROFILE_IMPLEMENTATION to reach the system's.
#ifndef VANTELO_PROFILE_IMPLEMENTATION
#define GetPrivateProfileStringA platform::getPrivateProfileString
#define WritePrivateProfileStringA platform::writePrivateProfileString
#endif
#else
DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                LPCSTR lpFileName);
#endif

namespace platform {

// Why the last private-profile call of this thread could not use its file, in
// words ("Permission denied", "not a regular file"); empty when it could, or
// when the call was refused for what it asked rather than for the file.
QString lastProfileProblem();

} // namespace platform
