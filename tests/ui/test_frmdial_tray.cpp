// The dialer window in the tray: mouse activity on the icon, the pop-up
// menu's commands, the buttons that open the other windows, and the ways the
// program ends (or only hides) with the line left up or hung up.

#include "test_frmdial_support.h"

#include "platform/window_handles.h"
#include "ui/about/frmAbout.h"
#include "ui/details/frmset.h"
#include "ui/dialer/collapse.h"
#include "ui/options/frmopt.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>

#include <cstring>
#include <functional>

using namespace Qt::StringLiterals;
using namespace dialertest;

class TestDialerTray final : public QObject
{
    Q_OBJECT

private:
    Fixture m_f;

    // Runs `action` inside the application's event loop, as the program runs
    // its commands, and returns the loop's exit code: 0 when the action ended
    // the program, -7 when it was still running after `timeoutMs`.
    static int runUntilProgramEnds(QObject *context, const std::function<void()> &action,
                                   int timeoutMs = 5000)
    {
        QTimer::singleShot(0, context, action);
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, context, [] { QCoreApplication::exit(-7); });
        guard.start(timeoutMs);
        return QCoreApplication::exec();
    }

    // What `open` shows of the window `form` gives: whether it is modal,
    // and its owner. The window is closed again.
    struct Shown
    {
        bool modal = false;
        QWidget *owner = nullptr;
    };
    template <typename Form>
    static Shown shownBy(QObject *context, Form &(*form)(), const std::function<void()> &open)
    {
        Shown shown;
        QTimer::singleShot(0, context, [&] {
            Form &window = form();
            shown.modal = window.isVisible() && window.isModal();
            shown.owner = window.parentWidget();
            window.reject();
        });
        open();
        return shown;
    }

    // Delivers the tray icon's mouse message to the window now.
    static void trayMouse(frmdial &w, UINT message)
    {
        QVERIFY(platform::seams::sendTrayMouse(w.handle(), message));
        QCoreApplication::sendPostedEvents(&w);
    }

private slots:
    void init() { QVERIFY(m_f.setUp()); }
    void cleanup() { m_f.tearDown(); }

    void trayMouse_data() { addBoolRows("windowVisible", "window shown", "window hidden"); }

    void trayMouse()
    {
        QFETCH(bool, windowVisible);
        frmdial &w = m_f.load();
        w.setVisible(windowVisible);

        // A right click opens the menu only while the window is hidden; a left
        // click on the icon then closes it.
        int opened = 0;
        QTimer fallback;
        fallback.setSingleShot(true);
        bool fallbackUsed = false;
        connect(&fallback, &QTimer::timeout, w.s, [&] {
            fallbackUsed = true;
            w.s->close();
        });
        connect(w.s, &QMenu::aboutToShow, &w, [&] {
            ++opened;
            QTimer::singleShot(0, &w, [&] {
                QVERIFY(w.s->isVisible());
                w.Form_MouseMove(0, 0, static_cast<float>(WM_LBUTTONDOWN * 15), 0);
            });
            fallback.start(2000);
        });
        trayMouse(w, WM_RBUTTONDOWN);
        QCOMPARE(opened, windowVisible ? 0 : 1);
        QVERIFY(!fallbackUsed);
        QVERIFY(!w.s->isVisible());

        // Other numbers, as real mouse moves bring them, do nothing; nor does
        // the right button's press alone (516): the menu waits for its release.
        w.Form_MouseMove(0, 0, 100.0f * 15, 40.0f * 15);
        w.Form_MouseMove(0, 0, static_cast<float>(WM_RBUTTONDOWN * 15), 0);
        QCOMPARE(w.isVisible(), windowVisible);
        QCOMPARE(opened, windowVisible ? 0 : 1);

        // A double click shows the window, without the menu.
        trayMouse(w, WM_LBUTTONDBLCLK);
        QVERIFY(w.isVisible());
        QVERIFY(!w.s->isVisible());
        QCOMPARE(opened, windowVisible ? 0 : 1);
    }

    // A status-notifier host draws the icon's menu itself and has one
    // Activate call for opening the program; an XEmbed tray passes clicks on.
    void eachKindOfTrayReachesTheMenuAndTheWindow_data()
    {
        addBoolRows("statusNotifier", "status-notifier host", "XEmbed tray");
    }

    void eachKindOfTrayReachesTheMenuAndTheWindow()
    {
        QFETCH(bool, statusNotifier);
        platform::seams::setStatusNotifierHost(statusNotifier);
        frmdial &w = m_f.load();
        QVERIFY(m_f.connectLine());
        QVERIFY(!w.isVisible());

        // The host gets the tray menu, its items in order; an XEmbed tray
        // gets none (the window opens it on the right button).
        QMenu *offered = platform::seams::trayMenu();
        QCOMPARE(offered, statusNotifier ? w.s : nullptr);
        QStringList items;
        for (const QAction *action : w.s->actions())
            items << (action->isSeparator() ? u"-"_s : action->text());
        QCOMPARE(items, (QStringList{u"&Principal"_s, u"&Deconnecter"_s, u"-"_s, u"&Options"_s,
                                     u"&Details de la connexion"_s, u"-"_s, u"A Propos"_s, u"-"_s,
                                     u"&Quitter"_s, u"Q&uitter et Deconnecte"_s}));

        // A single click on an XEmbed tray only closes the menu; a host's
        // Activate shows the window as a double click does.
        trayMouse(w, WM_LBUTTONDOWN);
        QVERIFY(!w.isVisible());
        QVERIFY(platform::seams::sendTrayActivate(w.handle()));
        QCoreApplication::sendPostedEvents(&w);
        QVERIFY(w.isVisible());
        QTRY_COMPARE(QApplication::activeWindow(), &w);
        // Connected, it goes back to the tray at the next tick.
        w.Timer1_Timer();
        QVERIFY(!w.isVisible());

        // The host's "Details de la connexion" opens the details window.
        if (offered) {
            offered->actions().at(4)->trigger();
            QVERIFY(Forms::details().isVisible());
        }
    }

    // Where the desktop has no tray, the connected dialer stays on screen:
    // hidden, it could not be reached. A tray that appears takes it back.
    void withoutATrayTheConnectedWindowStays()
    {
        platform::seams::setDesktopTray(false);
        frmdial &w = m_f.load();
        w.show();
        QVERIFY(m_f.connectLine());
        w.Timer1_Timer();
        QVERIFY(w.isVisible());
        QCOMPARE(w.status->text(),
                 u"Connected.\nNo tray on this desktop: Vantelo stays open while connected."_s);
        // The tip carries the status as it stands.
        QVERIFY(platform::seams::trayToolTip().startsWith(u"Vantelo BETA - Connected."_s));

        platform::seams::setDesktopTray(true);
        w.Timer1_Timer();
        QVERIFY(!w.isVisible());
        QCOMPARE(w.status->text(), u"Connected."_s);
    }

    void menuAndButtonsOpenTheOtherWindows()
    {
        frmdial &w = m_f.load();

        w.dial->trigger();
        QVERIFY(w.isVisible());

        w.conn->trigger();
        frmset &details = Forms::details();
        QVERIFY(details.isVisible());
        QVERIFY(!details.isModal());

        // "A Propos": modal, owned by the dialer.
        const Shown about = shownBy(&w, &Forms::about, [&] { w.ab->trigger(); });
        QVERIFY(about.modal);
        QCOMPARE(about.owner, &w);

        // "?": modeless and without owner, even after "A Propos" owned it.
        w.Command1->click();
        QVERIFY(Forms::about().isVisible());
        QVERIFY(!Forms::about().isModal());
        QCOMPARE(Forms::about().parentWidget(), nullptr);
        w.Command1->click();
        QVERIFY(Forms::about().isVisible());

        // "Options" and "&Options": modal, owned by the dialer.
        for (const std::function<void()> &open :
             {std::function<void()>([&] { w.opt->click(); }),
              std::function<void()>([&] { w.optio->trigger(); })}) {
            const Shown options = shownBy(&w, &Forms::options, open);
            QVERIFY(options.modal);
            QCOMPARE(options.owner, &w);
        }

        // The maker's address, opened through the command line.
        platform::seams::clearProgramStartCalls();
        // A press that ends elsewhere is no click.
        QTest::mousePress(w.Label9, Qt::LeftButton);
        QTest::mouseRelease(w.Label9, Qt::LeftButton, {}, QPoint(-5, -5));
        QVERIFY(platform::seams::programStartCalls().isEmpty());
        QTest::mouseClick(w.Label9, Qt::LeftButton);
        const auto &started = platform::seams::programStartCalls();
        QCOMPARE(started.size(), 1);
        QCOMPARE(started.constFirst().commandLine, u"Start.exe "_s + MakerWebAddress);
        QCOMPARE(started.constFirst().showCommand, UINT(SW_HIDE));
        QVERIFY(!w.isUnloaded());
    }

    void optionsOpenedFromTheTrayStayOpenWhileConnected()
    {
        frmdial &w = m_f.load();
        QVERIFY(m_f.connectLine());
        QVERIFY(!w.isVisible());
        // The monitor hides the dialer every second; the window it owns stays.
        bool stillShown = false;
        QTimer::singleShot(0, &w, [&] {
            w.Timer1_Timer();
            QCoreApplication::processEvents();
            frmopt &options = Forms::options();
            stillShown = options.isVisible();
            options.reject();
        });
        w.optio->trigger();
        QVERIFY(stillShown);
    }

    void trayTipIsSentOnlyWhenItChanges()
    {
        frmdial &w = m_f.load();
        platform::seams::clearShellNotifyCalls();
        // At rest the tip is the same tick after tick: the shell hears it once.
        w.Timer1_Timer();
        w.Timer1_Timer();
        w.Timer1_Timer();
        QCOMPARE(notifyCalls(NIM_MODIFY).size(), 1);
        const QString restTip = u"Vantelo BETA - "_s + w.status->text() + u"00:00:00"_s;
        QCOMPARE(platform::seams::trayToolTip(), restTip.left(63));

        // A new status is a new tip.
        w.status->setText(u"Somewhere else"_s);
        w.Timer1_Timer();
        w.Timer1_Timer();
        QCOMPARE(notifyCalls(NIM_MODIFY).size(), 2);
        QCOMPARE(platform::seams::trayToolTip(), u"Vantelo BETA - Somewhere else00:00:00"_s);

        // On line the clock moves every tick, and so does the tip.
        QVERIFY(m_f.connectLine());
        platform::seams::clearShellNotifyCalls();
        w.Timer1_Timer();
        w.Timer1_Timer();
        const auto modified = notifyCalls(NIM_MODIFY);
        QCOMPARE(modified.size(), 2);
        QVERIFY(std::memcmp(modified.at(0).data.szTip, modified.at(1).data.szTip,
                            sizeof TrayIconData.szTip) != 0);
    }

    void disconnectItemHangsUp()
    {
        frmdial &w = m_f.load();
        QVERIFY(m_f.connectLine());
        QCOMPARE(openCalls(), qsizetype(1));
        w.dis->trigger();
        QCOMPARE(simline::calls().size(), 0);
        QVERIFY(!w.isUnloaded());
    }

    void quitKeepsTheLineUp()
    {
        frmdial &w = m_f.load();
        const QDateTime morning(QDate(2024, 3, 5), QTime(10, 0, 0));
        SetFixedDateTime(morning);
        QVERIFY(m_f.connectLine());
        w.Check1->setChecked(true);
        SetFixedDateTime(morning.addSecs(90));
        QFile::remove(callLogPath());
        platform::seams::clearShellNotifyCalls();

        QCOMPARE(runUntilProgramEnds(&w, [&] { w.exit->trigger(); }), 0);

        // The call is logged once more with its finish time.
        const QStringList log = callLogLines();
        QCOMPARE(log.size(), 2);
        QVERIFY2(log.at(1).contains(CurrentTimeText()), qPrintable(log.at(1)));
        QVERIFY2(log.at(1).trimmed().endsWith(u"28800"_s), qPrintable(log.at(1)));
        // The login fields are stored, the icon removed, the line left up.
        QCOMPARE(iniValue(::Settings::Login), u"demo"_s);
        QCOMPARE(iniValue(::Settings::Password), u"demo"_s);
        QCOMPARE(iniValue(::Settings::AutoConnect), u"0"_s);
        const auto &calls = platform::seams::shellNotifyCalls();
        QVERIFY(!calls.isEmpty());
        QCOMPARE(calls.constLast().message, DWORD(NIM_DELETE));
        QCOMPARE(platform::seams::trayToolTip(), QString());
        QCOMPARE(openCalls(), qsizetype(1));
        QCOMPARE(simline::calls().constFirst().state, quint32(RASCS_Connected));
        // Everything stopped.
        QVERIFY(w.isUnloaded());
        QVERIFY(!w.isVisible());
        QVERIFY(!Forms::detailsLoaded());
        QVERIFY(!Forms::optionsLoaded());
        for (QTimer *timer : {w.Timer1, w.Timer2, w.Timer3, w.Timer4, w.tms})
            QVERIFY2(!timer->isActive(), qPrintable(timer->objectName()));
    }

    void quitAndDisconnectHangsUp()
    {
        frmdial &w = m_f.load();
        QVERIFY(m_f.connectLine());
        QCOMPARE(runUntilProgramEnds(&w, [&] { w.exit2->trigger(); }), 0);
        QCOMPARE(simline::calls().size(), 0);
        QVERIFY(w.isUnloaded());
        QCOMPARE(notifyCalls(NIM_DELETE).size(), 1);
    }

    void shutdownWithoutALineWritesNoLog()
    {
        frmdial &w = m_f.load();
        QFile::remove(callLogPath());
        QCOMPARE(runUntilProgramEnds(&w, [&] { w.exit->trigger(); }), 0);
        QVERIFY(!QFile::exists(callLogPath()));
        QCOMPARE(iniValue(::Settings::AutoConnect), u"0"_s);
        QCOMPARE(notifyCalls(NIM_DELETE).size(), 1);
    }

    void closeBoxHidesWhileHideOnCloseIsSet()
    {
        frmdial &w = m_f.load(false);
        w.show();
        HideOnClose = 1;
        QVERIFY(!w.close());
        QVERIFY(!w.isVisible());
        QVERIFY(!w.isUnloaded());
        QVERIFY(notifyCalls(NIM_DELETE).isEmpty());
        QVERIFY(w.Timer1->isActive());
        m_f.stopAllTimers();

        HideOnClose = 0;
        w.show();
        QCOMPARE(runUntilProgramEnds(&w, [&] { w.close(); }), 0);
        QVERIFY(w.isUnloaded());
        QCOMPARE(notifyCalls(NIM_DELETE).size(), 1);
    }

    void closeButtonCollapsesThenEnds()
    {
        frmdial &w = m_f.load();
        w.show();
        // Even after the details window asked for closing to only hide.
        HideOnClose = 1;

        QList<int> heights;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, &w, [&] { heights.append(w.height()); });
        sampler.start(5);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runUntilProgramEnds(&w, [&] { w.exi->click(); }), 0);
        const qint64 took = clock.elapsed();
        sampler.stop();

        // The window shrank step by step while timers kept firing.
        QVERIFY2(heights.size() >= 20, qPrintable(QString::number(heights.size())));
        QVERIFY(std::is_sorted(heights.crbegin(), heights.crend()));
        QVERIFY2(took >= 500, qPrintable(QString::number(took)));
        // Outer height 30 twips (as far as the frame allows); outer width
        // 2000 twips or less, reached by 100-twip steps.
        const int frameHeight = w.frameGeometry().height() - w.height();
        QCOMPARE(w.height(), qMax(0, 30 / 15 - frameHeight));
        const int widthTwips = w.frameGeometry().width() * 15;
        QVERIFY2(widthTwips <= 2000 && widthTwips > 1850, qPrintable(QString::number(widthTwips)));
        QVERIFY(w.isUnloaded());
        QCOMPARE(notifyCalls(NIM_DELETE).size(), 1);
    }

    void collapseStaysCentred()
    {
        QWidget window;
        window.resize(400, 300);
        window.show();
        CollapseForm(window);
        const int frameHeight = window.frameGeometry().height() - window.height();
        QCOMPARE(window.height(), qMax(0, 30 / 15 - frameHeight));
        QVERIFY(window.frameGeometry().width() * 15 <= 2000);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const int widthTwips = window.frameGeometry().width() * 15;
        const int heightTwips = window.frameGeometry().height() * 15;
        QCOMPARE(window.frameGeometry().x(), (screen.width() * 15 - widthTwips) / 2 / 15);
        // The height phase centred the window for its last stepped height.
        QVERIFY(qAbs(window.frameGeometry().y() - (screen.height() * 15 - heightTwips) / 2 / 15) <=
                40);
    }
};

QTEST_MAIN(TestDialerTray)
#include "test_frmdial_tray.moc"
