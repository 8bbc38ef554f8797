#pragma once

#include <QString>

namespace platform {

// The program's folder, where its settings file lives. On Windows the folder
// of the executable; elsewhere $XDG_CONFIG_HOME/vantelo (~/.config/vantelo).
// Created when missing.
QString programFolder();

// Whether localPath makes the folder that holds the result when it is missing.
enum class MakeFolder { Yes, No };

// A path of the program's Windows world made local: on systems other than
// Windows, drive C: is $XDG_DATA_HOME/vantelo (~/.local/share/vantelo) and
// backslashes become slashes, so "c:\ilog.log" is ~/.local/share/vantelo/ilog.log.
// The folder that holds the result is created when missing, unless asked not
// to (a caller that writes a file it wrote a moment ago needs no folder made).
// On Windows the path is returned as it is while its folder takes a new file,
// else the same name in %APPDATA%\Vantelo.
QString localPath(const QString &windowsPath, MakeFolder make = MakeFolder::Yes);

// The folder of the lines' shared state (the calls, their locks, the modem's
// log), private to the user: $XDG_RUNTIME_DIR/vantelo, or, when that variable
// is unset, not absolute or names a folder that is not the user's alone,
// <temp>/runtime-<user>/vantelo. Created when missing. It is checked,
// without following a symbolic link, that the base folder and the vantelo
// folder are real folders owned by this user with mode 0700 (a folder of ours
// with a looser mode is narrowed to 0700). The full check is made once per
// process (and again when XDG_RUNTIME_DIR or TMPDIR change); later calls look
// at the vantelo folder alone (one lstat) and check in full again, re-creating
// or narrowing it, as soon as it is no longer the very folder that was
// checked, still ours and 0700. Returns an empty string when no such folder
// can be had: runtimeFolderError() then says which folder and why (a failure
// is never remembered: the next call checks again). On Windows the user's
// local application data, for the single-instance guard.
QString runtimeFolder();
// The folder runtimeFolder() found last for the current environment, taken
// on trust without looking at it again; the first call checks it. For the
// line's own files, which are opened with line::openRuntimeFile(): that
// refuses anything but a regular file of ours, and calls runtimeFolder()
// again when a file cannot be opened because the folder is gone or changed.
QString checkedRuntimeFolder();
// How many full checks of the runtime folder this process has made.
int runtimeFolderFullChecks();
// Why the last runtimeFolder() of this thread returned an empty string (the
// folder and the reason); empty after a success.
QString runtimeFolderError();

} // namespace platform
