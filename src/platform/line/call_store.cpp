#include "platform/line/call_store.h"

#include "platform/core/bounded_read.h"
#include "platform/lines.h"
#include "platform/paths.h"

#include <QDateTime>
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

constexpr auto kPrivate = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString kindName(Kind kind)
{
    return kind == Kind::Modem ? u"modem"_s : u"simulated"_s;
}

QJsonObject callToJson(const Call &c)
{
    QJsonObject o{
        {u"handle"_s, qint64(c.handle)},
        {u"kind"_s, kindName(c.kind)},
        {u"entry"_s, c.entry},
        {u"deviceName"_s, c.deviceName},
        {u"deviceType"_s, c.deviceType},
        {u"userName"_s, c.userName},
        {u"phoneNumber"_s, c.phoneNumber},
        {u"callbackNumber"_s, c.callbackNumber},
        {u"domain"_s, c.domain},
        {u"dialedAtMs"_s, c.dialedAtMs},
        {u"speed"_s, qint64(c.speed)},
    };
    if (c.hangUpAtMs >= 0)
        o.insert(u"hangUpAtMs"_s, c.hangUpAtMs);
    if (c.closeAtMs >= 0)
        o.insert(u"closeAtMs"_s, c.closeAtMs);
    if (c.kind == Kind::Simulated) {
        o.insert(u"stageMs"_s, c.stageMs);
        o.insert(u"outcome"_s, simline::outcomeName(c.outcome));
        o.insert(u"accountAccepted"_s, c.accountAccepted);
        o.insert(u"dropAfterSec"_s, c.dropAfterSec);
        o.insert(u"hangUpMs"_s, c.hangUpMs);
        if (c.droppedAtMs >= 0)
            o.insert(u"droppedAtMs"_s, c.droppedAtMs);
    } else {
        o.insert(u"pid"_s, c.pid);
        o.insert(u"state"_s, qint64(c.state));
        o.insert(u"error"_s, qint64(c.error));
        o.insert(u"finished"_s, c.finished);
        o.insert(u"interface"_s, c.interfaceName);
        if (!c.errorWords.isEmpty())
            o.insert(u"errorWords"_s, c.errorWords);
        if (c.pppdPid > 0)
            o.insert(u"pppdPid"_s, c.pppdPid);
    }
    return o;
}

// An integer of the object within [minimum, maximum]; `fallback` when it is
// missing, not a number or outside.
qint64 bounded(const QJsonObject &o, const QString &key, qint64 fallback, qint64 minimum,
               qint64 maximum)
{
    const QJsonValue v = o.value(key);
    if (!v.isDouble())
        return fallback;
    const double d = v.toDouble();
    // Compared as doubles first: a huge value must not reach the conversion.
    if (!(d >= double(minimum) && d <= double(maximum)))
        return fallback;
    const qint64 n = v.toInteger(fallback);
    return n >= minimum && n <= maximum ? n : fallback;
}

// A moment of the call: absent (-1) when missing or negative, at most MaxTimeMs.
qint64 moment(const QJsonObject &o, const QString &key)
{
    const QJsonValue v = o.value(key);
    if (!v.isDouble() || !(v.toDouble() >= 0))
        return -1;
    return v.toDouble() > double(MaxTimeMs) ? MaxTimeMs : bounded(o, key, -1, 0, MaxTimeMs);
}

bool knownState(qint64 state)
{
    return (state >= RASCS_OpenPort && state <= RASCS_LogonNetwork) ||
           (state >= RASCS_Interactive && state <= RASCS_PasswordExpired) ||
           state == RASCS_Connected || state == RASCS_Disconnected;
}

// The call an object of line.json describes, or nothing when it is nonsense.
std::optional<Call> callFromJson(const QJsonObject &o)
{
    Call c;
    const qint64 handle = bounded(o, u"handle"_s, 0, 1, 0xFFFFFFFEll);
    const qint64 dialedAt = bounded(o, u"dialedAtMs"_s, -1, 0, MaxTimeMs);
    if (handle == 0 || dialedAt < 0)
        return std::nullopt;
    c.handle = static_cast<HRASCONN>(handle);
    c.dialedAtMs = dialedAt;
    c.kind = o.value(u"kind"_s).toString() == u"modem"_s ? Kind::Modem : Kind::Simulated;
    c.entry = o.value(u"entry"_s).toString();
    c.deviceName = o.value(u"deviceName"_s).toString();
    c.deviceType = o.value(u"deviceType"_s).toString();
    c.userName = o.value(u"userName"_s).toString();
    c.phoneNumber = o.value(u"phoneNumber"_s).toString();
    c.callbackNumber = o.value(u"callbackNumber"_s).toString();
    c.domain = o.value(u"domain"_s).toString();
    const qint64 defaultSpeed = c.kind == Kind::Modem ? 0 : DefaultSpeed;
    c.speed = static_cast<quint32>(bounded(o, u"speed"_s, defaultSpeed, 0, MaxSpeed));
    c.hangUpAtMs = moment(o, u"hangUpAtMs"_s);
    c.closeAtMs = moment(o, u"closeAtMs"_s);
    c.stageMs = static_cast<int>(bounded(o, u"stageMs"_s, DefaultStageMs, 0, MaxStageMs));
    if (!simline::outcomeFromName(o.value(u"outcome"_s).toString(), &c.outcome))
        c.outcome = simline::Outcome::Connect;
    c.accountAccepted = o.value(u"accountAccepted"_s).toBool(true);
    c.dropAfterSec = static_cast<int>(bounded(o, u"dropAfterSec"_s, 0, 0, MaxDropAfterSec));
    c.hangUpMs = static_cast<int>(bounded(o, u"hangUpMs"_s, DefaultHangUpMs, 0, MaxStageMs));
    c.droppedAtMs = moment(o, u"droppedAtMs"_s);
    // A pid of 0 is "not reported yet"; anything else outside the kernel's
    // range would make a signal reach other processes than the call's.
    c.pid = bounded(o, u"pid"_s, 0, 1, MaxPid);
    const qint64 state = bounded(o, u"state"_s, RASCS_OpenPort, 0, 0xFFFFFFFFll);
    if (!knownState(state))
        return std::nullopt;
    c.state = static_cast<RASCONNSTATE>(state);
    const qint64 error = bounded(o, u"error"_s, 0, 0, 0xFFFFFFFFll);
    c.error =
        static_cast<DWORD>(error == 0 || (error >= 600 && error <= 799) ? error : ERROR_UNKNOWN);
    c.finished = o.value(u"finished"_s).toBool();
    c.interfaceName = o.value(u"interface"_s).toString();
    // Words are shown in a 256-byte buffer: anything longer is not ours.
    c.errorWords = o.value(u"errorWords"_s).toString().left(255);
    c.pppdPid = bounded(o, u"pppdPid"_s, 0, 1, MaxPid);
    return c;
}

thread_local QString t_runtimeProblem;

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

} // namespace

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

void setLineLockWaitMs(int ms)
{
    g_lockWaitMs = ms;
}

int lineLockWaitMs()
{
    return g_lockWaitMs;
}

QString runtimeProblem()
{
    return t_runtimeProblem;
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
    state.nextHangUpDelayMs =
        static_cast<int>(bounded(root, u"nextHangUpDelayMs"_s, -1, 0, MaxStageMs));
    const QJsonValue forced = root.value(u"forcedOutcome"_s);
    if (forced.isString())
        state.outcomeForced = simline::outcomeFromName(forced.toString(), &state.forcedOutcome);
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
    if (state.nextHangUpDelayMs >= 0)
        root.insert(u"nextHangUpDelayMs"_s, state.nextHangUpDelayMs);
    if (state.outcomeForced)
        root.insert(u"forcedOutcome"_s, simline::outcomeName(state.forcedOutcome));
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

bool readPhonebook(PhonebookFile *phonebook)
{
    lines::ensurePhonebook();
    // Never a wait on a named pipe nor a read without end: only a regular file
    // of a sane size is a phonebook.
    const platform::BoundedRead file =
        platform::readBounded(lines::phonebookPath(), platform::PhonebookReadLimit);
    if (!file.read())
        return false;
    *phonebook = PhonebookFile::parse(file.data);
    return true;
}

bool writePhonebook(const PhonebookFile &phonebook)
{
    return saveAtomically(lines::phonebookPath(), phonebook.serialize());
}

QByteArray samplePhonebook()
{
    return QByteArrayLiteral(
        "; Vantelo's phonebook, one [section] per entry. Vantelo dials the first one.\n"
        "; Vantelo lists the entries when its window opens: a new, removed or reordered\n"
        "; entry is taken at its next start. An entry's keys are read again at every\n"
        "; request, so edits of them take effect at the next dial.\n"
        ";\n"
        "; An entry with Device=Vantelo Simulated Modem is dialed on Vantelo's simulated\n"
        "; line. Any other entry is dialed on the real modem its Device= names\n"
        "; (/dev/ttyACM0, /dev/ttyUSB0, /dev/ttyS0..., or a bare name below /dev such as\n"
        "; ttyACM0); pppd then brings the network up.\n"
        ";   Device=/dev/ttyACM0     the modem's serial port\n"
        ";   Speed=115200            the port's speed in bits per second\n"
        ";   Init=ATZ                the command that resets the modem before dialing\n"
        ";   Timeout=60              seconds to wait for the far end to answer\n"
        ";   Peer=vantelo            the pppd options file in /etc/ppp/peers\n"
        "; The simulated line's far end behaves as the entry says:\n"
        ";   SimUser=, SimPassword=  the account the server accepts (no SimUser: any account)\n"
        ";   SimSpeed=28800          the connect speed in bits per second\n"
        ";   SimOutcome=connect      connect | busy | noanswer | nodialtone | nocarrier\n"
        ";   SimStageMs=400          how long each stage of the call takes, in milliseconds\n"
        ";   SimHangUpMs=300         how long the line takes to close after a hang-up\n"
        ";   SimDropAfterSec=0       the line drops by itself after so many seconds up\n"
        ";                           (0: never)\n"
        "; The Dial* keys hold the dial parameters stored for the entry: DialUserName=,\n"
        "; DialPassword=, DialPasswordStored=0|1, DialDomain=, DialCallbackNumber=.\n"
        "\n"
        "[Vantelo Demo]\n"
        "PhoneNumber=0860\n"
        "Device=Vantelo Simulated Modem\n"
        "SimUser=demo\n"
        "SimPassword=demo\n"
        "SimSpeed=28800\n"
        "SimOutcome=connect\n"
        "SimStageMs=400\n"
        "SimHangUpMs=300\n"
        "SimDropAfterSec=0\n"
        "DialUserName=demo\n"
        "DialPasswordStored=0\n"
        "\n"
        "[Vantelo Busy Line]\n"
        "PhoneNumber=0861\n"
        "Device=Vantelo Simulated Modem\n"
        "SimOutcome=busy\n"
        "\n"
        "; A real modem: remove the semicolons and put the entry first to dial it.\n"
        "; [My ISP]\n"
        "; PhoneNumber=0860123456\n"
        "; Device=/dev/ttyACM0\n"
        "; Speed=115200\n"
        "; Init=ATZ\n"
        "; Timeout=60\n"
        "; Peer=vantelo\n");
}

bool saveAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Set on the temporary file, so the content is never readable by others.
    file.setPermissions(kPrivate);
    return file.write(bytes) == bytes.size() && file.commit() &&
           QFile::setPermissions(path, kPrivate);
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
