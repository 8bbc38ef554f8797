#pragma once

// How the program talks to the display, settled before the application object
// connects to it.

namespace platform {

// Called before the application object is made. On an X11 display the
// windows' pixels then travel to the server over the connection instead of
// through shared memory: the shared-memory path makes the program wait for
// the server before it paints again over pixels it sent before, and the
// details window repaints its counters and clock in the same places several
// times a second. The windows are small, so sending their pixels costs less
// than that wait. A user's own QT_XCB_NO_MITSHM setting is left alone.
void prepareDisplay();

// Called once the application object exists: takes back from the environment
// what prepareDisplay() put there, so that programs started later get the
// user's environment as it was.
void displayPrepared();

} // namespace platform
