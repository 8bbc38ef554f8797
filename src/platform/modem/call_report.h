#pragma once

// The call's state as its process reports it in the call store, where every
// process reads it. Each report takes the line's lock and writes the state;
// a report that cannot be made (the lock or the runtime folder unusable, the
// state not written) changes nothing, says why in the modem log and counts
// as a hang-up: a call nobody can see or end must not stay on the line.

#include "platform/line/call_store.h"

#include <functional>

namespace modem {

class ModemLog;

class CallReport final
{
public:
    CallReport(HRASCONN handle, ModemLog &log) : m_handle(handle), m_log(log) {}

    // Changes the call's record; false when the record is gone, was hung up
    // meanwhile, or could not be written.
    bool report(const std::function<void(line::Call &)> &change);
    // The call is over and its port released: it is closed in the record,
    // which every listing then forgets. False when that could not be written.
    bool close();

private:
    bool change(const std::function<bool(line::Call *)> &edit);

    HRASCONN m_handle;
    ModemLog &m_log;
};

} // namespace modem
