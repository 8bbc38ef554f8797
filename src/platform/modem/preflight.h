#pragma once

// What can be known about a modem call before its port is opened: which
// device the entry names, whether that device is there and is a serial port,
// whether this account may open it and run pppd, and whether pppd's options
// file is there. Every check that fails here fails before a single byte
// reaches the modem, so nobody is dialed for a call that cannot come up.

#include "platform/wintypes.h"

#include <QList>
#include <QString>

#include <sys/types.h>

namespace modem {

// The device an entry's Device= names: a path as it is, a bare name below
// /dev ("ttyACM0" is /dev/ttyACM0). Empty for an empty value.
QString devicePath(const QString &deviceValue);

// A failed check: the service's error and the words that say what happened.
struct Problem
{
    DWORD code = 0;
    QString words;
    explicit operator bool() const { return code != 0; }
};

// The account a check is made for.
struct Credentials
{
    uid_t uid = 0;
    QList<gid_t> groups; // the primary group among them
    static Credentials current();
};

// The entry's Device= must name a serial port that exists (608, 663).
Problem checkDevice(const QString &entry, const QString &deviceValue);

// This account may open the device (665) and run pppd (649, 711), and the
// options file is there (667). An account lacking both groups is told both
// at once, with 665.
Problem checkPermissions(const QString &device, const QString &pppd, const QString &peersFile,
                         const Credentials &who);

} // namespace modem
