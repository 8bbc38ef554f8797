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

// Hangs up every connection (handle -1) or the one given, waiting, with the
// window kept alive, until each line has really closed.
void HangUpAll(DialerView &dialer, qint32 handle = -1);

// How long HangUpAll waits between two hang-up attempts, in milliseconds; with
// 1000 attempts this lets a line take several seconds to close.
inline int HangUpPaceMs = 5;

// target += addend in 16-bit signed arithmetic; an overflowing sum leaves the
// target as it was.
void AddInteger(qint16 &target, qint16 addend);
