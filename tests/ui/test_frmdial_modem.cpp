// The dialer window dialing a real modem entry (our modem emulator on a
// pseudo-terminal): the same words on the status line as with the simulated
// line, the modem's refusals in the service's words, pulse or tone as the
// dialing type says, Cancel hanging the modem up, and a dead link read as
// such and redialed.

#include "test_frmdial_support.h"

#include "engine/phonebook.h"
#include "support/emulated_modem.h"
#include "support/line_probe.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <csignal>

using namespace Qt::StringLiterals;
using namespace dialertest;

class TestDialerOnAModem final : public QObject
{
    Q_OBJECT

private:
    Fixture m_f;

    // Runs the monitor until the status line shows `text`, collecting every text it showed.
    bool tickUntil(const QString &text, QStringList *seen, int limitMs = 5000)
    {
        return QTest::qWaitFor(
            [&] {
                m_f.dialer->Timer1_Timer();
                if (seen->isEmpty() || seen->constLast() != m_f.dialer->status->text())
                    seen->append(m_f.dialer->status->text());
                return m_f.dialer->status->text() == text;
            },
            limitMs);
    }

    static QString serviceText(DWORD code)
    {
        LastRasError = static_cast<qint32>(code);
        const QString text = GetRasErrorText();
        LastRasError = 0;
        return text;
    }

private slots:
    void init()
    {
        QVERIFY(m_f.setUp());
        qputenv("VANTELO_LOCK_DIR", QFile::encodeName(m_f.base.home().path()));
        // pppd's options are checked before dialing: the tests' own are there.
        const QString peers = m_f.base.home().path() + u"/peers"_s;
        QVERIFY(writeBytes(peers + u"/vantelo"_s, "noauth\n"));
        qputenv("VANTELO_PPP_PEERS_DIR", QFile::encodeName(peers));
    }
    void cleanup()
    {
        m_f.tearDown(); // hangs up the modem's call too
        for (const char *name : {"VANTELO_PPP_PEERS_DIR", "VANTELO_PPPD", "VANTELO_STANDIN_DIR",
                                 "VANTELO_STANDIN_ECHO_UNIT_MS", "VANTELO_STANDIN_DEAD_EXIT"})
            qunsetenv(name);
    }

    // A busy far end, dialed in pulse (no dialing type chosen yet): the road
    // in words, then the service's words for a busy line until Cancel.
    void busyModemInPulse()
    {
        EmulatedModem modem(m_f.base.home().path(),
                            {u"--delay-ms"_s, u"200"_s, u"--default"_s, u"busy"_s});
        QVERIFY(modem.isReady());
        QVERIFY(writePhonebook({{u"Modem"_s, {u"Device="_s + modem.link()}}}));
        frmdial &w = m_f.load();
        m_f.fillFields(u"bob"_s, u"pw"_s, u"0860"_s);
        w.Connect->click();
        QCOMPARE(w.status->text(), u"Attempting to establish a connection..."_s);

        QStringList seen;
        // The words of what happened, at which stage, once the modem has answered.
        QVERIFY(tickUntil(u"Dialing 0860 ..."_s, &seen));
        QTRY_COMPARE(lineprobe::errorOf(lineprobe::listedHandles().value(0)),
                     DWORD(ERROR_LINE_BUSY));
        const QString busy = serviceText(ERROR_LINE_BUSY);
        QCOMPARE(busy, u"Dialing 0860: the modem answered \"BUSY\"."_s);
        QVERIFY2(tickUntil(busy, &seen), qPrintable(seen.join(u" | "_s)));
        QVERIFY(modem.log().contains(u"CMD ATDP0860"_s));
        QCOMPARE(w.exi->text(), u"Cancel"_s);
        QCOMPARE(w.WasConnected, qint16(0));

        w.exi->click();
        QVERIFY(w.Connect->isEnabled());
        QCOMPARE(lineprobe::listedHandles().size(), 0);
    }

    // Tone dialing once the options say so; Cancel while the modem dials hangs it up.
    void cancelWhileDialingInTone()
    {
        EmulatedModem modem(m_f.base.home().path(), {u"--default"_s, u"silent"_s});
        QVERIFY(modem.isReady());
        QVERIFY(writePhonebook({{u"Modem"_s, {u"Device="_s + modem.link()}}}));
        frmdial &w = m_f.load();
        DialType = 1;
        m_f.fillFields(u"bob"_s, u"pw"_s, u"0860"_s);
        w.Connect->click();
        QStringList seen;
        QVERIFY2(tickUntil(u"Dialing 0860 ..."_s, &seen), qPrintable(seen.join(u" | "_s)));
        QTRY_VERIFY(modem.log().contains(u"CMD ATDT0860"_s));

        w.exi->click();
        QCOMPARE(w.status->text(), u" Please Click Connect to begin Dialing.."_s);
        QTRY_VERIFY_WITH_TIMEOUT(modem.log().contains(u"HANGUP"_s), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(lineprobe::listedHandles().size(), 0, 5000);
        DialType = 0;
    }

    // A link whose far end goes silent with the carrier up is ended by pppd's
    // echo check: the status line reads why (not "Disconnected"), the window
    // is back at rest, and "Auto connect" dials again as after any drop.
    void deadLinkReadsAsSuchAndIsRedialed()
    {
        QVERIFY(writeBytes(m_f.base.home().path() + u"/peers/vantelo"_s,
                           "noauth\nlcp-echo-interval 2\nlcp-echo-failure 3\n"));
        qputenv("VANTELO_PPPD", VANTELO_PPPD_STANDIN);
        qputenv("VANTELO_STANDIN_DIR", QFile::encodeName(m_f.base.home().path()));
        qputenv("VANTELO_STANDIN_ECHO_UNIT_MS", "20");
        qputenv("VANTELO_STANDIN_DEAD_EXIT", "16"); // as pppd 2.4.9 ends it
        EmulatedModem modem(m_f.base.home().path(), {u"--"_s, u"cat"_s});
        QVERIFY(modem.isReady());
        QVERIFY(writePhonebook({{u"Modem"_s, {u"Device="_s + modem.link()}}}));
        frmdial &w = m_f.load();
        m_f.fillFields(u"bob"_s, u"pw"_s, u"0860"_s);
        w.Check2->setChecked(true);
        w.Connect->click();
        QStringList seen;
        QVERIFY2(tickUntil(u"Connected."_s, &seen), qPrintable(seen.join(u" | "_s)));

        QVERIFY(::kill(pid_t(modem.pid()), SIGUSR2) == 0);
        QVERIFY(QTest::qWaitFor(
            [&] {
                w.Timer1_Timer();
                return w.WasConnected == 0;
            },
            5000));
        // The call's own words: it is hung up now, and its record gone with it.
        const QString dead = w.status->text();
        QVERIFY2(dead.startsWith(u"On line: the far end stopped answering (no LCP echo replies)"_s),
                 qPrintable(dead));
        QVERIFY(w.Connect->isEnabled());
        QCOMPARE(w.exi->text(), u"Close"_s);
        QCOMPARE(lineprobe::listedHandles().size(), 0);
        w.Timer1_Timer();
        QCOMPARE(w.status->text(), dead);

        w.Timer3_Timer();
        QCOMPARE(lineprobe::listedHandles().size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(modem.log().count(u"CMD ATDP0860"_s), 2, 5000);
    }

    // No pppd options to go on with: nothing is dialed, and the words name
    // the missing file and say what to install.
    void modemWithoutPeersFile()
    {
        EmulatedModem modem(m_f.base.home().path());
        QVERIFY(modem.isReady());
        QVERIFY(writePhonebook(
            {{u"Modem"_s, {u"Device="_s + modem.link(), u"Peer=vantelo-test-absent"_s}}}));
        frmdial &w = m_f.load();
        m_f.fillFields(u"bob"_s, u"pw"_s, u"0860"_s);
        w.Connect->click();
        QTRY_VERIFY(lineprobe::listedHandles().size() == 1);
        QStringList seen;
        const QString text = serviceText(ERROR_READING_INI_FILE);
        QVERIFY2(tickUntil(text, &seen), qPrintable(seen.join(u" | "_s)));
        QVERIFY2(text.contains(u"vantelo-test-absent"_s), qPrintable(text));
        QVERIFY(text.contains(u"cmake --install build --component ppp-peers"_s));
        QVERIFY(!modem.log().contains(u"CMD"_s));
    }
};

QTEST_MAIN(TestDialerOnAModem)
#include "test_frmdial_modem.moc"
