#pragma once

// The dial-up lines of this system as a whole: the phonebook every line
// shares and what each line knows of its calls, including what the service
// itself never tells (what was dialed, the device, the interface). For the
// line tool and the tests; the program itself uses the Ras* calls only.

#include <QList>
#include <QString>
#include <QtGlobal>

namespace lines {

// Path of the phonebook file; phonebookPath() does not create it,
// ensurePhonebook() writes the sample entries when it is missing.
QString phonebookPath();
void ensurePhonebook();

struct CallRecord
{
    quint32 handle = 0;
    QString kind; // "simulated" or "modem"
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

} // namespace lines
