#pragma once

#include "platform/line/line.h"

namespace modem {

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
