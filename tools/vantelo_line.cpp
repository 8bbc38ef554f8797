// vantelo-line: the dial-up lines from the command line. It lists the
// phonebook, shows, dials and hangs up connections, on a real modem or on the
// simulated line, through the same Remote Access Service calls as the program,
// and steers the simulated line (drop the carrier, force an outcome, slow the
// next hang-up), also while Vantelo runs. Where there is no simulated line
// (Windows), its controls fail with the platform's reason.
//
// Exit status: 0 success, 1 the line refused or failed (code and text on
// stderr), 2 wrong usage (usage on stderr).

#include "line_tool.h"
#include "platform/ansi.h"
#include "platform/console.h"
#include "platform/lines.h"
#include "platform/ras.h"
#include "platform/ras_lists.h"
#include "platform/simline.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QStringList>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

QString usage()
{
    return uR"(Usage: vantelo-line COMMAND [OPTIONS]

The dial-up lines from the command line: )"_s +
           lines::description() + uR"(

Commands:
  list                      list the phonebook's entries
  status [--json]           list the active connections: state, device,
                            network interface, speed and bytes
  dial ENTRY [OPTION]...    dial ENTRY with its stored dial parameters, each
                            replaced by the option given:
      --user USER           the login
      --password PASSWORD   the password (other users can see it in `ps`)
      --password-stdin      the password, read from the first line of the
                            standard input, out of sight of other users; with
                            neither option, none stored and a terminal at the
                            input, the password is asked for without echo
      --number NUMBER       the phone number
      --wait                follow the call until it is connected or has
                            failed
  hangup [ENTRY]            hang up every connection (or ENTRY's) and wait
                            until the line is closed
)"_s + linetool::modemCommandsUsage() +
           uR"(Simulated line only (calls on a real modem are left alone):
  drop                      every connected simulated call loses its carrier
  force OUTCOME             the next simulated dial ends with OUTCOME:
                            connect, busy, noanswer, nodialtone or nocarrier
  slow-hangup MS            the next hang-up of a simulated call takes MS
                            milliseconds
  reset                     forget every simulated call and pending control

Options:
  -h, --help                show this help and exit
  --version                 show the version and exit

Exit status:
  0                         success
  1                         the line refused or failed (code and text on
                            the standard error)
  2                         wrong usage
)"_s;
}

// How long a command waits for another process to finish changing the line.
constexpr int kLockWaitMs = 3000;

using namespace linetool;

int usageError(const QString &problem)
{
    err() << "vantelo-line: " << problem << "\n\n" << usage();
    return Usage;
}

int listCommand(const QStringList &args)
{
    if (!args.isEmpty())
        return usageError(u"list takes no arguments"_s);
    std::vector<RASENTRYNAME> entries;
    if (const DWORD rc = platform::listEntries(entries); rc != 0)
        return serviceError(rc);
    for (const RASENTRYNAME &entry : entries)
        out() << platform::fieldText(entry.szEntryName, sizeof entry.szEntryName) << '\n';
    return Success;
}

int statusCommand(const QStringList &args)
{
    bool json = false;
    for (const QString &arg : args) {
        if (arg == u"--json"_s)
            json = true;
        else
            return usageError(u"unknown argument for status: %1"_s.arg(arg));
    }
    std::vector<RASCONN> list;
    DWORD code = 0;
    if (!connections(&list, &code))
        return serviceError(code);
    const QList<lines::CallRecord> records = lines::calls();

    QJsonArray array;
    QStringList rows;
    for (const RASCONN &conn : std::as_const(list)) {
        RASCONNSTATUS status{};
        status.dwSize = sizeof(RASCONNSTATUS);
        // A call closed between the two requests is simply not shown.
        if (RasGetConnectStatusA(conn.hrasconn, &status) != 0)
            continue;
        const QString entry = platform::fieldText(conn.szEntryName, sizeof conn.szEntryName);
        const QString words = stateWords(status.rasconnstate, status.dwError);
        const quint64 handle = lines::handleNumber(conn.hrasconn);
        QString line = u"%1  %2  %3"_s.arg(handle).arg(entry, words);
        QJsonObject o{
            {u"handle"_s, qint64(handle)},
            {u"entry"_s, entry},
            {u"state"_s, words},
            {u"rasconnstate"_s, qint64(status.rasconnstate)},
            {u"error"_s, qint64(status.dwError)},
            {u"errorText"_s, status.dwError ? errorText(status.dwError) : QString()},
            {u"deviceType"_s, platform::fieldText(status.szDeviceType, sizeof status.szDeviceType)},
            {u"deviceName"_s, platform::fieldText(status.szDeviceName, sizeof status.szDeviceName)},
        };
        for (const lines::CallRecord &r : records) {
            if (r.handle != conn.hrasconn)
                continue;
            o.insert(u"kind"_s, r.kind);
            o.insert(u"device"_s, r.deviceName);
            o.insert(u"interface"_s, r.interfaceName);
            o.insert(u"speed"_s, qint64(r.speed));
            o.insert(u"bytesSent"_s, qint64(r.bytesSent));
            o.insert(u"bytesReceived"_s, qint64(r.bytesReceived));
            o.insert(u"phoneNumber"_s, r.phoneNumber);
            o.insert(u"userName"_s, r.userName);
            o.insert(u"closing"_s, r.closing);
            // A call on a real device also tells its device, interface and figures.
            if (r.kind == u"simulated"_s)
                continue;
            line += u"  [%1]"_s.arg(r.deviceName);
            if (!r.interfaceName.isEmpty())
                line += u"  %1"_s.arg(r.interfaceName);
            if (r.linked)
                line += u"  %1 bit/s, %2 bytes sent, %3 received"_s.arg(r.speed)
                            .arg(r.bytesSent)
                            .arg(r.bytesReceived);
        }
        rows.append(line);
        array.append(o);
    }
    if (json) {
        out() << QJsonDocument(QJsonObject{{u"connections"_s, array}}).toJson();
    } else if (rows.isEmpty()) {
        out() << "No connections.\n";
    } else {
        for (const QString &row : std::as_const(rows))
            out() << row << '\n';
    }
    return Success;
}

// Copies an option's value into its record field; false when it is too long.
bool setField(char *field, int size, const QString &value, const QString &what, int *exitCode)
{
    if (platform::copyToField(field, size, platform::toAnsi(value)))
        return true;
    *exitCode = usageError(u"%1 is longer than %2 bytes"_s.arg(what).arg(size - 1));
    return false;
}

int dialCommand(const QStringList &args)
{
    QString entry;
    QString user;
    QString password;
    QString number;
    bool hasUser = false;
    bool hasPassword = false;
    bool hasNumber = false;
    bool passwordFromInput = false;
    bool wait = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const auto optionValue = [&](const QString &name, QString *value, bool *given) {
            if (arg == name && i + 1 < args.size()) {
                *value = args.at(++i);
            } else if (arg.startsWith(name + u'=')) {
                *value = arg.mid(name.size() + 1);
            } else {
                return false;
            }
            *given = true;
            return true;
        };
        if (arg == u"--wait"_s) {
            wait = true;
        } else if (arg == u"--password-stdin"_s) {
            passwordFromInput = true;
        } else if (optionValue(u"--user"_s, &user, &hasUser) ||
                   optionValue(u"--password"_s, &password, &hasPassword) ||
                   optionValue(u"--number"_s, &number, &hasNumber)) {
            continue;
        } else if (arg.startsWith(u'-')) {
            return usageError(u"unknown option or missing value: %1"_s.arg(arg));
        } else if (entry.isNull()) {
            entry = arg;
        } else {
            return usageError(u"dial takes one entry"_s);
        }
    }
    if (entry.isEmpty())
        return usageError(u"dial needs an entry"_s);
    if (hasPassword && passwordFromInput)
        return usageError(u"give the password either with --password or on the input"_s);
    // A password reaches the line byte for byte, or not at all.
    const auto refuseAltered = [] {
        err() << "vantelo-line: the password holds a NUL byte or bytes that are not text in "
                 "this system's encoding; it would not reach the line as given, so it is not "
                 "used."
              << Qt::endl;
        return Failure;
    };
    if (hasPassword && password.contains(QChar::ReplacementCharacter))
        return refuseAltered();
    if (passwordFromInput) {
        bool faithful = true;
        if (!platform::readInputLine(&password, &faithful)) {
            err() << "vantelo-line: --password-stdin: the input holds no password." << Qt::endl;
            return Failure;
        }
        if (!faithful)
            return refuseAltered();
        hasPassword = true;
    }

    RASDIALPARAMS params{};
    params.dwSize = sizeof(RASDIALPARAMS);
    int exitCode = Success;
    if (!setField(params.szEntryName, sizeof params.szEntryName, entry, u"the entry name"_s,
                  &exitCode))
        return exitCode;
    BOOL passwordStored = FALSE;
    if (const DWORD rc = RasGetEntryDialParamsA(nullptr, &params, &passwordStored); rc != 0)
        return serviceError(rc);
    if (!hasPassword && !passwordStored && platform::inputIsTerminal()) {
        bool faithful = true;
        if (!platform::readHiddenLine(u"Password for %1: "_s.arg(entry), &password, &faithful)) {
            err() << "vantelo-line: no password was typed." << Qt::endl;
            return Failure;
        }
        if (!faithful)
            return refuseAltered();
        hasPassword = true;
    }
    if ((hasUser && !setField(params.szUserName, sizeof params.szUserName, user, u"the user name"_s,
                              &exitCode)) ||
        (hasPassword && !setField(params.szPassword, sizeof params.szPassword, password,
                                  u"the password"_s, &exitCode)) ||
        (hasNumber && !setField(params.szPhoneNumber, sizeof params.szPhoneNumber, number,
                                u"the number"_s, &exitCode)))
        return exitCode;

    HRASCONN handle{};
    // Without a notifier Windows dials to the end before it returns, and a
    // failed dial there may still hold a handle, which is to be hung up.
    if (const DWORD rc = RasDialA(nullptr, nullptr, &params, 0, nullptr, &handle); rc != 0) {
        serviceError(rc);
        if (handle != HRASCONN{})
            hangUpAndWait(handle, kHangUpLimitMs);
        return Failure;
    }
    out() << "Dialing " << entry << " (handle " << lines::handleNumber(handle) << ")." << Qt::endl;
    if (!wait)
        return Success;

    DWORD shown = 0xFFFFFFFFu;
    for (;;) {
        RASCONNSTATUS status{};
        status.dwSize = sizeof(RASCONNSTATUS);
        if (RasGetConnectStatusA(handle, &status) != 0) {
            err() << "vantelo-line: the connection was closed before it was established."
                  << Qt::endl;
            return Failure;
        }
        if (status.rasconnstate == RASCS_Connected) {
            out() << "Connected." << Qt::endl;
            return Success;
        }
        if (status.rasconnstate != shown && status.rasconnstate != RASCS_Disconnected) {
            shown = status.rasconnstate;
            out() << stateWords(status.rasconnstate, 0) << "..." << Qt::endl;
        }
        if (status.rasconnstate == RASCS_Disconnected) {
            // Somebody else hung the call up when it ends without an error of its own.
            const DWORD code = status.dwError ? status.dwError : ERROR_USER_DISCONNECTION;
            serviceError(code);
            hangUpAndWait(handle, kHangUpLimitMs);
            return Failure;
        }
        QThread::msleep(kPollMs);
    }
}

int hangUpCommand(const QStringList &args)
{
    if (args.size() > 1 || (args.size() == 1 && args.first().startsWith(u'-')))
        return usageError(u"hangup takes at most one entry"_s);
    const QString entry = args.value(0);
    std::vector<RASCONN> list;
    DWORD code = 0;
    if (!connections(&list, &code))
        return serviceError(code);
    int hungUp = 0;
    for (const RASCONN &conn : std::as_const(list)) {
        const QString name = platform::fieldText(conn.szEntryName, sizeof conn.szEntryName);
        if (!entry.isEmpty() && name.compare(entry, Qt::CaseInsensitive) != 0)
            continue;
        if (!hangUpAndWait(conn.hrasconn, kHangUpLimitMs)) {
            if (!lines::runtimeProblem().isEmpty())
                return lineUnchanged();
            err() << "vantelo-line: " << name << " did not close within " << kHangUpLimitMs / 1000
                  << " seconds." << Qt::endl;
            return Failure;
        }
        out() << "Hung up " << name << "." << Qt::endl;
        ++hungUp;
    }
    if (hungUp == 0 && !entry.isEmpty()) {
        err() << "vantelo-line: no connection of " << entry << "." << Qt::endl;
        return Failure;
    }
    if (hungUp == 0)
        out() << "No connections.\n";
    return Success;
}

int dropCommand(const QStringList &args)
{
    if (!args.isEmpty())
        return usageError(u"drop takes no arguments"_s);
    const int dropped = simline::dropCarrier();
    if (!lines::runtimeProblem().isEmpty())
        return lineUnchanged();
    out() << "Carrier lost on " << dropped
          << " simulated connection(s); calls on a real modem are left alone.\n";
    return Success;
}

int forceCommand(const QStringList &args)
{
    simline::Outcome outcome;
    if (args.size() != 1 || !simline::outcomeFromName(args.first(), &outcome))
        return usageError(u"force needs one outcome: connect, busy, noanswer, nodialtone or "
                          u"nocarrier"_s);
    simline::forceNextOutcome(outcome);
    if (!lines::runtimeProblem().isEmpty())
        return lineUnchanged();
    out() << "The next dial on the simulated line ends with " << simline::outcomeName(outcome)
          << ".\n";
    return Success;
}

int slowHangUpCommand(const QStringList &args)
{
    bool ok = false;
    const int ms = args.size() == 1 ? args.first().toInt(&ok) : -1;
    if (!ok || ms < 0)
        return usageError(u"slow-hangup needs a number of milliseconds"_s);
    simline::setNextHangUpDelay(ms);
    if (!lines::runtimeProblem().isEmpty())
        return lineUnchanged();
    out() << "The next hang-up of a simulated call takes " << ms << " ms.\n";
    return Success;
}

int resetCommand(const QStringList &args)
{
    if (!args.isEmpty())
        return usageError(u"reset takes no arguments"_s);
    simline::reset();
    if (!lines::runtimeProblem().isEmpty())
        return lineUnchanged();
    out() << "The simulated line is reset; calls on a real modem are left alone.\n";
    return Success;
}

int run(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return usageError(u"no command given"_s);
    const QString command = arguments.first();
    const QStringList args = arguments.mid(1);
    if (command == u"--help"_s || command == u"-h"_s || command == u"help"_s ||
        args.contains(u"--help"_s)) {
        out() << usage();
        return Success;
    }
    if (command == u"--version"_s) {
        out() << "vantelo-line " << QCoreApplication::applicationVersion() << '\n';
        return Success;
    }
    static const std::pair<QStringView, int (*)(const QStringList &)> commands[] = {
        {u"list", listCommand},
        {u"status", statusCommand},
        {u"dial", dialCommand},
        {u"hangup", hangUpCommand},
        {u"drop", dropCommand},
        {u"force", forceCommand},
        {u"slow-hangup", slowHangUpCommand},
        {u"reset", resetCommand},
        {u"probe", probeCommand},
        {u"log", logCommand},
    };
    for (const auto &[name, handler] : commands) {
        if (command == name)
            return handler(args);
    }
    return usageError(u"unknown command: %1"_s.arg(command));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"vantelo-line"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTELO_VERSION));
    lines::setLockWaitMs(kLockWaitMs);
    const int code = run(QCoreApplication::arguments().mid(1));
    out().flush();
    err().flush();
    return code;
}
