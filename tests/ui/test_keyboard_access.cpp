// The windows with a keyboard and a screen reader: every control that takes
// the focus is announced by a name of its own, Tab reaches every control the
// user sees and none that lies outside the window, Enter presses the button in
// focus, and a window Vantelo opens has the focus. A whole session (dial,
// every window, hang up) is then driven with keys alone.

#include "test_frmdial_support.h"

#include "ui/about/frmAbout.h"
#include "ui/details/frmset.h"
#include "ui/options/frmopt.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

#include <functional>

using namespace Qt::StringLiterals;
using namespace dialertest;

namespace {

// The controls of a window that Tab can reach, shown or not.
bool takesTabFocus(const QWidget *w)
{
    return (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !w->focusProxy();
}

// The captions of the frames around a control: a control announced by one of
// them tells the user where it is, not what it is.
QStringList frameCaptions(const QWidget *w)
{
    QStringList captions;
    for (const QWidget *p = w->parentWidget(); p; p = p->parentWidget()) {
        if (const auto *frame = qobject_cast<const QGroupBox *>(p))
            captions << frame->title().trimmed();
    }
    return captions;
}

// Reads the window's accessible tree and returns what is wrong with the
// names of its focusable controls: none, a sign without a word, a frame's
// caption, the control's own value, or a name two controls share.
QStringList namingFaults(QWidget *window)
{
    QStringList faults;
    QHash<QString, QString> owners; // name -> object name
    std::function<void(QAccessibleInterface *)> visit = [&](QAccessibleInterface *iface) {
        if (!iface || !iface->isValid())
            return;
        auto *w = qobject_cast<QWidget *>(iface->object());
        if (w && iface->state().focusable && !iface->state().invisible && takesTabFocus(w)) {
            const QString name = iface->text(QAccessible::Name).trimmed();
            const QString who = w->objectName();
            const bool hasWord = std::any_of(name.cbegin(), name.cend(),
                                             [](QChar c) { return c.isLetterOrNumber(); });
            if (!hasWord)
                faults << u"%1 is announced as \"%2\""_s.arg(who, name);
            else if (frameCaptions(w).contains(name))
                faults << u"%1 is announced by its frame's caption \"%2\""_s.arg(who, name);
            else if (const QString value = iface->text(QAccessible::Value);
                     (iface->role() == QAccessible::ComboBox ||
                      iface->role() == QAccessible::EditableText) &&
                     !value.isEmpty() && name == value)
                faults << u"%1 is announced by its value \"%2\""_s.arg(who, name);
            else if (owners.contains(name))
                faults << u"%1 and %2 are both \"%3\""_s.arg(owners.value(name), who, name);
            owners.insert(name, who);
        }
        for (int i = 0; i < iface->childCount(); ++i)
            visit(iface->child(i));
    };
    visit(QAccessible::queryAccessibleInterface(window));
    return faults;
}

// The controls that Tab visits from the focus, once round, in order.
QList<QWidget *> tabRound(QWidget *window)
{
    QList<QWidget *> visited;
    QWidget *first = QApplication::focusWidget();
    if (!first)
        return visited;
    QWidget *at = first;
    do {
        visited << at;
        QTest::keyClick(at, Qt::Key_Tab);
        at = QApplication::focusWidget();
    } while (at && at != first && window->isAncestorOf(at) && visited.size() < 50);
    return visited;
}

QStringList names(const QList<QWidget *> &widgets)
{
    QStringList out;
    for (const QWidget *w : widgets)
        out << w->objectName();
    return out;
}

// The key goes to the control in focus, as the keyboard sends it.
void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget *focus = QApplication::focusWidget();
    QVERIFY2(focus, "no control has the focus");
    QTest::keyClick(focus, key, modifiers);
}

// Tab until the control has the focus; false when a round does not reach it.
bool tabTo(QWidget *target)
{
    for (int i = 0; i < 40 && QApplication::focusWidget() != target; ++i) {
        QWidget *focus = QApplication::focusWidget();
        if (!focus)
            return false;
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    return QApplication::focusWidget() == target;
}

} // namespace

class TestKeyboardAccess final : public QObject
{
    Q_OBJECT

private:
    Fixture m_f;

    // Opens the tray's menu as a right click does and picks its item at
    // `index` (separators not counted) with the arrow keys and Enter. The
    // item's action runs in the menu's loop; `whileOpen` runs in the loop of
    // the modal window it opens, if any.
    void chooseFromTrayMenu(int index, const std::function<void()> &whileOpen = {})
    {
        frmdial &w = *m_f.dialer;
        bool shown = false;
        const auto once = connect(w.s, &QMenu::aboutToShow, &w, [&] {
            shown = true;
            QTimer::singleShot(0, w.s, [&] {
                for (int i = 0; i <= index; ++i)
                    QTest::keyClick(w.s, Qt::Key_Down);
                // A failed check in the modal window's loop must not leave it
                // open: the test would wait for it for ever.
                if (whileOpen)
                    QTimer::singleShot(0, &w, [whileOpen] {
                        whileOpen();
                        if (auto *modal =
                                qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                            modal->reject();
                    });
                QTest::keyClick(w.s, Qt::Key_Return);
            });
        });
        QVERIFY(platform::seams::sendTrayMouse(w.handle(), WM_RBUTTONUP));
        QCoreApplication::sendPostedEvents(&w);
        disconnect(once);
        QVERIFY(shown);
        QVERIFY(!w.s->isVisible());
    }

private slots:
    void init() { QVERIFY(m_f.setUp()); }
    void cleanup() { m_f.tearDown(); }

    void everyFocusableControlHasANameOfItsOwn()
    {
        frmdial &w = m_f.load();
        m_f.fillFields();
        w.show();
        QStringList faults = namingFaults(&w);
        for (QWidget *window : std::initializer_list<QWidget *>{
                 &w, &Forms::details(), &Forms::options(), &Forms::about()}) {
            window->show();
            if (window != &w)
                faults << namingFaults(window);
            // Each window is offered as a window (or a dialog), announced by its title.
            const QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(window);
            if (iface->role() != QAccessible::Window && iface->role() != QAccessible::Dialog)
                faults << u"%1 is offered with the role %2, not as a window"_s.arg(
                    window->objectName(), QString::number(iface->role()));
            if (iface->text(QAccessible::Name) != window->windowTitle())
                faults << u"%1 is announced as \"%2\", not by its title"_s.arg(
                    window->objectName(), iface->text(QAccessible::Name));
        }
        // The options window's other page.
        Forms::options().Option7->click();
        faults << namingFaults(&Forms::options());
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u"\n"_s)));

        // The login rows by their captions, the picture buttons by what they do.
        auto name = [](QObject *o) {
            return QAccessible::queryAccessibleInterface(o)->text(QAccessible::Name);
        };
        QCOMPARE(name(w.Combo3), u"Login"_s);
        QCOMPARE(name(w.Text1), u"Password"_s);
        QCOMPARE(name(w.Combo2), u"No"_s);
        // The typed text is the box's value; its caption is unchanged.
        QCOMPARE(QAccessible::queryAccessibleInterface(w.Combo3)->text(QAccessible::Value),
                 u"demo"_s);
        QCOMPARE(w.Label1->text(), u"Login:"_s);
        QCOMPARE(w.Command1->text(), u"?"_s);
        QCOMPARE(name(Forms::options().Command11), u"Choose the sound file"_s);
        QCOMPARE(name(Forms::options().Command13), u"Play the sound file"_s);
    }

    // Tab visits every control the user sees, in each window, and none that
    // lies outside its window.
    void tabReachesWhatIsSeenAndNothingElse()
    {
        frmdial &w = m_f.load();
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.Combo3->setFocus();
        const QList<QWidget *> dialerRound = tabRound(&w);
        QCOMPARE(names(dialerRound),
                 (QStringList{u"Combo3"_s, u"Text1"_s, u"Combo2"_s, u"Check1"_s, u"Check2"_s,
                              u"Connect"_s, u"exi"_s, u"opt"_s, u"Command1"_s}));
        // The entry list below the window's edge takes no focus, not even by
        // a click, so no key can change the entry dialed.
        QVERIFY(!(w.Combo1->focusPolicy() & Qt::TabFocus));
        QVERIFY(!(w.Combo1->focusPolicy() & Qt::ClickFocus));
        for (const QWidget *control : dialerRound)
            QVERIFY2(w.rect().contains(QRect(control->mapTo(&w, QPoint()), control->size())),
                     qPrintable(control->objectName()));

        // The options window: Tab stops on the selected page button and the
        // selected dialing type; the arrow keys change them.
        frmopt &options = Forms::options();
        options.show();
        QVERIFY(QTest::qWaitForWindowActive(&options));
        options.Option6->setFocus();
        const QStringList generalRound = names(tabRound(&options));
        QCOMPARE(generalRound, (QStringList{u"Option6"_s, u"TxtTest"_s, u"Text4"_s, u"Command11"_s,
                                            u"Command13"_s, u"Command12"_s, u"Command9"_s,
                                            u"Command8"_s, u"Command3"_s}));
        press(Qt::Key_Right);
        QVERIFY(options.Option7->isChecked());
        QVERIFY(options.Picture1->isVisible());
        QVERIFY(!options.Picture2->isVisible());
        const QStringList connectionRound = names(tabRound(&options));
        QCOMPARE(connectionRound,
                 (QStringList{u"Option7"_s, u"Option2"_s, u"List1"_s, u"Command1"_s, u"Command2"_s,
                              u"Command9"_s, u"Command8"_s, u"Command3"_s}));
        QVERIFY(tabTo(options.Option2));
        press(Qt::Key_Left);
        QVERIFY(options.Option1->isChecked());
        QVERIFY(options.Option1->hasFocus());
        // Tab now stops on tone; choosing it left the page buttons their stop.
        const QStringList afterChoice = names(tabRound(&options));
        QVERIFY2(afterChoice.contains(u"Option7"_s) && !afterChoice.contains(u"Option2"_s),
                 qPrintable(afterChoice.join(u' ')));
    }

    // Enter presses the button in focus in every window, as Space does; in a
    // text box it presses nothing of its own accord.
    void enterPressesTheButtonInFocus()
    {
        frmdial &w = m_f.load();
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        m_f.fillFields();
        w.Combo2->setFocus();
        press(Qt::Key_Return);
        QCOMPARE(w.exi->text(), u"Close"_s);
        QVERIFY(tabTo(w.Connect));
        press(Qt::Key_Return);
        QCOMPARE(w.status->text(), u"Attempting to establish a connection..."_s);
        QCOMPARE(w.exi->text(), u"Cancel"_s);
        // The keypad's Enter too: "Cancel" now has the focus's place.
        w.exi->setFocus();
        press(Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(w.exi->text(), u"Close"_s);

        frmset &details = Forms::details();
        details.show();
        QVERIFY(QTest::qWaitForWindowActive(&details));
        const QString caption = details.opt->text();
        details.opt->setFocus();
        press(Qt::Key_Return);
        QVERIFY(details.opt->text() != caption);
        // In the minutes box Enter arms nothing.
        details.Text1->setFocus();
        details.Text1->setText(u"5"_s);
        press(Qt::Key_Return);
        QCOMPARE(details.option2->text(), u"OK"_s);
    }

    // Connected, the dialer hides and no window of the program has the
    // focus; each window opened from the tray's menu or a button gets it.
    void windowsOpenedTakeTheFocus()
    {
        frmdial &w = m_f.load();
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QVERIFY(m_f.connectLine());
        QVERIFY(!w.isVisible());

        chooseFromTrayMenu(3); // "&Details de la connexion"
        QTRY_COMPARE(QApplication::activeWindow(), &Forms::details());
        QVERIFY(Forms::details().isAncestorOf(QApplication::focusWidget()));

        bool focusInOptions = false;
        chooseFromTrayMenu(2, [&] { // "&Options"
            QTRY_VERIFY(QApplication::activeModalWidget() == &Forms::options());
            QTRY_COMPARE(QApplication::activeWindow(), &Forms::options());
            focusInOptions = Forms::options().isAncestorOf(QApplication::focusWidget());
            Forms::options().reject();
        });
        QVERIFY(focusInOptions);

        chooseFromTrayMenu(0); // "&Principal"
        QTRY_COMPARE(QApplication::activeWindow(), &w);
        // "?" opens the about window with the focus in it.
        QVERIFY(tabTo(w.Command1));
        press(Qt::Key_Space);
        QTRY_COMPARE(QApplication::activeWindow(), &Forms::about());
        QCOMPARE(QApplication::focusWidget(), Forms::about().cmdOK);
    }

    // A user with only a keyboard types the login, dials, opens every window
    // from the tray's menu and from the buttons, and hangs up.
    void aWholeSessionWithKeysAlone()
    {
        frmdial &w = m_f.load();
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(QApplication::focusWidget(), w.Combo3);
        QTest::keyClicks(w.Combo3, u"demo"_s);
        press(Qt::Key_Tab);
        QTest::keyClicks(QApplication::focusWidget(), u"demo"_s);
        press(Qt::Key_Tab);
        QTest::keyClicks(QApplication::focusWidget(), u"0860"_s);
        QCOMPARE(w.Combo2->currentText(), u"0860"_s);
        QVERIFY(tabTo(w.Connect));
        press(Qt::Key_Return);
        QVERIFY(m_f.tickUntilConnected());
        QCOMPARE(simline::calls().constFirst().entryName, u"Home"_s);
        QVERIFY(!w.isVisible());

        // The details window: open, hide its options, close with "&Ok".
        chooseFromTrayMenu(3);
        frmset &details = Forms::details();
        QTRY_COMPARE(QApplication::activeWindow(), &details);
        QVERIFY(tabTo(details.Command1));
        press(Qt::Key_Return);
        QVERIFY(!Forms::detailsLoaded() || !Forms::details().isVisible());

        // The options: to the "Connection" page, tone dialing, "&Ok".
        chooseFromTrayMenu(2, [&] {
            frmopt &options = Forms::options();
            QTRY_COMPARE(QApplication::activeWindow(), &options);
            QVERIFY(tabTo(options.Option6));
            press(Qt::Key_Right);
            QVERIFY(tabTo(options.Option2));
            press(Qt::Key_Left);
            QVERIFY(options.Option1->isChecked());
            QVERIFY(tabTo(options.Command9));
            press(Qt::Key_Return);
        });
        QCOMPARE(
            ReadIniValue(::Settings::FileBase, ::Settings::Connection, ::Settings::DialingType),
            u"1"_s);

        // "A Propos", closed with Enter.
        bool aboutActive = false;
        chooseFromTrayMenu(4, [&] {
            QTRY_COMPARE(QApplication::activeWindow(), &Forms::about());
            aboutActive = true;
            press(Qt::Key_Return);
        });
        QVERIFY(aboutActive);
        QVERIFY(!Forms::aboutLoaded() || !Forms::about().isVisible());

        // "&Deconnecter", then the dialer back with "&Principal".
        chooseFromTrayMenu(1);
        QCOMPARE(openCalls(), qsizetype(0));
        w.Timer1_Timer();
        QCOMPARE(w.status->text(), u"Disconnected"_s);
        chooseFromTrayMenu(0);
        QTRY_COMPARE(QApplication::activeWindow(), &w);
        QVERIFY(w.Connect->isEnabled());
        QVERIFY(w.isAncestorOf(QApplication::focusWidget()));
    }
};

QTEST_MAIN(TestKeyboardAccess)
#include "test_keyboard_access.moc"
