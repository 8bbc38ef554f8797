#include "services/call_log.h"

#include "platform/ansi.h"
#include "platform/core/bounded_read.h"
#include "platform/paths.h"
#include "services/storage_notice.h"

#include <QFile>
#include <QSaveFile>

#include <limits>

QString FormatHms(qint16 seconds, qint16 minutes, qint16 hours)
{
    // Only a one-character text gets its "0": "-5" and "100" stay as they are.
    const auto part = [](qint16 value) {
        QString text = QString::number(value);
        if (text.size() == 1)
            text.prepend(u'0');
        return text;
    };
    return part(hours) + u':' + part(minutes) + u':' + part(seconds);
}

namespace {

// 16-bit addition that leaves the counter as it is when the sum would overflow.
void addOne(qint16 &counter)
{
    if (counter < std::numeric_limits<qint16>::max())
        ++counter;
}

} // namespace

void AdvanceDuration(Duration &d)
{
    if (d.seconds > 58) {
        d.seconds = static_cast<qint16>(d.seconds - 59);
        addOne(d.minutes);
        if (d.minutes == 60) {
            addOne(d.hours);
            d.minutes = 0;
        }
    } else {
        addOne(d.seconds);
    }
}

namespace {

constexpr qsizetype ZoneWidth = 14;

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isLineEnd(QChar c)
{
    return c == u'\r' || c == u'\n';
}

// The last item of a text read item by item as sequential input: leading
// blanks skipped; an unquoted item runs to the next comma or line end; a
// quoted one to its closing quote, keeping its blanks. Each step consumes at
// least one character, so the reading always ends.
QString lastInputItem(const QString &text)
{
    QString last;
    qsizetype pos = 0;
    const qsizetype n = text.size();
    while (pos < n) {
        while (pos < n && isBlank(text.at(pos)))
            ++pos;
        if (pos >= n) {
            last.clear();
            break;
        }
        qsizetype end = pos;
        if (text.at(pos) == u'"') {
            const qsizetype close = text.indexOf(u'"', pos + 1);
            end = close < 0 ? n : close;
            last = text.mid(pos + 1, end - pos - 1);
            // Whatever follows the closing quote up to the delimiter is dropped.
            end = close < 0 ? n : close + 1;
            while (end < n && text.at(end) != u',' && !isLineEnd(text.at(end)))
                ++end;
        } else {
            while (end < n && text.at(end) != u',' && !isLineEnd(text.at(end)))
                ++end;
            last = text.mid(pos, end - pos);
            while (!last.isEmpty() && isBlank(last.back()))
                last.chop(1);
        }
        // Past the delimiter: a comma, or one line end (CR LF, LF or CR).
        pos = end;
        if (pos < n && text.at(pos) == u',') {
            ++pos;
        } else if (pos < n && text.at(pos) == u'\r') {
            ++pos;
            if (pos < n && text.at(pos) == u'\n')
                ++pos;
        } else if (pos < n) {
            ++pos;
        }
    }
    return last;
}

// Fields in print zones of 14 columns: after each field but the last, blanks
// up to the first zone boundary strictly right of the write position.
QString recordLine(const QStringList &fields)
{
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        line += fields.at(i);
        if (i + 1 < fields.size()) {
            const qsizetype next = (line.size() / ZoneWidth + 1) * ZoneWidth;
            line += QString(next - line.size(), u' ');
        }
    }
    return line + QStringLiteral("\r\n");
}

} // namespace

void AppendCallLog(const QString &date, const QString &started, const QString &finished,
                   const QString &connection)
{
    const QString path = platform::localPath(CallLogPath);
    const QByteArray record = platform::toAnsi(recordLine({date, started, finished, connection}));

    const auto notSaved = [&path](const QString &reason) {
        StorageNotice::report(StorageNotice::Problem::NotSaved, path, reason);
    };

    QString last;
    QByteArray existing;
    // A file that cannot be read, or one larger than any log this program
    // writes, counts as holding nothing. Something that is not a file at all
    // (a named pipe, a device, a folder) is neither read nor replaced.
    const platform::BoundedRead old = platform::readBounded(path, platform::CallLogReadLimit);
    if (old.status == platform::BoundedRead::Status::NotRegular) {
        notSaved(old.reason);
        return;
    }
    if (old.read()) {
        existing = old.data;
        last = lastInputItem(QString::fromLocal8Bit(existing));
    }

    if (last == CallLogHeader) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            notSaved(file.errorString());
            return;
        }
        // The record starts a line of its own even after a last line without its
        // end; a line that ends in a lone CR has ended already.
        QByteArray text = record;
        if (!existing.isEmpty() && !existing.endsWith('\n') && !existing.endsWith('\r'))
            text.prepend("\r\n");
        if (file.write(text) != text.size() || !file.flush())
            notSaved(file.errorString());
        return;
    }

    // The new file replaces the old one only once it is complete, so a failed
    // write never leaves an empty or half-written log. A read-only log is left
    // as it is.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        notSaved(file.errorString());
        return;
    }
    const QByteArray text = platform::toAnsi(CallLogHeader + QStringLiteral("\r\n")) + record;
    // A short write (a full disk) must not reach the rename: commit() alone
    // lets a partly written file through.
    if (file.write(text) != text.size() || !file.flush() || file.size() != text.size()) {
        notSaved(file.errorString());
        file.cancelWriting();
        return;
    }
    if (!file.commit())
        notSaved(file.errorString());
}
