// What the gui half of the platform costs a program that runs for hours: Qt
// Multimedia is loaded with the first sound played (a run that plays none
// never maps it, nor the audio libraries under it), the record of tray
// calls, rewritten every second, stays bounded, and the windows' pixels go to
// an X server without shared memory, a choice programs started later do not
// inherit.

#include "platform/ansi.h"
#include "platform/display.h"
#include "platform/seams.h"
#include "platform/shell.h"
#include "platform/sound.h"
#include "support/testenv.h"

#include <QApplication>
#include <QFile>
#include <QTest>
#include <QtEndian>

#include <cstring>

#include <memory>

using namespace Qt::StringLiterals;
namespace seams = platform::seams;

namespace {

bool multimediaMapped()
{
    QFile maps(u"/proc/self/maps"_s);
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libQt6Multimedia");
}

// A tenth of a second of silence: 8 kHz, 8-bit mono PCM.
QByteArray silentWave()
{
    const quint32 samples = 800;
    QByteArray wave;
    auto u32 = [&wave](quint32 v) {
        v = qToLittleEndian(v);
        wave.append(reinterpret_cast<const char *>(&v), 4);
    };
    auto u16 = [&wave](quint16 v) {
        v = qToLittleEndian(v);
        wave.append(reinterpret_cast<const char *>(&v), 2);
    };
    wave.append("RIFF");
    u32(36 + samples);
    wave.append("WAVEfmt ");
    u32(16);
    u16(1);    // PCM
    u16(1);    // mono
    u32(8000); // samples per second
    u32(8000); // bytes per second
    u16(1);    // bytes per frame
    u16(8);    // bits per sample
    wave.append("data");
    u32(samples);
    wave.append(QByteArray(samples, '\x80'));
    return wave;
}

} // namespace

class TestGuiCosts final : public QObject
{
    Q_OBJECT

private slots:
    void multimediaIsLoadedWithTheFirstSoundPlayed()
    {
        TemporaryHome home;
        QVERIFY(home.isValid());
        QVERIFY2(!multimediaMapped(), "Qt Multimedia is mapped before any sound");

        // Quiet sounds, missing files and stops load nothing.
        const QString wave = home.path() + u"/ding.wav"_s;
        QVERIFY(writeBytes(wave, silentWave()));
        seams::setQuiet(true);
        QCOMPARE(sndPlaySoundA(platform::toAnsi(wave).constData(), SND_ASYNC | SND_NODEFAULT),
                 TRUE);
        seams::setQuiet(false);
        const QString missing = home.path() + u"/missing.wav"_s;
        QCOMPARE(sndPlaySoundA(platform::toAnsi(missing).constData(), SND_ASYNC | SND_NODEFAULT),
                 FALSE);
        QCOMPARE(sndPlaySoundA(nullptr, 0), TRUE);
        QVERIFY(!multimediaMapped());

        // A sound played: the player is loaded and started.
        QCOMPARE(sndPlaySoundA(platform::toAnsi(wave).constData(), SND_ASYNC | SND_NODEFAULT),
                 TRUE);
        QVERIFY(multimediaMapped());
        // A second sound stops the first and starts; a null sound stops it.
        QCOMPARE(sndPlaySoundA(platform::toAnsi(wave).constData(), SND_ASYNC | SND_NODEFAULT),
                 TRUE);
        QCOMPARE(sndPlaySoundA(nullptr, 0), TRUE);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void displayWithoutSharedMemoryIsTheProgramsAlone()
    {
        const char *name = "QT_XCB_NO_MITSHM";
        qunsetenv(name);
        platform::prepareDisplay();
        QCOMPARE(qgetenv(name), QByteArray("1"));
        platform::displayPrepared();
        QVERIFY(!qEnvironmentVariableIsSet(name));

        // A user's own setting, whatever it says, is theirs to keep.
        qputenv(name, QByteArray("0"));
        platform::prepareDisplay();
        QCOMPARE(qgetenv(name), QByteArray("0"));
        platform::displayPrepared();
        QCOMPARE(qgetenv(name), QByteArray("0"));
        qunsetenv(name);
    }

    void trayCallsKeptAreBounded()
    {
        seams::setQuiet(true);
        seams::clearShellNotifyCalls();
        NOTIFYICONDATA data{};
        data.cbSize = sizeof data;
        data.uID = 1;
        data.uFlags = NIF_TIP;
        // A day of tips, one a second.
        for (int second = 0; second < 86400; ++second) {
            const QByteArray tip = QByteArray::number(second);
            std::memcpy(data.szTip, tip.constData(), size_t(tip.size()) + 1);
            Shell_NotifyIconA(NIM_MODIFY, &data);
        }
        const auto &calls = seams::shellNotifyCalls();
        QVERIFY2(calls.size() >= 512 && calls.size() <= 1024, QByteArray::number(calls.size()));
        // The latest calls, in order.
        for (qsizetype i = 0; i < calls.size(); ++i)
            QCOMPARE(QByteArray(calls.at(i).data.szTip),
                     QByteArray::number(86400 - calls.size() + i));
    }
};

QTEST_MAIN(TestGuiCosts)
#include "test_gui_costs.moc"
