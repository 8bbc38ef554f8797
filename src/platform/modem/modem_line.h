#pragma once

#include "platform/line/line.h"

#include <QString>

namespace modem {

// The modem's part of a call, as its call process last reported it.
struct ModemPart
{
    qint64 pid = 0; // the call's process, once it reported itself
    RASCONNSTATE state = RASCS_OpenPort;
    DWORD error = 0;
    bool finished = false; // the call process has ended the call and released the port
    QString interfaceName; // the network interface pppd brought up
    // What happened, in words naming the entry, the value or the stage, when
    // the error's own text is too general (empty: that text says it all).
    QString errorWords;
    qint64 pppdPid = 0; // pppd, while the call's process supervises it
};

inline const ModemPart &modemPart(const line::Call &call)
{
    return line::partOf<ModemPart>(call);
}

inline ModemPart &modemPart(line::Call *call)
{
    return line::partOf<ModemPart>(call);
}

// The real modem line: each call is carried by a process of its own (the
// vantelo-call program), which reports to the call store.
const line::Line &modemLine();

// The file whose lock a call's process holds as long as it lives.
QString callLockPath(HRASCONN handle);

// A modem call's own words for the service's error `code` (what to do about
// it), or null where the service's words say it all.
const char *errorText(DWORD code);

// Where vantelo-call is: beside the program's libexec folder once installed,
// else in the build tree.
QString callProgram();

} // namespace modem
