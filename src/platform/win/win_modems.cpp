// Windows keeps its own modems: their ports, their settings and their logs
// are the system's (Settings > Phone and modem), not the line tool's.

#include "platform/modems.h"

using namespace Qt::StringLiterals;

namespace modems {

namespace {

QString systemsOwn()
{
    return u"Windows keeps its own modems: find them, and their logs, in its Phone and "
           u"Modem settings."_s;
}

} // namespace

ProbeReport probe()
{
    ProbeReport report;
    report.unsupported = systemsOwn();
    return report;
}

QString addEntryFirst(const NewEntry &)
{
    return systemsOwn();
}

CallLog lastCall()
{
    return {{}, systemsOwn()};
}

} // namespace modems
