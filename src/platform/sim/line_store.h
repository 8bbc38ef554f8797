#pragma once

// Where the simulated line keeps what every process shares: the calls and the
// pending test controls in $XDG_RUNTIME_DIR/vantelo/line.json, the phonebook
// in the program's folder. Changes are made under an exclusive lock on
// line.lock (read, change, write) and every file is replaced atomically, so
// readers need no lock and two processes never lose each other's changes.

#include "platform/sim/line_model.h"
#include "platform/sim/phonebook_file.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace simline::detail {

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

// The calls not yet closed at `nowMs`, in dial order.
QList<Call> openCalls(const LineState &state, qint64 nowMs);

// The default phonebook, created with its sample entries when missing.
// Returns false when it cannot be read.
bool readPhonebook(PhonebookFile *phonebook);
// Replaces the default phonebook (private to the user: it may hold
// passwords). Hold a LineLock.
bool writePhonebook(const PhonebookFile &phonebook);
QByteArray samplePhonebook();

// Replaces the file's content at once, readable by the user alone.
bool saveAtomically(const QString &path, const QByteArray &bytes);

} // namespace simline::detail
