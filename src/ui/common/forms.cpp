#include "ui/common/forms.h"

#include "ui/about/frmAbout.h"
#include "ui/common/live_form.h"
#include "ui/details/frmset.h"
#include "ui/dialer/frmdial.h"
#include "ui/options/frmopt.h"

#include <QPointer>

namespace {
QPointer<frmdial> g_dialer;
// The one live store of each kind of window.
template <class Form> LiveForm<Form> g_live;
} // namespace

namespace Forms {

frmdial &dialer()
{
    Q_ASSERT(g_dialer);
    return *g_dialer;
}

bool dialerLoaded()
{
    return g_dialer != nullptr;
}

void setDialer(frmdial *dialer)
{
    g_dialer = dialer;
}

template <class Form> Form &form()
{
    return g_live<Form>.get();
}

template <class Form> bool isLoaded()
{
    return g_live<Form>.isLoaded();
}

// The windows that are live stores.
template frmset &form<frmset>();
template bool isLoaded<frmset>();
template frmopt &form<frmopt>();
template bool isLoaded<frmopt>();
template frmAbout &form<frmAbout>();
template bool isLoaded<frmAbout>();

void unloadDetails()
{
    g_live<frmset>.unload();
}

void unloadAll()
{
    g_live<frmset>.unload();
    g_live<frmopt>.unload();
    g_live<frmAbout>.unload();
}

} // namespace Forms
