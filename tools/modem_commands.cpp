// The line tool's commands for real modems: `probe` finds the modems of
// this system (and writes an entry for one), `log` shows the latest modem
// call's dialogue without its password.

#include "line_tool.h"

#include "platform/lines.h"
#include "platform/modems.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace linetool {

namespace {

int wrongUsage(const QString &problem)
{
    err() << "vantelo-line: " << problem << " (vantelo-line --help lists the options)" << Qt::endl;
    return Usage;
}

QJsonObject portObject(const modems::PortReport &port)
{
    return QJsonObject{
        {u"device"_s, port.device},
        {u"byId"_s, port.byId},
        {u"outcome"_s, modems::outcomeName(port.outcome)},
        {u"problem"_s, port.problem},
        {u"identity"_s, port.identity},
        {u"init"_s, port.init},
        {u"speed"_s, port.speed},
        {u"dialogue"_s, QJsonArray::fromStringList(port.dialogue)},
    };
}

QString portLine(const modems::PortReport &port)
{
    const QString name =
        port.byId.isEmpty() ? port.device : u"%1 (%2)"_s.arg(port.device, port.byId);
    if (port.outcome != modems::PortReport::Outcome::Answered)
        return u"%1: %2. %3"_s.arg(name, modems::outcomeName(port.outcome), port.problem);
    QString line = u"%1: a modem answered"_s.arg(name);
    line +=
        port.identity.isEmpty() ? u"; it does not say what it is"_s : u": %1"_s.arg(port.identity);
    line += port.init.isEmpty() ? u"; it took none of the usual resets (Init= left empty)."_s
                                : u"; Init=%1 answered OK."_s.arg(port.init);
    return line;
}

// What to check when no modem answered, in the order a user can act on it.
QStringList advice(const modems::ProbeReport &report)
{
    QStringList lines;
    lines << u"No modem answered. Looked at: %1 (ttyS ports only with a UART behind them)."_s.arg(
        report.looked.join(u", "_s));
    if (report.ports.isEmpty())
        lines << u"- No serial port was found: is the modem plugged in (a USB modem shows as "
                 u"ttyACM or ttyUSB)? `dmesg` tells what the kernel saw."_s;
    if (!report.missingGroups.isEmpty())
        lines << u"- Your account is not in the %1 group(s) that may open the ports: sudo "
                 u"adduser $USER %2, then log in again."_s.arg(report.missingGroups.join(u", "_s),
                                                               report.missingGroups.first());
    for (const modems::PortReport &port : report.ports) {
        if (port.outcome == modems::PortReport::Outcome::Held)
            lines << u"- %1 is held by another program: close it (a terminal program, "
                     u"another dialer, ModemManager), then probe again."_s.arg(port.device);
    }
    if (std::any_of(report.ports.cbegin(), report.ports.cend(),
                    [](const auto &p) { return p.outcome == modems::PortReport::Outcome::Silent; }))
        lines << u"- A port that opens but stays silent has no modem behind it, or one that is "
                 u"switched off or set to another speed."_s;
    return lines;
}

} // namespace

QString modemCommandsUsage()
{
    return uR"(Real modems:
  probe [OPTION]...         find the modems: ask each serial port that may
                            hold one (locked as a call locks it) what it is
                            and which reset it takes
      --write               put an entry for the first modem found first in
                            the phonebook (refused if the name exists)
      --name NAME           the entry's name (Modem)
      --number NUMBER       the entry's phone number
      --json                the findings as JSON
  log [--json]              the latest modem call's dialogue with the modem
                            and pppd, every password masked
)"_s;
}

int probeCommand(const QStringList &args)
{
    bool json = false;
    bool write = false;
    modems::NewEntry entry;
    entry.name = u"Modem"_s;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const auto value = [&](const QString &option, QString *into) {
            if (arg == option && i + 1 < args.size())
                *into = args.at(++i);
            else if (arg.startsWith(option + u'='))
                *into = arg.mid(option.size() + 1);
            else
                return false;
            return true;
        };
        if (arg == u"--json"_s)
            json = true;
        else if (arg == u"--write"_s)
            write = true;
        else if (!value(u"--name"_s, &entry.name) && !value(u"--number"_s, &entry.number))
            return wrongUsage(u"unknown argument for probe: %1"_s.arg(arg));
    }

    const modems::ProbeReport report = modems::probe();
    if (!report.unsupported.isEmpty()) {
        err() << "vantelo-line: " << report.unsupported << Qt::endl;
        return Failure;
    }
    const auto found = std::find_if(report.ports.cbegin(), report.ports.cend(), [](const auto &p) {
        return p.outcome == modems::PortReport::Outcome::Answered;
    });
    QString written;
    QString problem;
    if (write && found != report.ports.cend()) {
        entry.device = found->byId.isEmpty() ? found->device : found->byId;
        entry.speed = found->speed;
        entry.init = found->init;
        problem = modems::addEntryFirst(entry);
        if (problem.isEmpty())
            written = entry.name;
    }

    if (json) {
        QJsonArray ports;
        for (const modems::PortReport &port : report.ports)
            ports.append(portObject(port));
        QJsonObject o{{u"ports"_s, ports},
                      {u"looked"_s, QJsonArray::fromStringList(report.looked)},
                      {u"missingGroups"_s, QJsonArray::fromStringList(report.missingGroups)}};
        if (found == report.ports.cend())
            o.insert(u"advice"_s, QJsonArray::fromStringList(advice(report)));
        if (write)
            o.insert(u"written"_s, written);
        if (!problem.isEmpty())
            o.insert(u"problem"_s, problem);
        out() << QJsonDocument(o).toJson();
    } else {
        for (const modems::PortReport &port : report.ports)
            out() << portLine(port) << '\n';
        if (found == report.ports.cend())
            err() << advice(report).join(u'\n') << Qt::endl;
        if (!written.isEmpty())
            out() << "The entry [" << written << "] is now first in " << lines::phonebookPath()
                  << (entry.number.isEmpty() ? ": give it your ISP's number (PhoneNumber=)." : ".")
                  << '\n';
        if (!problem.isEmpty())
            err() << "vantelo-line: " << problem << Qt::endl;
    }
    return found == report.ports.cend() || !problem.isEmpty() ? Failure : Success;
}

int logCommand(const QStringList &args)
{
    bool json = false;
    for (const QString &arg : args) {
        if (arg != u"--json"_s)
            return wrongUsage(u"unknown argument for log: %1"_s.arg(arg));
        json = true;
    }
    const modems::CallLog log = modems::lastCall();
    if (!log.problem.isEmpty()) {
        err() << "vantelo-line: " << log.problem << Qt::endl;
        return Failure;
    }
    if (json)
        out() << QJsonDocument(QJsonObject{{u"lines"_s, QJsonArray::fromStringList(log.text.split(
                                                            u'\n', Qt::SkipEmptyParts))}})
                     .toJson();
    else
        out() << log.text;
    return Success;
}

} // namespace linetool
