#pragma once

// The clock the lines read: milliseconds since the epoch. A call's course on
// the simulated line follows from the moment it was dialed and this clock, so
// a test that sets the clock moves every call of its process through its
// stages at once instead of waiting for them. Only the process that sets it
// sees the set time; other processes keep the system's clock.

#include <QtGlobal>

namespace platform::clock {

qint64 nowMs();

// Tests: from now on the clock reads `ms` and stands still until it is set
// or advanced again.
void setNowMs(qint64 ms);
// Tests: moves the clock on by `ms`; a clock still on the system's time is
// first stopped at the current moment.
void advanceMs(qint64 ms);
// Gives the system's clock back.
void useSystemClock();

} // namespace platform::clock
