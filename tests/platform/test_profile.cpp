// Private-profile files: reading with the system's matching rules, and writes
// that change only what they must and never lose the rest of the file.

#include "platform/core/bounded_read.h"
#include "platform/profile.h"
#include "support/child_limits.h"
#include "support/file_size_limit.h"
#include "support/fixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A value read through the system's call, with the count it returned.
struct Read
{
    QByteArray text;
    DWORD count = 0;
};

Read readValue(const QString &file, const char *section, const char *key, const char *fallback = "",
               DWORD size = 255)
{
    QByteArray buffer(static_cast<qsizetype>(size) + 8, '#');
    const QByteArray path = QFile::encodeName(file);
    Read r;
    r.count =
        GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, path.constData());
    r.text = buffer.left(static_cast<qsizetype>(size));
    return r;
}

BOOL write(const QString &file, const char *section, const char *key, const char *value)
{
    const QByteArray path = QFile::encodeName(file);
    return WritePrivateProfileStringA(section, key, value, path.constData());
}

// Permission bits that do not depend on who runs the test.
constexpr int OwnerGroupOther = 0x7077;

// A reader that waits forever or reads without end fails (killed, or out of
// its memory) instead of stopping the whole test.
constexpr ChildLimits ReaderLimits{.milliseconds = 2000, .addressSpace = rlim_t{1} << 30};

const QByteArray Sample = "; Vantelo settings\r\n"
                          "[INFO]\r\n"
                          "  Login1 =  bob  \r\n"
                          "Password1=\"  pa=ss  \"\r\n"
                          "Odd line without equals sign\r\n"
                          "Unknown=keep me\r\n"
                          "\r\n"
                          "; connection settings follow\r\n"
                          "[CONNECTION]\r\n"
                          "TypeNumerotation=1\r\n";

// The sample with `from` replaced by `to`.
QByteArray sampleWith(const QByteArray &from, const QByteArray &to)
{
    QByteArray text = Sample;
    return text.replace(from, to);
}

} // namespace

class TestProfile final : public FixtureTest
{
    Q_OBJECT

private:
    QString m_file;

    void setUpCase() override { m_file = m_f.home().path() + u"/settings/test.ini"_s; }

private slots:
    void readsValuesWithTheSystemsRules_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char *name, const QByteArray &section, const QByteArray &key,
                            const QByteArray &expected) {
            QTest::newRow(name) << section << key << expected;
        };
        row("blanks trimmed", "INFO", "Login1", "bob");
        row("case-insensitive", "info", "LOGIN1", "bob");
        row("one pair of quotes removed", "Info", "password1", "  pa=ss  ");
        row("other section", "connection", "TypeNumerotation", "1");
        row("missing key", "INFO", "Numero1", "dflt");
        row("key of another section", "INFO", "TypeNumerotation", "dflt");
        row("missing section", "GENERAL", "Test", "dflt");
        row("comment is no key", "INFO", "; connection settings follow", "dflt");
    }

    void readsValuesWithTheSystemsRules()
    {
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, expected);
        QVERIFY(writeBytes(m_file, Sample));
        Read r = readValue(m_file, section.constData(), key.constData(), "dflt  ");
        QCOMPARE(QByteArray(r.text.constData()), expected);
        QCOMPARE(r.count, static_cast<DWORD>(expected.size()));

        // The same with LF line ends, and after a byte order mark.
        QByteArray lf = Sample;
        lf.replace("\r\n", "\n");
        QByteArray marked = Sample;
        marked.replace("; Vantelo settings\r\n", "\xEF\xBB\xBF");
        for (const QByteArray &variant : {lf, marked}) {
            QVERIFY(writeBytes(m_file, variant));
            r = readValue(m_file, section.constData(), key.constData(), "dflt");
            QCOMPARE(QByteArray(r.text.constData()), expected);
        }
    }

    void missingFileAndNullDefault()
    {
        Read r = readValue(m_file, "INFO", "Login1", "fallback");
        QCOMPARE(QByteArray(r.text.constData()), "fallback"_ba);
        QCOMPARE(r.count, 8u);
        r = readValue(m_file, "INFO", "Login1", nullptr);
        QCOMPARE(r.text.at(0), '\0');
        QCOMPARE(r.count, 0u);
        QVERIFY(!QFileInfo::exists(m_file));
    }

    void cutsToTheBuffer()
    {
        QVERIFY(writeBytes(m_file, "[S]\r\nK=abcdefghij\r\n"));
        Read r = readValue(m_file, "S", "K", "", 5);
        QCOMPARE(r.text, QByteArray("abcd\0", 5));
        QCOMPARE(r.count, 4u);
        r = readValue(m_file, "S", "K", "", 1);
        QCOMPARE(r.text.at(0), '\0');
        QCOMPARE(r.count, 0u);
        // The default is cut the same way.
        r = readValue(m_file, "S", "missing", "0123456789", 4);
        QCOMPARE(r.text, QByteArray("012\0", 4));
        QCOMPARE(r.count, 3u);
        // Nothing is written past the buffer.
        char guard[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
        const QByteArray path = QFile::encodeName(m_file);
        QCOMPARE(GetPrivateProfileStringA("S", "K", "", guard, 3, path.constData()), 2u);
        QCOMPARE(QByteArray(guard, 8), QByteArray("ab\0xxxxx", 8));
    }

    void listsSectionsAndKeys()
    {
        QVERIFY(writeBytes(m_file, Sample));
        Read r = readValue(m_file, nullptr, nullptr);
        QCOMPARE(r.text.left(r.count + 1), QByteArray("INFO\0CONNECTION\0\0", 17));
        QCOMPARE(r.count, 16u);

        r = readValue(m_file, "info", nullptr);
        const QByteArray keys("Login1\0Password1\0Odd line without equals sign\0Unknown\0\0", 55);
        QCOMPARE(r.text.left(r.count + 1), keys);
        QCOMPARE(r.count, 54u);

        // A list that does not fit is cut and still ends with two NULs.
        r = readValue(m_file, nullptr, nullptr, "", 8);
        QCOMPARE(r.text, QByteArray("INFO\0C\0\0", 8));
        QCOMPARE(r.count, 6u);

        r = readValue(m_file, "nowhere", nullptr);
        QCOMPARE(r.text.left(2), QByteArray("\0\0", 2));
        QCOMPARE(r.count, 0u);
    }

    void replacesInPlaceKeepingEveryOtherLine()
    {
        QVERIFY(writeBytes(m_file, Sample));
        QVERIFY(write(m_file, "info", "LOGIN1", "alice"));
        const QByteArray expected = sampleWith("  Login1 =  bob  \r\n", "Login1=alice\r\n");
        QCOMPARE(readBytes(m_file), expected);
        QCOMPARE(QByteArray(readValue(m_file, "INFO", "Login1").text.constData()), "alice"_ba);

        // The same value again leaves the file as it is.
        QVERIFY(write(m_file, "INFO", "Login1", "alice"));
        QCOMPARE(readBytes(m_file), expected);
    }

    void valuesComeBackExactlyAsWritten_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("line");
        const auto row = [](const char *name, const QByteArray &value, const QByteArray &line) {
            QTest::newRow(name) << value << line;
        };
        row("plain", "pa ss", "Password1=pa ss");
        row("leading and trailing blanks", "  pw ", "Password1=\"  pw \"");
        row("own quotes", "\"pw\"", "Password1=\"\"pw\"\"");
        row("one quote", "\"pw", "Password1=\"pw");
        row("empty", QByteArray(), "Password1=");
    }

    void valuesComeBackExactlyAsWritten()
    {
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, line);
        QVERIFY(write(m_file, "INFO", "Password1", value.constData()));
        QCOMPARE(readBytes(m_file), "[INFO]\r\n"_ba + line + "\r\n");
        QCOMPARE(QByteArray(readValue(m_file, "INFO", "Password1").text.constData()), value);
    }

    void addsKeyAtTheEndOfItsSection()
    {
        QVERIFY(writeBytes(m_file, Sample));
        QVERIFY(write(m_file, "INFO", "AutoConnect", "1"));
        const QByteArray expected =
            sampleWith("Unknown=keep me\r\n", "Unknown=keep me\r\nAutoConnect=1\r\n");
        QCOMPARE(readBytes(m_file), expected);

        // The last section, ending without a line end.
        QVERIFY(writeBytes(m_file, "[A]\nx=1\n\n[B]\ny=2"));
        QVERIFY(write(m_file, "b", "z", "3"));
        QVERIFY(write(m_file, "A", "w", "0"));
        QCOMPARE(readBytes(m_file), "[A]\nx=1\nw=0\n\n[B]\ny=2\nz=3\n"_ba);

        // A section with no key yet.
        QVERIFY(writeBytes(m_file, "[A]\r\n\r\n[B]\r\n"));
        QVERIFY(write(m_file, "A", "k", "v"));
        QCOMPARE(readBytes(m_file), "[A]\r\nk=v\r\n\r\n[B]\r\n"_ba);
    }

    void addsSectionAtTheEndOfTheFile()
    {
        QVERIFY(writeBytes(m_file, Sample));
        QVERIFY(write(m_file, "GENERAL", "Test", "5"));
        QCOMPARE(readBytes(m_file), Sample + "[GENERAL]\r\nTest=5\r\n");

        // An LF file keeps LF; a last line without its end gets one.
        QVERIFY(writeBytes(m_file, "[A]\nx=1"));
        QVERIFY(write(m_file, "B", "y", "2"));
        QCOMPARE(readBytes(m_file), "[A]\nx=1\n[B]\ny=2\n"_ba);
    }

    void createsFileAndFolderForTheOwnerOnly()
    {
        QVERIFY(!QFileInfo::exists(QFileInfo(m_file).absolutePath()));
        QVERIFY(write(m_file, "INFO", "Password1", "s3cret"));
        QCOMPARE(readBytes(m_file), "[INFO]\r\nPassword1=s3cret\r\n"_ba);
        QCOMPARE(QFile::permissions(m_file) & OwnerGroupOther,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);

        // Deleting from a missing file creates nothing.
        const QString other = m_f.home().path() + u"/other.ini"_s;
        QVERIFY(write(other, "INFO", "Login1", nullptr));
        QVERIFY(write(other, "INFO", nullptr, nullptr));
        QVERIFY(!QFileInfo::exists(other));
    }

    void everyWriteLeavesTheFileToItsOwner()
    {
        // A file shared with the group and others loses that access at the
        // first write; the owner keeps its own.
        QVERIFY(writeBytes(m_file, Sample));
        const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        QVERIFY(QFile::setPermissions(m_file, owner | QFileDevice::ReadGroup |
                                                  QFileDevice::WriteGroup |
                                                  QFileDevice::ReadOther));
        QVERIFY(write(m_file, "INFO", "Password1", "s3cret"));
        QCOMPARE(QFile::permissions(m_file) & OwnerGroupOther, owner);

        // A link the user made is followed: its target takes the new text and
        // becomes the owner's alone, and the link stays a link.
        const QString target = m_f.home().path() + u"/dotfiles/test.ini"_s;
        QVERIFY(writeBytes(target, Sample));
        QVERIFY(QFile::setPermissions(target, owner | QFileDevice::ReadOther));
        QVERIFY(QFile::remove(m_file));
        QVERIFY(QFile::link(target, m_file));
        QVERIFY(write(m_file, "INFO", "Login1", "carol"));
        QVERIFY(QFileInfo(m_file).isSymLink());
        QCOMPARE(QByteArray(readValue(target, "INFO", "Login1").text.constData()), "carol"_ba);
        QCOMPARE(QFile::permissions(target) & OwnerGroupOther, owner);
    }

    void deletesKeysAndSections()
    {
        QByteArray withDuplicate = Sample;
        withDuplicate.replace("Unknown=keep me\r\n", "Unknown=keep me\r\nlogin1=old copy\r\n");
        QVERIFY(writeBytes(m_file, withDuplicate));
        QVERIFY(write(m_file, "INFO", "Login1", nullptr));
        const QByteArray expected = sampleWith("  Login1 =  bob  \r\n", "");
        QCOMPARE(readBytes(m_file), expected);
        QCOMPARE(QByteArray(readValue(m_file, "INFO", "Login1", "gone").text.constData()),
                 "gone"_ba);

        QVERIFY(write(m_file, "info", nullptr, nullptr));
        QCOMPARE(readBytes(m_file),
                 "; Vantelo settings\r\n[CONNECTION]\r\nTypeNumerotation=1\r\n"_ba);
    }

    void refusesNamesThatReadBackAsSomethingElse()
    {
        // A byte order mark is skipped where a line starts, so a key starting
        // with one and a bracket would come back as a section of its own.
        QVERIFY(writeBytes(m_file, Sample));
        QVERIFY(!write(m_file, "INFO", "\xEF\xBB\xBF[EVIL]", "x"));
        QVERIFY(!write(m_file, "INFO", "\xEF\xBB\xBF;Login1", "x"));
        QCOMPARE(readBytes(m_file), Sample);

        // A file that starts with the mark still reads and keeps it.
        QVERIFY(writeBytes(m_file, "\xEF\xBB\xBF[INFO]\r\nLogin1=bob\r\n"));
        QCOMPARE(QByteArray(readValue(m_file, "INFO", "Login1").text.constData()), "bob"_ba);
        QVERIFY(write(m_file, "INFO", "Number1", "0860"));
        QCOMPARE(readBytes(m_file), "\xEF\xBB\xBF[INFO]\r\nLogin1=bob\r\nNumber1=0860\r\n"_ba);

        // Bytes that are no text do not all stand for the same key.
        QVERIFY(writeBytes(m_file, "[S]\n\xff=first\n"));
        QVERIFY(write(m_file, "S", "\xfe", "second"));
        QCOMPARE(QByteArray(readValue(m_file, "S", "\xff").text.constData()), "first"_ba);
        QCOMPARE(QByteArray(readValue(m_file, "S", "\xfe").text.constData()), "second"_ba);
        QVERIFY(write(m_file, "S\xe6", "Key", "cut"));
        QCOMPARE(QByteArray(readValue(m_file, "S", "Key").text.constData()), ""_ba);
    }

    void refusesTextsThatWouldBreakLines()
    {
        QVERIFY(writeBytes(m_file, Sample));
        QVERIFY(!write(m_file, "INFO", "Login1", "bob\r\nAutoConnect=1"));
        QVERIFY(!write(m_file, "INFO", "Auto\nConnect", "1"));
        QVERIFY(!write(m_file, "IN]FO", "Login1", "x"));
        QVERIFY(!write(m_file, "INFO", "Lo=gin", "x"));
        QCOMPARE(readBytes(m_file), Sample);
    }

    void failedWriteLeavesTheOldFileWhole()
    {
        QVERIFY(writeBytes(m_file, Sample));
        {
            // The new text cannot be written out in full.
            FileSizeLimit limit(static_cast<rlim_t>(Sample.size()) + 4);
            QVERIFY(limit.active());
            QVERIFY(
                !write(m_file, "GENERAL", "jouerFichierWav", "/usr/share/sounds/connected.wav"));
        }
        QCOMPARE(readBytes(m_file), Sample);
        // No temporary file is left beside it.
        QCOMPARE(QDir(QFileInfo(m_file).absolutePath()).entryList(QDir::Files),
                 QStringList{u"test.ini"_s});
    }

    // Something other than a regular file, or a file far larger than any
    // settings file, is never read (no wait, no read without end), reads as
    // the defaults with a reason, and is never replaced by a write.
    void unusableFilesAreNeitherReadNorReplaced_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("named pipe") << u"fifo"_s;
        QTest::newRow("endless device") << u"device"_s;
        QTest::newRow("folder") << u"folder"_s;
        QTest::newRow("larger than 1 MiB") << u"large"_s;
    }

    void unusableFilesAreNeitherReadNorReplaced()
    {
        QFETCH(QString, kind);
        QVERIFY(QDir().mkpath(QFileInfo(m_file).absolutePath()));
        const QByteArray path = QFile::encodeName(m_file);
        const QByteArray large = "[INFO]\nLogin1=bob\n; " + QByteArray(2 << 20, 'x') + '\n';
        if (kind == u"fifo"_s)
            QCOMPARE(mkfifo(path.constData(), 0600), 0);
        else if (kind == u"device"_s)
            QVERIFY(QFile::link(u"/dev/zero"_s, m_file));
        else if (kind == u"folder"_s)
            QVERIFY(QDir().mkpath(m_file));
        else
            QVERIFY(writeBytes(m_file, large));

        QVERIFY(finishesInChild(
            [this] {
                return readValue(m_file, "INFO", "Login1", "none").text.startsWith("none") &&
                       !write(m_file, "INFO", "Login1", "mallory");
            },
            ReaderLimits));
        const QFileInfo after(m_file);
        if (kind == u"fifo"_s) {
            struct stat st
            {
            };
            QCOMPARE(lstat(path.constData(), &st), 0);
            QVERIFY(S_ISFIFO(st.st_mode));
        } else if (kind == u"device"_s) {
            QCOMPARE(after.symLinkTarget(), u"/dev/zero"_s);
        } else if (kind == u"folder"_s) {
            QVERIFY(after.isDir());
        } else {
            QCOMPARE(readBytes(m_file), large);
        }
    }

    void boundedReadTakesAFileOfExactlyTheLimit()
    {
        const QString file = m_f.home().path() + u"/file"_s;
        QVERIFY(writeBytes(file, "12345"));
        QCOMPARE(platform::readBounded(file, 5).data, "12345"_ba);
        const platform::BoundedRead over = platform::readBounded(file, 4);
        QCOMPARE(over.status, platform::BoundedRead::Status::TooLarge);
        QVERIFY(over.data.isEmpty());
        QCOMPARE(over.reason, u"larger than 4 bytes"_s);
    }

    void sameLengthRewriteOnlyOfTheFileAsItWasLeft()
    {
        const QString file = m_f.home().path() + u"/log"_s;
        QVERIFY(writeBytes(file, "old 1"));
        platform::FileStamp stamp = platform::fileStamp(file);
        QVERIFY(stamp.file);
        QCOMPARE(stamp.size, 5);

        platform::FileStamp after;
        QVERIFY(platform::rewriteSameLength(file, stamp, "old 1", "new 2", &after));
        QCOMPARE(readBytes(file), "new 2"_ba);
        QCOMPARE(after, platform::fileStamp(file));

        // Other bytes than those expected, another stamp, another length: untouched.
        QVERIFY(!platform::rewriteSameLength(file, after, "old 1", "new 3", &after));
        platform::FileStamp touched = after;
        touched.modifiedNs += 1;
        QVERIFY(!platform::rewriteSameLength(file, touched, "new 2", "new 3", &after));
        QVERIFY(!platform::rewriteSameLength(file, after, "new 2", "new 33", &after));
        QCOMPARE(readBytes(file), "new 2"_ba);

        // Replaced by another file of the same bytes: not the file that was left.
        const QString other = m_f.home().path() + u"/other"_s;
        QVERIFY(writeBytes(other, "new 2"));
        QVERIFY(QFile::remove(file) && QFile::rename(other, file));
        QVERIFY(!platform::rewriteSameLength(file, after, "new 2", "new 3", &after));

        // A named pipe in its place is not waited on.
        QVERIFY(QFile::remove(file));
        QCOMPARE(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        QVERIFY(finishesInChild(
            [&] { return !platform::rewriteSameLength(file, after, "new 2", "new 3", &after); },
            ReaderLimits));
    }

    void unwritableFolderOrUnreadableFile()
    {
        if (geteuid() == 0)
            QSKIP("file permissions do not bind the superuser");
        QVERIFY(writeBytes(m_file, Sample));
        const QString folder = QFileInfo(m_file).absolutePath();
        const auto folderPermissions = QFile::permissions(folder);
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        const BOOL written = write(m_file, "INFO", "Login1", "mallory");
        QFile::setPermissions(folder, folderPermissions);
        QVERIFY(!written);
        QCOMPARE(readBytes(m_file), Sample);

        // A file that cannot be read is not replaced by one holding only the new key.
        QVERIFY(QFile::setPermissions(m_file, QFileDevice::WriteOwner));
        QVERIFY(!write(m_file, "INFO", "Login1", "mallory"));
        QVERIFY(QFile::setPermissions(m_file, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QCOMPARE(readBytes(m_file), Sample);
    }

    // The limits the tests above rely on: only a step that ends in time,
    // within its memory and with success passes.
    void childLimitsPassOnlyWhatEndsWell()
    {
        QVERIFY(finishesInChild([] { return true; }, ReaderLimits));
        QVERIFY(!finishesInChild([] { return false; }, ReaderLimits));

        QElapsedTimer clock;
        clock.start();
        QVERIFY(!finishesInChild(
            []() -> bool {
                for (;;)
                    pause();
            },
            {.milliseconds = 200}));
        QVERIFY(clock.elapsed() < 1500);

#if !defined(__SANITIZE_ADDRESS__)
        const auto allocates = [] {
            void *volatile block = std::malloc(std::size_t{2} << 30);
            const bool got = block != nullptr;
            std::free(block);
            return got;
        };
        QVERIFY(finishesInChild(allocates));
        QVERIFY(!finishesInChild(allocates, ReaderLimits));
#endif

        // A child reaped by someone else has not passed.
        const auto previous = std::signal(SIGCHLD, SIG_IGN);
        const bool passed = finishesInChild([] { return false; }, ReaderLimits);
        std::signal(SIGCHLD, previous);
        QVERIFY(!passed);
    }
};

QTEST_GUILESS_MAIN(TestProfile)
#include "test_profile.moc"
