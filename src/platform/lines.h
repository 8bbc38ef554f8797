#pragma once

// The dial-up lines of this system as a whole: the phonebook every line
// shares and what each line knows of its calls, including what the service
// itself never tells (what was dialed, the device, the interface). For the
// line tool and the tests; the program itself uses the Ras* calls only.
//
// On Windows the lines are the system's dial-up connections: the calls are
// those the service lists, and what only the dialing process knows stays
// empty.

#include "platform/ras.h"

#include <QList>
#include <QString>
#include <QtGlobal>

namespace lines {

// Path of the phonebook file; phonebookPath() does not create it,
// ensurePhonebook() writes the sample entries when it is missing. On Windows
// the path is empty, which names the system's own phonebook (as a null
// phonebook does for RasDialA), and ensurePhonebook() does nothing.
QString phonebookPath();
void ensurePhonebook();

// Which lines there are and which entries they dial, as the line tool's help
// says it after "The dial-up lines from the command line: ".
QString description();

// How long a change of the lines waits for another process changing them,
// in milliseconds, for the whole process (by default briefly, so a window's
// thread never stalls). On Windows the service orders its calls itself and
// nothing waits here.
void setLockWaitMs(int ms);
// What went wrong, last in this thread, when a change of the lines was not
// made: the lines' shared state was busy or unusable, or a control of the
// simulated line was asked for where there is none (Windows). Empty otherwise.
QString runtimeProblem();
// Whether a Ras* call failed with this code because the lines' shared state
// could not be changed (runtimeProblem() says why). Never on Windows.
bool isLineProblem(DWORD code);

// A connection handle as the line tool prints it.
inline quint64 handleNumber(HRASCONN handle)
{
#ifdef _WIN32
    return reinterpret_cast<quintptr>(handle);
#else
    return handle;
#endif
}

struct CallRecord
{
    HRASCONN handle{};
    // "simulated" or "modem"; on Windows the device type the service names,
    // in lower case ("modem", "isdn", "vpn", ...).
    QString kind;
    QString entryName;
    QString phoneNumber; // as dialed, with its "P" prefix for pulse dialing
    QString userName;
    // Known only to the process that dialed the call: the password is never
    // written where another process could read it.
    QString password;
    QString domain;
    QString callbackNumber;
    QString deviceName;    // the modem's device file, or the simulated modem's name
    QString interfaceName; // the network interface of a modem call, once up
    qint64 dialedAtMs = 0; // milliseconds since the epoch
    quint32 state = 0;     // a RASCONNSTATE value
    quint32 error = 0;     // the dwError of its status
    bool closing = false;  // hung up, and the line not closed yet
    bool linked = false;   // the devices are linked: the figures below are live
    quint32 speed = 0;
    quint32 bytesSent = 0;
    quint32 bytesReceived = 0;
};
QList<CallRecord> calls();

// The simulated line's controls, as the line tool gives them, shared with
// every process like the calls themselves; a modem's calls are left alone.
// Each changes nothing when the lines' shared state cannot be changed, and
// where there is no simulated line (Windows): runtimeProblem() then says why.
// Every connected simulated call loses its carrier now; returns how many did.
int dropSimulatedCarrier();
// The next hang-up of a simulated call takes `ms` milliseconds to close the line.
void setNextSimulatedHangUpDelay(int ms);
// The next dial on the simulated line ends with the outcome named `name`
// (connect, busy, noanswer, nodialtone or nocarrier, in any letter case);
// `spelled`, when given, receives the name as the phonebook spells it.
// False when no outcome has that name: nothing is changed then.
bool forceNextSimulatedOutcome(const QString &name, QString *spelled = nullptr);
// Forgets every simulated call and every pending control.
void resetSimulatedLine();

} // namespace lines
