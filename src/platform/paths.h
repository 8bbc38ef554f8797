#pragma once

#include <QString>

namespace platform {

// The program's folder, where its settings file lives. On Windows the folder
// of the executable; elsewhere $XDG_CONFIG_HOME/vantelo (~/.config/vantelo).
// Created when missing.
QString programFolder();

// A path of the program's Windows world made local: on systems other than
// Windows, drive C: is $XDG_DATA_HOME/vantelo (~/.local/share/vantelo) and
// backslashes become slashes, so "c:\ilog.log" is ~/.local/share/vantelo/ilog.log.
// The folder that holds the result is created when missing. On Windows the
// path is returned as it is.
QString localPath(const QString &windowsPath);

// The folder of the simulated line's shared state ($XDG_RUNTIME_DIR/vantelo,
// private to the user); created when missing. Not used on Windows.
QString runtimeFolder();

} // namespace platform
