#include "platform/line/runtime_files.h"

#include "platform/line/call_store.h"
#include "platform/paths.h"
#include "platform/save_file.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace line {

namespace {

thread_local QString t_runtimeProblem;

} // namespace

void setRuntimeProblem(const QString &text)
{
    t_runtimeProblem = text;
}

// The problem of a file of the runtime folder.
void setFileProblem(const QString &path, const char *what, int error)
{
    setRuntimeProblem(u"Vantelo cannot %1 %2: %3."_s.arg(
        QLatin1StringView(what), path, QString::fromLocal8Bit(std::strerror(error))));
}

// After a file of the runtime folder could not be opened with `error`:
// whether that was because the folder itself is gone or changed, and it has
// just been checked (and made) again, so that one more try may succeed.
bool runtimeFolderRenewed(const QByteArray &name, int error)
{
    if (error != ENOENT && error != ENOTDIR)
        return false;
    const QString folder = QFile::decodeName(name.left(name.lastIndexOf('/')));
    bool renewed = false;
    if (folder == platform::checkedRuntimeFolder()) {
        const int checks = platform::runtimeFolderFullChecks();
        renewed =
            !platform::runtimeFolder().isEmpty() && platform::runtimeFolderFullChecks() != checks;
    }
    errno = error;
    return renewed;
}

QString runtimeProblem()
{
    return t_runtimeProblem;
}

namespace {

int openRuntimeFileOnce(const QByteArray &name, int flags, bool *created)
{
    const int always = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    int fd = -1;
    bool made = false;
    if (flags & O_CREAT) {
        fd = ::open(name.constData(), flags | O_EXCL | always, 0600);
        made = fd >= 0;
        if (fd < 0 && errno != EEXIST)
            return -1;
    }
    // An existing file is emptied only once it is known to be ours.
    if (fd < 0)
        fd = ::open(name.constData(), (flags & ~(O_CREAT | O_EXCL | O_TRUNC)) | always);
    if (fd < 0)
        return -1;
    struct stat st = {};
    int error = 0;
    if (::fstat(fd, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode))
        error = EINVAL;
    else if (st.st_uid != ::geteuid())
        error = EPERM;
    else if (made && ::fchmod(fd, 0600) != 0)
        error = errno;
    else if (!made && (flags & O_TRUNC) && ::ftruncate(fd, 0) != 0)
        error = errno;
    else if (!(flags & O_NONBLOCK) && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        error = errno;
    if (error != 0) {
        ::close(fd);
        if (made)
            ::unlink(name.constData());
        errno = error;
        return -1;
    }
    if (created)
        *created = made;
    return fd;
}

} // namespace

int openRuntimeFile(const QString &path, int flags, bool *created)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = openRuntimeFileOnce(name, flags, created);
    if (fd < 0 && runtimeFolderRenewed(name, errno))
        return openRuntimeFileOnce(name, flags, created);
    return fd;
}

bool saveRuntimeFile(const QString &path, const QByteArray &bytes, struct stat *written)
{
    // Owner-only from the start; whatever `path` is, a link included, is
    // replaced and never written through; a runtime folder gives way at a
    // reboot, so the disk is not waited for.
    const platform::ReplaceRules rules{
        .permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner,
        .onDisk = false,
        .followLinks = false,
    };
    QString error;
    platform::FileIdentity made;
    bool saved = platform::replaceFile(path, bytes, rules, &error, &made);
    // A folder gone since it was checked is checked (made) again, once.
    if (!saved && !QFileInfo(QFileInfo(path).absolutePath()).isDir() &&
        runtimeFolderRenewed(QFile::encodeName(path), ENOENT))
        saved = platform::replaceFile(path, bytes, rules, &error, &made);
    if (!saved) {
        setRuntimeProblem(u"Vantelo cannot write %1: %2."_s.arg(path, error));
        return false;
    }
    if (written) {
        // Renaming changed the file's change time: its identity is read again,
        // and given only while the name still holds the file written (any
        // other identity matches no file, and the next reader parses it).
        struct stat now = {};
        const struct stat none = {};
        const bool same = ::lstat(QFile::encodeName(path).constData(), &now) == 0 &&
                          quint64(now.st_dev) == made.device && quint64(now.st_ino) == made.inode;
        *written = same ? now : none;
    }
    return true;
}

} // namespace line
