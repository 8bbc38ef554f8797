#pragma once

// Session timing and the call log.

#include "engine/globals.h"

#include <QString>

// hh:mm:ss, each part at least two digits, no carry: 75 seconds print as 75.
QString FormatHms(qint16 seconds, qint16 minutes, qint16 hours);
inline QString FormatHms(const Duration &d)
{
    return FormatHms(d.seconds, d.minutes, d.hours);
}

// One second more; counters that would overflow 16 bits stay as they are.
void AdvanceDuration(Duration &d);

// The call log's place and header line.
inline const QString CallLogPath = QStringLiteral("c:\\ilog.log");
inline const QString CallLogHeader =
    QStringLiteral("  Date  || Started At || Finished At|| Connection ");

// Rewrites the call log with its header and the record of this call, in print
// zones of 14 columns, CR LF line ends. A log this program wrote a moment ago
// is rewritten in place when the new text has its length (the usual tick:
// only the finish time changed); otherwise a new file replaces the old one
// whole.
// Something at the log's place that is not a file (a named pipe, a device, a
// folder) is left as it is; that, and a log that cannot be saved, is told once
// as a storage notice.
//
// The monitor calls this every second, so a write is cheap: the old log is
// read only when it changed since this program last wrote it, and the new one
// replaces it without waiting for the disk. FlushCallLog() puts it on disk.
void AppendCallLog(const QString &date, const QString &started, const QString &finished,
                   const QString &connection);

// Puts the call log this program last wrote on disk for good, as a call ends
// and as the program ends. Nothing when that write is on disk already, or when
// the log has changed since (it is someone else's then).
void FlushCallLog();

// What the call log has cost since the program started: looks at the old
// log's content, logs written, and writes waited on until they were on disk.
struct CallLogCounts
{
    qint64 reads = 0;
    qint64 writes = 0;
    qint64 syncs = 0;
};
CallLogCounts CallLogCountsSoFar();
