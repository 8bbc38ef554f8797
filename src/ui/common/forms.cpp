#include "ui/common/forms.h"

#include "ui/about/frmAbout.h"
#include "ui/common/live_form.h"
#include "ui/details/frmset.h"
#include "ui/dialer/frmdial.h"
#include "ui/options/frmopt.h"

#include <QPointer>

namespace {
QPointer<frmdial> g_dialer;
LiveForm<frmset> g_details;
LiveForm<frmopt> g_options;
LiveForm<frmAbout> g_about;
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

frmset &details()
{
    return g_details.get();
}

bool detailsLoaded()
{
    return g_details.isLoaded();
}

void unloadDetails()
{
    g_details.unload();
}

frmopt &options()
{
    return g_options.get();
}

bool optionsLoaded()
{
    return g_options.isLoaded();
}

frmAbout &about()
{
    return g_about.get();
}

bool aboutLoaded()
{
    return g_about.isLoaded();
}

void unloadAll()
{
    g_details.unload();
    g_options.unload();
    g_about.unload();
}

} // namespace Forms
