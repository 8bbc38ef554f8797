// The simulated dial-up line within one process: how a call evolves, the
// service calls' answers and errors, the stored dial parameters, the
// phonebook file, the test controls and the dynamic statistics.

#include "platform/core/clock.h"
#include "platform/line/phonebook_file.h"
#include "platform/ras.h"
#include "platform/registry.h"
#include "platform/sim/line_model.h"
#include "platform/simline.h"
#include "support/fixture.h"
#include "support/line_probe.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <cstring>

using namespace Qt::StringLiterals;
using simline::Outcome;
using simline::detail::Call;
using simline::detail::callStatus;
using simline::detail::SimPart;
using simline::detail::simPart;
namespace lineclock = platform::clock;

namespace {

constexpr int kWaitMs = 3000;
constexpr DWORD kGone = lineprobe::Gone;

// A statistics value as the program reads it: 0 and the 4 bytes on success,
// else the error code.
LONG queryStat(const char *name, quint32 *value)
{
    HKEY key = 0;
    LONG rc = RegOpenKeyExA(HKEY_DYN_DATA, "PerfStats\\StatData", 0, KEY_QUERY_VALUE, &key);
    if (rc != 0)
        return rc;
    BYTE data[4] = {};
    DWORD size = sizeof data;
    DWORD type = 0;
    rc = RegQueryValueExA(key, name, nullptr, &type, data, &size);
    RegCloseKey(key);
    if (rc == 0) {
        if (type != REG_BINARY || size != 4)
            return -1;
        *value = data[0] | data[1] << 8 | data[2] << 16 | quint32(data[3]) << 24;
    }
    return rc;
}

quint32 statOr(const char *name, quint32 fallback)
{
    quint32 value = 0;
    return queryStat(name, &value) == 0 ? value : fallback;
}

} // namespace

using namespace lineprobe;

class TestSimulatedLine final : public FixtureTest
{
    Q_OBJECT

    QList<PhonebookEntry> phonebook() const override
    {
        return {
            quickEntry(u"Quick"_s, {u"SimStageMs=2"_s, u"SimHangUpMs=2"_s, u"SimSpeed=33600"_s}),
            quickEntry(u"Open"_s, {u"SimUser="_s, u"SimStageMs=2"_s, u"SimHangUpMs=2"_s}),
            quickEntry(u"Slow"_s, {u"SimStageMs=600000"_s}),
        };
    }

private slots:
    // The course of a call in time, worked out for exact moments.
    void callFollowsItsStagesInTime_data()
    {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("dropAfterSec");
        QTest::addColumn<qint64>("droppedAt");
        QTest::addColumn<qint64>("hangUpAt");
        QTest::addColumn<qint64>("at");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("error");
        const int connect = int(Outcome::Connect);
        const int busy = int(Outcome::Busy);
        // Stages of 100 ms: connected at 600 ms unless something ends the call.
        const auto row = [](const char *name, int outcome, bool accepted, int dropAfterSec,
                            qint64 droppedAt, qint64 hangUpAt, qint64 at, RASCONNSTATE state,
                            int error) {
            QTest::newRow(name) << outcome << accepted << dropAfterSec << droppedAt << hangUpAt
                                << at << int(state) << error;
        };
        row("opening", connect, true, 0, -1, -1, 99, RASCS_OpenPort, 0);
        row("port opened", connect, true, 0, -1, -1, 100, RASCS_PortOpened, 0);
        row("dialing", connect, true, 0, -1, -1, 299, RASCS_ConnectDevice, 0);
        row("device connected", connect, true, 0, -1, -1, 300, RASCS_DeviceConnected, 0);
        row("authenticating", connect, true, 0, -1, -1, 499, RASCS_Authenticate, 0);
        row("authenticated", connect, true, 0, -1, -1, 599, RASCS_Authenticated, 0);
        row("connected", connect, true, 0, -1, -1, 600, RASCS_Connected, 0);
        row("busy still dialing", busy, true, 0, -1, -1, 299, RASCS_ConnectDevice, 0);
        row("busy", busy, true, 0, -1, -1, 300, RASCS_Disconnected, 676);
        row("no answer", int(Outcome::NoAnswer), true, 0, -1, -1, 300, RASCS_Disconnected, 678);
        row("no dial tone", int(Outcome::NoDialTone), true, 0, -1, -1, 300, RASCS_Disconnected,
            680);
        row("no carrier", int(Outcome::NoCarrier), true, 0, -1, -1, 300, RASCS_Disconnected, 679);
        row("wrong account authenticating", connect, false, 0, -1, -1, 499, RASCS_Authenticate, 0);
        row("wrong account", connect, false, 0, -1, -1, 500, RASCS_Disconnected, 691);
        row("before its drop", connect, true, 2, -1, -1, 2599, RASCS_Connected, 0);
        row("dropped by itself", connect, true, 2, -1, -1, 2600, RASCS_Disconnected, 679);
        row("carrier lost", connect, true, 0, 900, -1, 900, RASCS_Disconnected, 679);
        row("closing while up", connect, true, 0, -1, 700, 700, RASCS_Disconnected, 0);
        row("closing while dialing", connect, true, 0, -1, 150, 800, RASCS_Disconnected, 0);
        row("closing a busy call", busy, true, 0, -1, 400, 400, RASCS_Disconnected, 676);
    }

    void callFollowsItsStagesInTime()
    {
        QFETCH(int, outcome);
        QFETCH(bool, accepted);
        QFETCH(int, dropAfterSec);
        QFETCH(qint64, droppedAt);
        QFETCH(qint64, hangUpAt);
        QFETCH(qint64, at);
        QFETCH(int, state);
        QFETCH(int, error);
        Call call;
        call.dialedAtMs = 1000000;
        SimPart &sim = simPart(&call);
        sim.stageMs = 100;
        sim.outcome = static_cast<Outcome>(outcome);
        sim.accountAccepted = accepted;
        sim.dropAfterSec = dropAfterSec;
        sim.droppedAtMs = droppedAt < 0 ? -1 : call.dialedAtMs + droppedAt;
        call.hangUpAtMs = hangUpAt < 0 ? -1 : call.dialedAtMs + hangUpAt;
        const auto status = callStatus(call, call.dialedAtMs + at);
        QCOMPARE(int(status.state), state);
        QCOMPARE(int(status.error), error);
    }

    void adapterIsLinkedFromTheModemsConnectionUntilTheCallEnds()
    {
        using simline::detail::linkUp;
        Call call;
        call.dialedAtMs = 1000000;
        SimPart &sim = simPart(&call);
        sim.stageMs = 100;
        sim.dropAfterSec = 1;
        const qint64 t0 = call.dialedAtMs;
        QVERIFY(!linkUp(call, t0 + 299));
        QVERIFY(linkUp(call, t0 + 300)); // RASCS_DeviceConnected
        QVERIFY(linkUp(call, t0 + 599)); // logging on
        QVERIFY(linkUp(call, t0 + 1599));
        QVERIFY(!linkUp(call, t0 + 1600)); // dropped by itself
        QCOMPARE(simline::detail::bytesReceived(call, t0 + 299), 0u);
        // 28800 bit/s, 55% of the time: 1980 bytes a second come in.
        QCOMPARE(simline::detail::bytesReceived(call, t0 + 1300) -
                     simline::detail::bytesReceived(call, t0 + 300),
                 1980u);
        sim.accountAccepted = false;
        QVERIFY(linkUp(call, t0 + 499));
        QVERIFY(!linkUp(call, t0 + 500)); // account refused
        sim.outcome = Outcome::Busy;
        QVERIFY(!linkUp(call, t0 + 300));
    }

    void outcomesEndTheCallWithTheirError_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("error");
        QTest::newRow("connects") << u"SimOutcome=connect"_s << u"demo"_s << u"demo"_s << 0;
        QTest::newRow("user name in other case")
            << u"SimOutcome=connect"_s << u"DEMO"_s << u"demo"_s << 0;
        QTest::newRow("busy") << u"SimOutcome=busy"_s << u"demo"_s << u"demo"_s << 676;
        QTest::newRow("no answer") << u"SimOutcome=noanswer"_s << u"demo"_s << u"demo"_s << 678;
        QTest::newRow("no dial tone")
            << u"SimOutcome=nodialtone"_s << u"demo"_s << u"demo"_s << 680;
        QTest::newRow("no carrier") << u"SimOutcome=nocarrier"_s << u"demo"_s << u"demo"_s << 679;
        QTest::newRow("wrong password") << u"SimOutcome=connect"_s << u"demo"_s << u"Demo"_s << 691;
        QTest::newRow("wrong user") << u"SimOutcome=connect"_s << u"eve"_s << u"demo"_s << 691;
        QTest::newRow("unknown outcome connects")
            << u"SimOutcome=explode"_s << u"demo"_s << u"demo"_s << 0;
    }

    void outcomesEndTheCallWithTheirError()
    {
        QFETCH(QString, setting);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(int, error);
        // A dead call closes at once, however long the entry's line takes to close.
        QVERIFY(writePhonebook(
            {quickEntry(u"Far"_s, {u"SimStageMs=2"_s, u"SimHangUpMs=600000"_s, setting})}));
        const Dialed d = dial(u"Far"_s, user, password);
        QCOMPARE(d.rc, DWORD(0));
        QVERIFY(d.handle != 0);
        if (error == 0) {
            QTRY_COMPARE_WITH_TIMEOUT(stateOf(d.handle), DWORD(RASCS_Connected), kWaitMs);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(d.handle), DWORD(RASCS_Disconnected), kWaitMs);
        QCOMPARE(errorOf(d.handle), DWORD(error));
        // A failed call stays listed until it is hung up, and then closes at once.
        QCOMPARE(listedHandles(), QList<HRASCONN>{d.handle});
        QCOMPARE(RasHangUpA(d.handle), DWORD(0));
        QCOMPARE(RasHangUpA(d.handle), ERROR_INVALID_HANDLE);
        QVERIFY(listedHandles().isEmpty());
    }

    void callEarlyInItsCourseIsOpeningItsPort()
    {
        const Dialed d = dial(u"Slow"_s);
        QCOMPARE(d.rc, DWORD(0));
        QCOMPARE(stateOf(d.handle), DWORD(RASCS_OpenPort));
        QCOMPARE(simline::calls().value(0).state, quint32(RASCS_OpenPort));
    }

    void connectedCallsDropByThemselvesOrOnRequest()
    {
        QVERIFY(writePhonebook({quickEntry(u"Short"_s, {u"SimStageMs=1"_s, u"SimDropAfterSec=1"_s}),
                                quickEntry(u"Quick"_s, {u"SimStageMs=1"_s})}));
        stopLineClock();
        const Dialed shortCall = dial(u"Short"_s);
        const Dialed quick = dial(u"Quick"_s);
        lineclock::advanceMs(6); // six stages of 1 ms
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(shortCall.handle), DWORD(RASCS_Connected), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(quick.handle), DWORD(RASCS_Connected), kWaitMs);
        lineclock::advanceMs(1000);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(shortCall.handle), DWORD(RASCS_Disconnected), kWaitMs);
        QCOMPARE(errorOf(shortCall.handle), ERROR_NO_CARRIER);
        QCOMPARE(stateOf(quick.handle), DWORD(RASCS_Connected));

        // Only calls that are up lose their carrier.
        QVERIFY(writePhonebook({quickEntry(u"Slow"_s, {u"SimStageMs=600000"_s})}));
        const Dialed slow = dial(u"Slow"_s);
        QCOMPARE(simline::dropCarrier(), 1);
        QCOMPARE(stateOf(quick.handle), DWORD(RASCS_Disconnected));
        QCOMPARE(errorOf(quick.handle), ERROR_NO_CARRIER);
        QCOMPARE(stateOf(slow.handle), DWORD(RASCS_OpenPort));
        QCOMPARE(simline::dropCarrier(), 0);
        QCOMPARE(listedHandles().size(), 3);
    }

    void hangUpClosesTheLineAfterItsDelay()
    {
        QCOMPARE(RasHangUpA(0), ERROR_INVALID_HANDLE);
        QCOMPARE(RasHangUpA(4242), ERROR_INVALID_HANDLE);
        stopLineClock();
        const Dialed d = dial(u"Quick"_s);
        lineclock::advanceMs(12); // six stages of 2 ms
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(d.handle), DWORD(RASCS_Connected), kWaitMs);
        simline::setNextHangUpDelay(400);
        QCOMPARE(RasHangUpA(d.handle), DWORD(0));
        // Closing: still listed, disconnected without an error, and each
        // further request is accepted too.
        QCOMPARE(stateOf(d.handle), DWORD(RASCS_Disconnected));
        QCOMPARE(errorOf(d.handle), DWORD(0));
        QCOMPARE(listedHandles(), QList<HRASCONN>{d.handle});
        QVERIFY(simline::calls().value(0).closing);
        lineclock::advanceMs(399);
        QCOMPARE(RasHangUpA(d.handle), DWORD(0));
        lineclock::advanceMs(1);
        QTRY_COMPARE_WITH_TIMEOUT(RasHangUpA(d.handle), ERROR_INVALID_HANDLE, kWaitMs);
        QCOMPARE(stateOf(d.handle), kGone);
        QVERIFY(listedHandles().isEmpty());

        // The slow hang-up served once: the next one takes the entry's 2 ms.
        const Dialed again = dial(u"Quick"_s);
        QCOMPARE(again.rc, DWORD(0));
        QVERIFY(again.handle != d.handle);
        QCOMPARE(RasHangUpA(again.handle), DWORD(0));
        lineclock::advanceMs(2);
        QTRY_COMPARE_WITH_TIMEOUT(RasHangUpA(again.handle), ERROR_INVALID_HANDLE, 300);
    }

    void hangUpOfADeadCallLeavesTheSlowHangUpPending()
    {
        QVERIFY(writePhonebook({quickEntry(u"Busy"_s, {u"SimStageMs=1"_s, u"SimOutcome=busy"_s,
                                                       u"SimHangUpMs=600000"_s}),
                                quickEntry(u"Quick"_s, {u"SimStageMs=1"_s})}));
        stopLineClock();
        simline::setNextHangUpDelay(250);
        const Dialed busy = dial(u"Busy"_s);
        lineclock::advanceMs(3); // busy once the number is dialed
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(busy.handle), DWORD(RASCS_Disconnected), kWaitMs);
        QCOMPARE(RasHangUpA(busy.handle), DWORD(0));
        QCOMPARE(RasHangUpA(busy.handle), ERROR_INVALID_HANDLE);

        const Dialed quick = dial(u"Quick"_s);
        lineclock::advanceMs(6);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(quick.handle), DWORD(RASCS_Connected), kWaitMs);
        QCOMPARE(RasHangUpA(quick.handle), DWORD(0));
        lineclock::advanceMs(50);
        QCOMPARE(RasHangUpA(quick.handle), DWORD(0));
        lineclock::advanceMs(200);
        QTRY_COMPARE_WITH_TIMEOUT(RasHangUpA(quick.handle), ERROR_INVALID_HANDLE, kWaitMs);
    }

    void dialChecksItsRequest()
    {
        HRASCONN handle = 0;
        RASDIALPARAMS params{};
        params.dwSize = sizeof params;
        std::strcpy(params.szEntryName, "Quick");
        QCOMPARE(RasDialA(nullptr, nullptr, &params, 0, nullptr, nullptr), ERROR_INVALID_PARAMETER);
        QCOMPARE(RasDialA(nullptr, nullptr, nullptr, 0, nullptr, &handle), ERROR_INVALID_PARAMETER);
        params.dwSize = sizeof params - 1;
        QCOMPARE(RasDialA(nullptr, nullptr, &params, 0, nullptr, &handle), ERROR_INVALID_SIZE);
        QCOMPARE(dial(u"Nowhere"_s).rc, ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
        QVERIFY(listedHandles().isEmpty());

        // The entry's own number when none is given; a pulse prefix kept as dialed.
        const Dialed quick = dial(u"Quick"_s, u"demo"_s, u"demo"_s);
        QCOMPARE(quick.rc, DWORD(0));
        const Dialed open = dial(u"Open"_s, u"x"_s, u"y"_s, u"P123"_s);
        QCOMPARE(open.rc, DWORD(0));
        const QList<simline::CallRecord> calls = simline::calls();
        QCOMPARE(calls.size(), 2);
        QCOMPARE(calls[0].phoneNumber, u"0860"_s);
        QCOMPARE(calls[1].phoneNumber, u"P123"_s);
        QCOMPARE(calls[1].userName, u"x"_s);
        QCOMPARE(calls[1].password, u"y"_s);
        QCOMPARE(calls[1].entryName, u"Open"_s);

        // An entry's port stays busy until its call is hung up, whatever the call's state.
        const Dialed second = dial(u"quick"_s);
        QCOMPARE(second.rc, ERROR_PORT_ALREADY_OPEN);
        QCOMPARE(second.handle, HRASCONN(0));
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(quick.handle), DWORD(RASCS_Connected), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(open.handle), DWORD(RASCS_Connected), kWaitMs);
        QCOMPARE(dial(u"Quick"_s).rc, ERROR_PORT_ALREADY_OPEN);
        QCOMPARE(listedHandles(), (QList<HRASCONN>{quick.handle, open.handle}));
    }

    void forcedOutcomeServesOneDial()
    {
        simline::forceNextOutcome(Outcome::NoAnswer);
        const Dialed forced = dial(u"Quick"_s);
        const Dialed next = dial(u"Open"_s);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(forced.handle), DWORD(RASCS_Disconnected), kWaitMs);
        QCOMPARE(errorOf(forced.handle), ERROR_NO_ANSWER);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(next.handle), DWORD(RASCS_Connected), kWaitMs);

        // Reset forgets calls and controls, and never gives a handle twice.
        simline::forceNextOutcome(Outcome::Busy);
        simline::setNextHangUpDelay(600000);
        simline::reset();
        QVERIFY(listedHandles().isEmpty());
        const Dialed after = dial(u"Quick"_s);
        QVERIFY(after.handle > next.handle);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(after.handle), DWORD(RASCS_Connected), kWaitMs);
        QCOMPARE(RasHangUpA(after.handle), DWORD(0));
        QTRY_COMPARE_WITH_TIMEOUT(RasHangUpA(after.handle), ERROR_INVALID_HANDLE, kWaitMs);
    }

    void enumerationsTellTheSizeTheyNeed()
    {
        RASENTRYNAME names[2] = {};
        DWORD bytes = sizeof names;
        DWORD count = 0;
        names[0].dwSize = 260;
        QCOMPARE(RasEnumEntriesA(nullptr, nullptr, names, &bytes, &count), ERROR_INVALID_SIZE);
        names[0].dwSize = sizeof(RASENTRYNAME);
        QCOMPARE(RasEnumEntriesA(nullptr, nullptr, names, nullptr, &count),
                 ERROR_INVALID_PARAMETER);
        QCOMPARE(RasEnumEntriesA(nullptr, nullptr, names, &bytes, &count), ERROR_BUFFER_TOO_SMALL);
        QCOMPARE(bytes, DWORD(3 * 264));
        QCOMPARE(count, DWORD(3));
        QCOMPARE(phonebookEntries(), (QStringList{u"Quick"_s, u"Open"_s, u"Slow"_s}));

        // Connections are listed in dial order, with their device.
        const Dialed slow = dial(u"Slow"_s);
        const Dialed quick = dial(u"Quick"_s);
        RASCONN conns[2] = {};
        conns[0].dwSize = sizeof(RASCONN);
        bytes = sizeof(RASCONN);
        QCOMPARE(RasEnumConnectionsA(conns, &bytes, &count), ERROR_BUFFER_TOO_SMALL);
        QCOMPARE(bytes, DWORD(2 * 412));
        QCOMPARE(count, DWORD(2));
        bytes = sizeof conns + 100;
        QCOMPARE(RasEnumConnectionsA(conns, &bytes, &count), DWORD(0));
        QCOMPARE(bytes, DWORD(2 * 412));
        QCOMPARE(conns[0].hrasconn, slow.handle);
        QCOMPARE(conns[1].hrasconn, quick.handle);
        QCOMPARE(QByteArray(conns[1].szEntryName), "Quick"_ba);
        QCOMPARE(QByteArray(conns[1].szDeviceType), "modem"_ba);
        QCOMPARE(QByteArray(conns[1].szDeviceName), "Vantelo Simulated Modem"_ba);
        conns[0].dwSize = 400;
        QCOMPARE(RasEnumConnectionsA(conns, &bytes, &count), ERROR_INVALID_SIZE);

        // A status query that fails leaves the record as it was.
        RASCONNSTATUS status{};
        status.dwSize = sizeof status;
        status.rasconnstate = RASCS_Authenticated;
        QCOMPARE(RasGetConnectStatusA(0, &status), ERROR_INVALID_HANDLE);
        QCOMPARE(RasGetConnectStatusA(4242, &status), ERROR_INVALID_HANDLE);
        QCOMPARE(status.rasconnstate, RASCS_Authenticated);
        status.dwSize = 164;
        QCOMPARE(RasGetConnectStatusA(slow.handle, &status), ERROR_INVALID_SIZE);
        QCOMPARE(status.rasconnstate, RASCS_Authenticated);
    }

    void namesAreCutToTheirFieldAtACharacterBoundary()
    {
        // 256 bytes fit the 257-byte field with its NUL; ASCII and the rest
        // take different ways into it.
        const QString fits(256, u'a');
        const QString tooLong(300, u'b');
        const QString accents(200, u'\u00e9'); // two bytes each in the ANSI code page
        const QString mixed = u"Caf\u00e9 "_s + QString(260, u'c');
        QVERIFY(writePhonebook(
            {quickEntry(fits), quickEntry(tooLong), quickEntry(accents), quickEntry(mixed)}));
        RASENTRYNAME names[4] = {};
        names[0].dwSize = sizeof(RASENTRYNAME);
        DWORD bytes = sizeof names;
        DWORD count = 0;
        QCOMPARE(RasEnumEntriesA(nullptr, nullptr, names, &bytes, &count), DWORD(0));
        QCOMPARE(count, DWORD(4));
        const auto field = [&names](int i) {
            return QByteArray(names[i].szEntryName, qstrnlen(names[i].szEntryName, 257));
        };
        QCOMPARE(field(0), fits.toLocal8Bit());
        QCOMPARE(field(1), tooLong.left(256).toLocal8Bit());
        QCOMPARE(field(2), accents.left(128).toLocal8Bit());
        QCOMPARE(field(3), mixed.left(255).toLocal8Bit());
    }

    void errorStringsInTheServiceWords_data()
    {
        QTest::addColumn<uint>("code");
        QTest::addColumn<QString>("text");
        const auto row = [](uint code, const QString &text) {
            QTest::newRow(QByteArray::number(code).constData()) << code << text;
        };
        row(602u, u"The port is already open."_s);
        row(623u, u"Cannot find the phone book entry."_s);
        row(676u, u"The line is busy."_s);
        row(678u, u"There is no answer."_s);
        row(679u, u"Cannot detect carrier."_s);
        row(680u, u"There is no dial tone."_s);
        row(691u, u"Access denied because username and/or password is invalid on the domain."_s);
        row(635u, u"Unknown error."_s);
        row(650u, u"Unknown error."_s);
        row(600u, u"An operation is pending."_s);
        row(799u, u"Unknown error."_s);
        row(599u, u"<failed>"_s);
        row(800u, u"<failed>"_s);
        row(6u, u"<failed>"_s);
    }

    void errorStringsInTheServiceWords()
    {
        QFETCH(uint, code);
        QFETCH(QString, text);
        QCOMPARE(errorText(code, u"<failed>"_s), text);
    }

    void errorStringNeedsRoomForItsNul()
    {
        char buffer[18];
        std::memset(buffer, 'x', sizeof buffer);
        QCOMPARE(RasGetErrorStringA(676, buffer, 17), ERROR_BUFFER_TOO_SMALL);
        QCOMPARE(RasGetErrorStringA(676, buffer, 18), DWORD(0));
        QCOMPARE(QByteArray(buffer), "The line is busy."_ba);
        QCOMPARE(RasGetErrorStringA(676, nullptr, 18), ERROR_INVALID_PARAMETER);
        QCOMPARE(RasGetErrorStringA(599, buffer, 18), ERROR_INVALID_PARAMETER);
    }

    void dialParamsAreStoredPerEntry()
    {
        RASDIALPARAMS params{};
        params.dwSize = sizeof params;
        std::strcpy(params.szEntryName, "Open");
        std::strcpy(params.szPhoneNumber, "stale");
        BOOL stored = TRUE;
        QCOMPARE(RasGetEntryDialParamsA(nullptr, &params, &stored), DWORD(0));
        QCOMPARE(stored, FALSE);
        QCOMPARE(QByteArray(params.szUserName), QByteArray());
        QCOMPARE(QByteArray(params.szPhoneNumber), QByteArray());

        std::strcpy(params.szUserName, "ann");
        std::strcpy(params.szPassword, " pass word ");
        std::strcpy(params.szDomain, "HOME");
        std::strcpy(params.szCallbackNumber, "555");
        QCOMPARE(RasSetEntryDialParamsA(nullptr, &params, FALSE), DWORD(0));
        RASDIALPARAMS read{};
        read.dwSize = sizeof read;
        std::strcpy(read.szEntryName, "OPEN");
        QCOMPARE(RasGetEntryDialParamsA(nullptr, &read, &stored), DWORD(0));
        QCOMPARE(stored, TRUE);
        QCOMPARE(QByteArray(read.szUserName), "ann"_ba);
        QCOMPARE(QByteArray(read.szPassword), " pass word "_ba);
        QCOMPARE(QByteArray(read.szDomain), "HOME"_ba);
        QCOMPARE(QByteArray(read.szCallbackNumber), "555"_ba);
        QCOMPARE(QFileInfo(simline::phonebookPath()).permissions().toInt() & 0x0077, 0);

        QCOMPARE(RasSetEntryDialParamsA(nullptr, &params, TRUE), DWORD(0));
        QCOMPARE(RasGetEntryDialParamsA(nullptr, &read, &stored), DWORD(0));
        QCOMPARE(stored, FALSE);
        QCOMPARE(QByteArray(read.szPassword), QByteArray());
        QCOMPARE(QByteArray(read.szUserName), "ann"_ba);
        // The other entries and their settings are kept.
        QCOMPARE(phonebookEntries(), (QStringList{u"Quick"_s, u"Open"_s, u"Slow"_s}));
        QVERIFY(readBytes(simline::phonebookPath()).contains("SimStageMs=600000"));

        // A line break could smuggle keys into the file.
        std::strcpy(params.szUserName, "ann\nSimOutcome=busy");
        QCOMPARE(RasSetEntryDialParamsA(nullptr, &params, FALSE), ERROR_INVALID_PARAMETER);
        std::strcpy(read.szEntryName, "Nowhere");
        QCOMPARE(RasGetEntryDialParamsA(nullptr, &read, &stored),
                 ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
        QCOMPARE(RasSetEntryDialParamsA(nullptr, &read, FALSE), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
        read.dwSize = 1051;
        QCOMPARE(RasGetEntryDialParamsA(nullptr, &read, &stored), ERROR_INVALID_SIZE);
        QCOMPARE(RasGetEntryDialParamsA(nullptr, &params, nullptr), ERROR_INVALID_PARAMETER);
    }

    void phonebookFileKeepsWhatItDoesNotKnow()
    {
        using simline::detail::PhonebookFile;
        PhonebookFile file = PhonebookFile::parse("; header\r\n"
                                                  "[One]\r\n"
                                                  "phonenumber=1\r\n"
                                                  "; about One\r\n"
                                                  "Custom=x\r\n"
                                                  "\r\n"
                                                  "[Two]\r\n"
                                                  "SimStageMs=abc\r\n");
        QCOMPARE(file.entryNames(), (QStringList{u"One"_s, u"Two"_s}));
        QCOMPARE(file.value(u"one"_s, u"PhoneNumber"_s), u"1"_s);
        file.setValue(u"One"_s, u"PhoneNumber"_s, u"2"_s);
        file.setValue(u"One"_s, u"DialUserName"_s, u"ann"_s);
        QCOMPARE(file.serialize(), "; header\n"
                                   "[One]\n"
                                   "phonenumber=2\n"
                                   "; about One\n"
                                   "Custom=x\n"
                                   "DialUserName=ann\n"
                                   "\n"
                                   "[Two]\n"
                                   "SimStageMs=abc\n"_ba);
        // Unreadable settings fall back to their defaults.
        QCOMPARE(simline::detail::entrySettings(file, u"Two"_s).stageMs, 400);
        QCOMPARE(simline::detail::entrySettings(file, u"Two"_s).hangUpMs, 300);
        QCOMPARE(simline::detail::entrySettings(file, u"Two"_s).speed, 28800u);
    }

    void samplePhonebookIsCreatedOnceAndKept()
    {
        QVERIFY(QFile::remove(simline::phonebookPath()));
        QCOMPARE(phonebookEntries(), (QStringList{u"Vantelo Demo"_s, u"Vantelo Busy Line"_s}));
        QCOMPARE(QFileInfo(simline::phonebookPath()).permissions().toInt() & 0x0077, 0);
        RASDIALPARAMS params{};
        params.dwSize = sizeof params;
        std::strcpy(params.szEntryName, "Vantelo Demo");
        BOOL stored = TRUE;
        QCOMPARE(RasGetEntryDialParamsA(nullptr, &params, &stored), DWORD(0));
        QCOMPARE(QByteArray(params.szUserName), "demo"_ba);

        // The user's edits are read at the next request and never overwritten.
        QVERIFY(writeBytes(simline::phonebookPath(), "[Mine]\nPhoneNumber=1\n"));
        simline::ensurePhonebook();
        QCOMPARE(phonebookEntries(), QStringList{u"Mine"_s});
        QVERIFY(writeBytes(simline::phonebookPath(), QByteArray()));
        QVERIFY(phonebookEntries().isEmpty());
    }

    void twoEntriesConnectedAtOnce()
    {
        const Dialed quick = dial(u"Quick"_s);
        const Dialed open = dial(u"Open"_s, u"any"_s, u"thing"_s);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(quick.handle), DWORD(RASCS_Connected), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(open.handle), DWORD(RASCS_Connected), kWaitMs);
        QVERIFY(quick.handle != 0 && open.handle != 0 && quick.handle != open.handle);
        QCOMPARE(listedHandles(), (QList<HRASCONN>{quick.handle, open.handle}));
    }

    void statisticsExistOnlyWhileTheModemsAreLinked()
    {
        stopLineClock();
        quint32 value = 0;
        QCOMPARE(queryStat("Dial-Up Adapter\\ConnectSpeed", &value), ERROR_FILE_NOT_FOUND);
        const Dialed slow = dial(u"Slow"_s);
        QCOMPARE(queryStat("Dial-Up Adapter\\BytesRecvd", &value), ERROR_FILE_NOT_FOUND);

        // The first connected call publishes its figures.
        const Dialed quick = dial(u"Quick"_s);
        lineclock::advanceMs(12); // six stages of 2 ms
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(quick.handle), DWORD(RASCS_Connected), kWaitMs);
        QCOMPARE(queryStat("Dial-Up Adapter\\ConnectSpeed", &value), ERROR_SUCCESS);
        QCOMPARE(value, 33600u);
        const quint32 received = statOr("Dial-Up Adapter\\BytesRecvd", 0);
        const quint32 sent = statOr("Dial-Up Adapter\\BytesXmit", 0);
        QVERIFY(received > 0 && sent > 0);
        lineclock::advanceMs(100);
        QTRY_VERIFY_WITH_TIMEOUT(statOr("Dial-Up Adapter\\BytesRecvd", 0) > received, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(statOr("Dial-Up Adapter\\BytesXmit", 0) > sent, kWaitMs);
        // About 55% of 33600 / 8 bytes a second come in, less goes out.
        lineclock::advanceMs(200);
        const quint32 later = statOr("Dial-Up Adapter\\BytesRecvd", 0);
        QVERIFY2(later - received >= 400 && later - received < 20000,
                 qPrintable(QString::number(later - received)));
        QVERIFY(statOr("Dial-Up Adapter\\BytesXmit", 0) < later);

        HKEY key = 0;
        QCOMPARE(RegOpenKeyExA(HKEY_DYN_DATA, "PerfStats\\StatData", 0, KEY_QUERY_VALUE, &key),
                 ERROR_SUCCESS);
        BYTE small[2] = {};
        DWORD size = sizeof small;
        QCOMPARE(
            RegQueryValueExA(key, "Dial-Up Adapter\\ConnectSpeed", nullptr, nullptr, small, &size),
            ERROR_MORE_DATA);
        QCOMPARE(size, DWORD(4));
        size = 0;
        DWORD type = 0;
        QCOMPARE(
            RegQueryValueExA(key, "Dial-Up Adapter\\ConnectSpeed", nullptr, &type, nullptr, &size),
            ERROR_SUCCESS);
        QCOMPARE(size, DWORD(4));
        QCOMPARE(type, REG_BINARY);
        QCOMPARE(RegQueryValueExA(key, "Dial-Up Adapter\\Other", nullptr, nullptr, nullptr, &size),
                 ERROR_FILE_NOT_FOUND);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
        QCOMPARE(RegCloseKey(key), ERROR_INVALID_HANDLE);
        QCOMPARE(RegQueryValueExA(key, "Dial-Up Adapter\\ConnectSpeed", nullptr, nullptr, nullptr,
                                  &size),
                 ERROR_INVALID_HANDLE);
        QCOMPARE(RegOpenKeyExA(HKEY_DYN_DATA, "PerfStats\\Other", 0, KEY_QUERY_VALUE, &key),
                 ERROR_FILE_NOT_FOUND);
        QCOMPARE(RegOpenKeyExA(0x80000002u, "PerfStats\\StatData", 0, KEY_QUERY_VALUE, &key),
                 ERROR_FILE_NOT_FOUND);

        // Gone again once the line drops.
        QCOMPARE(simline::dropCarrier(), 1);
        QCOMPARE(queryStat("Dial-Up Adapter\\ConnectSpeed", &value), ERROR_FILE_NOT_FOUND);
        QCOMPARE(queryStat("Dial-Up Adapter\\BytesXmit", &value), ERROR_FILE_NOT_FOUND);
        QCOMPARE(stateOf(slow.handle), DWORD(RASCS_OpenPort));

        // The modems' link has its speed before the logon is over.
        QVERIFY(writePhonebook({quickEntry(u"Strict"_s, {u"SimStageMs=200"_s, u"SimUser=bob"_s})}));
        const Dialed strict = dial(u"Strict"_s);
        lineclock::advanceMs(800); // four stages of 200 ms: logging on
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(strict.handle), DWORD(RASCS_Authenticate), kWaitMs);
        QCOMPARE(statOr("Dial-Up Adapter\\ConnectSpeed", 0), 28800u);
        lineclock::advanceMs(200);
        QTRY_COMPARE_WITH_TIMEOUT(errorOf(strict.handle), ERROR_AUTHENTICATION_FAILURE, kWaitMs);
        QCOMPARE(queryStat("Dial-Up Adapter\\ConnectSpeed", &value), ERROR_FILE_NOT_FOUND);
    }

    void statisticsOverridesComeFirst()
    {
        simline::setStatisticsValue(u"Dial-Up Adapter\\ConnectSpeed"_s, "\x80\x70\x00\x00"_ba);
        quint32 value = 0;
        QCOMPARE(queryStat("dial-up adapter\\connectspeed", &value), ERROR_SUCCESS);
        QCOMPARE(value, 28800u);

        const Dialed quick = dial(u"Quick"_s);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(quick.handle), DWORD(RASCS_Connected), kWaitMs);
        QCOMPARE(statOr("Dial-Up Adapter\\ConnectSpeed", 0), 28800u);
        simline::removeStatisticsValue(u"Dial-Up Adapter\\BytesRecvd"_s);
        QCOMPARE(queryStat("Dial-Up Adapter\\BytesRecvd", &value), ERROR_FILE_NOT_FOUND);
        QVERIFY(statOr("Dial-Up Adapter\\BytesXmit", 0) > 0);
        // A longer value than the program's 4-byte buffer.
        simline::setStatisticsValue(u"Dial-Up Adapter\\BytesXmit"_s, "12345678"_ba);
        QCOMPARE(queryStat("Dial-Up Adapter\\BytesXmit", &value), ERROR_MORE_DATA);

        simline::setStatisticsKeyPresent(false);
        HKEY key = 0;
        QCOMPARE(RegOpenKeyExA(HKEY_DYN_DATA, "PerfStats\\StatData", 0, KEY_QUERY_VALUE, &key),
                 ERROR_FILE_NOT_FOUND);
        simline::clearStatisticsOverrides();
        QCOMPARE(statOr("Dial-Up Adapter\\ConnectSpeed", 0), 33600u);
        QVERIFY(statOr("Dial-Up Adapter\\BytesRecvd", 0) > 0);
    }
};

QTEST_GUILESS_MAIN(TestSimulatedLine)
#include "test_simline.moc"
