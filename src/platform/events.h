#pragma once

namespace platform {

// Lets the event loop process every pending event once (the system's DoEvents).
void DoEvents();

// Runs the event loop for about `ms` milliseconds: pending events and timers
// are served meanwhile, so a wait never freezes the windows nor spins the
// processor.
void DoEventsFor(int ms);

} // namespace platform
