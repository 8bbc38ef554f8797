#pragma once

// The simulated dial-up line: the kind of line an entry is dialed on when its
// Device= names it, and the controls that tests use to steer it (the line
// tool reaches them through lines.h). It exists only off Windows.
//
// Its phonebook is a text file in the system's phonebook format at
// $XDG_CONFIG_HOME/vantelo/rasphone.pbk, one section per entry, created with
// sample entries the first time it is missing. Besides the usual keys
// (PhoneNumber=...), an entry may say how the simulated far end behaves:
//
//   SimUser=, SimPassword=   the account the server accepts (empty: any)
//   SimSpeed=28800           the connect speed in bits per second
//   SimOutcome=connect       connect | busy | noanswer | nodialtone | nocarrier
//   SimStageMs=400           how long each stage of the call takes
//   SimHangUpMs=300          how long the line takes to close after a hang-up
//   SimDropAfterSec=0        the line drops by itself after so many seconds up (0: never)
//
// and may store dial parameters: DialUserName=, DialPassword=,
// DialPasswordStored=0|1, DialDomain=, DialCallbackNumber=.
//
// Calls live in $XDG_RUNTIME_DIR/vantelo/, guarded against concurrent access,
// so they outlive the process that dialed them and every process sees the same
// calls. A call's state follows from the time it was dialed and its entry's
// settings: it moves in real time through RASCS_OpenPort, RASCS_PortOpened,
// RASCS_ConnectDevice, RASCS_DeviceConnected, RASCS_Authenticate,
// RASCS_Authenticated and RASCS_Connected; a call that fails stays listed in
// RASCS_Disconnected with its error code in dwError until it is hung up.

#include "platform/line/dial_outcome.h"
#include "platform/lines.h"
#include "platform/registry.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace simline {

using Outcome = line::Outcome;

using lines::ensurePhonebook;
using lines::phonebookPath;

// Test controls, shared with every process like the calls themselves. They
// act on the simulated line's calls only; a modem's calls are left alone.
// Every connected call loses its carrier now (RASCS_Disconnected with
// ERROR_NO_CARRIER). Returns the number of calls dropped.
int dropCarrier();
// The next hang-up request takes `ms` milliseconds to close the line
// (a negative value cancels this). A call that has already ended closes at
// once when hung up and leaves the delay pending.
void setNextHangUpDelay(int ms);
// The next dial ends with this outcome, whatever its entry says (a wrong
// account is still refused when the outcome is Connect).
void forceNextOutcome(Outcome outcome);
// Forgets every call and every pending control (not the statistics
// overrides below). Handles are never given twice, even after a reset.
void reset();

// In-process only, for tests of the statistics readers (see registry.h).
using platform::statistics::clearStatisticsOverrides;
using platform::statistics::removeStatisticsValue;
using platform::statistics::setStatisticsKeyPresent;
using platform::statistics::setStatisticsValue;

// The calls of every kind of line, as the line tool and the tests see them.
using lines::CallRecord;
using lines::calls;

// Outcome names as the phonebook and the line tool spell them.
QString outcomeName(Outcome outcome);
bool outcomeFromName(const QString &name, Outcome *outcome);

} // namespace simline
