#pragma once

// How the program talks to the display, settled before the application object
// connects to it.

#include <QString>

namespace platform {

// Why the program cannot show a window here, or an empty text when it can.
// Qt ends a program that finds no display with an abort and words about
// reinstalling it; this is asked first, before the application object is
// made. A display is there when DISPLAY or WAYLAND_DISPLAY is set for the
// platforms QT_QPA_PLATFORM names (any, when it is not set), when it names
// one that needs no display (offscreen, vnc...), or when -platform is among
// the arguments. On Windows the desktop is always there.
QString missingDisplayReason(int argc, const char *const *argv);

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
