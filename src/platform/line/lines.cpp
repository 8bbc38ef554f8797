#include "platform/lines.h"

#include "platform/line/call_store.h"
#include "platform/line/line.h"
#include "platform/paths.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace lines {

QString phonebookPath()
{
    return platform::programFolder() + u"/rasphone.pbk"_s;
}

void ensurePhonebook()
{
    const QString path = phonebookPath();
    if (QFile::exists(path))
        return;
    line::LineLock lock;
    // Another process may have written it while this one waited for the lock.
    if (!QFile::exists(path))
        line::saveAtomically(path, line::samplePhonebook());
}

QString description()
{
    return u"the simulated line (entries with\n"
           u"Device=Vantelo Simulated Modem) and real modems (every other entry:\n"
           u"Device=/dev/ttyACM0, or a bare name below /dev such as ttyACM0)."_s;
}

void setLockWaitMs(int ms)
{
    line::setLineLockWaitMs(ms);
}

QString runtimeProblem()
{
    return line::runtimeProblem();
}

bool isLineProblem(DWORD code)
{
    return code == line::ERROR_LINE_BUSY_CHANGING || code == line::ERROR_RUNTIME_FOLDER_UNUSABLE;
}

QList<CallRecord> calls()
{
    const qint64 now = line::nowMs();
    QList<CallRecord> records;
    for (const line::Call &call : line::openCalls(line::readLineState(), now)) {
        const line::Line &carrier = line::lineOf(call.kind);
        const line::CallStatus status = carrier.status(call, now);
        CallRecord r;
        r.handle = call.handle;
        r.kind = line::kindName(call.kind);
        r.entryName = call.entry;
        r.phoneNumber = call.phoneNumber;
        r.userName = call.userName;
        r.password = line::dialedPassword(call.handle);
        r.domain = call.domain;
        r.callbackNumber = call.callbackNumber;
        r.deviceName = call.deviceName;
        r.interfaceName = carrier.interfaceName(call);
        r.dialedAtMs = call.dialedAtMs;
        r.state = status.state;
        r.error = status.error;
        r.closing = call.hangUpAtMs >= 0;
        if (const auto figures = carrier.statistics(call, now)) {
            r.linked = true;
            r.speed = figures->connectSpeed;
            r.bytesSent = figures->bytesSent;
            r.bytesReceived = figures->bytesReceived;
        }
        records.append(r);
    }
    return records;
}

} // namespace lines
