// The settings file: where it lives, and values read and written through it.

#include "platform/ansi.h"
#include "services/ini.h"
#include "services/storage_notice.h"
#include "support/fixture.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace Qt::StringLiterals;

class TestSettingsFile final : public FixtureTest
{
    Q_OBJECT

private slots:
    void pathFollowsTheProgramFolderOnEveryCall()
    {
        QCOMPARE(IniPath(Settings::FileBase), m_f.home().configDir() + u"/test.ini"_s);
        WriteIniValue(Settings::FileBase, Settings::Info, Settings::Login, u"bob"_s);
        QVERIFY(QFileInfo::exists(m_f.home().configDir() + u"/test.ini"_s));

        // Nothing is cached: another home gives another file.
        TemporaryHome other;
        QCOMPARE(IniPath(Settings::FileBase), other.configDir() + u"/test.ini"_s);
        QCOMPARE(ReadIniValue(Settings::FileBase, Settings::Info, Settings::Login), QString());
        WriteIniValue(Settings::FileBase, Settings::Info, Settings::Login, u"carol"_s);
        QCOMPARE(readBytes(other.configDir() + u"/test.ini"_s), "[INFO]\r\nLogin1=carol\r\n"_ba);
    }

    void valuesComeBackAsWritten()
    {
        QCOMPARE(ReadIniValue(Settings::FileBase, Settings::Info, Settings::Password), QString());
        const QString password = u"p=ss;wörd \"x\" #1"_s;
        WriteIniValue(Settings::FileBase, Settings::Info, Settings::Password, password);
        WriteIniValue(Settings::FileBase, Settings::General, Settings::RedialPeriod, u"5"_s);
        QCOMPARE(ReadIniValue(Settings::FileBase, Settings::Info, Settings::Password), password);
        QCOMPARE(ReadIniValue(Settings::FileBase, u"general"_s, u"TEST"_s), u"5"_s);

        // The file holds a password: it is the owner's alone.
        QCOMPARE(QFile::permissions(IniPath(Settings::FileBase)) & 0x7077,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);

        // Another spelling of the same key replaces the value, not adds a key.
        WriteIniValue(Settings::FileBase, u"info"_s, u"PASSWORD1"_s, u"new"_s);
        QCOMPARE(ReadIniValue(Settings::FileBase, Settings::Info, Settings::Password), u"new"_s);
        QCOMPARE(readBytes(IniPath(Settings::FileBase)),
                 "[INFO]\r\nPassword1=new\r\n[GENERAL]\r\nTest=5\r\n"_ba);
    }

    void longValuesAreCutTo254()
    {
        const QString value = QString(300, u'x');
        WriteIniValue(Settings::FileBase, Settings::General, Settings::SoundFile, value);
        QCOMPARE(readBytes(IniPath(Settings::FileBase)),
                 "[GENERAL]\r\njouerFichierWav=" + QByteArray(300, 'x') + "\r\n");
        QCOMPARE(ReadIniValue(Settings::FileBase, Settings::General, Settings::SoundFile),
                 QString(254, u'x'));

        // A cut through a two-byte character (UTF-8 system code page) drops
        // that character whole.
        if (platform::toAnsi(u"é"_s).size() != 2)
            return;
        const QString accented = QString(253, u'a') + u"é"_s;
        WriteIniValue(Settings::FileBase, Settings::General, Settings::SoundFile, accented);
        QCOMPARE(ReadIniValue(Settings::FileBase, Settings::General, Settings::SoundFile),
                 QString(253, u'a'));
    }

    // Problems with the file are told once per file, with its path and the
    // reason, however often it is read or saved afterwards.
    void problemsAreToldOncePerFile()
    {
        StorageNotice::reset();
        int heard = 0;
        StorageNotice::setListener([&heard] { ++heard; });

        // Far too large to be a settings file: not read, and left as it is.
        const QString ini = IniPath(Settings::FileBase);
        const QByteArray large = "[INFO]\r\nLogin1=bob\r\n;" + QByteArray(2 << 20, 'x') + "\r\n";
        QVERIFY(writeBytes(ini, large));
        QCOMPARE(ReadIniValue(Settings::FileBase, Settings::Info, Settings::Login), QString());
        QCOMPARE(ReadIniValue(Settings::FileBase, Settings::Info, Settings::Login), QString());
        WriteIniValue(Settings::FileBase, Settings::Info, Settings::Login, u"carol"_s);
        QCOMPARE(readBytes(ini), large);
        QStringList notices = StorageNotice::take();
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.at(0).contains(ini) && notices.at(0).contains(u"larger than 1 MiB"_s),
                 qPrintable(notices.at(0)));
        QCOMPARE(heard, 1);

        // A folder that cannot be made: every save fails; the first says why.
        TemporaryHome other;
        QVERIFY(writeBytes(other.configDir(), "a file where the folder goes"));
        for (int second = 0; second < 3; ++second)
            WriteIniValue(Settings::FileBase, Settings::Info, Settings::Login, u"carol"_s);
        notices = StorageNotice::take();
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.at(0).contains(IniPath(Settings::FileBase)) &&
                     notices.at(0).contains(u"Not a directory"_s),
                 qPrintable(notices.at(0)));
        QCOMPARE(heard, 2);

        // A listener installed later hears at once of what is waiting.
        StorageNotice::setListener({});
        StorageNotice::reset();
        WriteIniValue(Settings::FileBase, Settings::Info, Settings::Login, u"carol"_s);
        StorageNotice::setListener([&heard] { ++heard; });
        QCOMPARE(heard, 3);
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "test_settings_file.moc"
