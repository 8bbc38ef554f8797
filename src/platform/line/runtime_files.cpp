#include "platform/line/runtime_files.h"

#include "platform/line/call_store.h"
#include "platform/paths.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

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
    const QString folder = QFileInfo(path).absolutePath();
    const QByteArray name = QFile::encodeName(path);
    QByteArray temporary;
    int fd = -1;
    bool renewed = false;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temporary =
            name + ".new-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0600);
        if (fd >= 0 || errno == EEXIST)
            continue;
        // A folder gone since it was checked is checked (made) again, once.
        if (renewed || !(renewed = runtimeFolderRenewed(name, errno)))
            break;
    }
    if (fd < 0) {
        setFileProblem(folder, "write in", errno);
        return false;
    }
    struct stat made = {};
    bool ok = ::fchmod(fd, 0600) == 0 && ::fstat(fd, &made) == 0;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += ok ? n : 0;
    }
    const int writeError = errno;
    ok = ::close(fd) == 0 && ok;
    // The rename replaces whatever the name was, a link included, and never
    // writes through it.
    if (ok && ::rename(temporary.constData(), name.constData()) == 0) {
        // Renaming changed the file's change time: its identity is read
        // again, and given only when the name still holds the file written.
        if (written) {
            struct stat now = {};
            const bool same = ::lstat(name.constData(), &now) == 0 && now.st_dev == made.st_dev &&
                              now.st_ino == made.st_ino;
            *written = same ? now : made;
        }
        return true;
    }
    setFileProblem(path, "write", ok ? errno : writeError);
    ::unlink(temporary.constData());
    return false;
}

} // namespace line
