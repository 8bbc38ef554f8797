#pragma once

// The program's windows, reached from anywhere in the user interface. The
// dialer window lives for the whole run; the others are live stores: any
// access loads them, hidden, when they are not loaded.

class frmdial;
class frmset;
class frmopt;
class frmAbout;

namespace Forms {

frmdial &dialer();
void setDialer(frmdial *dialer);
// Whether the dialer window is there (a window shown on its own, as a test
// does, has none).
bool dialerLoaded();

frmset &details();
bool detailsLoaded();
void unloadDetails();

frmopt &options();
bool optionsLoaded();

frmAbout &about();
bool aboutLoaded();

// Unloads every window but the dialer (the end of the program).
void unloadAll();

} // namespace Forms
