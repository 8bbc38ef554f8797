#include "platform/simline.h"

#include "platform/line/call_store.h"
#include "platform/sim/line_model.h"

using namespace Qt::StringLiterals;

namespace simline {

using namespace detail;
using line::LineLock;
using line::LineState;
using line::nowMs;
using line::readLineState;
using line::writeLineState;

// Each control changes nothing when the line's lock cannot be had
// (line::runtimeProblem() then says why).
int dropCarrier()
{
    LineLock lock;
    if (!lock.isLocked())
        return 0;
    LineState state = readLineState();
    const qint64 now = nowMs();
    int dropped = 0;
    for (Call &call : state.calls) {
        if (call.kind == line::Kind::Simulated && !line::callClosed(call, now) &&
            callStatus(call, now).state == RASCS_Connected) {
            simPart(&call).droppedAtMs = now;
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
    if (!lock.isLocked())
        return;
    LineState state = readLineState();
    state.nextHangUpDelayMs = ms < 0 ? -1 : ms;
    writeLineState(state, nowMs());
}

void forceNextOutcome(Outcome outcome)
{
    LineLock lock;
    if (!lock.isLocked())
        return;
    LineState state = readLineState();
    state.outcomeForced = true;
    state.forcedOutcome = outcome;
    writeLineState(state, nowMs());
}

void reset()
{
    LineLock lock;
    if (!lock.isLocked())
        return;
    const LineState before = readLineState();
    LineState state;
    state.nextHandle = before.nextHandle;
    // A modem's calls are real: they stay until they are hung up.
    for (const Call &call : before.calls) {
        if (call.kind == line::Kind::Modem)
            state.calls.append(call);
    }
    writeLineState(state, nowMs());
}

} // namespace simline

// The controls as the line tool reaches them.
namespace lines {

int dropSimulatedCarrier()
{
    return simline::dropCarrier();
}

void setNextSimulatedHangUpDelay(int ms)
{
    simline::setNextHangUpDelay(ms);
}

bool forceNextSimulatedOutcome(const QString &name, QString *spelled)
{
    simline::Outcome outcome;
    if (!simline::outcomeFromName(name, &outcome))
        return false;
    simline::forceNextOutcome(outcome);
    if (spelled)
        *spelled = simline::outcomeName(outcome);
    return true;
}

void resetSimulatedLine()
{
    simline::reset();
}

} // namespace lines
