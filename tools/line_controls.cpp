// The line tool's controls of the simulated line: drop the carrier, force
// the next outcome, slow the next hang-up, reset. They go through the lines'
// own interface, which says why nothing changed where there is no simulated
// line.

#include "line_tool.h"
#include "platform/lines.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace linetool {

int dropCommand(const QStringList &args)
{
    if (!args.isEmpty())
        return usageError(u"drop takes no arguments"_s);
    const int dropped = lines::dropSimulatedCarrier();
    if (!lines::runtimeProblem().isEmpty())
        return lineUnchanged();
    out() << "Carrier lost on " << dropped
          << " simulated connection(s); calls on a real modem are left alone.\n";
    return Success;
}

int forceCommand(const QStringList &args)
{
    QString outcome;
    if (args.size() != 1 || !lines::forceNextSimulatedOutcome(args.first(), &outcome))
        return usageError(u"force needs one outcome: connect, busy, noanswer, nodialtone or "
                          u"nocarrier"_s);
    if (!lines::runtimeProblem().isEmpty())
        return lineUnchanged();
    out() << "The next dial on the simulated line ends with " << outcome << ".\n";
    return Success;
}

int slowHangUpCommand(const QStringList &args)
{
    bool ok = false;
    const int ms = args.size() == 1 ? args.first().toInt(&ok) : -1;
    if (!ok || ms < 0)
        return usageError(u"slow-hangup needs a number of milliseconds"_s);
    lines::setNextSimulatedHangUpDelay(ms);
    if (!lines::runtimeProblem().isEmpty())
        return lineUnchanged();
    out() << "The next hang-up of a simulated call takes " << ms << " ms.\n";
    return Success;
}

int resetCommand(const QStringList &args)
{
    if (!args.isEmpty())
        return usageError(u"reset takes no arguments"_s);
    lines::resetSimulatedLine();
    if (!lines::runtimeProblem().isEmpty())
        return lineUnchanged();
    out() << "The simulated line is reset; calls on a real modem are left alone.\n";
    return Success;
}

} // namespace linetool
