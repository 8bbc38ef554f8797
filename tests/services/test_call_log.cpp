// Session timing and the call log: the hh:mm:ss text, the monitor's one-second
// step, and the exact bytes of the log.

#include "platform/paths.h"
#include "services/call_log.h"
#include "services/clock.h"
#include "services/storage_notice.h"
#include "support/child_limits.h"
#include "support/file_size_limit.h"
#include "support/fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QByteArray Header = "  Date  || Started At || Finished At|| Connection \r\n";

QByteArray blanks(int n)
{
    return QByteArray(n, ' ');
}

Duration advanced(Duration d, int seconds)
{
    for (int i = 0; i < seconds; ++i)
        AdvanceDuration(d);
    return d;
}

} // namespace

class TestCallLog final : public FixtureTest
{
    Q_OBJECT

private:
    QString m_log;

    void setUpCase() override
    {
        m_log = m_f.home().dataDir() + u"/ilog.log"_s;
        QCOMPARE(platform::localPath(CallLogPath), m_log);
    }

private slots:
    void formatHms_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<int>("hours");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zero") << 0 << 0 << 0 << u"00:00:00"_s;
        QTest::newRow("one digit each") << 5 << 7 << 3 << u"03:07:05"_s;
        QTest::newRow("two digits each") << 59 << 59 << 99 << u"99:59:59"_s;
        QTest::newRow("hundred hours") << 0 << 0 << 100 << u"100:00:00"_s;
        QTest::newRow("largest hours") << 0 << 0 << 32767 << u"32767:00:00"_s;
        QTest::newRow("no carry") << 75 << 0 << 0 << u"00:00:75"_s;
        QTest::newRow("negative two characters") << -5 << 0 << 0 << u"00:00:-5"_s;
        QTest::newRow("negative minutes") << 0 << -12 << 0 << u"00:-12:00"_s;
    }

    void formatHms()
    {
        QFETCH(int, seconds);
        QFETCH(int, minutes);
        QFETCH(int, hours);
        QFETCH(QString, expected);
        QCOMPARE(FormatHms(static_cast<qint16>(seconds), static_cast<qint16>(minutes),
                           static_cast<qint16>(hours)),
                 expected);
        Duration d;
        d.seconds = static_cast<qint16>(seconds);
        d.minutes = static_cast<qint16>(minutes);
        d.hours = static_cast<qint16>(hours);
        QCOMPARE(FormatHms(d), expected);
    }

    void durationStepsOneSecond()
    {
        QCOMPARE(FormatHms(advanced({}, 59)), u"00:00:59"_s);
        QCOMPARE(FormatHms(advanced({}, 60)), u"00:01:00"_s);
        QCOMPARE(FormatHms(advanced({}, 3599)), u"00:59:59"_s);
        QCOMPARE(FormatHms(advanced({}, 3600)), u"01:00:00"_s);
        QCOMPARE(FormatHms(advanced({}, 3661)), u"01:01:01"_s);

        // Out-of-range seconds lose 59, as the step says.
        Duration d{60, 0, 0};
        AdvanceDuration(d);
        QCOMPARE(FormatHms(d), u"00:01:01"_s);

        // Hours stop at 32767; minutes still wrap.
        d = {59, 59, 32767};
        AdvanceDuration(d);
        QCOMPARE(FormatHms(d), u"32767:00:00"_s);
        // A counter that would overflow keeps its value; the rest still runs.
        d = {32767, 0, 0};
        AdvanceDuration(d);
        QCOMPARE(d.seconds, qint16(32708));
        QCOMPARE(d.minutes, qint16(1));
        d = {59, 32767, 0};
        AdvanceDuration(d);
        QCOMPARE(d.seconds, qint16(0));
        QCOMPARE(d.minutes, qint16(32767));
        QCOMPARE(d.hours, qint16(0));
        d = {58, 0, 0};
        AdvanceDuration(d);
        QCOMPARE(FormatHms(d), u"00:00:59"_s);
    }

    void clockTextsFollowTheFixedTime()
    {
        const QDateTime fixed(QDate(2026, 12, 6), QTime(21, 3, 4));
        SetFixedDateTime(fixed);
        QCOMPARE(CurrentDateTime(), fixed);
        // The time of day shows its seconds, whatever the system's format.
        const QString time = CurrentTimeText();
        QVERIFY2(time.contains(QRegularExpression(u"03\\D04"_s)), qPrintable(time));
        SetFixedDateTime(fixed.addSecs(1));
        QVERIFY(CurrentTimeText() != time);
        // The date in the system's short format reads back as that date.
        const QDate shown = QLocale::system().toDate(CurrentDateText(), QLocale::ShortFormat);
        QCOMPARE(shown.day(), 6);
        QCOMPARE(shown.month(), 12);
        // The text kept from one second to the next turns with the date.
        SetFixedDateTime(fixed.addDays(1));
        QCOMPARE(QLocale::system().toDate(CurrentDateText(), QLocale::ShortFormat).day(), 7);

        SetFixedDateTime(QDateTime());
        QVERIFY(qAbs(CurrentDateTime().secsTo(QDateTime::currentDateTime())) < 5);

        // The real clock's texts are those of the fixed clock set to the
        // same second (tried again should a second turn in between).
        for (int attempt = 0;; ++attempt) {
            const QDateTime before = QDateTime::currentDateTime();
            const QString liveDate = CurrentDateText();
            const QString liveTime = CurrentTimeText();
            const QDateTime after = QDateTime::currentDateTime();
            if (before.toSecsSinceEpoch() != after.toSecsSinceEpoch() && attempt < 5)
                continue;
            SetFixedDateTime(before);
            QCOMPARE(liveDate, CurrentDateText());
            QCOMPARE(liveTime, CurrentTimeText());
            SetFixedDateTime(QDateTime());
            break;
        }
    }

    void newLogHasHeaderAndRecordInZones()
    {
        QVERIFY(!QFileInfo::exists(m_log));
        AppendCallLog(u"06/12/26"_s, u"21:03:04"_s, u"21:05:10"_s, u"28800"_s);
        QCOMPARE(readBytes(m_log), Header + "06/12/26" + blanks(6) + "21:03:04" + blanks(6) +
                                       "21:05:10" + blanks(6) + "28800\r\n");
    }

    void zonesForEmptyAndLongFields()
    {
        AppendCallLog(QString(), QString(), QString(), QString());
        QCOMPARE(readBytes(m_log), Header + blanks(42) + "\r\n");

        // A field of 14 is followed by a whole zone of blanks; one of 20 by 8.
        AppendCallLog(u"ABCDEFGHIJKLMN"_s, u"x"_s, QString(20, u'y'), u"z"_s);
        QCOMPARE(readBytes(m_log), Header + "ABCDEFGHIJKLMN" + blanks(14) + "x" + blanks(13) +
                                       QByteArray(20, 'y') + blanks(8) + "z\r\n");

        // The last field is never padded.
        AppendCallLog(u"a"_s, u"b"_s, u"c"_s, u"speed   "_s);
        QCOMPARE(readBytes(m_log),
                 Header + "a" + blanks(13) + "b" + blanks(13) + "c" + blanks(13) + "speed   \r\n");
    }

    void everyCallLeavesOnlyTheLatestRecord()
    {
        AppendCallLog(u"06/12/26"_s, u"21:03:04"_s, u"21:05:10"_s, u"28800"_s);
        AppendCallLog(u"06/12/26"_s, u"21:03:04"_s, u"21:05:11"_s, u"28800"_s);
        QCOMPARE(readBytes(m_log), Header + "06/12/26" + blanks(6) + "21:03:04" + blanks(6) +
                                       "21:05:11" + blanks(6) + "28800\r\n");

        // A file of other text is replaced the same way.
        QVERIFY(writeBytes(m_log, "garbage, \"unclosed\nmore"));
        AppendCallLog(u"d"_s, u"s"_s, u"f"_s, u"c"_s);
        QCOMPARE(readBytes(m_log),
                 Header + "d" + blanks(13) + "s" + blanks(13) + "f" + blanks(13) + "c\r\n");
    }

    void quotedHeaderGetsTheRecordAppended()
    {
        const QByteArray quoted = "first line, kept\r\n\"" + Header.chopped(2) + "\"\r\n";
        QVERIFY(writeBytes(m_log, quoted));
        AppendCallLog(u"06/12/26"_s, u"21:03:04"_s, u"21:05:10"_s, u"28800"_s);
        const QByteArray record =
            "06/12/26" + blanks(6) + "21:03:04" + blanks(6) + "21:05:10" + blanks(6) + "28800\r\n";
        QCOMPARE(readBytes(m_log), quoted + record);

        // Leading blanks before the quote are skipped; a last line without its
        // end still gets the record on a line of its own.
        const QByteArray unterminated = "   \"" + Header.chopped(2) + "\"";
        QVERIFY(writeBytes(m_log, unterminated));
        AppendCallLog(u"06/12/26"_s, u"21:03:04"_s, u"21:05:10"_s, u"28800"_s);
        QCOMPARE(readBytes(m_log), unterminated + "\r\n" + record);

        // A last line ended by a lone CR gets no second line end.
        const QByteArray crEnded = "\"" + Header.chopped(2) + "\"\r";
        QVERIFY(writeBytes(m_log, crEnded));
        AppendCallLog(u"06/12/26"_s, u"21:03:04"_s, u"21:05:10"_s, u"28800"_s);
        QCOMPARE(readBytes(m_log), crEnded + record);

        // The header as this routine writes it, unquoted, never matches.
        QVERIFY(writeBytes(m_log, Header));
        AppendCallLog(u"a"_s, u"b"_s, u"c"_s, u"d"_s);
        QCOMPARE(readBytes(m_log).count(Header), 1);
    }

    void failuresKeepTheOldLog()
    {
        const QByteArray old = Header + "06/12/26" + blanks(6) + "21:03:04" + blanks(6) +
                               "21:05:10" + blanks(6) + "28800\r\n";
        QVERIFY(writeBytes(m_log, old));
        {
            // The new log cannot be written out in full.
            FileSizeLimit limit(static_cast<rlim_t>(Header.size()) + 10);
            QVERIFY(limit.active());
            AppendCallLog(u"07/12/26"_s, u"08:00:00"_s, u"08:00:01"_s, u"33600"_s);
        }
        QCOMPARE(readBytes(m_log), old);
        QCOMPARE(QDir(m_f.home().dataDir()).entryList(QDir::Files), QStringList{u"ilog.log"_s});

        // A log that is a folder can neither be read nor replaced.
        QVERIFY(QFile::remove(m_log));
        QVERIFY(QDir().mkpath(m_log));
        AppendCallLog(u"07/12/26"_s, u"08:00:00"_s, u"08:00:01"_s, u"33600"_s);
        QVERIFY(QFileInfo(m_log).isDir());
    }

    // The monitor writes the log every second: a log that cannot be written
    // is told once, with its path and the reason, and what is at its place
    // but is no file is neither waited on nor replaced.
    void unusableLogIsToldOnce()
    {
        StorageNotice::reset();
        const QByteArray path = QFile::encodeName(m_log);
        QCOMPARE(mkfifo(path.constData(), 0600), 0);
        QVERIFY(finishesInChild([] {
            for (int second = 0; second < 3; ++second)
                AppendCallLog(u"07/12/26"_s, u"08:00:00"_s, u"08:00:01"_s, u"33600"_s);
            const QStringList notices = StorageNotice::take();
            return notices.size() == 1 && notices.at(0).contains(u"not a regular file"_s);
        }));
        struct stat st
        {
        };
        QCOMPARE(lstat(path.constData(), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));

        // The log's folder cannot be made.
        QVERIFY(QDir(m_f.home().dataDir()).removeRecursively());
        QVERIFY(writeBytes(m_f.home().dataDir(), "a file where the folder goes"));
        for (int second = 0; second < 3; ++second)
            AppendCallLog(u"07/12/26"_s, u"08:00:00"_s, u"08:00:01"_s, u"33600"_s);
        const QStringList notices = StorageNotice::take();
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.at(0).contains(m_log) && notices.at(0).contains(u"Not a directory"_s),
                 qPrintable(notices.at(0)));
    }

    void folderTakenAwayBetweenTicksIsMadeAgain()
    {
        AppendCallLog(u"07/12/26"_s, u"08:00:00"_s, u"08:00:01"_s, u"33600"_s);
        QVERIFY(QDir(m_f.home().dataDir()).removeRecursively());
        AppendCallLog(u"07/12/26"_s, u"08:00:00"_s, u"08:00:02"_s, u"33600"_s);
        QCOMPARE(readBytes(m_log), Header + "07/12/26" + blanks(6) + "08:00:00" + blanks(6) +
                                       "08:00:02" + blanks(6) + "33600\r\n");
    }

    void readOnlyLogStaysAsItIs()
    {
        if (geteuid() == 0)
            QSKIP("file permissions do not bind the superuser");
        const QByteArray old = Header + blanks(42) + "\r\n";
        QVERIFY(writeBytes(m_log, old));
        QVERIFY(QFile::setPermissions(m_log, QFileDevice::ReadOwner));
        AppendCallLog(u"07/12/26"_s, u"08:00:00"_s, u"08:00:01"_s, u"33600"_s);
        QCOMPARE(readBytes(m_log), old);

        // Unreadable too: the reading ends at once and nothing changes.
        QVERIFY(QFile::setPermissions(m_log, {}));
        AppendCallLog(u"07/12/26"_s, u"08:00:00"_s, u"08:00:01"_s, u"33600"_s);
        QVERIFY(QFile::setPermissions(m_log, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QCOMPARE(readBytes(m_log), old);
    }

    // Every second's log reaches the reader whole, but only the end of a call
    // and the end of the program wait for the disk.
    void ticksWaitForTheDiskOnlyWhenFlushed()
    {
        const CallLogCounts before = CallLogCountsSoFar();
        const auto inode = [this] {
            struct stat st = {};
            return ::stat(QFile::encodeName(m_log).constData(), &st) == 0 ? st.st_ino : 0;
        };
        ino_t firstInode = 0;
        for (int second = 10; second < 40; ++second) {
            AppendCallLog(u"07/12/26"_s, u"08:00:00"_s, u"08:00:%1"_s.arg(second), u"33600"_s);
            QCOMPARE(readBytes(m_log), Header + "07/12/26" + blanks(6) + "08:00:00" + blanks(6) +
                                           "08:00:" + QByteArray::number(second) + blanks(6) +
                                           "33600\r\n");
            // A record of the same length overwrites the file where it stands.
            if (second == 10)
                firstInode = inode();
            QCOMPARE(inode(), firstInode);
        }
        QCOMPARE(CallLogCountsSoFar().syncs, before.syncs);
        QCOMPARE(QDir(m_f.home().dataDir()).entryList(QDir::Files), QStringList{u"ilog.log"_s});

        const QByteArray last = readBytes(m_log);
        FlushCallLog();
        QCOMPARE(CallLogCountsSoFar().syncs, before.syncs + 1);
        QCOMPARE(readBytes(m_log), last);
        FlushCallLog();
        QCOMPARE(CallLogCountsSoFar().syncs, before.syncs + 1);

        // A log someone else wrote since is theirs: nothing to flush.
        AppendCallLog(u"07/12/26"_s, u"08:00:00"_s, u"08:01:00"_s, u"33600"_s);
        QVERIFY(writeBytes(m_log, "theirs"));
        FlushCallLog();
        QCOMPARE(CallLogCountsSoFar().syncs, before.syncs + 1);
        QCOMPARE(readBytes(m_log), QByteArray("theirs"));
    }

    // The old log is looked at only when it changed since this program wrote
    // it: after a huge one, later seconds read nothing.
    void oldLogReadOnlyWhenItChanged()
    {
        {
            QFile huge(m_log);
            QVERIFY(huge.open(QIODevice::WriteOnly));
            QVERIFY(huge.resize(qint64{64} << 20));
        }
        const QByteArray record = "d" + blanks(13) + "s" + blanks(13) + "f" + blanks(13) + "c\r\n";
        const qint64 reads = CallLogCountsSoFar().reads;
        for (int second = 0; second < 5; ++second)
            AppendCallLog(u"d"_s, u"s"_s, u"f"_s, u"c"_s);
        QCOMPARE(CallLogCountsSoFar().reads, reads + 1);
        QCOMPARE(readBytes(m_log), Header + record);

        // A change of any size, in place or by a new file, is seen.
        const QByteArray quoted = "\"" + Header.chopped(2) + "\"\r\n";
        QVERIFY(writeBytes(m_log, quoted));
        AppendCallLog(u"d"_s, u"s"_s, u"f"_s, u"c"_s);
        QCOMPARE(readBytes(m_log), quoted + record);
        AppendCallLog(u"d"_s, u"s"_s, u"f"_s, u"c"_s);
        QCOMPARE(readBytes(m_log), Header + record);
        QCOMPARE(CallLogCountsSoFar().reads, reads + 2);

        QThread::msleep(30);
        QByteArray sameSize = readBytes(m_log);
        sameSize.replace("c\r\n", "X\r\n");
        QVERIFY(writeBytes(m_log, sameSize));
        AppendCallLog(u"d"_s, u"s"_s, u"f"_s, u"c"_s);
        QCOMPARE(CallLogCountsSoFar().reads, reads + 3);
        QCOMPARE(readBytes(m_log), Header + record);

        QThread::msleep(30);
        const QString other = m_f.home().dataDir() + u"/other.log"_s;
        QVERIFY(writeBytes(other, quoted));
        QVERIFY(QFile::remove(m_log) && QFile::rename(other, m_log));
        AppendCallLog(u"d"_s, u"s"_s, u"f"_s, u"c"_s);
        QCOMPARE(readBytes(m_log), quoted + record);
    }

    // The log is replaced as a whole, yet a link stays a link and the file
    // keeps its permissions.
    void replacementKeepsLinkAndPermissions()
    {
        const QString target = m_f.home().dataDir() + u"/elsewhere.log"_s;
        QVERIFY(writeBytes(target, "old"));
        QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadGroup));
        QVERIFY(QFile::link(target, m_log));
        AppendCallLog(u"d"_s, u"s"_s, u"f"_s, u"c"_s);
        QVERIFY(QFileInfo(m_log).isSymLink());
        const QByteArray expected =
            Header + "d" + blanks(13) + "s" + blanks(13) + "f" + blanks(13) + "c\r\n";
        QCOMPARE(readBytes(target), expected);
        struct stat st
        {
        };
        QCOMPARE(stat(QFile::encodeName(target).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t{0640});
        FlushCallLog();
        QVERIFY(QFileInfo(m_log).isSymLink());
        QCOMPARE(readBytes(target), expected);
        QCOMPARE(QDir(m_f.home().dataDir()).entryList(QDir::Files | QDir::System).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestCallLog)
#include "test_call_log.moc"
