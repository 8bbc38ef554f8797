#pragma once

// The modems of this system, for the line tool: the serial ports that may
// hold one, each asked what it is; a phonebook entry for the one found; and
// the latest modem call's dialogue, as a user sends it to the ISP.
//
// On Windows the system keeps its own modems and their logs: probe(),
// addEntryFirst() and lastCall() say so (in `unsupported` or `problem`) and
// do nothing; the helpers below them exist only where there are modem lines.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace modems {

struct PortReport
{
    enum class Outcome {
        Answered, // a modem answered AT
        Silent,   // the port opened, nothing answered
        Held,     // another program has the port: its lock, or opened for itself alone
        Denied,   // this account may not open the port
        Failed,   // gone, not a serial port, or talking garbage
    };
    QString device; // as found: /dev/ttyACM0
    QString byId;   // its stable name in /dev/serial/by-id, empty when it has none
    Outcome outcome = Outcome::Failed;
    QString problem;      // unless Answered: what happened, in words naming the port
    QString identity;     // what the modem says it is (ATI, ATI3, AT+GMI, AT+GMM)
    QString init;         // the first reset command it answered OK; empty when none did
    int speed = 0;        // the port's speed it answered at
    QStringList dialogue; // each command sent and every answer, as the modem log has them
};

struct ProbeReport
{
    QList<PortReport> ports;
    QStringList looked;        // where ports were looked for, in words
    QStringList missingGroups; // the groups of ports this account may not open
    QString unsupported;       // why nothing can be probed here; empty where it can
};

// Every serial port that may be a modem (/dev/ttyACM*, /dev/ttyUSB*, and the
// /dev/ttyS* that have a UART), locked in turn as a modem call locks it
// (a port in use is reported, never taken), opened and asked, each command
// with a short timeout. Ports are looked for below VANTELO_PROBE_ROOT
// (its dev/ and sys/) when set, for the tests; VANTELO_PROBE_TIMEOUT_MS sets
// each command's timeout (1500 ms by default).
ProbeReport probe();
// The outcome as the line tool prints it: "answered", "silent", "in use"...
inline QString outcomeName(PortReport::Outcome outcome)
{
    switch (outcome) {
    case PortReport::Outcome::Answered:
        return QStringLiteral("answered");
    case PortReport::Outcome::Silent:
        return QStringLiteral("silent");
    case PortReport::Outcome::Held:
        return QStringLiteral("in use");
    case PortReport::Outcome::Denied:
        return QStringLiteral("denied");
    case PortReport::Outcome::Failed:
        break;
    }
    return QStringLiteral("failed");
}

struct NewEntry
{
    QString name;
    QString device;
    int speed = 0;
    QString init;
    QString number; // empty: a placeholder for the user to fill
};

// The phonebook's bytes with the entry put before its first entry; every
// other byte, comments included, kept as it was. Lines end as the file's do.
QByteArray withEntryFirst(const QByteArray &phonebook, const NewEntry &entry);

// Puts the entry first in the phonebook; an empty text, or why it was not
// written (an entry of that name exists, a value that cannot be dialed, the
// file cannot be written).
QString addEntryFirst(const NewEntry &entry);

struct CallLog
{
    QString text;    // the latest call's lines, every password masked
    QString problem; // why there is none to show; empty when there is
};

// The latest modem call's lines of the modem log (from its "Call N." line
// on), with every stored password of the phonebook and whatever follows a
// password or secret masked.
CallLog lastCall();
// The log's lines from its last "Call N." line on (all of it when none).
QString lastCallOf(const QString &log);
// The text with each of the passwords, and any value given after
// "password", "passwd" or "secret", replaced by asterisks.
QString maskSecrets(const QString &text, const QStringList &passwords);

} // namespace modems
