// The one writer every kept file goes through: what it does with a link, with
// the permissions of the file it replaces, with a file it may not write, and
// that it leaves nothing behind; with and without waiting for the disk, and
// with links replaced rather than followed.

#include "platform/save_file.h"
#include "support/fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class TestSaveFile final : public FixtureTest
{
    Q_OBJECT

    // The names in the folder: the file written and nothing else.
    QStringList entries()
    {
        return QDir(m_f.home().path()).entryList(QDir::Files | QDir::System | QDir::Hidden);
    }

private slots:
    void rules_data() { addBoolRows("onDisk", "on disk", "written back later"); }

    void rules()
    {
        QFETCH(bool, onDisk);
        const QString target = m_f.home().path() + u"/target.txt"_s;
        const QString link = m_f.home().path() + u"/link.txt"_s;
        QVERIFY(writeBytes(target, "old"));
        QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadGroup));
        QVERIFY(QFile::link(target, link));

        // Through a link: the link stays, its target gets the bytes and keeps
        // its permissions.
        QString error;
        QVERIFY2(platform::replaceFile(link, "new", {.permissions = std::nullopt, .onDisk = onDisk},
                                       &error),
                 qPrintable(error));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(readBytes(target), QByteArray("new"));
        QVERIFY(QFile::permissions(target) & QFileDevice::ReadGroup);

        // Permissions given are the new file's, whatever the old one had.
        const QFileDevice::Permissions owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        QVERIFY(platform::replaceFile(target, "private", {.permissions = owner, .onDisk = onDisk},
                                      &error));
        QCOMPARE(readBytes(target), QByteArray("private"));
        QVERIFY(!(QFile::permissions(target) & QFileDevice::ReadGroup));
        QCOMPARE(entries(), QStringList({u"link.txt"_s, u"target.txt"_s}));

        // A file that may not be written is left as it is (the superuser may
        // write it all the same).
        if (::geteuid() != 0) {
            QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner));
            QVERIFY(!platform::replaceFile(
                target, "refused", {.permissions = std::nullopt, .onDisk = onDisk}, &error));
            QVERIFY(!error.isEmpty());
            QCOMPARE(readBytes(target), QByteArray("private"));
            QCOMPARE(entries(), QStringList({u"link.txt"_s, u"target.txt"_s}));
        }
    }

    // Links not followed: whatever the name was, a link included, is replaced
    // and never written through, and the file written is named.
    void linkNotFollowed_data() { rules_data(); }

    void linkNotFollowed()
    {
        QFETCH(bool, onDisk);
        const QString target = m_f.home().path() + u"/target.txt"_s;
        const QString link = m_f.home().path() + u"/link.txt"_s;
        QVERIFY(writeBytes(target, "old"));
        QVERIFY(QFile::link(target, link));
        const QFileDevice::Permissions owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        const platform::ReplaceRules rules{
            .permissions = owner, .onDisk = onDisk, .followLinks = false};

        QString error;
        platform::FileIdentity written;
        QVERIFY2(platform::replaceFile(link, "new", rules, &error, &written), qPrintable(error));
        QVERIFY(!QFileInfo(link).isSymLink());
        QCOMPARE(readBytes(link), QByteArray("new"));
        QCOMPARE(readBytes(target), QByteArray("old"));
        QCOMPARE(QFile::permissions(link) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                 owner);
        struct stat st = {};
        QVERIFY(::lstat(QFile::encodeName(link).constData(), &st) == 0);
        QCOMPARE(written.device, quint64(st.st_dev));
        QCOMPARE(written.inode, quint64(st.st_ino));

        // A file of its own that may not be written is replaced all the same.
        QVERIFY(QFile::setPermissions(link, QFileDevice::ReadOwner));
        QVERIFY2(platform::replaceFile(link, "again", rules, &error), qPrintable(error));
        QCOMPARE(readBytes(link), QByteArray("again"));
        QCOMPARE(entries(), QStringList({u"link.txt"_s, u"target.txt"_s}));
    }
};

QTEST_GUILESS_MAIN(TestSaveFile)
#include "test_save_file.moc"
