#pragma once

// What every line of this system shares with every process: the calls and the
// simulated line's pending test controls in $XDG_RUNTIME_DIR/vantelo/line.json,
// and the phonebook in the program's folder. Changes are made under an
// exclusive lock on line.lock (read, change, write) and every file is replaced
// atomically, so readers need no lock and two processes never lose each
// other's changes. No password is ever written here.

#include "platform/line/dial_outcome.h"
#include "platform/line/phonebook_file.h"
#include "platform/ras.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <any>

struct stat;

namespace line {

// The kinds of line an entry can be dialed on.
enum class Kind { Simulated, Modem };

inline constexpr quint32 DefaultSpeed = 28800;

// One call, as the service lists it: what every call has, and the part that
// belongs to its kind of line. That part's type is the kind's own (defined
// beside the kind's line, read and written by it alone), so no other code
// sees its fields; partOf() reaches it.
struct Call
{
    HRASCONN handle = 0;
    Kind kind = Kind::Simulated;
    QString entry;
    QString deviceName;
    QString deviceType;
    QString userName;
    QString phoneNumber;
    QString callbackNumber;
    QString domain;
    qint64 dialedAtMs = 0;
    qint64 hangUpAtMs = -1; // the first hang-up request
    qint64 closeAtMs = -1;  // the line is closed and the call forgotten then
    quint32 speed = DefaultSpeed;
    std::any part; // the kind of line's own part; empty until that kind fills it in
};

// The call's part of type `Part`: its defaults when the call holds none.
template <class Part> const Part &partOf(const Call &call)
{
    static const Part none{};
    const Part *part = std::any_cast<Part>(&call.part);
    return part ? *part : none;
}

// The call's part of type `Part` to change, made with its defaults when the
// call holds none.
template <class Part> Part &partOf(Call *call)
{
    if (Part *part = std::any_cast<Part>(&call->part))
        return *part;
    return call->part.emplace<Part>();
}

struct CallStatus
{
    RASCONNSTATE state = RASCS_OpenPort;
    DWORD error = 0;
};

// Handles start here rather than at 1 so that a handle is never mistaken for
// a count or an index.
inline constexpr HRASCONN FirstHandle = 0x101;

struct LineState
{
    HRASCONN nextHandle = FirstHandle;
    QList<Call> calls; // in dial order
    int nextHangUpDelayMs = -1;
    bool outcomeForced = false;
    Outcome forcedOutcome = Outcome::Connect;
};

// The clock every process shares: milliseconds since the epoch
// (platform::clock, which a test may set for its own process).
qint64 nowMs();

// The service's errors when the shared state cannot be changed: another
// process holds the line's lock longer than this one waits (the line is
// busy: try again), or the runtime folder cannot be used (runtimeProblem()
// says which folder and why).
inline constexpr DWORD ERROR_LINE_BUSY_CHANGING = 616;
inline constexpr DWORD ERROR_RUNTIME_FOLDER_UNUSABLE = 605;

// Bounds of the values of the shared state; anything outside is nonsense
// from a damaged or hostile file. Times are milliseconds since the epoch.
inline constexpr qint64 MaxTimeMs = 100'000'000'000'000; // about the year 5138
inline constexpr qint64 MaxStageMs = 24 * 3600 * 1000;   // a day per stage
inline constexpr qint64 MaxDropAfterSec = 366 * 24 * 3600;
inline constexpr qint64 MaxSpeed = 0x7fffffff;
inline constexpr qint64 MaxPid = 4194304; // the kernel's own limit

// How long a LineLock made without a time limit waits for the lock, in
// milliseconds, for the whole process: short (tens of milliseconds) by
// default, so that a window's thread never stalls behind another process; a
// command-line tool may wait longer. A negative value waits as long as it takes.
inline constexpr int DefaultLockWaitMs = 50;
void setLineLockWaitMs(int ms);
int lineLockWaitMs();

// Held while the shared state is read, changed and written. The lock is
// tried again and again for the wait given (lineLockWaitMs() by default)
// and then given up: isLocked() is false and error() says why.
class LineLock final
{
public:
    LineLock();
    explicit LineLock(int waitMs);
    ~LineLock();
    LineLock(const LineLock &) = delete;
    LineLock &operator=(const LineLock &) = delete;
    bool isLocked() const { return m_fd >= 0; }
    // 0 when locked; ERROR_LINE_BUSY_CHANGING when another process held the
    // lock all along; ERROR_RUNTIME_FOLDER_UNUSABLE when it cannot be had at all.
    DWORD error() const { return m_error; }

private:
    int m_fd = -1;
    DWORD m_error = 0;
};

// What went wrong, last in this thread, with the line's lock, the runtime
// folder or a file in it (the folder or file and the reason), for the text
// of ERROR_RUNTIME_FOLDER_UNUSABLE and for callers whose change was not made;
// cleared whenever a LineLock is taken.
QString runtimeProblem();

// The path of the shared state, empty when the runtime folder is unusable.
QString lineStatePath();
// The state a line.json holds, every value checked: a call whose handle, kind
// of time or state is nonsense is left out, other values out of their range
// are brought back to it. Unreadable text gives an empty line.
LineState parseLineState(const QByteArray &json);
// The state as last written; an empty line when there is none or it is
// unreadable (a symbolic link or anything but a file is never read). The file
// is read and parsed once per version: while it keeps its identity (device,
// inode, size, modification and change times, one lstat) the state read or
// written last by this process is given again.
LineState readLineState();
// How many times this process has parsed a line.json (for tests).
int lineStateParses();
// Writes the state, forgetting the calls closed at `nowMs`. Hold a LineLock.
bool writeLineState(LineState state, qint64 nowMs);

// Whether the call is closed (gone from every listing) at `nowMs`.
bool callClosed(const Call &call, qint64 nowMs);
// The calls not yet closed at `nowMs`, in dial order.
QList<Call> openCalls(const LineState &state, qint64 nowMs);
// The open call with this handle in `calls`, or null.
Call *findCall(QList<Call> &calls, HRASCONN handle, qint64 nowMs);
const Call *findCall(const QList<Call> &calls, HRASCONN handle, qint64 nowMs);

// The password of a call this process dialed, kept in its memory only (the
// line tool and the tests show what was dialed); empty for any other call.
void rememberDialedPassword(HRASCONN handle, const QString &password);
QString dialedPassword(HRASCONN handle);

// The default phonebook, created with its sample entries when missing.
// Returns false when it cannot be read.
bool readPhonebook(PhonebookFile *phonebook);
// Replaces the default phonebook (private to the user: it may hold
// passwords). Hold a LineLock.
bool writePhonebook(const PhonebookFile &phonebook);
QByteArray samplePhonebook();

// Replaces the file's content at once, readable by the user alone. For the
// user's own files (the phonebook): a symbolic link the user made is followed.
bool saveAtomically(const QString &path, const QByteArray &bytes);
// Replaces a file of the runtime folder at once: the bytes go to a new file
// (created exclusively, never through a link, mode 0600) that is then renamed
// over `path`, so whatever `path` was, a link included, is replaced and never
// written through. `written`, when given, receives the new file's status.
// A runtime folder gone since it was checked is made again, once.
bool saveRuntimeFile(const QString &path, const QByteArray &bytes, struct stat *written = nullptr);
// Opens a file of the runtime folder without following a symbolic link and
// without blocking on a special file; -1 (errno set) unless it is a regular
// file owned by this user. `flags` are open(2)'s; O_NOFOLLOW | O_CLOEXEC are
// added, O_NONBLOCK while it is checked; O_TRUNC empties it only once it
// passed. A file it creates is 0600 (`created`, when given, tells whether it
// did); an existing file keeps its mode. When the file cannot be opened
// because the runtime folder is gone or changed, the folder is checked (made)
// again and the file opened once more.
int openRuntimeFile(const QString &path, int flags, bool *created = nullptr);

} // namespace line
