// Dialing an entry with the typed values, and hanging up.

#include "engine/dialing.h"
#include "engine/globals.h"
#include "platform/ras.h"
#include "platform/simline.h"
#include "support/fake_dialer.h"
#include "support/fixture.h"
#include "support/line_probe.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

using namespace Qt::StringLiterals;
using lineprobe::listedHandles;

class TestDialing final : public FixtureTest
{
    Q_OBJECT

    QList<PhonebookEntry> phonebook() const override
    {
        return {quickEntry(u"Home"_s, {u"DialDomain=WORKGROUP"_s, u"DialCallbackNumber=555"_s}),
                quickEntry(u"Office"_s)};
    }

private slots:
    void dialsTheTypedValuesWithThePulsePrefixUnlessTone_data()
    {
        QTest::addColumn<int>("dialType");
        QTest::addColumn<QString>("dialed");
        QTest::newRow("tone") << 1 << u"0860"_s;
        QTest::newRow("pulse") << 2 << u"P0860"_s;
        QTest::newRow("not set yet") << 0 << u"P0860"_s;
    }

    void dialsTheTypedValuesWithThePulsePrefixUnlessTone()
    {
        QFETCH(int, dialType);
        QFETCH(QString, dialed);
        DialType = static_cast<qint16>(dialType);
        FakeDialer dialer;
        dialer.user = u"alice"_s;
        dialer.pass = u"s3cret"_s;
        dialer.caption = u"before"_s;
        QVERIFY(DialEntry(dialer, u"Home"_s));
        QCOMPARE(dialer.caption, u"before"_s); // an accepted dial shows nothing

        const QList<simline::CallRecord> calls = simline::calls();
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls[0].entryName, u"Home"_s);
        QCOMPARE(calls[0].phoneNumber, dialed);
        QCOMPARE(calls[0].userName, u"alice"_s);
        QCOMPARE(calls[0].password, u"s3cret"_s);
        // What the entry stores and the window does not type is dialed as stored.
        QCOMPARE(calls[0].domain, u"WORKGROUP"_s);
        QCOMPARE(calls[0].callbackNumber, u"555"_s);
    }

    void unknownEntryShowsTheServiceErrorAndHangsUpEverything()
    {
        FakeDialer dialer;
        QVERIFY(DialEntry(dialer, u"Office"_s));
        QCOMPARE(listedHandles().size(), 1);

        QVERIFY(!DialEntry(dialer, u"Nowhere"_s));
        QCOMPARE(LastRasError, 623);
        QCOMPARE(dialer.caption, u"Cannot find the phone book entry."_s);
        QCOMPARE(dialer.timer2Switches, 1);
        QVERIFY(listedHandles().isEmpty());
    }

    void refusedDialAsksToCheckTheModem()
    {
        FakeDialer dialer;
        QVERIFY(DialEntry(dialer, u"Home"_s));
        // The same entry's port is still in use: the service refuses at once.
        QVERIFY(!DialEntry(dialer, u"Home"_s));
        QCOMPARE(dialer.caption,
                 u"Unable To Contact the Modem... Please Check The Connections..."_s);
        QCOMPARE(dialer.timer2Switches, 0);
        QCOMPARE(listedHandles().size(), 1);
    }

    void valuesTooLongForTheRecordAreRefusedNotCut_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("number");
        QTest::addColumn<int>("dialType");
        QTest::addColumn<bool>("accepted");
        const QString n256(256, u'n');
        const QString n257(257, u'n');
        QTest::newRow("longest user name") << n256 << u"pw"_s << u"1"_s << 1 << true;
        QTest::newRow("user name too long") << n257 << u"pw"_s << u"1"_s << 1 << false;
        QTest::newRow("password too long") << u"u"_s << n257 << u"1"_s << 1 << false;
        QTest::newRow("longest tone number")
            << u"u"_s << u"pw"_s << QString(128, u'1') << 1 << true;
        QTest::newRow("prefix makes it too long")
            << u"u"_s << u"pw"_s << QString(128, u'1') << 2 << false;
    }

    void valuesTooLongForTheRecordAreRefusedNotCut()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, number);
        QFETCH(int, dialType);
        QFETCH(bool, accepted);
        DialType = static_cast<qint16>(dialType);
        FakeDialer dialer;
        dialer.user = user;
        dialer.pass = password;
        dialer.number = number;
        QCOMPARE(DialEntry(dialer, u"Home"_s), accepted);
        if (accepted) {
            QCOMPARE(simline::calls().value(0).userName, user);
            QCOMPARE(simline::calls().value(0).phoneNumber.size(), number.size());
        } else {
            QCOMPARE(dialer.caption, DialFieldTooLongText);
            QVERIFY(simline::calls().isEmpty());
        }
    }

    void hangUpWithoutConnectionOnlyStopsTheAnimation()
    {
        FakeDialer dialer;
        HangUpAll(dialer, -1);
        QCOMPARE(dialer.timer2Switches, 1);
        QVERIFY(dialer.captions.isEmpty());
    }

    void hangUpAllClosesEveryLine()
    {
        FakeDialer dialer;
        QVERIFY(DialEntry(dialer, u"Home"_s));
        QVERIFY(DialEntry(dialer, u"Office"_s));
        QCOMPARE(listedHandles().size(), 2);
        HangUpAll(dialer, -1);
        QVERIFY(listedHandles().isEmpty());
    }

    void hangUpAllClosesMoreLinesThanItsFirstBufferHolds()
    {
        QList<PhonebookEntry> entries;
        for (int i = 0; i < 70; ++i)
            entries.append(quickEntry(u"Entry %1"_s.arg(i), {u"SimStageMs=600000"_s}));
        QVERIFY(writePhonebook(entries));
        FakeDialer dialer;
        for (int i = 0; i < 70; ++i)
            QVERIFY(DialEntry(dialer, u"Entry %1"_s.arg(i)));
        QCOMPARE(listedHandles().size(), 70);
        HangUpAll(dialer, -1);
        QVERIFY(listedHandles().isEmpty());
        QVERIFY(dialer.captions.isEmpty()); // no listing error shown
    }

    void hangUpOfOneHandleLeavesTheOthers()
    {
        FakeDialer dialer;
        QVERIFY(DialEntry(dialer, u"Home"_s));
        QVERIFY(DialEntry(dialer, u"Office"_s));
        const QList<HRASCONN> handles = listedHandles();
        HangUpAll(dialer, static_cast<qint32>(handles[1]));
        QCOMPARE(listedHandles(), QList<HRASCONN>{handles[0]});
        HangUpAll(dialer, 424242); // names no connection
        QCOMPARE(listedHandles(), QList<HRASCONN>{handles[0]});
    }

    void slowHangUpIsWaitedForWhileTheWindowsLive()
    {
        FakeDialer dialer;
        QVERIFY(DialEntry(dialer, u"Home"_s));
        simline::setNextHangUpDelay(400);
        int ticks = 0;
        QTimer timer;
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
        timer.start();
        HangUpAll(dialer, -1);
        QVERIFY(listedHandles().isEmpty());
        QVERIFY2(ticks >= 5, "timers must keep firing while the hang-up waits");
    }

    void hangUpGivesUpAfterAThousandAttempts()
    {
        HangUpPaceMs = 0;
        FakeDialer dialer;
        QVERIFY(DialEntry(dialer, u"Home"_s));
        simline::setNextHangUpDelay(600000);
        HangUpAll(dialer, -1);
        QCOMPARE(listedHandles().size(), 1); // still closing
        QCOMPARE(dialer.timer2Switches, 1);
    }

    // A line that takes a second to close is waited for with a few attempts
    // (at most twenty a second once the wait is long), not a tight poll, and
    // one that never closes is given up once the patience is over.
    void slowHangUpWakesTheProcessSeldom()
    {
        FakeDialer dialer;
        QVERIFY(DialEntry(dialer, u"Home"_s));
        simline::setNextHangUpDelay(1000);
        struct rusage before = {};
        struct rusage after = {};
        QVERIFY(::getrusage(RUSAGE_THREAD, &before) == 0);
        QElapsedTimer clock;
        clock.start();
        HangUpAll(dialer, -1);
        const qint64 elapsed = clock.elapsed();
        QVERIFY(::getrusage(RUSAGE_THREAD, &after) == 0);
        QVERIFY(listedHandles().isEmpty());
        QVERIFY2(elapsed >= 1000, qPrintable(QString::number(elapsed)));
        QVERIFY2(HangUpAttempts >= 2 && HangUpAttempts <= 25,
                 qPrintable(QString::number(HangUpAttempts)));
        const long switches = after.ru_nvcsw - before.ru_nvcsw;
        QVERIFY2(switches <= 75, qPrintable(QString::number(switches)));

        QVERIFY(DialEntry(dialer, u"Office"_s));
        simline::setNextHangUpDelay(600000);
        HangUpPatienceMs = 400;
        clock.restart();
        HangUpAll(dialer, -1);
        QVERIFY2(clock.elapsed() >= 400 && clock.elapsed() < 4000,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(listedHandles().size(), 1); // still closing
        QVERIFY2(HangUpAttempts <= 15, qPrintable(QString::number(HangUpAttempts)));
    }

    void addIntegerStaysWithinSixteenBits_data()
    {
        QTest::addColumn<int>("target");
        QTest::addColumn<int>("addend");
        QTest::addColumn<int>("expected");
        QTest::newRow("plain") << 5 << 3 << 8;
        QTest::newRow("top") << 32767 << 1 << 32767;
        QTest::newRow("bottom") << -32768 << -1 << -32768;
        QTest::newRow("negative") << 10 << -20 << -10;
    }

    void addIntegerStaysWithinSixteenBits()
    {
        QFETCH(int, target);
        QFETCH(int, addend);
        QFETCH(int, expected);
        qint16 value = static_cast<qint16>(target);
        AddInteger(value, static_cast<qint16>(addend));
        QCOMPARE(int(value), expected);
    }
};

QTEST_GUILESS_MAIN(TestDialing)
#include "test_dialing.moc"
