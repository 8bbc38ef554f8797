#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {

// An XDG base folder: the variable when it holds an absolute path, else the
// fallback under HOME.
QString xdgFolder(const char *variable, const QString &fallbackUnderHome)
{
    const QString value = QFile::decodeName(qgetenv(variable));
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return value;
    return QDir::homePath() + u'/' + fallbackUnderHome;
}

QString ensured(const QString &folder)
{
    QDir().mkpath(folder);
    return folder;
}

} // namespace

namespace platform {

QString programFolder()
{
    return ensured(xdgFolder("XDG_CONFIG_HOME", QStringLiteral(".config")) +
                   QStringLiteral("/vantelo"));
}

QString localPath(const QString &windowsPath)
{
    QString path = windowsPath;
    path.replace(u'\\', u'/');
    if (path.size() >= 2 && path.at(1) == u':' && path.at(0).toLower() == u'c') {
        const QString driveC =
            xdgFolder("XDG_DATA_HOME", QStringLiteral(".local/share")) + QStringLiteral("/vantelo");
        QString rest = path.mid(2);
        if (!rest.startsWith(u'/'))
            rest.prepend(u'/');
        path = driveC + rest;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    return path;
}

QString runtimeFolder()
{
    QString base = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::tempPath() + QStringLiteral("/vantelo-runtime-") + QString::number(getuid());
    const QString folder = base + QStringLiteral("/vantelo");
    QDir().mkpath(folder);
    // The calls' state is the user's own business.
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ExeOwner);
    return folder;
}

} // namespace platform
