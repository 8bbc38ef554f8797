#include "platform/core/bounded_read.h"

#include <QFile>

#ifdef _WIN32
#include <QFileInfo>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

BoundedRead refused(BoundedRead::Status status, const QString &reason)
{
    BoundedRead r;
    r.status = status;
    r.reason = reason;
    return r;
}

QString tooLargeReason(qint64 maxBytes)
{
    return maxBytes >= (qint64{1} << 20) && maxBytes % (qint64{1} << 20) == 0
               ? QStringLiteral("larger than %1 MiB").arg(maxBytes >> 20)
               : QStringLiteral("larger than %1 bytes").arg(maxBytes);
}

const QString NotRegularReason = QStringLiteral("not a regular file");

} // namespace

#ifdef _WIN32

BoundedRead readBounded(const QString &path, qint64 maxBytes)
{
    const QFileInfo info(path);
    if (!info.exists())
        return refused(BoundedRead::Status::Missing, {});
    if (!info.isFile())
        return refused(BoundedRead::Status::NotRegular, NotRegularReason);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refused(BoundedRead::Status::Failed, file.errorString());
    if (file.size() > maxBytes)
        return refused(BoundedRead::Status::TooLarge, tooLargeReason(maxBytes));
    BoundedRead r;
    r.data = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return refused(BoundedRead::Status::Failed, file.errorString());
    if (r.data.size() > maxBytes)
        return refused(BoundedRead::Status::TooLarge, tooLargeReason(maxBytes));
    r.status = BoundedRead::Status::Read;
    return r;
}

FileStamp fileStamp(const QString &path)
{
    const QFileInfo info(path);
    FileStamp stamp;
    stamp.file = info.isFile();
    if (!stamp.file)
        return stamp;
    const auto ns = [&info](QFileDevice::FileTime time) {
        return info.fileTime(time).toMSecsSinceEpoch() * 1000000;
    };
    stamp.size = info.size();
    stamp.identity = ns(QFileDevice::FileBirthTime);
    stamp.modifiedNs = ns(QFileDevice::FileModificationTime);
    stamp.changedNs = ns(QFileDevice::FileMetadataChangeTime);
    return stamp;
}

bool rewriteSameLength(const QString &path, const FileStamp &stamp, const QByteArray &expected,
                       const QByteArray &bytes, FileStamp *after)
{
    if (!stamp.file || expected.size() != bytes.size() || fileStamp(path) != stamp)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered) ||
        file.read(expected.size() + 1) != expected || !file.seek(0) ||
        file.write(bytes) != bytes.size())
        return false;
    file.close();
    *after = fileStamp(path);
    return true;
}

#else

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

class Descriptor final
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

BoundedRead readBounded(const QString &path, qint64 maxBytes)
{
    const QByteArray name = QFile::encodeName(path);
    // O_NONBLOCK: opening a named pipe with no writer returns at once instead
    // of waiting for one. What was opened is then judged by the descriptor
    // itself, so nothing can be swapped in between the check and the read.
    const Descriptor file(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.fd() < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return refused(BoundedRead::Status::Missing, {});
        return refused(BoundedRead::Status::Failed, systemReason(error));
    }
    struct stat st
    {
    };
    if (::fstat(file.fd(), &st) != 0)
        return refused(BoundedRead::Status::Failed, systemReason(errno));
    if (!S_ISREG(st.st_mode))
        return refused(BoundedRead::Status::NotRegular, NotRegularReason);
    if (st.st_size > maxBytes)
        return refused(BoundedRead::Status::TooLarge, tooLargeReason(maxBytes));

    // The file may grow while it is read: one byte past the limit tells.
    BoundedRead r;
    r.data.resize(static_cast<qsizetype>(st.st_size) + 1);
    qsizetype got = 0;
    for (;;) {
        if (got == r.data.size()) {
            if (got > maxBytes)
                return refused(BoundedRead::Status::TooLarge, tooLargeReason(maxBytes));
            r.data.resize(qMin<qint64>(maxBytes + 1, qint64{got} * 2 + 4096));
        }
        const ssize_t n =
            ::read(file.fd(), r.data.data() + got, static_cast<size_t>(r.data.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return refused(BoundedRead::Status::Failed, systemReason(errno));
        if (n == 0)
            break;
        got += n;
    }
    if (got > maxBytes)
        return refused(BoundedRead::Status::TooLarge, tooLargeReason(maxBytes));
    r.data.truncate(got);
    r.status = BoundedRead::Status::Read;
    return r;
}

namespace {

FileStamp stampOf(const struct stat &st)
{
    FileStamp stamp;
    if (!S_ISREG(st.st_mode))
        return stamp;
    const auto ns = [](const struct timespec &t) {
        return static_cast<qint64>(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    stamp.file = true;
    stamp.size = static_cast<qint64>(st.st_size);
    stamp.device = static_cast<qint64>(st.st_dev);
    stamp.identity = static_cast<qint64>(st.st_ino);
    stamp.modifiedNs = ns(st.st_mtim);
    stamp.changedNs = ns(st.st_ctim);
    return stamp;
}

} // namespace

FileStamp fileStamp(const QString &path)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return stampOf(st);
}

bool rewriteSameLength(const QString &path, const FileStamp &stamp, const QByteArray &expected,
                       const QByteArray &bytes, FileStamp *after)
{
    if (!stamp.file || expected.size() != bytes.size())
        return false;
    // Not blocking on a named pipe put in the file's place.
    const Descriptor file(
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st = {};
    if (file.fd() < 0 || ::fstat(file.fd(), &st) != 0 || stampOf(st) != stamp)
        return false;
    QByteArray held(expected.size() + 1, '\0');
    const ssize_t got = ::pread(file.fd(), held.data(), size_t(held.size()), 0);
    if (got != expected.size() ||
        std::memcmp(held.constData(), expected.constData(), size_t(got)) != 0)
        return false;
    if (::pwrite(file.fd(), bytes.constData(), size_t(bytes.size()), 0) != bytes.size() ||
        ::fstat(file.fd(), &st) != 0)
        return false;
    *after = stampOf(st);
    return true;
}

#endif

} // namespace platform
