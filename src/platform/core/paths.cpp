#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

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

thread_local QString t_runtimeFolderError;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Makes sure `folder` is a private folder of this user: a real folder (not a
// symbolic link, looked at with lstat), owned by the effective user, mode
// 0700. A missing folder is created 0700 (its parents with `createParents`);
// a folder of ours with a looser mode is narrowed through a descriptor of the
// very folder that was checked. Returns false with the reason otherwise.
bool ensurePrivateFolder(const QString &folder, bool createParents, QString *reason)
{
    const QByteArray path = QFile::encodeName(folder);
    struct stat st = {};
    if (::lstat(path.constData(), &st) != 0) {
        if (errno != ENOENT) {
            *reason = errnoText(errno);
            return false;
        }
        if (createParents)
            QDir().mkpath(QFileInfo(folder).absolutePath());
        if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
            *reason = u"it cannot be created: "_s + errnoText(errno);
            return false;
        }
        if (::lstat(path.constData(), &st) != 0) {
            *reason = errnoText(errno);
            return false;
        }
    }
    if (S_ISLNK(st.st_mode)) {
        *reason = u"it is a symbolic link"_s;
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *reason = u"it is not a folder"_s;
        return false;
    }
    const uid_t me = ::geteuid();
    if (st.st_uid != me) {
        *reason = u"it belongs to user %1, not to this user (%2)"_s.arg(st.st_uid).arg(me);
        return false;
    }
    if ((st.st_mode & 0777) == 0700)
        return true;
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat opened = {};
    const bool same = fd >= 0 && ::fstat(fd, &opened) == 0 && opened.st_dev == st.st_dev &&
                      opened.st_ino == st.st_ino && opened.st_uid == me;
    const bool narrowed = same && ::fchmod(fd, 0700) == 0;
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (!narrowed) {
        *reason = u"its mode is %1, not 0700, and cannot be narrowed: %2"_s
                      .arg(QString::number(st.st_mode & 0777, 8).prepend(u'0'))
                      .arg(same ? errnoText(error) : u"it changed while being checked"_s);
        return false;
    }
    return true;
}

// The name the fallback runtime folder carries: the user's name, or the
// number of a user without a name.
QString userName()
{
    const uid_t me = ::geteuid();
    char buffer[4096];
    struct passwd entry = {};
    struct passwd *found = nullptr;
    if (::getpwuid_r(me, &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name &&
        *found->pw_name)
        return QFile::decodeName(found->pw_name);
    return QString::number(me);
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

QString localPath(const QString &windowsPath, MakeFolder make)
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
    if (make == MakeFolder::Yes)
        QDir().mkpath(QFileInfo(path).absolutePath());
    return path;
}

} // namespace platform

namespace {

// The folder the last full check found, for the environment it was found in
// (XDG_RUNTIME_DIR and TMPDIR), and its identity then.
struct CheckedFolder
{
    QMutex mutex;
    QByteArray environment;
    QString folder;
    dev_t device = 0;
    ino_t inode = 0;
    int fullChecks = 0;
};

CheckedFolder &checkedFolder()
{
    static CheckedFolder checked;
    return checked;
}

QByteArray runtimeEnvironment()
{
    return qgetenv("XDG_RUNTIME_DIR") + '\0' + qgetenv("TMPDIR");
}

// Whether `st` is still the private folder of ours that was checked.
bool stillChecked(const struct stat &st, dev_t device, ino_t inode)
{
    return S_ISDIR(st.st_mode) && st.st_dev == device && st.st_ino == inode &&
           st.st_uid == ::geteuid() && (st.st_mode & 0777) == 0700;
}

QString checkRuntimeFolder()
{
    // The base folder: XDG_RUNTIME_DIR when it names a private folder of this
    // user, else one in the temporary folder, checked the same way (anyone
    // may have made it first there).
    QString reason;
    QString refused;
    QString base = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    if (!base.isEmpty() && QDir::isAbsolutePath(base) && !ensurePrivateFolder(base, true, &reason))
        refused = u" (XDG_RUNTIME_DIR, %1, was refused: %2)"_s.arg(base, reason);
    if (base.isEmpty() || !QDir::isAbsolutePath(base) || !refused.isEmpty()) {
        base = QDir::tempPath() + u"/runtime-"_s + userName();
        if (!ensurePrivateFolder(base, false, &reason)) {
            t_runtimeFolderError =
                u"Vantelo cannot keep the line's state in the folder %1: %2%3."_s.arg(base, reason,
                                                                                      refused);
            return {};
        }
    }
    const QString folder = base + u"/vantelo"_s;
    if (!ensurePrivateFolder(folder, false, &reason)) {
        t_runtimeFolderError =
            u"Vantelo cannot keep the line's state in the folder %1: %2."_s.arg(folder, reason);
        return {};
    }
    t_runtimeFolderError.clear();
    return folder;
}

// The folder found for this environment, checked in full unless the one
// found before is still there as it was (one lstat), or, with `look` false,
// taken on trust.
QString runtimeFolderFor(bool look)
{
    CheckedFolder &checked = checkedFolder();
    const QByteArray environment = runtimeEnvironment();
    QMutexLocker locker(&checked.mutex);
    if (!checked.folder.isEmpty() && checked.environment == environment) {
        struct stat st = {};
        if (!look || (::lstat(QFile::encodeName(checked.folder).constData(), &st) == 0 &&
                      stillChecked(st, checked.device, checked.inode))) {
            t_runtimeFolderError.clear();
            return checked.folder;
        }
    }
    ++checked.fullChecks;
    checked.folder = checkRuntimeFolder();
    checked.environment = environment;
    struct stat st = {};
    if (checked.folder.isEmpty())
        return {};
    if (::lstat(QFile::encodeName(checked.folder).constData(), &st) != 0) {
        t_runtimeFolderError = u"Vantelo cannot keep the line's state in the folder %1: %2."_s.arg(
            checked.folder, errnoText(errno));
        checked.folder.clear();
        return {};
    }
    checked.device = st.st_dev;
    checked.inode = st.st_ino;
    return checked.folder;
}

} // namespace

namespace platform {

QString runtimeFolder()
{
    return runtimeFolderFor(true);
}

QString checkedRuntimeFolder()
{
    return runtimeFolderFor(false);
}

int runtimeFolderFullChecks()
{
    CheckedFolder &checked = checkedFolder();
    QMutexLocker locker(&checked.mutex);
    return checked.fullChecks;
}

QString runtimeFolderError()
{
    return t_runtimeFolderError;
}

} // namespace platform
