#pragma once

// A kind of dial-up line behind the Remote Access Service calls. Every entry
// of the phonebook is dialed on one kind, chosen by lineForEntry() alone: an
// entry with Device=Vantelo Simulated Modem (as the sample phonebook writes
// it) is the simulated line, any other entry a real modem, so a mistyped
// device fails as a missing modem rather than dialing a pretend one. The Ras* calls, the call store
// and the statistics speak to a call's line only through this interface.

#include "platform/line/call_store.h"
#include "platform/line/phonebook_file.h"

#include <QString>
#include <optional>

class QJsonObject;

namespace line {

// What a dial asks for, taken from the dial parameters. The password is here
// and in the call's own process, never in the call store.
struct DialRequest
{
    QString entry; // as the phonebook spells it
    QString userName;
    QString password;
    QString phoneNumber; // as dialed: "P" in front for pulse dialing
    QString callbackNumber;
    QString domain;
};

// The dial-up adapter's figures while a call's devices are linked.
struct Statistics
{
    quint32 connectSpeed = 0;
    quint32 bytesSent = 0;
    quint32 bytesReceived = 0;
};

class Line
{
public:
    virtual ~Line() = default;

    virtual Kind kind() const = 0;
    // Starts the call: fills in the kind's part of `call` (its common part is
    // set) and starts whatever carries it. Runs under the LineLock with the
    // `state` that is written afterwards; returns 0 or the service's error.
    virtual DWORD dial(const PhonebookFile &phonebook, const DialRequest &request, Call *call,
                       LineState *state) const = 0;
    // The call's state at `nowMs`, hang-up included.
    virtual CallStatus status(const Call &call, qint64 nowMs) const = 0;
    // Asks the line to close the call (the first request) or tells how the
    // closing goes (later ones). Runs under the LineLock; changes `call` and
    // `state` as they are to be written. Returns 0 while the call is known.
    virtual DWORD hangUp(Call *call, LineState *state, qint64 nowMs) const = 0;
    // The adapter's figures while the call's devices are linked, else nothing.
    virtual std::optional<Statistics> statistics(const Call &call, qint64 nowMs) const = 0;

    // The kind's own part of a call in the shared state, written beside the
    // common part. Read back with every value checked: values out of their
    // range are brought back to it; false when the part is nonsense (the
    // call is then left out).
    virtual void writeCall(const Call &call, QJsonObject *o) const = 0;
    virtual bool readCall(const QJsonObject &o, Call *call) const = 0;
    // The kind's own part of the shared state as a whole (its pending test
    // controls), beside the calls.
    virtual void writeShared(const LineState &state, QJsonObject *root) const;
    virtual void readShared(const QJsonObject &root, LineState *state) const;
    // The network interface the call brought up, empty while there is none.
    virtual QString interfaceName(const Call &call) const;
    // The call's own words for the error `code` it ended with, when they say
    // more than the error's text (naming the entry, the value or the stage);
    // empty otherwise.
    virtual QString errorWords(const Call &call, DWORD code) const;
    // The kind's own words for a service error its calls end with, saying
    // what to do about it; null where the service's words say it all.
    virtual const char *errorText(DWORD code) const;
};

// The line an entry is dialed on.
const Line &lineForEntry(const PhonebookFile &phonebook, const QString &entry);
// The line that carries a call.
const Line &lineOf(Kind kind);
// Every kind of line, for what the shared state holds of each.
QList<const Line *> allLines();
// A kind as the shared state and the line tool name it, both ways (an
// unknown name is the simulated line, as line.json has always had it).
QString kindName(Kind kind);
Kind kindFromName(const QString &name);
// The words of a service error: those of the kind of line whose calls end
// with it, else the service's own ("Unknown error." for a code it lacks).
QByteArray errorText(DWORD code);

// Whether an entry is dialed on a real modem: its Device= is not the simulated
// line's, an empty one included (that call then fails, saying the entry names
// no device).
bool isModemEntry(const PhonebookFile &phonebook, const QString &entry);

} // namespace line
