#pragma once

// Dialing a phonebook entry and hanging up.

#include "engine/dialer_view.h"
#include "platform/ras.h"

#include <QString>
#include <QtGlobal>

// The status text of a dial refused because a typed value does not fit its
// field of the dial record.
inline const QString DialFieldTooLongText =
    QStringLiteral("The login, password or number is too long to dial.");

// Whether the typed user name, password and number (with the pulse prefix
// when pulse dialing is set) fit their fields of the dial record: 256, 256 and
// 128 bytes in the system code page.
bool DialValuesFit(const DialerView &dialer);

// Reads the stored dial parameters of an entry; returns the service's result
// (0 on success).
DWORD GetEntryDialParams(const QString &entryName, RASDIALPARAMS &params, BOOL &passwordStored);

// Dials the entry with the user name, password and number typed in the
// dialer window ("P" before the number unless tone dialing is set) and
// returns at once; true when the service accepted the dial request.
bool DialEntry(DialerView &dialer, const QString &entryName);

// Hangs up every connection (handle -1) or the one given (its
// platform::connectionId), waiting, with the window kept alive, until each line
// has really closed.
void HangUpAll(DialerView &dialer, platform::ConnectionId handle = -1);

// How long HangUpAll waits before its first hang-up attempt, in milliseconds;
// each later wait is twice the one before, up to HangUpMaxPaceMs, so a line
// that closes at once is seen closed soon and a slow one wakes the process
// at most twenty times a second. With 0 the attempts follow each other with
// no wait (the windows still live between them).
inline int HangUpPaceMs = 5;
inline constexpr int HangUpMaxPaceMs = 50;
// HangUpAll gives a line up (leaves it closing) once this long has passed
// since its first hang-up attempt, or after 1000 attempts: a line may take
// ten seconds to close.
inline int HangUpPatienceMs = 12000;
// How many hang-up attempts the last HangUpAll made, over all its lines.
inline int HangUpAttempts = 0;

// target += addend in 16-bit signed arithmetic; an overflowing sum leaves the
// target as it was.
void AddInteger(qint16 &target, qint16 addend);
