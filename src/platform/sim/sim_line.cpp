// The simulated line as a kind of line: its far end is the entry's Sim* keys,
// its calls advance with the clock (line_model), and hanging up takes the
// entry's hang-up time.

#include "platform/sim/sim_line.h"
#include "platform/line/line.h"
#include "platform/sim/line_model.h"

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
        call->stageMs = settings.stageMs;
        call->outcome = settings.outcome;
        if (state->outcomeForced) {
            call->outcome = state->forcedOutcome;
            state->outcomeForced = false;
        }
        call->accountAccepted = accountAccepted(settings, request.userName, request.password);
        call->speed = settings.speed;
        call->dropAfterSec = settings.dropAfterSec;
        call->hangUpMs = settings.hangUpMs;
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
        int delay = call->hangUpMs;
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
};

} // namespace

const line::Line &simulatedLine()
{
    static const SimulatedLine line;
    return line;
}

} // namespace simline::detail
