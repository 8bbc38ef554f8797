#include "platform/line/call_store.h"

#include "platform/line/call_json.h"
#include "platform/line/line.h"
#include "platform/line/runtime_files.h"

#include "platform/core/bounded_read.h"
#include "platform/core/clock.h"
#include "platform/lines.h"
#include "platform/paths.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QRandomGenerator>
#include <QSaveFile>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace line {

namespace {

std::atomic<int> g_lockWaitMs{DefaultLockWaitMs};

void sleepMs(int ms)
{
    timespec ts = {0, long(ms) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// The size beyond which line.json is not read: a few calls take a few kB.
constexpr qint64 kMaxStateBytes = 4 * 1024 * 1024;

std::atomic<int> g_parses{0};

// What tells one version of line.json from another. Every write is a new
// file renamed over the old one, so the inode changes at each write; an inode
// may be used again once the old file is gone, but not with the same change
// time; the size and the modification time catch a file rewritten in place.
struct FileIdentity
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified = {};
    timespec changed = {};
};

FileIdentity identityOf(const struct stat &st)
{
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

bool operator==(const timespec &a, const timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool operator==(const FileIdentity &a, const FileIdentity &b)
{
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified == b.modified && a.changed == b.changed;
}

// The state of the version of line.json this process read or wrote last, so
// that the file is read and parsed once per change, not at every look.
struct StateCache
{
    QMutex mutex;
    bool valid = false;
    QString path;
    FileIdentity identity;
    LineState state;
};

StateCache &stateCache()
{
    static StateCache cache;
    return cache;
}

void rememberState(const QString &path, const struct stat &st, const LineState &state)
{
    StateCache &cache = stateCache();
    QMutexLocker locker(&cache.mutex);
    cache.valid = true;
    cache.path = path;
    cache.identity = identityOf(st);
    cache.state = state;
}

} // namespace

qint64 nowMs()
{
    return platform::clock::nowMs();
}

void setLineLockWaitMs(int ms)
{
    g_lockWaitMs = ms;
}

int lineLockWaitMs()
{
    return g_lockWaitMs;
}

LineLock::LineLock() : LineLock(lineLockWaitMs()) {}

LineLock::LineLock(int waitMs)
{
    m_error = ERROR_RUNTIME_FOLDER_UNUSABLE;
    const QString folder = platform::checkedRuntimeFolder();
    if (folder.isEmpty()) {
        setRuntimeProblem(platform::runtimeFolderError());
        return;
    }
    const QString path = folder + u"/line.lock"_s;
    const int fd = openRuntimeFile(path, O_RDWR | O_CREAT);
    if (fd < 0) {
        setFileProblem(path, "open its lock", errno);
        return;
    }
    // Tried without blocking, again and again until the wait is over: a
    // process that holds the lock for long never stalls this one.
    const QDeadlineTimer deadline(waitMs < 0 ? -1 : waitMs);
    int error = 0;
    for (;;) {
        if (::flock(fd, waitMs < 0 ? LOCK_EX : LOCK_EX | LOCK_NB) == 0) {
            error = 0;
            break;
        }
        error = errno;
        if (error == EINTR)
            continue;
        if (error != EWOULDBLOCK || deadline.hasExpired())
            break;
        sleepMs(int(qBound(qint64(1), deadline.remainingTime(), qint64(5))));
    }
    if (error != 0) {
        const bool busy = error == EWOULDBLOCK;
        if (busy)
            setRuntimeProblem(u"The line is busy: another Vantelo process is changing it (it "
                              u"holds %1); try again."_s.arg(path));
        else
            setFileProblem(path, "lock", error);
        m_error = busy ? ERROR_LINE_BUSY_CHANGING : ERROR_RUNTIME_FOLDER_UNUSABLE;
        ::close(fd);
        return;
    }
    m_fd = fd;
    m_error = 0;
    setRuntimeProblem({});
}

LineLock::~LineLock()
{
    // Closing the descriptor releases the lock.
    if (m_fd >= 0)
        ::close(m_fd);
}

QString lineStatePath()
{
    const QString folder = platform::checkedRuntimeFolder();
    if (folder.isEmpty()) {
        setRuntimeProblem(platform::runtimeFolderError());
        return {};
    }
    return folder + u"/line.json"_s;
}

LineState parseLineState(const QByteArray &json)
{
    ++g_parses;
    LineState state;
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    const qint64 next = bounded(root, u"nextHandle"_s, 0, 1, 0xFFFFFFFEll);
    if (next > 0)
        state.nextHandle = static_cast<HRASCONN>(next);
    const QJsonArray calls = root.value(u"calls"_s).toArray();
    for (const QJsonValue &v : calls) {
        if (const std::optional<Call> c = callFromJson(v.toObject()))
            state.calls.append(*c);
    }
    for (const Line *kind : allLines())
        kind->readShared(root, &state);
    return state;
}

LineState readLineState()
{
    const QString path = lineStatePath();
    if (path.isEmpty())
        return {};
    // A version already read (it was then a regular file of ours, opened
    // without following a link) is known by its identity alone.
    struct stat st = {};
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0) {
        StateCache &cache = stateCache();
        QMutexLocker locker(&cache.mutex);
        if (cache.valid && cache.path == path && cache.identity == identityOf(st))
            return cache.state;
    }
    const int fd = openRuntimeFile(path, O_RDONLY);
    if (fd < 0)
        return {};
    QFile file;
    if (::fstat(fd, &st) != 0 || st.st_size > kMaxStateBytes ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    const LineState state = parseLineState(file.read(kMaxStateBytes));
    rememberState(path, st, state);
    return state;
}

int lineStateParses()
{
    return g_parses;
}

bool writeLineState(LineState state, qint64 nowMs)
{
    QJsonArray calls;
    for (const Call &c : std::as_const(state.calls)) {
        if (!callClosed(c, nowMs))
            calls.append(callToJson(c));
    }
    QJsonObject root{{u"nextHandle"_s, qint64(state.nextHandle)}, {u"calls"_s, calls}};
    for (const Line *kind : allLines())
        kind->writeShared(state, &root);
    const QString path = lineStatePath();
    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);
    struct stat written = {};
    if (path.isEmpty() || !saveRuntimeFile(path, bytes, &written))
        return false;
    // What readers of this version get, exactly as they would parse it.
    rememberState(path, written, parseLineState(bytes));
    return true;
}

bool callClosed(const Call &call, qint64 nowMs)
{
    return call.closeAtMs >= 0 && nowMs >= call.closeAtMs;
}

Call *findCall(QList<Call> &calls, HRASCONN handle, qint64 nowMs)
{
    for (Call &call : calls) {
        if (call.handle == handle && !callClosed(call, nowMs))
            return &call;
    }
    return nullptr;
}

const Call *findCall(const QList<Call> &calls, HRASCONN handle, qint64 nowMs)
{
    for (const Call &call : calls) {
        if (call.handle == handle && !callClosed(call, nowMs))
            return &call;
    }
    return nullptr;
}

QList<Call> openCalls(const LineState &state, qint64 nowMs)
{
    QList<Call> open;
    for (const Call &c : state.calls) {
        if (!callClosed(c, nowMs))
            open.append(c);
    }
    return open;
}

namespace {

struct DialedPasswords
{
    QMutex mutex;
    QHash<HRASCONN, QString> byHandle;
};

DialedPasswords &dialedPasswords()
{
    static DialedPasswords passwords;
    return passwords;
}

} // namespace

void rememberDialedPassword(HRASCONN handle, const QString &password)
{
    DialedPasswords &p = dialedPasswords();
    QMutexLocker locker(&p.mutex);
    p.byHandle.insert(handle, password);
}

QString dialedPassword(HRASCONN handle)
{
    DialedPasswords &p = dialedPasswords();
    QMutexLocker locker(&p.mutex);
    return p.byHandle.value(handle);
}

} // namespace line
