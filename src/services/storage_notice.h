#pragma once

// What the user must hear about the program's own files: a settings file or
// call log that cannot be saved (a folder that is not writable), or a settings
// file that is not read (not a regular file, too large). Each file is told
// about once per run, whatever its later reads and saves do, so a save that
// fails every second says so a single time.

#include <QString>
#include <QStringList>

#include <functional>

namespace StorageNotice {

enum class Problem { NotRead, NotSaved };

// Records a problem with the file at path, with the system's reason
// ("Permission denied") or the reader's ("not a regular file"). The first
// problem of a file in this run becomes a notice; later ones are dropped.
void report(Problem problem, const QString &path, const QString &reason);

// The notices not yet taken, oldest first, each one sentence; taking them
// empties the list.
QStringList take();

// Called, with no arguments, whenever a notice is added, and at once if one is
// waiting when it is installed. An empty function removes it.
void setListener(std::function<void()> listener);

// Forgets the files already told about, the waiting notices and the listener.
void reset();

} // namespace StorageNotice
