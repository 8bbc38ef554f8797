// The call log over arbitrary old logs. Its first input byte picks the
// connection speed, the rest is the old log file. Writing the record of the
// current call leaves a log that ends with that record's line and that either
// is the header and the record alone or the old log with the record after it;
// a second write of the same call leaves the header and the record alone, so
// the log never grows from call to call.

#include "fuzz_support.h"
#include "platform/ansi.h"
#include "platform/paths.h"
#include "services/call_log.h"
#include "services/clock.h"

#include <QDateTime>

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace {

const QString Speeds[] = {QStringLiteral("28800"), QStringLiteral("0"), QString(),
                          QStringLiteral("115200"), QStringLiteral("\"56000\"")};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    fuzz::home();
    const QString speed = Speeds[data[0] % std::size(Speeds)];
    const QByteArray old(reinterpret_cast<const char *>(data) + 1,
                         static_cast<qsizetype>(size - 1));
    const QString path = platform::localPath(CallLogPath);
    fuzz::check(writeBytes(path, old), "cannot write the old log");

    SetFixedDateTime(QDateTime(QDate(2026, 12, 6), QTime(21, 3, 4)));
    const QString date = CurrentDateText();
    const QString started = CurrentTimeText();
    SetFixedDateTime(QDateTime(QDate(2026, 12, 6), QTime(21, 5, 10)));
    const QString finished = CurrentTimeText();

    const QByteArray header = platform::toAnsi(CallLogHeader) + "\r\n";
    AppendCallLog(date, started, finished, speed);
    const QByteArray first = readBytes(path);
    // The record's line, taken from a log written from scratch.
    fuzz::check(writeBytes(path, QByteArray()), "cannot empty the log");
    AppendCallLog(date, started, finished, speed);
    const QByteArray fresh = readBytes(path);
    if (!fresh.startsWith(header) || !fresh.endsWith("\r\n") || fresh.count("\r\n") != 2)
        fuzz::fail("a new log is not the header and one record", fresh);
    const QByteArray record = fresh.mid(header.size());

    const bool replaced = first == fresh;
    const bool appended = first == old + record || first == old + "\r\n" + record;
    if (!replaced && !appended)
        fuzz::fail("the log is neither new nor the old one with the record after it",
                   first + "\nold: " + old);

    fuzz::check(writeBytes(path, first), "cannot restore the log");
    AppendCallLog(date, started, finished, speed);
    const QByteArray second = readBytes(path);
    if (second != fresh)
        fuzz::fail("a second write of the call did not leave the header and the record alone",
                   second + "\nold: " + old);
    return 0;
}
