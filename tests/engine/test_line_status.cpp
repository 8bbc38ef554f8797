// The first connection's state in words, the connect speed and the
// dynamic statistics.

#include "engine/dialing.h"
#include "engine/first_connection.h"
#include "engine/globals.h"
#include "engine/line_status.h"
#include "platform/core/clock.h"
#include "platform/ras.h"
#include "platform/simline.h"
#include "support/fake_dialer.h"
#include "support/fixture.h"
#include "support/line_probe.h"

#include <QTest>

using namespace Qt::StringLiterals;
using lineprobe::firstState;

namespace {

QByteArray littleEndian(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xff);
    return bytes;
}

} // namespace

class TestLineStatus final : public QObject
{
    Q_OBJECT

private:
    TestFixture m_f;

private slots:
    void init()
    {
        QVERIFY(m_f.setUp());
        DialType = 1;
        QVERIFY(writePhonebook({quickEntry(u"Home"_s, {u"SimStageMs=40"_s}),
                                quickEntry(u"Busy"_s, {u"SimOutcome=busy"_s}),
                                quickEntry(u"Strict"_s, {u"SimUser=bob"_s}),
                                quickEntry(u"Held"_s, {u"SimStageMs=300"_s})}));
    }

    void cleanup() { m_f.tearDown(); }

    void noConnectionLeavesTheStatusAlone()
    {
        FakeDialer dialer;
        dialer.caption = u"Press Connect to begin dialing..."_s;
        QVERIFY(!UpdateConnectionStatus(dialer));
        QVERIFY(dialer.captions.isEmpty());
        QCOMPARE(ReadConnectSpeed(dialer), 0);
    }

    void progressWordsFollowTheCallUntilConnected()
    {
        // The line's clock moves a stage of 40 ms between polls: every stage is seen.
        stopLineClock();
        FakeDialer dialer;
        QVERIFY(DialEntry(dialer, u"Home"_s));
        bool connected = false;
        for (int poll = 0; poll < 20 && !connected; ++poll) {
            connected = UpdateConnectionStatus(dialer);
            platform::clock::advanceMs(40);
        }
        QVERIFY(connected);
        dialer.captions.removeDuplicates();
        const QStringList expected{u"Opening port for connection..."_s, u"Dialing 0860 ..."_s,
                                   u"Verifying username and password..."_s, u"Logon successful."_s,
                                   u"Connected."_s};
        QCOMPARE(dialer.captions, expected);
        // Once connected every poll says so again.
        dialer.captions.clear();
        QVERIFY(UpdateConnectionStatus(dialer));
        QCOMPARE(dialer.captions, QStringList{u"Connected."_s});
        QCOMPARE(ReadConnectSpeed(dialer), 28800);

        // Hung up, the next listing is empty again: nothing of the last
        // call is left in the first record.
        platform::clock::useSystemClock(); // the line takes its time to close
        HangUpAll(dialer, -1);
        const FirstConnection first = QueryFirstConnection();
        QCOMPARE(first.conn.hrasconn, HRASCONN(0));
        QCOMPARE(first.conn.szEntryName[0], '\0');
        QCOMPARE(first.status.rasconnstate, RASCONNSTATE(0));
        QVERIFY(!UpdateConnectionStatus(dialer));
    }

    void failedCallsSayWhy_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("text");
        QTest::newRow("busy") << u"Busy"_s << u"The line is busy."_s;
        QTest::newRow("account refused")
            << u"Strict"_s
            << u"Access denied because username and/or password is invalid on the domain."_s;
    }

    void failedCallsSayWhy()
    {
        QFETCH(QString, entry);
        QFETCH(QString, text);
        FakeDialer dialer;
        QVERIFY(DialEntry(dialer, entry));
        QTRY_COMPARE_WITH_TIMEOUT(firstState(), DWORD(RASCS_Disconnected), 2000);
        QVERIFY(!UpdateConnectionStatus(dialer));
        QCOMPARE(dialer.caption, text);
    }

    void authenticatedReadsTheConnectSpeed()
    {
        FakeDialer dialer;
        stopLineClock();
        QVERIFY(DialEntry(dialer, u"Held"_s));
        platform::clock::advanceMs(5 * 300); // five stages of 300 ms
        QTRY_COMPARE_WITH_TIMEOUT(firstState(), DWORD(RASCS_Authenticated), 3000);

        simline::setStatisticsKeyPresent(false); // a system without statistics
        QVERIFY(!UpdateConnectionStatus(dialer));
        QCOMPARE(dialer.caption, u"Disconnected."_s);

        simline::setStatisticsKeyPresent(true);
        simline::setStatisticsValue(ConnectSpeedValue, littleEndian(28800));
        QVERIFY(!UpdateConnectionStatus(dialer));
        QCOMPARE(dialer.caption, u"Logon successful."_s);
        QCOMPARE(ReadConnectSpeed(dialer), 0); // not connected yet
    }

    void dialingKeepsItsWordsWhileTheSpeedIsRead()
    {
        FakeDialer dialer;
        dialer.number = u"0860"_s;
        stopLineClock();
        QVERIFY(DialEntry(dialer, u"Held"_s));
        platform::clock::advanceMs(2 * 300);
        QTRY_COMPARE_WITH_TIMEOUT(firstState(), DWORD(RASCS_ConnectDevice), 3000);
        QCOMPARE(ReadConnectSpeed(dialer), 0);
        QCOMPARE(dialer.caption, u"Dialing 0860 ..."_s);
    }

    void registryValuesAreLittleEndianThirtyTwoBits()
    {
        const QString name = u"Dial-Up Adapter\\Test"_s;
        simline::setStatisticsValue(name, QByteArray::fromHex("80700000"));
        QCOMPARE(ReadRegistryValue(HKEY_DYN_DATA, StatDataKey, name, 7), 28800);
        simline::setStatisticsValue(name, QByteArray::fromHex("feffffff"));
        QCOMPARE(ReadRegistryValue(HKEY_DYN_DATA, StatDataKey, name, 7), -2);
        // Longer than four bytes: it does not fit, the default comes back.
        simline::setStatisticsValue(name, QByteArray::fromHex("0102030405060708"));
        QCOMPARE(ReadRegistryValue(HKEY_DYN_DATA, StatDataKey, name, 7), 7);
        simline::removeStatisticsValue(name);
        QCOMPARE(ReadRegistryValue(HKEY_DYN_DATA, StatDataKey, name, 7), 7);
        // A key that cannot be opened gives 0 whatever the default.
        QCOMPARE(ReadRegistryValue(HKEY_DYN_DATA, u"PerfStats\\Nowhere"_s, name, 7), 0);
        simline::setStatisticsKeyPresent(false);
        QCOMPARE(ReadRegistryValue(HKEY_DYN_DATA, StatDataKey, BytesRecvdValue, 7), 0);
    }
};

QTEST_GUILESS_MAIN(TestLineStatus)
#include "test_line_status.moc"
