#include "platform/modem/call_report.h"

#include "platform/modem/call_events.h"

using namespace Qt::StringLiterals;

namespace modem {

bool CallReport::change(const std::function<bool(line::Call *)> &edit)
{
    // The call's own process has no window: it waits for the lock as long as it takes.
    const line::LineLock lock(-1);
    if (!lock.isLocked()) {
        m_log.write(u"The call's state cannot be reported: %1"_s.arg(line::runtimeProblem()));
        return false;
    }
    line::LineState state = line::readLineState();
    const qint64 now = line::nowMs();
    if (!edit(line::findCall(state.calls, m_handle, now)))
        return false;
    if (!line::writeLineState(state, now)) {
        m_log.write(u"The call's state cannot be written: %1"_s.arg(line::runtimeProblem()));
        return false;
    }
    return true;
}

bool CallReport::report(const std::function<void(line::Call &)> &changeCall)
{
    return change([&changeCall](line::Call *call) {
        if (!call || call->hangUpAtMs >= 0)
            return false;
        changeCall(*call);
        return true;
    });
}

bool CallReport::close()
{
    bool read = false; // the state was read under the lock
    bool found = false;
    const bool written = change([&read, &found](line::Call *call) {
        read = true;
        if (!call)
            return false;
        found = true;
        call->closeAtMs = line::nowMs();
        return true;
    });
    // A call no longer in the state needs no closing.
    return written || (read && !found);
}

} // namespace modem
