#include "platform/modem/preflight.h"

#include "platform/ras.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace modem {

namespace {

// Words are shown in the service's 256-byte buffer: a long path keeps its end.
QString shown(const QString &text)
{
    constexpr qsizetype kMax = 60;
    return text.size() <= kMax ? text : u"..."_s + text.right(kMax - 3);
}

QString groupName(gid_t gid)
{
    if (const group *g = ::getgrgid(gid))
        return QString::fromLocal8Bit(g->gr_name);
    return QString::number(gid);
}

// The permission bits (r=4, w=2, x=1) that apply to `who` for a file.
int bitsFor(const struct stat &st, const Credentials &who)
{
    if (st.st_uid == who.uid)
        return (st.st_mode >> 6) & 7;
    if (who.groups.contains(st.st_gid))
        return (st.st_mode >> 3) & 7;
    return st.st_mode & 7;
}

// What stands between `who` and `wanted` on a file: nothing (empty), the
// file's group (when its group has the access), or "" with `closed` set.
struct Lack
{
    bool denied = false;
    QString group; // empty when joining no group would help
};

Lack lackFor(const struct stat &st, const Credentials &who, int wanted)
{
    if (who.uid == 0 || (bitsFor(st, who) & wanted) == wanted)
        return {};
    const bool groupHelps =
        int((st.st_mode >> 3) & 7 & unsigned(wanted)) == wanted && st.st_uid != who.uid;
    return {true, groupHelps ? groupName(st.st_gid) : QString()};
}

// A lack of access in words: what the account may not do (`closedTo` when
// no group of its own would help, which it would `verb`; `joinTo` when
// joining `lack.group` would) and how to mend it.
Problem lackProblem(const Lack &lack, DWORD code, const QString &closedTo, const QString &verb,
                    const QString &joinTo)
{
    if (lack.group.isEmpty())
        return {code, u"Your account may not %1: its mode lets no group of yours %2 it."_s.arg(
                          closedTo, verb)};
    return {code, u"Your account may not %1: add it to the %2 group (sudo adduser $USER %2), then "
                  u"log in again."_s.arg(joinTo, lack.group)};
}

} // namespace

QString devicePath(const QString &deviceValue)
{
    const QString value = deviceValue.trimmed();
    if (value.isEmpty() || value.startsWith(u'/'))
        return value;
    return u"/dev/"_s + value;
}

Credentials Credentials::current()
{
    Credentials who;
    who.uid = ::getuid();
    who.groups.append(::getgid());
    const int n = ::getgroups(0, nullptr);
    if (n > 0) {
        QList<gid_t> more(n);
        if (::getgroups(n, more.data()) == n)
            who.groups.append(more);
    }
    return who;
}

Problem checkDevice(const QString &entry, const QString &deviceValue)
{
    const QString value = deviceValue.trimmed();
    if (value.isEmpty())
        return {ERROR_DEVICE_DOES_NOT_EXIST,
                u"The entry \"%1\" names no device: give it Device=/dev/ttyACM0 (its modem), "
                u"or Device=Vantelo Simulated Modem for the simulated line."_s.arg(shown(entry))};
    const QString path = devicePath(value);
    const QByteArray bytes = QFile::encodeName(path);
    struct stat st = {};
    if (bytes.size() >= PATH_MAX || ::stat(bytes.constData(), &st) != 0) {
        const int error = bytes.size() >= PATH_MAX ? ENAMETOOLONG : errno;
        QString why;
        switch (error) {
        case ENOENT:
        case ENOTDIR:
            why = u"is not there: is the modem plugged in?"_s;
            break;
        case ELOOP:
            why = u"is a loop of symbolic links"_s;
            break;
        case ENAMETOOLONG:
            why = u"is too long to be a device's path (%1 bytes)"_s.arg(bytes.size());
            break;
        case EACCES:
            why = u"lies in a folder your account may not enter"_s;
            break;
        default:
            why = u"cannot be looked at: "_s + QString::fromLocal8Bit(std::strerror(error));
        }
        return {ERROR_DEVICE_DOES_NOT_EXIST,
                u"The device of the entry \"%1\", Device=%2, %3."_s.arg(shown(entry), shown(value),
                                                                        why)};
    }
    if (!S_ISCHR(st.st_mode))
        return {ERROR_UNKNOWN_DEVICE_TYPE,
                u"The entry \"%1\" names Device=%2, which is not a serial port."_s.arg(
                    shown(entry), shown(value))};
    return {};
}

Problem checkPermissions(const QString &device, const QString &pppd, const QString &peersFile,
                         const Credentials &who)
{
    struct stat port = {};
    Lack portLack;
    if (::stat(QFile::encodeName(device).constData(), &port) == 0)
        portLack = lackFor(port, who, 6);

    struct stat program = {};
    if (pppd.isEmpty() || ::stat(QFile::encodeName(pppd).constData(), &program) != 0)
        return {ERROR_RASMAN_CANNOT_INITIALIZE, {}}; // its own words: install ppp
    const Lack pppdLack = lackFor(program, who, 1);

    if (portLack.denied && pppdLack.denied && !portLack.group.isEmpty() &&
        !pppdLack.group.isEmpty() && portLack.group != pppdLack.group)
        return {ERROR_PORT_NOT_CONFIGURED,
                u"Your account is in neither the %1 group (to open the modem) nor the %2 group "
                u"(to run pppd): add it to both (sudo adduser $USER %1; sudo adduser $USER %2), "
                u"then log in again."_s.arg(portLack.group, pppdLack.group)};
    if (portLack.denied)
        return lackProblem(portLack, ERROR_PORT_NOT_CONFIGURED, u"open %1"_s.arg(shown(device)),
                           u"use"_s, u"open %1"_s.arg(shown(device)));
    if (pppdLack.denied)
        return lackProblem(pppdLack, ERROR_NO_DIALIN_PERMISSION, u"run %1"_s.arg(shown(pppd)),
                           u"run"_s, u"run pppd"_s);

    // A pppd that is setuid root reads its options as root; any other reads
    // them with this account's rights.
    const bool asRoot = (program.st_mode & S_ISUID) && program.st_uid == 0;
    struct stat peers = {};
    const QByteArray peersPath = QFile::encodeName(peersFile);
    if (::stat(peersPath.constData(), &peers) != 0) {
        if (errno == EACCES && asRoot)
            return {}; // its folder is closed to us, not to pppd
        return {ERROR_READING_INI_FILE,
                u"pppd's options file %1 is missing. Install it from Vantelo's source folder: "
                u"sudo cmake --install build --component ppp-peers"_s.arg(shown(peersFile))};
    }
    if (!S_ISREG(peers.st_mode) || (!asRoot && ::access(peersPath.constData(), R_OK) != 0))
        return {ERROR_READING_INI_FILE,
                u"pppd cannot read its options file %1 (not a file, or closed to it)."_s.arg(
                    shown(peersFile))};
    return {};
}

} // namespace modem
