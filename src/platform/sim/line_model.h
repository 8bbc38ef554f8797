#pragma once

// The simulated line's calls and how they evolve. A call's state is never
// stored: it follows from the clock, the time the call was dialed, the far
// end's behaviour copied from its entry at dial time, and the moments a
// hang-up or a carrier loss happened. So a call advances in real time whether
// or not any process watches it.

#include "platform/line/call_store.h"
#include "platform/ras.h"
#include "platform/sim/sim_line.h"
#include "platform/simline.h"

#include <QString>
#include <QtGlobal>

namespace simline::detail {

using line::Call;
using line::CallStatus;
using line::DefaultSpeed;
using line::PhonebookFile;

inline const QString DefaultDeviceType = QStringLiteral("modem");
inline constexpr int DefaultStageMs = 400;
inline constexpr int DefaultHangUpMs = 300;

// The simulated line's part of a call: the far end as the call copied it
// from its entry at dial time, and a carrier loss ordered from outside.
struct SimPart
{
    int stageMs = DefaultStageMs;
    Outcome outcome = Outcome::Connect;
    bool accountAccepted = true;
    int dropAfterSec = 0;
    int hangUpMs = DefaultHangUpMs;
    qint64 droppedAtMs = -1; // the carrier was lost then
};

inline const SimPart &simPart(const Call &call)
{
    return line::partOf<SimPart>(call);
}

inline SimPart &simPart(Call *call)
{
    return line::partOf<SimPart>(call);
}

// How an entry's far end behaves, with the defaults for missing or unreadable keys.
struct EntrySettings
{
    QString phoneNumber;
    QString deviceName = DefaultDeviceName;
    QString deviceType = DefaultDeviceType;
    QString simUser;
    QString simPassword;
    quint32 speed = DefaultSpeed;
    Outcome outcome = Outcome::Connect;
    int stageMs = DefaultStageMs;
    int hangUpMs = DefaultHangUpMs;
    int dropAfterSec = 0;
};
EntrySettings entrySettings(const PhonebookFile &phonebook, const QString &entry);

// Whether the far end accepts this account: any account when SimUser is
// empty; else the user name (whatever its case) and the password must match.
bool accountAccepted(const EntrySettings &settings, const QString &user, const QString &password);

// The error code a failed outcome ends the call with (0 for Connect).
DWORD outcomeError(Outcome outcome);

// The call's state at `nowMs`, hang-up included.
CallStatus callStatus(const Call &call, qint64 nowMs);
// The moment the call reaches RASCS_Connected, or -1 when it never does.
qint64 connectedAtMs(const Call &call);
// Whether the modems are linked at `nowMs`: from RASCS_DeviceConnected, through
// the logon, until the call ends. The adapter has its speed from then on.
bool linkUp(const Call &call, qint64 nowMs);

// The dial-up adapter's byte counters, counted from the modems' link.
quint32 bytesReceived(const Call &call, qint64 nowMs);
quint32 bytesSent(const Call &call, qint64 nowMs);

} // namespace simline::detail
