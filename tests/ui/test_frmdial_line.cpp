// The dialer window following a call: the monitor's words, clocks, call log
// and tray tip, the line dropping, the indicator circles, cancel, and the
// automatic redial with its period, which never dials a refused login again.

#include "test_frmdial_support.h"

#include "engine/phonebook.h"
#include "platform/window_handles.h"
#include "support/fake_dialer.h"
#include "support/line_probe.h"
#include "ui/details/frmset.h"
#include "ui/dialer/indicator_circle.h"
#include "ui/options/frmopt.h"

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

using namespace Qt::StringLiterals;
using namespace dialertest;

namespace {

const QDateTime Morning(QDate(2024, 3, 5), QTime(10, 0, 0));

} // namespace

class TestDialerConnection final : public QObject
{
    Q_OBJECT

private:
    Fixture m_f;

    QString lastTip() const
    {
        const auto modified = notifyCalls(NIM_MODIFY);
        if (modified.isEmpty())
            return u"<no tip update>"_s;
        const NOTIFYICONDATA &data = modified.constLast().data;
        return QString::fromLocal8Bit(data.szTip, static_cast<qsizetype>(qstrnlen(data.szTip, 64)));
    }

private slots:
    void init() { QVERIFY(m_f.setUp()); }
    void cleanup() { m_f.tearDown(); }

    void roadOfATypicalConnection()
    {
        // The line's clock moves a stage of 60 ms between ticks of the
        // monitor, which sees each one.
        QVERIFY(writePhonebook({quickEntry(u"Home"_s, {u"SimStageMs=60"_s})}));
        frmdial &w = m_f.load();
        w.show();
        SetFixedDateTime(Morning);
        m_f.fillFields();
        stopLineClock();
        w.Connect->click();
        QCOMPARE(w.status->text(), u"Attempting to establish a connection..."_s);

        QStringList words{w.status->text()};
        QVERIFY(QTest::qWaitFor(
            [&] {
                w.Timer1_Timer();
                platform::clock::advanceMs(60);
                if (words.constLast() != w.status->text())
                    words.append(w.status->text());
                return w.WasConnected == 1;
            },
            5000));
        platform::clock::useSystemClock();
        // The progress words in order (a fast tick may see every stage).
        const QStringList expected{u"Opening port for connection..."_s, u"Dialing 0860 ..."_s,
                                   u"Verifying username and password..."_s, u"Connected."_s};
        qsizetype at = 0;
        for (const QString &word : words) {
            if (at < expected.size() && word == expected.at(at))
                ++at;
        }
        QVERIFY2(at == expected.size(), qPrintable(words.join(u" | "_s)));

        // First tick with the line up.
        QVERIFY(!w.isVisible());
        QVERIFY(!w.Timer2->isActive());
        QCOMPARE(Forms::details().l3->text(), u"Connected"_s);
        QCOMPARE(w.lblSession->text(), u"00:00:01"_s);
        QVERIFY(w.tms->isActive());

        // The post-connect step runs right after that tick.
        SetFixedDateTime(Morning.addSecs(1));
        QTRY_VERIFY_WITH_TIMEOUT(!w.tms->isActive(), 2000);
        const QString started = CurrentTimeText();
        QCOMPARE(w.ConnectStartTime, started);
        QCOMPARE(Forms::details().l1->text(), u"28800"_s);
        QCOMPARE(Forms::details().l2->text(), u"Home"_s);

        // Connected: the clocks run, the window is hidden again after being
        // brought back, and the post-connect step does not run again.
        w.show();
        SetFixedDateTime(Morning.addSecs(2));
        w.Timer1_Timer();
        QVERIFY(!w.isVisible());
        QVERIFY(!w.tms->isActive());
        QCOMPARE(w.lblSession->text(), u"00:00:02"_s);
        QCOMPARE(Forms::details().l4->text(), u"00:00:02"_s);
        QCOMPARE(w.lblTotal->text(), u"00:00:00"_s);
        QCOMPARE(w.exi->text(), u"Cancel"_s);

        // The call log: the header and this call's record.
        const QStringList log = callLogLines();
        QCOMPARE(log.size(), 2);
        QCOMPARE(log.at(0), CallLogHeader);
        const QString record = log.at(1);
        QVERIFY2(record.startsWith(CurrentDateText()), qPrintable(record));
        QVERIFY2(record.contains(started), qPrintable(record));
        QVERIFY2(record.contains(CurrentTimeText()), qPrintable(record));
        QVERIFY2(record.trimmed().endsWith(u"28800"_s), qPrintable(record));
    }

    void lineDropUnlocksLogsAndReleasesTheCall()
    {
        frmdial &w = m_f.load();
        SetFixedDateTime(Morning);
        QVERIFY(m_f.connectLine());
        w.Check2->setChecked(true);
        w.Timer1_Timer();
        w.Timer1_Timer();
        QCOMPARE(w.lblSession->text(), u"00:00:03"_s);

        SetFixedDateTime(Morning.addSecs(5 * 60));
        QCOMPARE(simline::dropCarrier(), 1);
        w.Timer1_Timer();

        QCOMPARE(w.status->text(), u"Disconnected"_s);
        for (QWidget *field : std::initializer_list<QWidget *>{w.Connect, w.opt, w.Combo2, w.Combo3,
                                                               w.Text1, w.Check1, w.Check2})
            QVERIFY2(field->isEnabled(), qPrintable(field->objectName()));
        QCOMPARE(w.exi->text(), u"Close"_s);
        QCOMPARE(w.lblTotal->text(), u"00:00:03"_s);
        QCOMPARE(w.lblMonth->text(), u"00:00:03"_s);
        QCOMPARE(Forms::details().l3->text(), u" Not Connected"_s);
        QCOMPARE(w.WasConnected, qint16(0));
        QVERIFY(!w.isVisible());
        const QStringList log = callLogLines();
        QCOMPARE(log.size(), 2);
        QVERIFY2(log.at(1).contains(CurrentTimeText()), qPrintable(log.at(1)));
        QVERIFY2(log.at(1).trimmed().endsWith(u"28800"_s), qPrintable(log.at(1)));
        // The dropped call is hung up, so it no longer counts as a connection.
        QCOMPARE(simline::calls().size(), 0);

        // The next ticks do not repeat the drop.
        w.status->setText(u"x"_s);
        w.Timer1_Timer();
        QCOMPARE(w.status->text(), u"x"_s);
        QCOMPARE(w.lblSession->text(), u"00:00:03"_s);

        // "Auto connect" dials again, the window still hidden.
        Forms::options().TxtTest->setText(u"5"_s);
        w.Timer4_Timer();
        QVERIFY(w.Timer3->isActive());
        QCOMPARE(w.Timer3->interval(), 5000);
        w.Timer3_Timer();
        QCOMPARE(simline::calls().size(), 1);
        QCOMPARE(w.status->text(), u"Attempting to establish a connection..."_s);
        QCOMPARE(w.exi->text(), u"Cancel"_s);
        QVERIFY(!w.isVisible());

        // The second connection continues the clocks.
        QVERIFY(m_f.tickUntilConnected());
        QCOMPARE(w.lblSession->text(), u"00:00:04"_s);
    }

    void clocksCountConnectedSeconds()
    {
        frmdial &w = m_f.load();
        QVERIFY(m_f.connectLine());
        SessionDuration = TotalDuration = MonthDuration = Duration{};

        for (int i = 0; i < 59; ++i)
            w.Timer1_Timer();
        QCOMPARE(w.lblSession->text(), u"00:00:59"_s);
        // The total and month clocks are shown only when the line drops.
        QCOMPARE(w.lblTotal->text(), u"00:00:00"_s);
        w.Timer1_Timer();
        QCOMPARE(w.lblSession->text(), u"00:01:00"_s);
        for (int i = 60; i < 3600; ++i)
            w.Timer1_Timer();
        QCOMPARE(w.lblSession->text(), u"01:00:00"_s);
        QCOMPARE(FormatHms(TotalDuration), u"01:00:00"_s);
        QCOMPARE(FormatHms(MonthDuration), u"01:00:00"_s);

        simline::dropCarrier();
        w.Timer1_Timer();
        QCOMPARE(w.lblTotal->text(), u"01:00:00"_s);
        QCOMPARE(w.lblMonth->text(), u"01:00:00"_s);
        // No clock moves while the line is down.
        w.Timer1_Timer();
        QCOMPARE(w.lblSession->text(), u"01:00:00"_s);
    }

    void trayTipFollowsStatusAndClock()
    {
        frmdial &w = m_f.load();
        QVERIFY(m_f.connectLine());
        SessionDuration = Duration{4, 0, 0};
        platform::seams::clearShellNotifyCalls();
        w.Timer1_Timer();

        const auto modified = notifyCalls(NIM_MODIFY);
        QCOMPARE(modified.size(), 1);
        QCOMPARE(modified.constFirst().data.uFlags, UINT(NIF_TIP));
        QCOMPARE(tipBytes(modified.constFirst().data),
                 tipField("Vantelo BETA - Connected.00:00:05"));
        QCOMPARE(TrayIconData.uFlags, UINT(NIF_TIP));
        QCOMPARE(platform::seams::trayToolTip(), u"Vantelo BETA - Connected.00:00:05"_s);
    }

    void trayTipIsCutTo63Characters_data()
    {
        QTest::addColumn<int>("statusLength");
        // "Vantelo BETA - " is 15 characters, the clock 8.
        QTest::newRow("fits exactly") << 40;
        QTest::newRow("one too many") << 41;
        QTest::newRow("long") << 120;
    }

    void trayTipIsCutTo63Characters()
    {
        QFETCH(int, statusLength);
        frmdial &w = m_f.load();
        QString long_status;
        for (int i = 0; i < statusLength; ++i)
            long_status += QChar(u'a' + i % 26);
        w.status->setText(long_status);
        w.Timer1_Timer();

        const QString full = u"Vantelo BETA - "_s + long_status + u"00:00:00"_s;
        QCOMPARE(lastTip(), full.left(63));
        QCOMPARE(tipBytes(TrayIconData), tipField(full.left(63).toLatin1()));
    }

    void busyLineShowsTheServiceTextAndStaysDialing()
    {
        LastRasError = ERROR_LINE_BUSY;
        const QString busyText = GetRasErrorText();
        LastRasError = 0;
        frmdial &w = m_f.load();
        simline::forceNextOutcome(simline::Outcome::Busy);
        m_f.fillFields();
        w.Check2->setChecked(true);
        w.Connect->click();

        QTRY_COMPARE_WITH_TIMEOUT((w.Timer1_Timer(), w.status->text()), busyText, 3000);
        w.Timer1_Timer();
        w.Timer1_Timer();
        // Still the Dialing look: only "Cancel" leaves it.
        QCOMPARE(w.status->text(), busyText);
        QCOMPARE(w.exi->text(), u"Cancel"_s);
        QVERIFY(!w.Connect->isEnabled());
        QVERIFY(w.Timer2->isActive());
        QCOMPARE(w.WasConnected, qint16(0));
        w.Timer3_Timer();
        QCOMPARE(simline::calls().size(), 1);

        w.exi->click();
        QCOMPARE(w.status->text(), u" Please Click Connect to begin Dialing.."_s);
        QVERIFY(w.Connect->isEnabled());
        QVERIFY(w.Text1->isEnabled());
        QCOMPARE(w.exi->text(), u"Close"_s);
        QVERIFY(!w.Timer2->isActive());
        QCOMPARE(simline::calls().size(), 0);
        QVERIFY(!w.isUnloaded());
    }

    void circlesSweepAndCancelHidesTheLitOne()
    {
        QVERIFY(writePhonebook({quickEntry(u"Home"_s, {u"SimStageMs=60000"_s})}));
        frmdial &w = m_f.load();
        w.show();
        m_f.fillFields();
        w.Connect->click();
        QVERIFY(w.Timer2->isActive());
        // The test takes the steps itself.
        w.Timer2->stop();

        const QList<int> positions{0, 1, 2, 3, 4, 3, 2, 1, 0, 1, 2};
        const QColor red(255, 0, 0), blue(0, 0, 255);
        for (qsizetype step = 0; step < positions.size(); ++step) {
            w.Timer2_Timer();
            const int at = positions.at(step);
            QCOMPARE(w.SweepPosition, qint16(at));
            const bool leftward = step >= 5 && step <= 8;
            QCOMPARE(w.Shape1[static_cast<size_t>(at)]->fillColor(), leftward ? blue : red);
            int visible = 0;
            for (IndicatorCircle *circle : w.Shape1)
                visible += circle->isVisible() ? 1 : 0;
            QCOMPARE(visible, 1);
            QVERIFY(w.Shape1[static_cast<size_t>(at)]->isVisible());
        }

        w.exi_Click();
        for (IndicatorCircle *circle : w.Shape1)
            QVERIFY(!circle->isVisible());
        QCOMPARE(w.exi->text(), u"Close"_s);
        QCOMPARE(simline::calls().size(), 0);
        QVERIFY(w.isVisible());
        // The animation carries on from where it stopped at the next dial.
        w.Connect->click();
        w.Timer2->stop();
        w.Timer2_Timer();
        QCOMPARE(w.SweepPosition, qint16(3));
    }

    void redialCheck()
    {
        frmdial &w = m_f.load();
        m_f.fillFields(u"demo"_s, QString(), u"0860"_s);

        // "Auto connect" unchecked: nothing at all.
        w.Timer3_Timer();
        QVERIFY(platform::seams::messageBoxCalls().isEmpty());

        // Checked, with the password missing: the check's message each period.
        w.Check2->setChecked(true);
        w.Timer3_Timer();
        w.Timer3_Timer();
        const auto &boxes = platform::seams::messageBoxCalls();
        QCOMPARE(boxes.size(), 2);
        QCOMPARE(boxes.constLast().text, u"Please enter your password.."_s);

        // A connection exists: no redial.
        w.Text1->setText(u"demo"_s);
        FakeDialer elsewhere;
        QVERIFY(DialEntry(elsewhere, u"Home"_s));
        w.Timer3_Timer();
        QCOMPARE(simline::calls().size(), 1);
        QVERIFY(w.Connect->isEnabled());
        HangUpAll(elsewhere, -1);
        QCOMPARE(simline::calls().size(), 0);

        // None: it dials, and while dialing it does nothing more.
        w.Timer3_Timer();
        QCOMPARE(simline::calls().size(), 1);
        QVERIFY(!w.Connect->isEnabled());
        w.Timer3_Timer();
        QCOMPARE(simline::calls().size(), 1);
    }

    // With "Auto connect" ticked, a login and password the ISP refused are not
    // dialed again: the status line keeps the refusal and says what lifts the
    // pause. Cancel, then redial periods: no dial. "Connecter" dials (and is
    // refused again); a new password dials at the next period.
    void refusedLoginIsNotRedialed()
    {
        LastRasError = ERROR_AUTHENTICATION_FAILURE;
        const QString refused = GetRasErrorText();
        LastRasError = 0;
        const QString waiting = refused + u" Redialing waits until the login or password changes, "
                                          u"or until Connecter is pressed."_s;
        frmdial &w = m_f.load();
        m_f.fillFields(u"demo"_s, u"wrong"_s, u"0860"_s);
        w.Check2->setChecked(true);
        const auto refusedAgain = [&] {
            return QTest::qWaitFor(
                [&] {
                    w.Timer1_Timer();
                    return w.status->text() == waiting;
                },
                3000);
        };
        w.Connect->click();
        QVERIFY2(refusedAgain(), qPrintable(w.status->text()));
        QCOMPARE(w.exi->text(), u"Cancel"_s);

        w.exi->click();
        QCOMPARE(w.status->text(), waiting);
        QVERIFY(w.Connect->isEnabled());
        QCOMPARE(simline::calls().size(), 0);
        for (int period = 0; period < 3; ++period) {
            w.Timer3_Timer();
            w.Timer1_Timer();
        }
        QCOMPARE(simline::calls().size(), 0);
        QVERIFY(platform::seams::messageBoxCalls().isEmpty());
        QCOMPARE(w.status->text(), waiting);

        // "Connecter" dials the same login: the user asked for it.
        w.Connect->click();
        QCOMPARE(simline::calls().size(), 1);
        QVERIFY(refusedAgain());
        w.exi->click();
        w.Timer3_Timer();
        QCOMPARE(simline::calls().size(), 0);

        // A new password, typed: dialed once it has stayed the same for a
        // whole period, and it connects.
        w.Text1->setText(u"de"_s);
        w.Timer3_Timer();
        w.Text1->setText(u"demo"_s);
        w.Timer3_Timer();
        QCOMPARE(simline::calls().size(), 0);
        w.Timer3_Timer();
        QCOMPARE(simline::calls().size(), 1);
        QVERIFY(m_f.tickUntilConnected());

        // Without "Auto connect" a refusal reads as the service's words alone.
        w.exi->click();
        w.Timer1_Timer();
        QCOMPARE(w.WasConnected, qint16(0));
        w.Check2->setChecked(false);
        w.Text1->setText(u"wrong"_s);
        w.Connect->click();
        QVERIFY(QTest::qWaitFor(
            [&] {
                w.Timer1_Timer();
                return w.status->text() == refused;
            },
            3000));
    }

    // A busy line is redialed as ever: after Cancel, the next period dials.
    void busyLineIsRedialedAfterCancel()
    {
        frmdial &w = m_f.load();
        m_f.fillFields();
        w.Check2->setChecked(true);
        simline::forceNextOutcome(simline::Outcome::Busy);
        w.Connect->click();
        QTRY_VERIFY_WITH_TIMEOUT((w.Timer1_Timer(), lineprobe::firstState() == RASCS_Disconnected),
                                 3000);
        w.exi->click();
        w.Timer3_Timer();
        QCOMPARE(simline::calls().size(), 1);
        QVERIFY(m_f.tickUntilConnected());
    }

    void redialPeriodFollowsTxtTest()
    {
        frmdial &w = m_f.load();
        QLineEdit *field = Forms::options().TxtTest;
        auto apply = [&](const QString &text) {
            field->setText(text);
            w.Timer4_Timer();
        };

        apply(u"5"_s);
        QVERIFY(w.Timer3->isActive());
        QCOMPARE(w.Timer3->interval(), 5000);

        // The same period again does not restart the countdown.
        QTest::qWait(150);
        apply(u"5"_s);
        QVERIFY(w.Timer3->isActive());
        QVERIFY2(w.Timer3->remainingTime() <= 4900,
                 qPrintable(QString::number(w.Timer3->remainingTime())));

        // Text that gives no usable period keeps the one in force.
        for (const QString &bad : {QString(), u"abc"_s, u"-3"_s, u"1e10"_s, u"5s"_s}) {
            apply(bad);
            QVERIFY2(w.Timer3->isActive(), qPrintable(bad));
            QCOMPARE(w.Timer3->interval(), 5000);
        }

        apply(u"30"_s);
        QCOMPARE(w.Timer3->interval(), 30000);
        // A fraction in the system's number format; halves round to even.
        apply(QLocale::system().toString(2.5));
        QCOMPARE(w.Timer3->interval(), 2500);
        apply(QLocale::system().toString(0.0025));
        QCOMPARE(w.Timer3->interval(), 2);

        // 0 switches the check off, and it stays off.
        apply(u"0"_s);
        QVERIFY(!w.Timer3->isActive());
        apply(u"0"_s);
        QVERIFY(!w.Timer3->isActive());
        apply(u"7"_s);
        QVERIFY(w.Timer3->isActive());
        QCOMPARE(w.Timer3->interval(), 7000);
    }

    void redialDoesNotStackMessageBoxes()
    {
        frmdial &w = m_f.load();
        m_f.fillFields(QString(), u"demo"_s, u"0860"_s);
        w.Check2->setChecked(true);
        platform::seams::setQuiet(false);

        // While the first box is open, the redial check fires; then every box
        // open is closed.
        qsizetype boxesDuringCheck = -1;
        bool probed = false;
        QTimer::singleShot(30, &w, [&] {
            probed = true;
            w.Timer3_Timer();
            boxesDuringCheck = platform::seams::messageBoxCalls().size();
        });
        QTimer closer;
        connect(&closer, &QTimer::timeout, &w, [&] {
            if (!probed)
                return;
            if (QWidget *box = QApplication::activeModalWidget())
                box->close();
        });
        closer.start(20);
        w.Connect_Click();
        closer.stop();

        QCOMPARE(boxesDuringCheck, qsizetype(1));
        QCOMPARE(platform::seams::messageBoxCalls().size(), 1);
        // Once the box is closed, the check works again.
        platform::seams::setQuiet(true);
        w.Timer3_Timer();
        QCOMPARE(platform::seams::messageBoxCalls().size(), 2);
    }
};

QTEST_MAIN(TestDialerConnection)
#include "test_frmdial_line.moc"
