// The simulated line's shared state from arbitrary bytes: read as every
// process reads it, each simulated call's course (status, link, counters)
// computed at moments around its own times, and the state written and read
// back. A call's course only moves forward: once disconnected it stays so, it
// is connected only from its connection time on, its link is never up on a
// disconnected line, and only a disconnected call has an error. Writing then
// reading keeps every call as it was.

#include "fuzz_support.h"
#include "platform/core/saturating.h"
#include "platform/line/call_store.h"
#include "platform/modem/modem_line.h"
#include "platform/sim/line_model.h"

#include <QFile>
#include <QList>

#include <algorithm>
#include <cstddef>
#include <cstdint>

using line::Call;
using line::LineState;

namespace {

// Moments around the call's own times, in order.
QList<qint64> momentsOf(const Call &call)
{
    const simline::detail::SimPart &sim = simline::detail::simPart(call);
    QList<qint64> at = {0, 1'700'000'000'000};
    for (int stage = -1; stage <= 7; ++stage)
        at.append(
            platform::saturatingAdd(call.dialedAtMs, platform::saturatingMul(stage, sim.stageMs)));
    const qint64 connected = simline::detail::connectedAtMs(call);
    for (const qint64 t :
         {call.hangUpAtMs, sim.droppedAtMs, call.closeAtMs, connected,
          platform::saturatingAdd(connected, platform::saturatingMul(sim.dropAfterSec, 1000))}) {
        for (const qint64 d : {-1, 0, 1})
            at.append(platform::saturatingAdd(t, d));
    }
    std::sort(at.begin(), at.end());
    return at;
}

void checkCourse(const Call &call, const QByteArray &input)
{
    using namespace simline::detail;
    const qint64 connected = connectedAtMs(call);
    bool ended = false;
    for (const qint64 t : momentsOf(call)) {
        const line::CallStatus s = callStatus(call, t);
        const QByteArray at = "at " + QByteArray::number(t) + "\ninput: " + input;
        const bool known = s.state == RASCS_Connected || s.state == RASCS_Disconnected ||
                           s.state <= RASCS_Authenticated;
        fuzz::check(known, "a call in an unknown state", at);
        fuzz::check(s.error == 0 || s.state == RASCS_Disconnected,
                    "an error on a line that is not disconnected", at);
        fuzz::check(!ended || s.state == RASCS_Disconnected, "a disconnected call came back", at);
        fuzz::check(s.state != RASCS_Connected || (connected >= 0 && t >= connected),
                    "connected before its connection time", at);
        fuzz::check(!linkUp(call, t) || s.state != RASCS_Disconnected,
                    "a link up on a disconnected line", at);
        // The counters have no property of their own: they wrap around, as the
        // system's do; the sanitizers watch their arithmetic.
        bytesReceived(call, t);
        bytesSent(call, t);
        ended = ended || s.state == RASCS_Disconnected;
    }
}

qint64 orUnset(qint64 ms)
{
    return ms < 0 ? -1 : ms;
}

bool sameCall(const Call &a, const Call &b)
{
    const bool common = a.handle == b.handle && a.kind == b.kind && a.entry == b.entry &&
                        a.deviceName == b.deviceName && a.deviceType == b.deviceType &&
                        a.userName == b.userName && a.phoneNumber == b.phoneNumber &&
                        a.callbackNumber == b.callbackNumber && a.domain == b.domain &&
                        a.dialedAtMs == b.dialedAtMs &&
                        orUnset(a.hangUpAtMs) == orUnset(b.hangUpAtMs) &&
                        orUnset(a.closeAtMs) == orUnset(b.closeAtMs) && a.speed == b.speed;
    if (a.kind == line::Kind::Simulated) {
        const simline::detail::SimPart &x = simline::detail::simPart(a);
        const simline::detail::SimPart &y = simline::detail::simPart(b);
        return common && x.stageMs == y.stageMs && x.outcome == y.outcome &&
               x.accountAccepted == y.accountAccepted && x.dropAfterSec == y.dropAfterSec &&
               x.hangUpMs == y.hangUpMs && orUnset(x.droppedAtMs) == orUnset(y.droppedAtMs);
    }
    const modem::ModemPart &x = modem::modemPart(a);
    const modem::ModemPart &y = modem::modemPart(b);
    return common && x.pid == y.pid && x.state == y.state && x.error == y.error &&
           x.finished == y.finished && x.interfaceName == y.interfaceName;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    fuzz::home();
    using namespace line;
    const LineState state = parseLineState(input);

    for (const Call &call : state.calls) {
        if (call.kind == line::Kind::Simulated)
            checkCourse(call, input);
    }

    // Before any close time, so every call is written.
    fuzz::check(line::writeLineState(state, -1), "cannot write the line's state");
    QFile file(line::lineStatePath());
    fuzz::check(file.open(QIODevice::ReadOnly), "cannot read the line's state");
    const LineState back = parseLineState(file.readAll());
    fuzz::check(back.nextHandle == state.nextHandle, "the next handle changed", input);
    fuzz::check(orUnset(back.nextHangUpDelayMs) == orUnset(state.nextHangUpDelayMs),
                "the next hang-up delay changed", input);
    fuzz::check(back.outcomeForced == state.outcomeForced &&
                    (!state.outcomeForced || back.forcedOutcome == state.forcedOutcome),
                "the forced outcome changed", input);
    fuzz::check(back.calls.size() == state.calls.size(), "calls were lost or added", input);
    for (qsizetype i = 0; i < state.calls.size(); ++i) {
        if (!sameCall(state.calls.at(i), back.calls.at(i)))
            fuzz::fail("a call changed on the way through its file",
                       "call " + QByteArray::number(i) + "\ninput: " + input);
    }
    return 0;
}
