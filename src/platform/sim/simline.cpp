#include "platform/simline.h"

#include "platform/paths.h"
#include "platform/sim/line_store.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace simline {

using namespace detail;

QString phonebookPath()
{
    return platform::programFolder() + u"/rasphone.pbk"_s;
}

void ensurePhonebook()
{
    const QString path = phonebookPath();
    if (QFile::exists(path))
        return;
    LineLock lock;
    // Another process may have written it while this one waited for the lock.
    if (!QFile::exists(path))
        saveAtomically(path, samplePhonebook());
}

int dropCarrier()
{
    LineLock lock;
    LineState state = readLineState();
    const qint64 now = nowMs();
    int dropped = 0;
    for (Call &call : state.calls) {
        if (!callClosed(call, now) && callStatus(call, now).state == RASCS_Connected) {
            call.droppedAtMs = now;
            ++dropped;
        }
    }
    if (dropped > 0)
        writeLineState(state, now);
    return dropped;
}

void setNextHangUpDelay(int ms)
{
    LineLock lock;
    LineState state = readLineState();
    state.nextHangUpDelayMs = ms < 0 ? -1 : ms;
    writeLineState(state, nowMs());
}

void forceNextOutcome(Outcome outcome)
{
    LineLock lock;
    LineState state = readLineState();
    state.outcomeForced = true;
    state.forcedOutcome = outcome;
    writeLineState(state, nowMs());
}

void reset()
{
    LineLock lock;
    LineState state;
    state.nextHandle = readLineState().nextHandle;
    writeLineState(state, nowMs());
}

QList<CallRecord> calls()
{
    const qint64 now = nowMs();
    QList<CallRecord> records;
    for (const Call &call : openCalls(readLineState(), now)) {
        const CallStatus status = callStatus(call, now);
        CallRecord r;
        r.handle = call.handle;
        r.entryName = call.entry;
        r.phoneNumber = call.phoneNumber;
        r.userName = call.userName;
        r.password = call.password;
        r.domain = call.domain;
        r.callbackNumber = call.callbackNumber;
        r.dialedAtMs = call.dialedAtMs;
        r.state = status.state;
        r.error = status.error;
        r.closing = call.hangUpAtMs >= 0;
        records.append(r);
    }
    return records;
}

QString outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Connect:
        return u"connect"_s;
    case Outcome::Busy:
        return u"busy"_s;
    case Outcome::NoAnswer:
        return u"noanswer"_s;
    case Outcome::NoDialTone:
        return u"nodialtone"_s;
    case Outcome::NoCarrier:
        return u"nocarrier"_s;
    }
    return u"connect"_s;
}

bool outcomeFromName(const QString &name, Outcome *outcome)
{
    const QString wanted = name.trimmed();
    for (Outcome o : {Outcome::Connect, Outcome::Busy, Outcome::NoAnswer, Outcome::NoDialTone,
                      Outcome::NoCarrier}) {
        if (wanted.compare(outcomeName(o), Qt::CaseInsensitive) == 0) {
            if (outcome)
                *outcome = o;
            return true;
        }
    }
    return false;
}

} // namespace simline
