// Finding the modems of this system: the serial ports that may hold one, each
// locked and opened as a call opens it and asked what it is.

#include "platform/modem/call_events.h"
#include "platform/modem/dialogue.h"
#include "platform/modem/port.h"
#include "platform/modems.h"
#include "platform/ras.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cstring>
#include <grp.h>
#include <linux/serial.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using modem::ModemLog;
using modem::monotonicMs;
using modem::Reply;
using modem::sendCommand;

namespace modems {

namespace {

// The speed ports are asked at: every modem of the last thirty years takes it.
constexpr int kProbeSpeed = 115200;
constexpr int kDefaultTimeoutMs = 1500;
// However a port answers, it is not asked for longer than this.
constexpr qint64 kPortBudgetMs = 10000;

// The commands that reset a modem, the fullest first: factory settings, no
// echo, words for answers, DTR hangs up, carrier detect follows the carrier,
// no answering of calls.
const QStringList kInits{u"AT&F E0 V1 &D2 &C1 S0=0"_s, u"ATZ"_s};
const QStringList kIdentity{u"ATI"_s, u"ATI3"_s, u"AT+GMI"_s, u"AT+GMM"_s};

QString root()
{
    QString r = qEnvironmentVariable("VANTELO_PROBE_ROOT");
    while (r.endsWith(u'/'))
        r.chop(1);
    return r;
}

int commandTimeoutMs()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("VANTELO_PROBE_TIMEOUT_MS", &ok);
    return ok && ms > 0 ? ms : kDefaultTimeoutMs;
}

// The stable names of /dev/serial/by-id, by the device each names.
QHash<QString, QString> byIdNames(const QString &base)
{
    QHash<QString, QString> names;
    const QDir dir(base + u"/dev/serial/by-id"_s);
    for (const QFileInfo &link : dir.entryInfoList(QDir::System | QDir::Files, QDir::Name)) {
        const QString target = link.canonicalFilePath();
        if (!target.isEmpty() && !names.contains(target))
            names.insert(target, link.absoluteFilePath());
    }
    return names;
}

// A ttyS port is a real one when the kernel found a device behind it and
// knows its UART: the serial core gives the type, 0 for an unknown port.
bool hasUartDevice(const QString &base, const QString &name)
{
    const QString sys = base + u"/sys/class/tty/"_s + name;
    if (!QFileInfo::exists(sys + u"/device"_s))
        return false;
    QFile type(sys + u"/type"_s);
    return !type.open(QIODevice::ReadOnly) || type.read(16).trimmed() != "0";
}

// Whether the opened port is a UART the kernel knows the type of; a port
// that does not say (a pseudo-terminal, a USB modem) counts as one.
bool uartKnown(int fd)
{
    serial_struct serial = {};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return true;
    return serial.type != PORT_UNKNOWN;
}

QString groupName(gid_t gid)
{
    if (const group *g = ::getgrgid(gid))
        return QString::fromLocal8Bit(g->gr_name);
    return QString::number(gid);
}

// Whether this account is named a member of the group, though not yet in it
// for this session (it was added since the login).
bool memberSinceLogin(gid_t gid)
{
    const passwd *me = ::getpwuid(::getuid());
    const group *g = ::getgrgid(gid);
    if (!me || !g)
        return false;
    for (char **member = g->gr_mem; member && *member; ++member) {
        if (std::strcmp(*member, me->pw_name) == 0)
            return true;
    }
    return false;
}

bool mayOpen(const QString &device)
{
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
}

// The group that may open the port, when joining it would let this account.
QString portGroup(const QString &device)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0 || ((st.st_mode >> 3) & 6) != 6)
        return {};
    return groupName(st.st_gid);
}

// Why this account may not open the port, naming the group that may.
QString deniedWords(const QString &device)
{
    const QString name = portGroup(device);
    if (name.isEmpty())
        return u"Your account may not open %1: its mode lets no group of yours use it."_s.arg(
            device);
    const struct group *g = ::getgrnam(QFile::encodeName(name).constData());
    if (g && memberSinceLogin(g->gr_gid))
        return u"Your account may not open %1 yet: it was added to the %2 group after you "
               u"logged in. Log out and in again."_s.arg(device, name);
    return u"Your account may not open %1: add it to the %2 group (sudo adduser $USER %2), "
           u"then log in again."_s.arg(device, name);
}

// Asks the opened port what it is.
void converse(int fd, PortReport *report)
{
    ModemLog log(&report->dialogue);
    const int timeoutMs = commandTimeoutMs();
    const qint64 until = monotonicMs() + kPortBudgetMs;
    const auto ask = [&](const QString &text) {
        if (monotonicMs() >= until)
            return Reply{ERROR_DEVICE_NOT_READY, false, 0, {}, {}};
        return sendCommand(fd, log, {u"Asking %1"_s.arg(report->device), text, timeoutMs});
    };
    // Twice: a modem may have been busy with what a program before left it.
    Reply hello = ask(u"AT"_s);
    if (hello.error != 0)
        hello = ask(u"AT"_s);
    if (hello.error != 0) {
        if (hello.error == ERROR_DEVICE_NOT_READY) {
            report->outcome = PortReport::Outcome::Silent;
            report->problem = u"%1 does not answer AT (twice, %2 ms each): no modem, one "
                              u"switched off, or one at another speed."_s.arg(report->device)
                                  .arg(timeoutMs);
        } else {
            report->outcome = PortReport::Outcome::Failed;
            report->problem = hello.words;
        }
        return;
    }
    report->outcome = PortReport::Outcome::Answered;
    ask(u"ATE0V1"_s);
    QStringList said;
    for (const QString &command : kIdentity) {
        const Reply reply = ask(command);
        for (const QString &line : reply.said) {
            if (reply.error == 0 && !line.trimmed().isEmpty() && !said.contains(line.trimmed()))
                said.append(line.trimmed());
        }
    }
    report->identity = said.join(u"; "_s);
    for (const QString &init : kInits) {
        if (ask(init).error == 0) {
            report->init = init;
            break;
        }
    }
}

// One port, locked and opened as a call does it; false when it turns out
// to be no serial port at all (a ttyS with no UART behind it).
bool probePort(const QString &device, PortReport *report)
{
    report->device = device;
    report->speed = kProbeSpeed;
    modem::Port port;
    const DWORD rc = port.open(device, kProbeSpeed);
    if (rc == 0 && QFileInfo(device).fileName().startsWith(u"ttyS"_s) && !uartKnown(port.fd()))
        return false;
    switch (rc) {
    case 0:
        converse(port.fd(), report);
        // What a silent port could not send goes now: a serial port's close
        // would wait for it to drain.
        ::tcflush(port.fd(), TCIOFLUSH);
        return true;
    case ERROR_PORT_NOT_AVAILABLE:
        report->outcome = PortReport::Outcome::Held;
        report->problem = port.problem().isEmpty()
                              ? u"%1 is in use by another program."_s.arg(device)
                              : port.problem();
        return true;
    case ERROR_PORT_NOT_CONFIGURED:
        report->outcome = PortReport::Outcome::Denied;
        // The port itself, or only the folder of its lock.
        report->problem = mayOpen(device) ? port.problem() : deniedWords(device);
        return true;
    default:
        report->outcome = PortReport::Outcome::Failed;
        report->problem = port.problem().isEmpty()
                              ? u"%1 cannot be used: error %2."_s.arg(device).arg(rc)
                              : port.problem();
        return true;
    }
}

} // namespace

ProbeReport probe()
{
    ProbeReport report;
    const QString base = root();
    const QHash<QString, QString> byId = byIdNames(base);
    const QDir dev(base + u"/dev"_s);
    for (const QString &pattern : {u"ttyACM*"_s, u"ttyUSB*"_s, u"ttyS*"_s}) {
        report.looked.append(dev.absoluteFilePath(pattern));
        for (const QString &name : dev.entryList({pattern}, QDir::System, QDir::Name)) {
            if (pattern == u"ttyS*"_s && !hasUartDevice(base, name))
                continue;
            const QString device = dev.absoluteFilePath(name);
            PortReport port;
            if (!probePort(device, &port))
                continue;
            port.byId = byId.value(QFileInfo(device).canonicalFilePath());
            const QString group = port.outcome == PortReport::Outcome::Denied && !mayOpen(device)
                                      ? portGroup(device)
                                      : QString();
            if (!group.isEmpty() && !report.missingGroups.contains(group))
                report.missingGroups.append(group);
            report.ports.append(port);
        }
    }
    return report;
}

} // namespace modems
