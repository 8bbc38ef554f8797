#include "platform/modem/port.h"

#include "platform/modem/modem_settings.h"
#include "platform/ras.h"
#include "platform/save_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace modem {

namespace {

speed_t speedConstant(int speed)
{
    switch (speed) {
    case 300:
        return B300;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return B0;
    }
}

DWORD openError(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    case ELOOP:
    case ENAMETOOLONG:
        return ERROR_DEVICE_DOES_NOT_EXIST;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_PORT_NOT_CONFIGURED;
    case EBUSY:
        return ERROR_PORT_NOT_AVAILABLE;
    default:
        return ERROR_HARDWARE_FAILURE;
    }
}

// What an open(2) of the port that failed with `error` means, naming the port.
QString openWords(const QString &device, int error)
{
    QString why;
    switch (error) {
    case EBUSY:
        why = u"another program has it open for itself alone (a terminal program, "
              u"ModemManager): close that program, or stop it using the port"_s;
        break;
    case EACCES:
    case EPERM:
        why = u"your account may not open it"_s;
        break;
    case ENOENT:
    case ENXIO:
    case ENODEV:
        why = u"it is gone: is the modem still plugged in?"_s;
        break;
    default:
        why = QString::fromLocal8Bit(std::strerror(error));
    }
    return u"Opening the port %1: %2."_s.arg(device, why);
}

} // namespace

QString lockFolder()
{
    const QString chosen = QFile::decodeName(qgetenv("VANTELO_LOCK_DIR"));
    if (!chosen.isEmpty())
        return chosen;
    return QFileInfo(u"/run/lock"_s).isDir() ? u"/run/lock"_s : u"/var/lock"_s;
}

bool processRunning(int pid)
{
    if (pid <= 0 || (::kill(pid, 0) != 0 && errno != EPERM))
        return false;
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true; // no /proc: the signal's answer is all there is
    const QByteArray fields = stat.read(512);
    return fields.mid(fields.lastIndexOf(')') + 2, 1) != "Z";
}

Port::~Port()
{
    if (m_fd >= 0)
        ::close(m_fd);
    unlock();
}

DWORD Port::open(const QString &device, int speed)
{
    const QByteArray path = QFile::encodeName(device);
    struct stat st = {};
    if (::stat(path.constData(), &st) != 0)
        return openError(errno);
    if (!S_ISCHR(st.st_mode))
        return ERROR_UNKNOWN_DEVICE_TYPE;
    const speed_t baud = speedConstant(speed);
    if (baud == B0)
        return ERROR_WRONG_INFO_SPECIFIED;

    // Locked by its real name, so two names of one modem share one lock.
    const QString canonical = QFileInfo(device).canonicalFilePath();
    if (const DWORD rc = lock(canonical.isEmpty() ? device : canonical); rc != 0)
        return rc;

    m_fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        const int error = errno;
        m_problem = openWords(device, error);
        unlock();
        return openError(error);
    }
    termios tio = {};
    if (::tcgetattr(m_fd, &tio) != 0) {
        ::close(m_fd);
        m_fd = -1;
        unlock();
        return ERROR_UNKNOWN_DEVICE_TYPE;
    }
    // No other program may open the port while the call lasts.
    ::ioctl(m_fd, TIOCEXCL);
    ::cfmakeraw(&tio);
    tio.c_cflag |= CS8 | CREAD | HUPCL;
    int lines = 0;
    if (::ioctl(m_fd, TIOCMGET, &lines) == 0) {
        // A real serial port: flow control and carrier on its modem lines.
        tio.c_cflag |= CRTSCTS;
        tio.c_cflag &= ~tcflag_t(CLOCAL);
    } else {
        tio.c_cflag &= ~tcflag_t(CRTSCTS);
        tio.c_cflag |= CLOCAL;
    }
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, baud);
    ::cfsetospeed(&tio, baud);
    if (::tcsetattr(m_fd, TCSANOW, &tio) != 0) {
        ::close(m_fd);
        m_fd = -1;
        unlock();
        return ERROR_HARDWARE_FAILURE;
    }
    ::tcflush(m_fd, TCIOFLUSH);
    return 0;
}

DWORD Port::lock(const QString &canonicalDevice)
{
    const QString folder = lockFolder();
    const QString lockPath = folder + u'/' + lockFileName(canonicalDevice);
    const QByteArray file = QFile::encodeName(lockPath);
    // Two tries: the second after removing a lock whose owner is gone.
    for (int attempt = 0; attempt < 2; ++attempt) {
        // O_EXCL never follows a link, nor opens anything that is there.
        const int fd =
            ::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            char content[16];
            const int n = std::snprintf(content, sizeof content, "%10d\n", int(::getpid()));
            const bool written = ::write(fd, content, size_t(n)) == n;
            const int error = errno;
            ::close(fd);
            if (!written) {
                ::unlink(file.constData());
                m_problem = u"The port's lock %1 could not be written: %2."_s.arg(
                    lockPath, QString::fromLocal8Bit(std::strerror(error)));
                return ERROR_PORT_NOT_AVAILABLE;
            }
            m_lockPath = lockPath;
            return 0;
        }
        if (errno != EEXIST) {
            const int error = errno;
            if (error == EACCES || error == EPERM || error == EROFS) {
                m_problem = u"Your account may not make the port's lock in %1, so the modem cannot "
                            u"be shared safely: ask for write access to that folder."_s.arg(folder);
                return ERROR_PORT_NOT_CONFIGURED;
            }
            m_problem = u"The port's lock cannot be made in %1: %2."_s.arg(
                folder, QString::fromLocal8Bit(std::strerror(error)));
            return ERROR_PORT_NOT_AVAILABLE;
        }
        const LockHolder holder = readLock(file);
        if (holder.held) {
            m_problem = holder.why.arg(lockPath);
            return ERROR_PORT_NOT_AVAILABLE;
        }
        ::unlink(file.constData());
    }
    m_problem = u"Another program keeps taking the port's lock %1."_s.arg(lockPath);
    return ERROR_PORT_NOT_AVAILABLE;
}

Port::LockHolder Port::readLock(const QByteArray &file)
{
    // Never through a link, never blocking on a named pipe or a device.
    const int fd = ::open(file.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return {false, {}}; // removed meanwhile: try again
        if (errno == ELOOP)
            return {true, u"The port's lock %1 is a symbolic link, not a lock: remove it."_s};
        return {true, u"The port's lock %1 belongs to another account: the port is in use."_s};
    }
    struct stat st = {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    char content[64] = {};
    const ssize_t n = regular ? ::read(fd, content, sizeof content - 1) : -1;
    ::close(fd);
    if (!regular)
        return {true, u"The port's lock %1 is not a file: remove it."_s};
    bool ok = false;
    const int owner = QByteArray(content, n > 0 ? n : 0).trimmed().toInt(&ok);
    if (ok && owner > 0) {
        if (processRunning(owner))
            return {true, u"The port is in use: process "_s + QString::number(owner) +
                              u" holds its lock %1."_s};
        return {false, {}}; // its owner is gone
    }
    // Empty or unreadable: its owner may be writing it now. It is stale only
    // once it has stayed so for a while.
    const qint64 age = qint64(::time(nullptr)) - qint64(st.st_mtime);
    if (age >= 0 && age < kEmptyLockGraceSec)
        return {true,
                u"The port's lock %1 is being made by another program: the port is in use."_s};
    return {false, {}};
}

void Port::handLockTo(int pid)
{
    if (m_lockPath.isEmpty())
        return;
    // A new file renamed over the lock: no reader ever finds it empty.
    char content[16];
    const int n = std::snprintf(content, sizeof content, "%10d\n", pid);
    platform::replaceFile(m_lockPath, QByteArray(content, n),
                          {.permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ReadGroup | QFileDevice::ReadOther,
                           .onDisk = false,
                           .followLinks = false});
}

void Port::unlock()
{
    if (m_lockPath.isEmpty())
        return;
    ::unlink(QFile::encodeName(m_lockPath).constData());
    m_lockPath.clear();
}

namespace {

// Reads from the port until `want` arrives or `ms` pass.
bool awaitWords(int fd, const QByteArray &want, int ms)
{
    QByteArray got;
    timespec start = {};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now = {};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const long elapsed =
            (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (elapsed >= ms)
            return false;
        pollfd p = {fd, POLLIN, 0};
        if (::poll(&p, 1, int(ms - elapsed)) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        got.append(buffer, n);
        if (got.toUpper().contains(want))
            return true;
        if (got.size() > 4096)
            got.remove(0, 2048);
    }
}

void writeWords(int fd, const char *words)
{
    [[maybe_unused]] const ssize_t n = ::write(fd, words, std::strlen(words));
}

} // namespace

bool Port::carrierGone(bool hasModemLines)
{
    if (hasModemLines) {
        int lines = 0;
        return ::ioctl(m_fd, TIOCMGET, &lines) != 0 || !(lines & TIOCM_CD);
    }
    // No modem lines (a pseudo-terminal): the modem says it.
    return awaitWords(m_fd, "NO CARRIER", 500);
}

void Port::hangUpAndClose(bool online)
{
    m_problem.clear();
    if (m_fd >= 0) {
        termios tio = {};
        if (::tcgetattr(m_fd, &tio) == 0) {
            const termios saved = tio;
            // Speed 0 drops DTR: the modem hangs up.
            ::cfsetispeed(&tio, B0);
            ::cfsetospeed(&tio, B0);
            ::tcsetattr(m_fd, TCSANOW, &tio);
            ::usleep(500 * 1000);
            ::tcsetattr(m_fd, TCSANOW, &saved);
            int lines = 0;
            const bool hasModemLines = ::ioctl(m_fd, TIOCMGET, &lines) == 0;
            // A modem told to ignore DTR (AT&D0) is still on line: the escape
            // with its guard times brings back its commands, and ATH hangs up.
            if (online && !carrierGone(hasModemLines)) {
                ::tcflush(m_fd, TCIFLUSH);
                ::usleep(kGuardMs * 1000);
                writeWords(m_fd, "+++");
                const bool escaped = awaitWords(m_fd, "OK", kGuardMs + 1500);
                ::tcflush(m_fd, TCIFLUSH);
                writeWords(m_fd, "ATH\r");
                const bool onHook = escaped && awaitWords(m_fd, "OK", 3000);
                if (!onHook)
                    m_problem = escaped ? u"The modem stays off-hook: it ignores DTR and did not "
                                          u"answer ATH."_s
                                        : u"The modem stays off-hook: it ignores DTR and did not "
                                          u"answer the escape (+++)."_s;
            }
        }
        ::tcflush(m_fd, TCIOFLUSH);
        ::close(m_fd);
        m_fd = -1;
    }
    unlock();
}

} // namespace modem
