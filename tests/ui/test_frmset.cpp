// The connection details window: the adapter's byte counters, the two
// heights, "&Disconnect", the automatic disconnection and what a reload keeps.

#include "engine/dialing.h"
#include "engine/globals.h"
#include "engine/line_status.h"
#include "engine/phonebook.h"
#include "platform/seams.h"
#include "platform/simline.h"
#include "support/fake_dialer.h"
#include "support/fixture.h"
#include "ui/common/controls.h"
#include "ui/common/forms.h"
#include "ui/details/frmset.h"
#include "ui/dialer/frmdial.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <QtEndian>

#include <cstdlib>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

QByteArray le32(qint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

template <class T> T *control(QWidget &window, const QString &name)
{
    T *found = window.findChild<T *>(name);
    if (!found)
        qWarning("no control %s", qPrintable(name));
    return found;
}

QString text(QWidget &window, const QString &name)
{
    if (auto *label = window.findChild<QLabel *>(name))
        return label->text();
    if (auto *button = window.findChild<QPushButton *>(name))
        return button->text();
    if (auto *box = window.findChild<QLineEdit *>(name))
        return box->text();
    return u"<missing %1>"_s.arg(name);
}

void click(QWidget &window, const QString &name)
{
    QPushButton *button = control<QPushButton>(window, name);
    QVERIFY(button);
    button->click();
}

// The calls the simulated line has not closed.
qsizetype openCalls()
{
    qsizetype open = 0;
    for (const simline::CallRecord &call : simline::calls())
        open += call.closing ? 0 : 1;
    return open;
}

} // namespace

class TestDetailsWindow final : public QObject
{
    Q_OBJECT

private:
    TestFixture m_f;
    std::unique_ptr<frmdial> m_dialer;

    // A connected call on the simulated line, dialed outside the dialer window.
    bool dialACall()
    {
        FakeDialer view;
        if (!DialEntry(view, u"Home"_s))
            return false;
        return QTest::qWaitFor([] { return !ActiveEntryName().isEmpty(); }, 3000);
    }

private slots:
    void initTestCase() { Controls::useFormFont(); } // as main() does

    void init()
    {
        QVERIFY(m_f.setUp({quickEntry(u"Home"_s)}));
        HangUpPaceMs = 1;
        m_dialer = std::make_unique<frmdial>();
        // The dialer's own timers would write into the details window.
        for (QTimer *timer : {m_dialer->Timer1, m_dialer->Timer2, m_dialer->Timer3,
                              m_dialer->Timer4, m_dialer->tms})
            timer->stop();
        Forms::setDialer(m_dialer.get());
    }

    void cleanup()
    {
        Forms::unloadAll();
        Forms::setDialer(nullptr);
        m_dialer.reset();
        m_f.tearDown();
    }

    void countersShowTheStatisticsAsPlainSignedNumbers()
    {
        simline::setStatisticsValue(BytesXmitValue, le32(1234));
        simline::setStatisticsValue(BytesRecvdValue, le32(5678901));
        frmset &w = Forms::details();
        QCOMPARE(text(w, u"lblXmit"_s), u"1234"_s);
        QCOMPARE(text(w, u"lblRecv"_s), u"5678901"_s);

        // Each tick shows the reading as it stands; 2^31 and above read negative.
        simline::setStatisticsValue(BytesXmitValue, le32(std::numeric_limits<qint32>::min()));
        simline::setStatisticsValue(BytesRecvdValue, le32(0));
        w.tmrStats_Timer();
        QCOMPARE(text(w, u"lblXmit"_s), u"-2147483648"_s);
        QCOMPARE(text(w, u"lblRecv"_s), u"0"_s);

        // The window's own timer refreshes them twice a second while shown.
        auto *timer = w.findChild<QTimer *>(u"tmrStats"_s);
        QVERIFY(timer);
        QCOMPARE(timer->interval(), 500);
        w.show();
        QVERIFY(timer->isActive());
        simline::setStatisticsValue(BytesRecvdValue, le32(42));
        QTRY_COMPARE_WITH_TIMEOUT(text(w, u"lblRecv"_s), u"42"_s, 2000);
    }

    void statsTimerTicksInStepWithTheMonitor()
    {
        frmset &w = Forms::details();
        auto *timer = w.findChild<QTimer *>(u"tmrStats"_s);
        QVERIFY(timer);
        QTimer *monitor = m_dialer->Timer1;

        // Shown between two ticks of the monitor, the counters are read at
        // once and start ticking with the monitor's next tick.
        monitor->start();
        w.show();
        QVERIFY(!timer->isActive());
        w.hide();
        w.show();
        QVERIFY(!timer->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(timer->isActive(), 1500);
        const int apart = std::abs(monitor->remainingTime() % 500 - timer->remainingTime() % 500);
        QVERIFY2(apart <= 60 || apart >= 440, qPrintable(u"%1 ms apart"_s.arg(apart)));

        // Hidden before that tick, it never starts.
        w.hide();
        QVERIFY(!timer->isActive());
        monitor->start();
        w.show();
        w.hide();
        QTest::qWait(1100);
        QVERIFY(!timer->isActive());
    }

    void statsTimerRunsOnlyWhileShownOrArmed()
    {
        simline::setStatisticsValue(BytesRecvdValue, le32(10));
        frmset &w = Forms::details();
        auto *timer = w.findChild<QTimer *>(u"tmrStats"_s);
        QVERIFY(timer);
        // Loaded hidden, as the monitor loads it: nothing ticks.
        QVERIFY(!timer->isActive());
        QCOMPARE(text(w, u"lblRecv"_s), u"10"_s);

        // Shown, the counters are fresh at once, not half a second later.
        simline::setStatisticsValue(BytesRecvdValue, le32(20));
        w.show();
        QCOMPARE(text(w, u"lblRecv"_s), u"20"_s);
        QVERIFY(timer->isActive());
        w.hide();
        QVERIFY(!timer->isActive());
        simline::setStatisticsValue(BytesRecvdValue, le32(30));
        w.show();
        QCOMPARE(text(w, u"lblRecv"_s), u"30"_s);

        // Armed, the time on line is watched shown or hidden, until disarmed.
        control<QLineEdit>(w, u"Text1"_s)->setText(u"3"_s);
        click(w, u"option2"_s);
        w.hide();
        QVERIFY(timer->isActive());
        click(w, u"option2"_s);
        QCOMPARE(text(w, u"option2"_s), u"OK"_s);
        QVERIFY(!timer->isActive());
        click(w, u"option2"_s); // armed while hidden
        QVERIFY(timer->isActive());
    }

    void missingStatisticsReadZero()
    {
        simline::setStatisticsValue(BytesXmitValue, le32(77));
        simline::setStatisticsValue(BytesRecvdValue, le32(88));
        simline::setStatisticsKeyPresent(false);
        frmset &w = Forms::details();
        QCOMPARE(text(w, u"lblXmit"_s), u"0"_s);
        QCOMPARE(text(w, u"lblRecv"_s), u"0"_s);

        simline::setStatisticsKeyPresent(true);
        simline::removeStatisticsValue(BytesXmitValue);
        simline::removeStatisticsValue(BytesRecvdValue);
        w.tmrStats_Timer();
        QCOMPARE(text(w, u"lblXmit"_s), u"0"_s);
        QCOMPARE(text(w, u"lblRecv"_s), u"0"_s);
    }

    void optionsButtonSwitchesBetweenShortAndTallHeights()
    {
        frmset &w = Forms::details();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.windowTitle(), u"Session"_s);
        // The design height is the client area's; the button sets outer heights.
        QCOMPARE(w.height(), 4020 / 15);
        const int width = w.frameGeometry().width();
        const QRect okPlace = control<QPushButton>(w, u"Command1"_s)->geometry();

        click(w, u"opt"_s);
        QCOMPARE(text(w, u"opt"_s), u"Options >>"_s);
        QCOMPARE(w.frameGeometry().height(), 3900 / 15);

        click(w, u"opt"_s);
        QCOMPARE(text(w, u"opt"_s), u"Hide Options"_s);
        QCOMPARE(w.frameGeometry().height(), 5100 / 15);

        click(w, u"opt"_s);
        QCOMPARE(text(w, u"opt"_s), u"Options >>"_s);
        QCOMPARE(w.frameGeometry().height(), 3900 / 15);
        // Only the height changes; the controls stay where they are.
        QCOMPARE(w.frameGeometry().width(), width);
        QCOMPARE(control<QPushButton>(w, u"Command1"_s)->geometry(), okPlace);
    }

    void outerHeightsHoldWhenTheFrameComesLate()
    {
        // Pressed before the window has ever been shown, and so before it has
        // a frame: the outer heights must hold once the frame is there.
        frmset &w = Forms::details();
        click(w, u"opt"_s);
        QCOMPARE(text(w, u"opt"_s), u"Options >>"_s);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.frameGeometry().height() > w.height()); // the frame is there now
        QTRY_COMPARE(w.frameGeometry().height(), 3900 / 15);

        click(w, u"opt"_s);
        QCOMPARE(w.frameGeometry().height(), 5100 / 15);
        click(w, u"opt"_s);
        QCOMPARE(w.frameGeometry().height(), 3900 / 15);

        // The window system reports another size than the one asked for (a
        // report sent before the request crossed it): the height is asked
        // for again.
        QVERIFY(w.windowHandle());
        w.windowHandle()->resize(w.width(), w.height() + 8);
        QCoreApplication::processEvents(); // delivers the report
        QTRY_COMPARE(w.frameGeometry().height(), 3900 / 15);
    }

    void disconnectWhileIdleOnlyClosesAndKeepsTheDialerHidden()
    {
        QVERIFY(dialACall());
        m_dialer->exi->setText(u"Close"_s);
        m_dialer->status->setText(u"Connected."_s);
        m_dialer->Timer2->start();
        frmset &w = Forms::details();
        w.show();

        click(w, u"Command2"_s);
        QCOMPARE(HideOnClose, 1);
        QTRY_VERIFY(!Forms::detailsLoaded());
        QCOMPARE(openCalls(), 1);
        QCOMPARE(m_dialer->status->text(), u"Connected."_s);
        QCOMPARE(m_dialer->exi->text(), u"Close"_s);
        QVERIFY(m_dialer->Timer2->isActive());
    }

    void disconnectDuringADialResetsTheDialerAndHangsUp()
    {
        QVERIFY(dialACall());
        m_dialer->exi->setText(u"Cancel"_s);
        for (QWidget *field : std::initializer_list<QWidget *>{
                 m_dialer->Connect, m_dialer->opt, m_dialer->Combo2, m_dialer->Combo3,
                 m_dialer->Text1, m_dialer->Check1, m_dialer->Check2, m_dialer->Combo1})
            field->setEnabled(false);
        m_dialer->Timer2->start();
        frmset &w = Forms::details();
        w.show();

        click(w, u"Command2"_s);
        QCOMPARE(m_dialer->status->text(), u" Please Click Connect to begin Dialing.."_s);
        for (QWidget *field : std::initializer_list<QWidget *>{
                 m_dialer->Connect, m_dialer->opt, m_dialer->Combo2, m_dialer->Combo3,
                 m_dialer->Text1, m_dialer->Check1, m_dialer->Check2})
            QVERIFY2(field->isEnabled(), qPrintable(field->objectName()));
        QVERIFY(!m_dialer->Combo1->isEnabled()); // the entry list is not touched
        QCOMPARE(m_dialer->exi->text(), u"Close"_s);
        QCOMPARE(openCalls(), 0);
        QVERIFY(!m_dialer->Timer2->isActive());
        QCOMPARE(HideOnClose, 0);
        QTRY_VERIFY(!Forms::detailsLoaded());
    }

    void automaticDisconnectionArmsOnlyWithMinutes()
    {
        QVERIFY(dialACall());
        frmset &w = Forms::details();
        auto *minutes = control<QLineEdit>(w, u"Text1"_s);
        QVERIFY(minutes);
        control<QLabel>(w, u"l4"_s)->setText(u"01:00:00"_s);
        for (const QString &refused : {u""_s, u"abc"_s, u"0"_s, u"-3"_s, u"1.5"_s, u"2 min"_s}) {
            minutes->setText(refused);
            click(w, u"option2"_s);
            QVERIFY2(text(w, u"option2"_s) == u"OK"_s, qPrintable(refused));
        }
        minutes->setText(u" 2 "_s);
        click(w, u"option2"_s);
        QCOMPARE(text(w, u"option2"_s), u"NO"_s);
        // Arming never hangs up by itself, however long the line has been up.
        w.tmrStats_Timer();
        QCOMPARE(openCalls(), 1);

        click(w, u"option2"_s);
        QCOMPARE(text(w, u"option2"_s), u"OK"_s);
        control<QLabel>(w, u"l4"_s)->setText(u"05:00:00"_s);
        w.tmrStats_Timer();
        QCOMPARE(openCalls(), 1); // disarmed: no watch any more
    }

    void automaticDisconnectionHangsUpAfterTheMinutesOnLine()
    {
        QVERIFY(dialACall());
        frmset &w = Forms::details();
        auto *l4 = control<QLabel>(w, u"l4"_s);
        l4->setText(u"00:10:00"_s);
        control<QLineEdit>(w, u"Text1"_s)->setText(u"2"_s);
        click(w, u"option2"_s);
        QCOMPARE(text(w, u"option2"_s), u"NO"_s);
        m_dialer->Timer2->start();

        l4->setText(u"00:11:59"_s);
        w.tmrStats_Timer();
        QCOMPARE(text(w, u"option2"_s), u"NO"_s);
        QCOMPARE(openCalls(), 1);

        l4->setText(u"00:12:00"_s);
        w.tmrStats_Timer();
        QCOMPARE(text(w, u"option2"_s), u"OK"_s);
        QCOMPARE(openCalls(), 0);
        QVERIFY(!m_dialer->Timer2->isActive());
        QVERIFY(Forms::detailsLoaded()); // the window itself stays

        // Once done it is disarmed: a new call is left alone.
        QVERIFY(dialACall());
        l4->setText(u"00:30:00"_s);
        w.tmrStats_Timer();
        QCOMPARE(openCalls(), 1);
    }

    void armedDisconnectionHangsUpWhileTheWindowIsHidden()
    {
        QVERIFY(dialACall());
        frmset &w = Forms::details();
        w.show();
        auto *l4 = control<QLabel>(w, u"l4"_s);
        l4->setText(u"00:10:00"_s);
        control<QLineEdit>(w, u"Text1"_s)->setText(u"1"_s);
        click(w, u"option2"_s);
        w.hide();

        // Only the monitor's clock moves on; the window's own timer hangs up.
        l4->setText(u"00:11:00"_s);
        QTRY_COMPARE_WITH_TIMEOUT(openCalls(), 0, 3000);
        QCOMPARE(text(w, u"option2"_s), u"OK"_s);
        QVERIFY(!w.findChild<QTimer *>(u"tmrStats"_s)->isActive());
    }

    void automaticDisconnectionCountsFromTheFirstReadableClock()
    {
        // Armed before the monitor wrote any time: the count starts at the
        // first time it can read, not at zero.
        QVERIFY(dialACall());
        frmset &w = Forms::details();
        auto *l4 = control<QLabel>(w, u"l4"_s);
        QCOMPARE(l4->text(), QString());
        control<QLineEdit>(w, u"Text1"_s)->setText(u"1"_s);
        click(w, u"option2"_s);
        QCOMPARE(text(w, u"option2"_s), u"NO"_s);

        l4->setText(u"00:05:00"_s);
        w.tmrStats_Timer();
        l4->setText(u"00:05:59"_s);
        w.tmrStats_Timer();
        QCOMPARE(openCalls(), 1);
        l4->setText(u"00:06:00"_s);
        w.tmrStats_Timer();
        QCOMPARE(openCalls(), 0);
        QCOMPARE(text(w, u"option2"_s), u"OK"_s);
    }

    void escapeNeitherClosesNorDisarms()
    {
        frmset &w = Forms::details();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *minutes = control<QLineEdit>(w, u"Text1"_s);
        QVERIFY(minutes);
        minutes->setText(u"5"_s);
        click(w, u"option2"_s);
        QCOMPARE(text(w, u"option2"_s), u"NO"_s);

        minutes->setFocus();
        QTest::keyClick(minutes, Qt::Key_Escape);
        QTest::keyClick(&w, Qt::Key_Escape);
        QCoreApplication::processEvents();
        QVERIFY(Forms::detailsLoaded());
        QVERIFY(w.isVisible());
        QCOMPARE(text(w, u"option2"_s), u"NO"_s);
        QCOMPARE(text(w, u"Text1"_s), u"5"_s);
    }

    void closingForgetsEverythingUntilTheNextLoad()
    {
        frmset &first = Forms::details();
        for (const QString &name : {u"l1"_s, u"l2"_s, u"l4"_s})
            control<QLabel>(first, name)->setText(u"x"_s);
        control<QLabel>(first, u"l3"_s)->setText(u"Connected"_s);
        control<QLineEdit>(first, u"Text1"_s)->setText(u"5"_s);
        click(first, u"option2"_s);
        click(first, u"opt"_s);
        QCOMPARE(text(first, u"opt"_s), u"Options >>"_s);
        first.show();
        click(first, u"Command1"_s);
        QTRY_VERIFY(!Forms::detailsLoaded());

        frmset &w = Forms::details();
        QVERIFY(!w.isVisible());
        QCOMPARE(text(w, u"l3"_s), u"Not Connected"_s);
        for (const QString &name : {u"l1"_s, u"l2"_s, u"l4"_s, u"Text1"_s})
            QVERIFY2(text(w, name).isEmpty(), qPrintable(name));
        QCOMPARE(text(w, u"option2"_s), u"OK"_s);
        QCOMPARE(text(w, u"opt"_s), u"Hide Options"_s);
        QCOMPARE(w.height(), 4020 / 15);
        for (int row = 1; row <= 6; ++row)
            QVERIFY(!control<QLabel>(w, u"Picture%1"_s.arg(row))->pixmap().isNull());
    }

    void lineStateHasRoomForTheMonitorsTextOnceShown()
    {
        // Measured in its own font as the window is first shown.
        frmset &w = Forms::details();
        QLabel *l3 = control<QLabel>(w, u"l3"_s);
        w.show();
        const int needed = l3->fontMetrics().horizontalAdvance(u" Not Connected"_s);
        QVERIFY2(l3->width() >= needed, qPrintable(u"%1 < %2"_s.arg(l3->width()).arg(needed)));
        QVERIFY(l3->x() + l3->width() <= l3->parentWidget()->width());
    }
};

QTEST_MAIN(TestDetailsWindow)
#include "test_frmset.moc"
