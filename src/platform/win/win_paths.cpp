#include "platform/paths.h"

// The program's files on Windows: the settings file beside the executable and
// the call log at the path it names (c:\ilog.log), as long as those folders
// take a new file. Where one does not (an install under Program Files, or a
// system drive's root closed to users), the file goes to the user's
// application-data folder, %APPDATA%\Vantelo, instead.

#include "platform/wintypes.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {

QMutex folderMutex;
// Whether a folder takes a new file, asked once per folder and process.
QHash<QString, bool> writableFolders;

bool takesNewFile(const QString &folder)
{
    const QMutexLocker lock(&folderMutex);
    const auto known = writableFolders.constFind(folder);
    if (known != writableFolders.constEnd())
        return known.value();
    // The folder's rights, not its read-only attribute, decide: try it.
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral("vantelo-XXXXXX.tmp")));
    const bool writable = QDir().mkpath(folder) && probe.open();
    writableFolders.insert(folder, writable);
    return writable;
}

QString executableFolder()
{
    wchar_t buffer[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 4);
    if (length == 0 || length >= MAX_PATH * 4)
        return QString();
    return QFileInfo(QString::fromWCharArray(buffer, static_cast<qsizetype>(length)))
        .absolutePath();
}

QString folderUnder(const char *variable, QStandardPaths::StandardLocation fallback)
{
    QString base = qEnvironmentVariable(variable);
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QStandardPaths::writableLocation(fallback);
    const QString folder = QDir::fromNativeSeparators(base) + QStringLiteral("/Vantelo");
    QDir().mkpath(folder);
    return folder;
}

QString applicationDataFolder()
{
    return folderUnder("APPDATA", QStandardPaths::GenericConfigLocation);
}

QString lastRuntimeError;
int fullChecks = 0;

} // namespace

namespace platform {

QString programFolder()
{
    const QString folder = executableFolder();
    if (!folder.isEmpty() && takesNewFile(folder))
        return folder;
    return applicationDataFolder();
}

QString localPath(const QString &windowsPath, MakeFolder)
{
    // The folder is made, or found closed, once per process.
    const QString path = QDir::fromNativeSeparators(windowsPath);
    const QFileInfo info(path);
    if (takesNewFile(info.absolutePath()))
        return windowsPath;
    return QDir::toNativeSeparators(applicationDataFolder() + u'/' + info.fileName());
}

// The lock and the pipe of the single-instance guard live in the user's local
// application data, which no other user can write to.
QString runtimeFolder()
{
    const QMutexLocker lock(&folderMutex);
    ++fullChecks;
    const QString folder = folderUnder("LOCALAPPDATA", QStandardPaths::GenericDataLocation);
    if (!QFileInfo(folder).isDir()) {
        lastRuntimeError = QStringLiteral("%1: cannot create the folder").arg(folder);
        return QString();
    }
    lastRuntimeError.clear();
    return folder;
}

QString checkedRuntimeFolder()
{
    return runtimeFolder();
}

int runtimeFolderFullChecks()
{
    const QMutexLocker lock(&folderMutex);
    return fullChecks;
}

QString runtimeFolderError()
{
    const QMutexLocker lock(&folderMutex);
    return lastRuntimeError;
}

} // namespace platform
