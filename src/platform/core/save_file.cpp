#include "platform/save_file.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

std::filesystem::path nativePath(const QString &path)
{
    return std::filesystem::path(path.toStdU16String());
}

bool failed(QString *error, const QString &why)
{
    if (error)
        *error = why.isEmpty() ? QString::fromLocal8Bit(std::strerror(EIO)) : why;
    return false;
}

// The file a save at path lands in: the end of its chain of links, so a link
// the user made stays a link and its target gets the new content.
bool saveTarget(const QString &path, QString &target, QString *error)
{
    target = path;
    QFileInfo info(path);
    for (int hops = 0; info.isSymLink(); ++hops) {
        if (hops == 128)
            return failed(error, QStringLiteral("too many levels of symbolic links"));
        target = info.symLinkTarget();
        info.setFile(target);
    }
    return true;
}

// Waits until what was written to the open file is on disk.
bool syncToDisk(QFile &file)
{
#ifdef Q_OS_WIN
    return ::_commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

FileIdentity identityOf(QFile &file)
{
#ifdef Q_OS_WIN
    Q_UNUSED(file);
    return {};
#else
    struct stat st = {};
    if (::fstat(file.handle(), &st) != 0)
        return {};
    return {quint64(st.st_dev), quint64(st.st_ino)};
#endif
}

// The system's QSaveFile always follows a link and names no file; this one
// does either as the rules say, and is otherwise the same.
bool replaceOwn(const QString &path, const QByteArray &bytes, const ReplaceRules &rules,
                QString *error, FileIdentity *written)
{
    const std::optional<QFileDevice::Permissions> &permissions = rules.permissions;
    QString target = path;
    if (rules.followLinks && !saveTarget(path, target, error))
        return false;
    // A link not followed is replaced like a file, whatever it points to.
    const QFileInfo existing(target);
    const bool existed = existing.exists() && !(existing.isSymLink() && !rules.followLinks);
    if (rules.followLinks && existed && !existing.isWritable())
        return failed(
            error,
            QCoreApplication::translate("QSaveFile", "Existing file %1 is not writable").arg(path));

    // Until it has its final permissions, a new copy of an old file is its
    // owner's alone; a new file gets those the system gives a new file.
    const QFileDevice::Permissions firstPermissions =
        existed || permissions
            ? QFileDevice::ReadOwner | QFileDevice::WriteOwner
            : QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                  QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
    QFile temporary;
    static const QString Letters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    for (int attempt = 0;; ++attempt) {
        QString name = target + u'.';
        for (int i = 0; i < 6; ++i)
            name += Letters.at(QRandomGenerator::global()->bounded(Letters.size()));
        temporary.setFileName(name);
        if (temporary.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered,
                           firstPermissions))
            break;
        const QFileInfo taken(name);
        if (attempt == 15 || !(taken.exists() || taken.isSymLink()))
            return failed(error, temporary.errorString());
    }

    const auto fail = [&temporary, error](const QString &why) {
        temporary.close();
        QFile::remove(temporary.fileName());
        return failed(error, why);
    };
    const std::optional<QFileDevice::Permissions> final =
        permissions ? permissions
                    : (existed ? std::optional(existing.permissions()) : std::nullopt);
    if (final && !temporary.setPermissions(*final))
        return fail(temporary.errorString());
    // A short write (a full disk) must not reach the rename.
    if (temporary.write(bytes) != bytes.size() || !temporary.flush() ||
        temporary.size() != bytes.size())
        return fail(temporary.errorString());
    if (rules.onDisk && !syncToDisk(temporary))
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    const FileIdentity identity = identityOf(temporary);
    temporary.close();
    if (temporary.error() != QFileDevice::NoError)
        return fail(temporary.errorString());
    std::error_code renamed;
    std::filesystem::rename(nativePath(temporary.fileName()), nativePath(target), renamed);
    if (renamed)
        return fail(QString::fromLocal8Bit(renamed.message()));
    if (written)
        *written = identity;
    return true;
}

} // namespace

bool replaceFile(const QString &path, const QByteArray &bytes, const ReplaceRules &rules,
                 QString *error, FileIdentity *written)
{
    if (!rules.onDisk || !rules.followLinks || written)
        return replaceOwn(path, bytes, rules, error, written);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return failed(error, file.errorString());
    // Set on the new file before any byte is written, so the content is
    // never readable by anyone the rules leave out.
    if (rules.permissions && !file.setPermissions(*rules.permissions)) {
        file.cancelWriting();
        return failed(error, file.errorString());
    }
    // A short write (a full disk, a file size limit) must not reach the
    // rename: commit() alone lets a partly written file through.
    if (file.write(bytes) != bytes.size() || !file.flush() || file.size() != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return failed(error, why);
    }
    if (!file.commit())
        return failed(error, file.errorString());
    return true;
}

} // namespace platform
