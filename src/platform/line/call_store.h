#pragma once

// What every line of this system shares with every process: the calls and the
// simulated line's pending test controls in $XDG_RUNTIME_DIR/vantelo/line.json,
// and the phonebook in the program's folder. Changes are made under an
// exclusive lock on line.lock (read, change, write) and every file is replaced
// atomically, so readers need no lock and two processes never lose each
// other's changes. No password is ever written here.

#include "platform/line/phonebook_file.h"
#include "platform/ras.h"
#include "platform/simline.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace line {

// The kinds of line an entry can be dialed on.
enum class Kind { Simulated, Modem };

inline constexpr int DefaultStageMs = 400;
inline constexpr int DefaultHangUpMs = 300;
inline constexpr quint32 DefaultSpeed = 28800;

// One call, as the service lists it. The common part says what was dialed;
// the rest belongs to the call's kind of line.
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

    // The simulated far end, copied from the entry at dial time.
    int stageMs = DefaultStageMs;
    simline::Outcome outcome = simline::Outcome::Connect;
    bool accountAccepted = true;
    int dropAfterSec = 0;
    int hangUpMs = DefaultHangUpMs;
    qint64 droppedAtMs = -1; // the carrier was lost then (a drop ordered from outside)

    // A modem call, as its call process last reported it.
    qint64 pid = 0;
    RASCONNSTATE state = RASCS_OpenPort;
    DWORD error = 0;
    bool finished = false; // the call process has ended the call and released the port
    QString interfaceName; // the network interface pppd brought up
};

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
    simline::Outcome forcedOutcome = simline::Outcome::Connect;
};

// The clock every process shares: milliseconds since the epoch.
qint64 nowMs();

// Held while the shared state is read, changed and written.
class LineLock final
{
public:
    LineLock();
    ~LineLock();
    LineLock(const LineLock &) = delete;
    LineLock &operator=(const LineLock &) = delete;
    bool isLocked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

QString lineStatePath();
// The state as last written; an empty line when there is none or it is unreadable.
LineState readLineState();
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

// Replaces the file's content at once, readable by the user alone.
bool saveAtomically(const QString &path, const QByteArray &bytes);

} // namespace line
