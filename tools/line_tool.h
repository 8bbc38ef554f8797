#pragma once

// What the line tool's commands share: its output streams, exit codes, the
// service's errors and states in words, the active connections, and a
// hang-up that waits until the line is closed.

#include "platform/ras.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <vector>

namespace linetool {

enum ExitCode { Success = 0, Failure = 1, Usage = 2 };

// How long `hangup` waits for a line to close before it gives up.
constexpr int kHangUpLimitMs = 60000;
constexpr int kPollMs = 10;

QTextStream &out();
QTextStream &err();
QString errorText(DWORD code);
// A change of the lines that was not made: the line was busy, its folder
// unusable, or there is no simulated line (what lines::runtimeProblem() says).
int lineUnchanged();
int serviceError(DWORD code);
QString stateWords(DWORD state, DWORD error);
// The active connections; false (with *code set) when they cannot be listed.
bool connections(std::vector<RASCONN> *list, DWORD *code);
// Hangs the connection up and waits until the service no longer knows it.
bool hangUpAndWait(HRASCONN handle, int limitMs);

// The commands for real modems (modem_commands.cpp) and their lines of the usage.
int probeCommand(const QStringList &args);
int logCommand(const QStringList &args);
QString modemCommandsUsage();

} // namespace linetool
