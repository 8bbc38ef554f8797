#include "platform/modem/call_events.h"

#include "platform/line/call_store.h"
#include "platform/paths.h"

#include <QDateTime>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace modem {

namespace {

int g_signalPipe[2] = {-1, -1};

extern "C" void onSignal(int signal)
{
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

qint64 monotonicMs()
{
    timespec ts = {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void installSignals()
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGCHLD})
        ::sigaction(s, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

int signalFd()
{
    return g_signalPipe[0];
}

bool readHangUpSignals()
{
    bool hangUp = false;
    char received[32];
    ssize_t n;
    while ((n = ::read(g_signalPipe[0], received, sizeof received)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (received[i] != SIGCHLD)
                hangUp = true;
        }
    }
    return hangUp;
}

ModemLog::ModemLog(HRASCONN handle)
{
    // Never through a link: a new file is 0600, an existing one keeps its mode.
    const QString folder = platform::runtimeFolder();
    const int fd = folder.isEmpty() ? -1
                                    : line::openRuntimeFile(folder + u"/modem.log"_s,
                                                            O_WRONLY | O_CREAT | O_APPEND);
    // Every writer holds a shared lock; emptying needs it alone.
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) [[maybe_unused]]
        const int emptied = ::ftruncate(fd, 0);
    if (fd >= 0)
        ::flock(fd, LOCK_SH);
    if (fd >= 0 && !m_file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        ::close(fd);
    write(u"Call %1."_s.arg(handle));
}

void ModemLog::write(const QString &line)
{
    if (m_transcript) {
        m_transcript->append(line);
        return;
    }
    if (!m_file.isOpen())
        return;
    m_file.write(QDateTime::currentDateTime().toString(u"HH:mm:ss.zzz "_s).toUtf8() +
                 line.toUtf8() + '\n');
    m_file.flush();
}

} // namespace modem
