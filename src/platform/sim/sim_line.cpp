// The simulated line as a kind of line: its far end is the entry's Sim* keys,
// its calls advance with the clock (line_model), and hanging up takes the
// entry's hang-up time.

#include "platform/sim/sim_line.h"

#include "platform/line/call_json.h"
#include "platform/line/line.h"
#include "platform/sim/line_model.h"

#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace simline::detail {

namespace {

class SimulatedLine final : public line::Line
{
public:
    line::Kind kind() const override { return line::Kind::Simulated; }

    DWORD dial(const PhonebookFile &phonebook, const line::DialRequest &request, Call *call,
               line::LineState *state) const override
    {
        const EntrySettings settings = entrySettings(phonebook, request.entry);
        call->deviceName = settings.deviceName;
        call->deviceType = settings.deviceType;
        if (call->phoneNumber.isEmpty())
            call->phoneNumber = settings.phoneNumber;
        call->speed = settings.speed;
        SimPart &farEnd = simPart(call);
        farEnd.stageMs = settings.stageMs;
        farEnd.outcome = settings.outcome;
        if (state->outcomeForced) {
            farEnd.outcome = state->forcedOutcome;
            state->outcomeForced = false;
        }
        farEnd.accountAccepted = accountAccepted(settings, request.userName, request.password);
        farEnd.dropAfterSec = settings.dropAfterSec;
        farEnd.hangUpMs = settings.hangUpMs;
        return 0;
    }

    CallStatus status(const Call &call, qint64 nowMs) const override
    {
        return callStatus(call, nowMs);
    }

    DWORD hangUp(Call *call, line::LineState *state, qint64 nowMs) const override
    {
        if (call->hangUpAtMs >= 0)
            return 0; // still closing
        int delay = simPart(*call).hangUpMs;
        if (callStatus(*call, nowMs).state == RASCS_Disconnected) {
            delay = 0; // nothing left to close
        } else if (state->nextHangUpDelayMs >= 0) {
            delay = state->nextHangUpDelayMs;
            state->nextHangUpDelayMs = -1;
        }
        call->hangUpAtMs = nowMs;
        call->closeAtMs = nowMs + delay;
        return 0;
    }

    std::optional<line::Statistics> statistics(const Call &call, qint64 nowMs) const override
    {
        if (!linkUp(call, nowMs))
            return std::nullopt;
        return line::Statistics{call.speed, bytesSent(call, nowMs), bytesReceived(call, nowMs)};
    }

    // The far end as the call copied it from its entry, and a carrier loss.
    void writeCall(const Call &call, QJsonObject *o) const override
    {
        const SimPart &farEnd = simPart(call);
        o->insert(u"stageMs"_s, farEnd.stageMs);
        o->insert(u"outcome"_s, outcomeName(farEnd.outcome));
        o->insert(u"accountAccepted"_s, farEnd.accountAccepted);
        o->insert(u"dropAfterSec"_s, farEnd.dropAfterSec);
        o->insert(u"hangUpMs"_s, farEnd.hangUpMs);
        if (farEnd.droppedAtMs >= 0)
            o->insert(u"droppedAtMs"_s, farEnd.droppedAtMs);
    }

    bool readCall(const QJsonObject &o, Call *call) const override
    {
        using line::bounded;
        SimPart farEnd;
        farEnd.stageMs =
            static_cast<int>(bounded(o, u"stageMs"_s, DefaultStageMs, 0, line::MaxStageMs));
        if (!outcomeFromName(o.value(u"outcome"_s).toString(), &farEnd.outcome))
            farEnd.outcome = Outcome::Connect;
        farEnd.accountAccepted = o.value(u"accountAccepted"_s).toBool(true);
        farEnd.dropAfterSec =
            static_cast<int>(bounded(o, u"dropAfterSec"_s, 0, 0, line::MaxDropAfterSec));
        farEnd.hangUpMs =
            static_cast<int>(bounded(o, u"hangUpMs"_s, DefaultHangUpMs, 0, line::MaxStageMs));
        farEnd.droppedAtMs = line::moment(o, u"droppedAtMs"_s);
        call->part = farEnd;
        return true;
    }

    // The controls pending for the next hang-up and the next dial.
    void writeShared(const line::LineState &state, QJsonObject *root) const override
    {
        if (state.nextHangUpDelayMs >= 0)
            root->insert(u"nextHangUpDelayMs"_s, state.nextHangUpDelayMs);
        if (state.outcomeForced)
            root->insert(u"forcedOutcome"_s, outcomeName(state.forcedOutcome));
    }

    void readShared(const QJsonObject &root, line::LineState *state) const override
    {
        state->nextHangUpDelayMs =
            static_cast<int>(line::bounded(root, u"nextHangUpDelayMs"_s, -1, 0, line::MaxStageMs));
        const QJsonValue forced = root.value(u"forcedOutcome"_s);
        if (forced.isString())
            state->outcomeForced = outcomeFromName(forced.toString(), &state->forcedOutcome);
    }
};

} // namespace

const line::Line &simulatedLine()
{
    static const SimulatedLine line;
    return line;
}

} // namespace simline::detail
