// After connecting: applications started, the sound played, and the file
// dialog that picks the sound, seen through the platform's seams.

#include "engine/globals.h"
#include "platform/seams.h"
#include "services/post_connect.h"
#include "support/fixture.h"

#include <QTest>

using namespace Qt::StringLiterals;
namespace seams = platform::seams;

namespace {

const QString SoundFilter = u"Wave sounds (*.wav)"_s + QChar(0) + u"*.wav"_s + QChar(0) +
                            u"All files (*.*)"_s + QChar(0) + u"*.*"_s + QChar(0);

} // namespace

class TestPostConnect final : public FixtureTest
{
    Q_OBJECT

private slots:
    void launchStartsTheListedApplications()
    {
        AppLaunchList[0] = u"mailer --check"_s;
        AppLaunchList[1] = u"\"/opt/news reader/bin/reader\" -q"_s;
        AppLaunchList[2] = u"never started"_s;

        // The count says how many entries are in use; 0 or less starts nothing.
        LaunchAfterConnect();
        AppLaunchCount = -1;
        LaunchAfterConnect();
        QVERIFY(seams::programStartCalls().isEmpty());

        AppLaunchCount = 2;
        LaunchAfterConnect();
        const auto &calls = seams::programStartCalls();
        QCOMPARE(calls.size(), 2);
        QCOMPARE(calls.at(0).commandLine, u"mailer --check"_s);
        QCOMPARE(calls.at(0).showCommand, SW_SHOWNORMAL);
        QCOMPARE(calls.at(1).commandLine, u"\"/opt/news reader/bin/reader\" -q"_s);
        QCOMPARE(calls.at(1).showCommand, SW_SHOWNORMAL);
    }

    void launchSkipsIndicesPastTheList()
    {
        for (qsizetype i = 0; i < static_cast<qsizetype>(AppLaunchList.size()); ++i)
            AppLaunchList[static_cast<size_t>(i)] = u"app%1"_s.arg(i);
        AppLaunchCount = 102;
        LaunchAfterConnect();
        const auto &calls = seams::programStartCalls();
        QCOMPARE(calls.size(), 100);
        QCOMPARE(calls.first().commandLine, u"app0"_s);
        QCOMPARE(calls.last().commandLine, u"app99"_s);
    }

    void playWaveFileMarksTheSoundPlayed_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("empty") << QString();
        QTest::newRow("missing") << u"/nonexistent/connected.wav"_s;
        QTest::newRow("present") << u"@home/connected.wav"_s;
    }

    void playWaveFileMarksTheSoundPlayed()
    {
        QFETCH(QString, path);
        path.replace(u"@home"_s, m_f.home().path());
        if (path.startsWith(m_f.home().path()))
            QVERIFY(writeBytes(path, "RIFF"));
        PlayWaveFile(path);
        QCOMPARE(SoundPlayed, qint16(1));
        const auto &calls = seams::soundCalls();
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls.at(0).path, path);
        QCOMPARE(calls.at(0).flags, 3u);
    }

    void browseFillsTheDialogRecord()
    {
        const QString chosen = m_f.home().path() + u"/Sons/ding.wav"_s;
        seams::setNextOpenFileName(chosen);
        QCOMPARE(BrowseForFile(1234, u"Choose the sound file"_s, SoundFilter), chosen);

        const auto &calls = seams::openFileCalls();
        QCOMPARE(calls.size(), 1);
        const seams::OpenFileCall &call = calls.at(0);
        QCOMPARE(call.structSize, 76u);
        QCOMPARE(call.owner, HWND(1234));
        QCOMPARE(call.title, u"Choose the sound file"_s);
        QCOMPARE(call.filter, (QStringList{u"Wave sounds (*.wav)"_s, u"*.wav"_s,
                                           u"All files (*.*)"_s, u"*.*"_s}));
        QCOMPARE(call.flags, 0x1004u);
        QCOMPARE(call.maxFile, 255u);
        QCOMPARE(call.initialFile, QByteArray(255, ' '));
    }

    void browseGivesEmptyWhenCancelledOrTooLong()
    {
        // Nothing chosen: cancelled.
        QCOMPARE(BrowseForFile(1234, u"Choose the sound file"_s, SoundFilter), QString());

        // 254 characters fit the buffer with their NUL; 255 do not.
        const QString fits = u'/' + QString(249, u'a') + u".wav"_s;
        QCOMPARE(fits.size(), 254);
        seams::setNextOpenFileName(fits);
        QCOMPARE(BrowseForFile(1234, u"t"_s, SoundFilter), fits);
        seams::setNextOpenFileName(fits + u'v');
        QCOMPARE(BrowseForFile(1234, u"t"_s, SoundFilter), QString());
        QCOMPARE(seams::openFileCalls().size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestPostConnect)
#include "test_post_connect.moc"
