#pragma once

// The line's files in the runtime folder, and what went wrong with them, for
// the call store and the lines. (openRuntimeFile and saveRuntimeFile are
// declared with the call store, whose callers use them.)

#include <QByteArray>
#include <QString>

namespace line {

void setRuntimeProblem(const QString &text);
// The problem of a file of the runtime folder: "Vantelo cannot <what> <path>: <reason>."
void setFileProblem(const QString &path, const char *what, int error);
// After a file of the runtime folder could not be opened with `error`:
// whether that was because the folder itself is gone or changed, and it has
// just been checked (and made) again, so that one more try may succeed.
bool runtimeFolderRenewed(const QByteArray &name, int error);

} // namespace line
