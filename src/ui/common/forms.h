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

// The other windows, one live store of each kind: form<frmset>() is the
// Details window, loaded if it was not; isLoaded<frmset>() whether it is.
template <class Form> Form &form();
template <class Form> bool isLoaded();

inline frmset &details()
{
    return form<frmset>();
}
inline bool detailsLoaded()
{
    return isLoaded<frmset>();
}
void unloadDetails();

inline frmopt &options()
{
    return form<frmopt>();
}
inline bool optionsLoaded()
{
    return isLoaded<frmopt>();
}

inline frmAbout &about()
{
    return form<frmAbout>();
}
inline bool aboutLoaded()
{
    return isLoaded<frmAbout>();
}

// Unloads every window but the dialer (the end of the program).
void unloadAll();

} // namespace Forms
