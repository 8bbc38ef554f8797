#include "services/call_log.h"

#include "platform/ansi.h"
#include "platform/core/bounded_read.h"
#include "platform/paths.h"
#include "platform/save_file.h"
#include "services/storage_notice.h"

#include <QFile>

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

namespace {

CallLogCounts counts;

// The log as this program last left it: while the file still looks the same,
// its content is known without reading it.
struct KnownLog
{
    QString path; // empty: nothing known
    platform::FileStamp stamp;
    QByteArray bytes;
    QString last; // the last input item of bytes
    bool onDisk = true;

    // The stamp alone cannot tell a rewrite of the same size within the same
    // tick of the file system's clock: a file that still looks the same is
    // compared with what was written, which is a few hundred bytes (a larger
    // file is not ours).
    bool holds(const QString &at) const
    {
        if (path.isEmpty() || path != at || !stamp.file || platform::fileStamp(at) != stamp)
            return false;
        const platform::BoundedRead now = platform::readBounded(at, bytes.size());
        return now.read() && now.data == bytes;
    }
};

KnownLog known;

void remember(const QString &path, const QByteArray &bytes, bool onDisk)
{
    known.path = path;
    known.stamp = platform::fileStamp(path);
    known.bytes = bytes;
    known.last = lastInputItem(QString::fromLocal8Bit(bytes));
    known.onDisk = onDisk;
}

} // namespace

void AppendCallLog(const QString &date, const QString &started, const QString &finished,
                   const QString &connection)
{
    // The folder is made only when the log is not the one written a moment
    // ago (below): a folder taken away meanwhile is then made again.
    const QString path = platform::localPath(CallLogPath, platform::MakeFolder::No);
    const QByteArray record = platform::toAnsi(recordLine({date, started, finished, connection}));

    const auto notSaved = [&path](const QString &reason) {
        known = {};
        StorageNotice::report(StorageNotice::Problem::NotSaved, path, reason);
    };

    // The log as this program writes it afresh: its header and the record.
    // The header's bytes never change: they are made once, not every second.
    static const QByteArray header = platform::toAnsi(CallLogHeader + QStringLiteral("\r\n"));
    const QByteArray text = header + record;

    // The usual tick: the log this program left, whose record keeps its
    // length as only "Finished At" moves on, is overwritten where it stands
    // if it is still as it was left, with one open of the file and one write,
    // so a reader sees the old text or the new one. The file's page then
    // stays in memory and reaches the disk at the system's pace, where a new
    // file each second would be written out each second.
    if (!known.path.isEmpty() && known.path == path && known.last != CallLogHeader) {
        platform::FileStamp after;
        if (text != known.bytes &&
            platform::rewriteSameLength(path, known.stamp, known.bytes, text, &after)) {
            ++counts.writes;
            known.bytes = text;
            known.last = lastInputItem(QString::fromLocal8Bit(text));
            known.stamp = after;
            known.onDisk = false;
            return;
        }
    }

    platform::localPath(CallLogPath); // makes its folder, when missing
    QString last;
    QByteArray existing;
    const bool unchanged = known.holds(path);
    if (unchanged) {
        existing = known.bytes;
        last = known.last;
    } else {
        known = {};
        // A file that cannot be read, or one larger than any log this program
        // writes, counts as holding nothing. Something that is not a file at
        // all (a named pipe, a device, a folder) is neither read nor replaced.
        ++counts.reads;
        const platform::BoundedRead old = platform::readBounded(path, platform::CallLogReadLimit);
        if (old.status == platform::BoundedRead::Status::NotRegular) {
            notSaved(old.reason);
            return;
        }
        if (old.read()) {
            existing = old.data;
            last = lastInputItem(QString::fromLocal8Bit(existing));
        }
    }

    if (last == CallLogHeader) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            notSaved(file.errorString());
            return;
        }
        // The record starts a line of its own even after a last line without its
        // end; a line that ends in a lone CR has ended already.
        QByteArray appended = record;
        if (!existing.isEmpty() && !existing.endsWith('\n') && !existing.endsWith('\r'))
            appended.prepend("\r\n");
        ++counts.writes;
        if (file.write(appended) != appended.size() || !file.flush()) {
            notSaved(file.errorString());
            return;
        }
        file.close();
        remember(path, existing + appended, false);
        return;
    }

    // The file holds these very bytes already.
    if (unchanged && text == existing)
        return;
    // The new file replaces the old one only once it is complete; a read-only
    // log is left as it is.
    QString error;
    ++counts.writes;
    if (!platform::replaceFile(path, text, {.permissions = std::nullopt, .onDisk = false},
                               &error)) {
        notSaved(error);
        return;
    }
    remember(path, text, false);
}

void FlushCallLog()
{
    if (known.onDisk)
        return;
    const QString path = known.path;
    if (!known.holds(path)) {
        known = {};
        return;
    }
    QString error;
    ++counts.writes;
    ++counts.syncs;
    if (!platform::replaceFile(path, known.bytes, {}, &error)) {
        known = {};
        StorageNotice::report(StorageNotice::Problem::NotSaved, path, error);
        return;
    }
    known.stamp = platform::fileStamp(path);
    known.onDisk = true;
}

CallLogCounts CallLogCountsSoFar()
{
    return counts;
}
