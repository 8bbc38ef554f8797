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
// zones of 14 columns, CR LF line ends. The new file replaces the old one whole.
// Something at the log's place that is not a file (a named pipe, a device, a
// folder) is left as it is; that, and a log that cannot be saved, is told once
// as a storage notice.
void AppendCallLog(const QString &date, const QString &started, const QString &finished,
                   const QString &connection);
