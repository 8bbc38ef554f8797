#pragma once

// Private-profile files: the sectioned "key=value" text files of the system.
// Sections and keys match without regard to letter case; a missing file,
// section or key reads as the default. A write creates the file, the section
// and the key as needed (a new section at the end of the file, a new key at
// the end of its section) and otherwise replaces the value in place, keeping
// every other line as it was. A write never loses the rest of the file: it
// goes to a temporary file that then replaces the old one. A file created by
// a write is readable by its owner only, since the settings file holds a
// password.

#include "platform/wintypes.h"

#ifndef _WIN32
DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                LPCSTR lpFileName);
#endif
