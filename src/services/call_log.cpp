#include "services/call_log.h"

#include "platform/ansi.h"
#include "platform/core/bounded_read.h"
#include "platform/paths.h"
#include "services/storage_notice.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <filesystem>
#include <limits>
#include <system_error>

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

std::filesystem::path nativePath(const QString &path)
{
    return std::filesystem::path(path.toStdU16String());
}

// The file a save at path lands in: the end of its chain of links, so a link
// the user made stays a link and its target gets the new content.
bool saveTarget(const QString &path, QString &target, QString &error)
{
    target = path;
    QFileInfo info(path);
    for (int hops = 0; info.isSymLink(); ++hops) {
        if (hops == 128) {
            error = QStringLiteral("too many levels of symbolic links");
            return false;
        }
        target = info.symLinkTarget();
        info.setFile(target);
    }
    return true;
}

// Replaces the file at path whole with bytes, as a QSaveFile does, without
// waiting for the disk: the new content goes to a file of its own beside the
// old one, created afresh (never through a link), which then takes the old
// one's place. A file that is there keeps its permissions; one that is not
// writable is left as it is. On failure nothing is left behind and error says
// why.
bool replaceWhole(const QString &path, const QByteArray &bytes, QString &error)
{
    QString target;
    if (!saveTarget(path, target, error))
        return false;
    const QFileInfo existing(target);
    if (existing.exists() && !existing.isWritable()) {
        error =
            QCoreApplication::translate("QSaveFile", "Existing file %1 is not writable").arg(path);
        return false;
    }

    // A new log gets the permissions the system gives a new file; a new copy of
    // an old one is its owner's alone until it has the old one's permissions.
    const QFileDevice::Permissions firstPermissions =
        existing.exists()
            ? QFileDevice::ReadOwner | QFileDevice::WriteOwner
            : QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                  QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
    QFile temporary;
    static const QString Letters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    for (int attempt = 0;; ++attempt) {
        QString name = target + u'.';
        for (int i = 0; i < 6; ++i)
            name += Letters.at(QRandomGenerator::global()->bounded(Letters.size()));
        temporary.setFileName(name);
        if (temporary.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered,
                           firstPermissions))
            break;
        const QFileInfo taken(name);
        if (attempt == 15 || !(taken.exists() || taken.isSymLink())) {
            error = temporary.errorString();
            return false;
        }
    }

    const auto fail = [&temporary, &error](const QString &why) {
        error = why;
        temporary.close();
        QFile::remove(temporary.fileName());
        return false;
    };
    if (existing.exists() && !temporary.setPermissions(existing.permissions()))
        return fail(temporary.errorString());
    // A short write (a full disk) must not reach the rename.
    if (temporary.write(bytes) != bytes.size() || !temporary.flush() ||
        temporary.size() != bytes.size())
        return fail(temporary.errorString());
    temporary.close();
    if (temporary.error() != QFileDevice::NoError)
        return fail(temporary.errorString());
    std::error_code renamed;
    std::filesystem::rename(nativePath(temporary.fileName()), nativePath(target), renamed);
    if (renamed)
        return fail(QString::fromLocal8Bit(renamed.message()));
    return true;
}

// Replaces the file at path whole with bytes and waits until it is on disk.
// The new file replaces the old one only once it is complete, so a failed
// write never leaves an empty or half-written log.
bool replaceWholeOnDisk(const QString &path, const QByteArray &bytes, QString &error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    // A short write (a full disk) must not reach the rename: commit() alone
    // lets a partly written file through.
    if (file.write(bytes) != bytes.size() || !file.flush() || file.size() != bytes.size()) {
        error = file.errorString();
        file.cancelWriting();
        return false;
    }
    ++counts.syncs;
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
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
    if (!replaceWhole(path, text, error)) {
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
    if (!replaceWholeOnDisk(path, known.bytes, error)) {
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
