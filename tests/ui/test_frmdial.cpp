// The dialer window at rest: what its load builds and restores, the tray icon
// it adds, the field prompts, the Connect checks and the stored login fields.

#include "test_frmdial_support.h"

#include "platform/window_handles.h"
#include "services/storage_notice.h"
#include "ui/about/frmAbout.h"
#include "ui/dialer/indicator_circle.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>

using namespace Qt::StringLiterals;
using namespace dialertest;

class TestDialerWindow final : public QObject
{
    Q_OBJECT

private:
    Fixture m_f;

private slots:
    void init() { QVERIFY(m_f.setUp({quickEntry(u"Home"_s), quickEntry(u"Work"_s)})); }
    void cleanup() { m_f.tearDown(); }

    void loadBuildsTheWindowAndItsTrayIcon()
    {
        frmdial &w = m_f.load(false);

        QCOMPARE(w.windowTitle(), u"Vantelo - BETA VERSION"_s);
        QCOMPARE(w.size(), QSize(5310 / 15, 5175 / 15));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!w.windowIcon().isNull());
        // The clocks and the entry list lie below the client area.
        QVERIFY(w.Frame3->geometry().top() >= w.height());
        QVERIFY(w.Combo1->geometry().top() >= w.height());
        QCOMPARE(w.Connect->geometry(), QRect(0, 4440 / 15, 1215 / 15, 375 / 15));
        QCOMPARE(w.Text1->parentWidget(), w.Frame2);
        QCOMPARE(w.Text1->echoMode(), QLineEdit::Password);
        QCOMPARE(w.Label9->text(), MakerWebHost);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(w.Shape1[static_cast<size_t>(i)]->fillColor(), QColor(255, 0, 0));
        QVERIFY(w.Shape1[0]->x() < w.Shape1[4]->x());

        // The phonebook's entries, the first selected.
        QCOMPARE(w.Combo1->count(), 2);
        QCOMPARE(w.Combo1->currentText(), u"Home"_s);

        // The timers once the load is over.
        QVERIFY(w.Timer1->isActive());
        QCOMPARE(w.Timer1->interval(), 1000);
        QVERIFY(!w.Timer2->isActive());
        QCOMPARE(w.Timer2->interval(), 500);
        QVERIFY(!w.Timer3->isActive());
        QVERIFY(w.Timer4->isActive());
        QVERIFY(w.tms->isActive());
        QCOMPARE(w.SweepPosition, qint16(-1));
        QCOMPARE(w.WasConnected, qint16(0));
        m_f.stopAllTimers();

        // The icon: one addition with the whole record.
        const auto added = notifyCalls(NIM_ADD);
        QCOMPARE(added.size(), 1);
        const NOTIFYICONDATA &data = added.constFirst().data;
        QCOMPARE(data.cbSize, DWORD(88));
        QCOMPARE(data.hWnd, w.handle());
        QVERIFY(data.hWnd != 0);
        QCOMPARE(data.uID, UINT(1));
        QCOMPARE(data.uFlags, UINT(7));
        QCOMPARE(data.uCallbackMessage, UINT(0x200));
        QVERIFY(data.hIcon != 0);
        QCOMPARE(data.hIcon, platform::iconHandle(w.windowIcon()));
        QCOMPARE(tipBytes(data), tipField("Vantelo BETA "));
        QCOMPARE(platform::seams::trayToolTip(), u"Vantelo BETA "_s);

        // The pop-up menu: hidden, its items in order.
        QVERIFY(!w.s->isVisible());
        QCOMPARE(w.s->title(), u"down"_s);
        QStringList names, captions;
        for (const QAction *action : w.s->actions()) {
            names.append(action->objectName());
            captions.append(action->isSeparator() ? u"-"_s : action->text());
        }
        QCOMPARE(names, QStringList({u"dial"_s, u"dis"_s, u"sep2"_s, u"optio"_s, u"conn"_s,
                                     u"sep"_s, u"ab"_s, u"sep1"_s, u"exit"_s, u"exit2"_s}));
        QCOMPARE(captions, QStringList({u"&Principal"_s, u"&Deconnecter"_s, u"-"_s, u"&Options"_s,
                                        u"&Details de la connexion"_s, u"-"_s, u"A Propos"_s,
                                        u"-"_s, u"&Quitter"_s, u"Q&uitter et Deconnecte"_s}));
    }

    void loadWithoutPhonebookEntries()
    {
        QVERIFY(writePhonebook({}));
        frmdial &w = m_f.load();
        QCOMPARE(w.Combo1->count(), 0);
        QCOMPARE(notifyCalls(NIM_ADD).size(), 1);
    }

    // The entries reach the list in one piece, as its model's texts: no row is
    // inserted on its own and no item made for each entry.
    void entriesReachTheListInOnePiece()
    {
        QVERIFY(writePhonebook({quickEntry(u"A"_s), quickEntry(u"B"_s), quickEntry(u"C"_s)}));
        m_f.dialer = std::make_unique<frmdial>();
        Forms::setDialer(m_f.dialer.get());
        QComboBox *combo = m_f.dialer->Combo1;
        QSignalSpy inserted(combo->model(), &QAbstractItemModel::rowsInserted);
        QSignalSpy reset(combo->model(), &QAbstractItemModel::modelReset);
        m_f.dialer->Form_Load();
        m_f.stopAllTimers();
        QCOMPARE(inserted.count(), 0);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(combo->count(), 3);
        QCOMPARE(combo->currentIndex(), 0);
        QCOMPARE(combo->itemText(2), u"C"_s);
    }

    void loadRestoresTheLoginFields_data()
    {
        QTest::addColumn<QString>("login");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("status");
        QTest::newRow("all saved") << u"demo"_s << u"0860"_s << u"s3cret"_s << QString();
        // An empty password is no change of the empty box: no prompt.
        QTest::newRow("no password") << u"demo"_s << u"0860"_s << QString() << QString();
        QTest::newRow("no number")
            << u"demo"_s << QString() << u"s3cret"_s << u"Please Enter a Phone Number to dial.."_s;
        QTest::newRow("no user") << QString() << u"0860"_s << u"s3cret"_s << QString();
    }

    void loadRestoresTheLoginFields()
    {
        QFETCH(QString, login);
        QFETCH(QString, number);
        QFETCH(QString, password);
        QFETCH(QString, status);
        Fixture::writeSettings({login, number, password, u"0"_s});
        frmdial &w = m_f.load();

        // One item each, the stored value, shown.
        QCOMPARE(w.Combo3->count(), 1);
        QCOMPARE(w.Combo3->currentText(), login);
        QCOMPARE(w.Combo2->count(), 1);
        QCOMPARE(w.Combo2->currentText(), number);
        QCOMPARE(w.Text1->text(), password);
        QCOMPARE(w.Check1->checkState(), Qt::Unchecked);
        // Only the password's restoration prompts.
        QCOMPARE(w.status->text(), status);
    }

    void loadWithoutSettingsFile()
    {
        frmdial &w = m_f.load();
        QCOMPARE(w.Combo3->count(), 1);
        QCOMPARE(w.Combo3->currentText(), QString());
        QCOMPARE(w.Check2->checkState(), Qt::Unchecked);
        QCOMPARE(w.AutoConnectValue, QString());
        QCOMPARE(w.status->text(), QString());
        QCOMPARE(simline::calls().size(), 0);
    }

    void autoConnectAtLoad_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<Qt::CheckState>("check");
        QTest::addColumn<bool>("dials");
        QTest::newRow("1") << u"1"_s << Qt::Checked << true;
        QTest::newRow("1.0") << u"1.0"_s << Qt::Checked << true;
        QTest::newRow("0") << u"0"_s << Qt::Unchecked << false;
        QTest::newRow("empty") << QString() << Qt::Unchecked << false;
        QTest::newRow("not a number") << u"x"_s << Qt::Unchecked << false;
        QTest::newRow("grey") << u"2"_s << Qt::PartiallyChecked << false;
        QTest::newRow("out of range") << u"3"_s << Qt::Unchecked << false;
    }

    void autoConnectAtLoad()
    {
        QFETCH(QString, value);
        QFETCH(Qt::CheckState, check);
        QFETCH(bool, dials);
        Fixture::writeSettings({u"demo"_s, u"0860"_s, u"demo"_s, value});
        frmdial &w = m_f.load();

        QCOMPARE(w.AutoConnectValue, value);
        QCOMPARE(w.Check2->checkState(), check);
        QCOMPARE(simline::calls().size(), dials ? 1 : 0);
        QCOMPARE(w.status->text(),
                 dials ? u"Attempting to establish a connection..."_s : QString());
        QCOMPARE(w.Connect->isEnabled(), !dials);
        QCOMPARE(w.exi->text(), dials ? u"Cancel"_s : u"Close"_s);
        QVERIFY(platform::seams::messageBoxCalls().isEmpty());
    }

    void autoConnectWithAnEmptyFieldShowsTheCheck()
    {
        Fixture::writeSettings({u"demo"_s, u"0860"_s, QString(), u"1"_s});
        frmdial &w = m_f.load();
        const auto &boxes = platform::seams::messageBoxCalls();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.constFirst().text, u"Please enter your password.."_s);
        QVERIFY(w.Connect->isEnabled());
        QCOMPARE(simline::calls().size(), 0);
    }

    void fieldPrompts()
    {
        Fixture::writeSettings({u"demo"_s, u"0860"_s, u"pw"_s, u"0"_s});
        frmdial &w = m_f.load();
        QCOMPARE(w.status->text(), QString());

        // Phone number: cleared, then a digit typed.
        w.Combo2->setFocus();
        w.Combo2->lineEdit()->selectAll();
        QTest::keyClick(w.Combo2->lineEdit(), Qt::Key_Delete);
        QCOMPARE(w.status->text(), u"Please Enter a Phone Number to dial..."_s);
        QTest::keyClicks(w.Combo2->lineEdit(), u"0"_s);
        QCOMPARE(w.status->text(), u"Press Connect to begin dialing..."_s);

        // User name: cleared prompts, typing leaves the status alone.
        w.Combo3->lineEdit()->selectAll();
        QTest::keyClick(w.Combo3->lineEdit(), Qt::Key_Delete);
        QCOMPARE(w.status->text(), u"Please Enter Your User Name.."_s);
        QTest::keyClicks(w.Combo3->lineEdit(), u"d"_s);
        QCOMPARE(w.status->text(), u"Please Enter Your User Name.."_s);

        // Password: cleared prompts; typed with a number present, unchanged.
        w.Text1->clear();
        QCOMPARE(w.status->text(), u"Please Enter Your Pass Word.."_s);
        QTest::keyClicks(w.Text1, u"p"_s);
        QCOMPARE(w.status->text(), u"Please Enter Your Pass Word.."_s);
        // Typed with the number empty: the two-dot prompt.
        w.Combo2->setEditText(QString());
        w.Text1->clear();
        QTest::keyClicks(w.Text1, u"p"_s);
        QCOMPARE(w.status->text(), u"Please Enter a Phone Number to dial.."_s);

        // A blank is not empty.
        w.Combo3->setEditText(u" "_s);
        QCOMPARE(w.status->text(), u"Please Enter a Phone Number to dial.."_s);
    }

    void connectChecksTheFields_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("message");
        QTest::newRow("all empty")
            << QString() << QString() << QString() << u"Please enter a username.."_s;
        QTest::newRow("no password")
            << u"demo"_s << QString() << QString() << u"Please enter your password.."_s;
        QTest::newRow("no number")
            << u"demo"_s << u"demo"_s << QString() << u"Please enter a number to connect to..."_s;
    }

    void connectChecksTheFields()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, number);
        QFETCH(QString, message);
        frmdial &w = m_f.load();
        m_f.fillFields(user, password, number);
        const QString before = w.status->text();

        w.Connect->click();

        const auto &boxes = platform::seams::messageBoxCalls();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.constFirst().text, message);
        QCOMPARE(boxes.constFirst().caption, AppTitle);
        QCOMPARE(boxes.constFirst().type, UINT(MB_OK));
        QCOMPARE(boxes.constFirst().owner, w.handle());
        // Nothing locked, nothing dialed.
        QCOMPARE(w.status->text(), before);
        QVERIFY(w.Connect->isEnabled());
        QVERIFY(w.opt->isEnabled());
        QVERIFY(w.Combo3->isEnabled());
        QVERIFY(w.Check2->isEnabled());
        QCOMPARE(w.exi->text(), u"Close"_s);
        QVERIFY(!w.Timer2->isActive());
        QCOMPARE(simline::calls().size(), 0);
    }

    void connectLocksTheWindowAndDials()
    {
        frmdial &w = m_f.load();
        m_f.fillFields();
        w.Connect->click();

        QVERIFY(platform::seams::messageBoxCalls().isEmpty());
        QCOMPARE(w.status->text(), u"Attempting to establish a connection..."_s);
        for (QWidget *locked : std::initializer_list<QWidget *>{
                 w.Connect, w.opt, w.Combo2, w.Combo3, w.Text1, w.Check1, w.Check2})
            QVERIFY2(!locked->isEnabled(), qPrintable(locked->objectName()));
        QCOMPARE(w.exi->text(), u"Cancel"_s);
        QVERIFY(w.Timer2->isActive());
        // The selected entry, with the typed values; pulse dialing by default.
        const auto calls = simline::calls();
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls.constFirst().entryName, u"Home"_s);
        QCOMPARE(calls.constFirst().userName, u"demo"_s);
        QCOMPARE(calls.constFirst().phoneNumber, u"P0860"_s);
    }

    void tooLongValuesAreRefusedBeforeLocking()
    {
        frmdial &w = m_f.load();
        // 128 digits fit the number's field, but not with the pulse prefix.
        m_f.fillFields(u"demo"_s, u"demo"_s, QString(128, u'1'));
        w.Connect->click();

        QCOMPARE(w.status->text(), DialFieldTooLongText);
        QVERIFY(w.Connect->isEnabled());
        QCOMPARE(w.exi->text(), u"Close"_s);
        QVERIFY(!w.Timer2->isActive());
        QCOMPARE(simline::calls().size(), 0);
    }

    void savedLoginFields_data()
    {
        addBoolRows("store", "Enregistrer checked", "Enregistrer unchecked");
    }

    void savedLoginFields()
    {
        QFETCH(bool, store);
        Fixture::writeSettings({u"old"_s, u"111"_s, u"oldpw"_s, u"0"_s});
        frmdial &w = m_f.load();
        m_f.fillFields(u"newuser"_s, u"pass word"_s, u"0860"_s);
        w.Check2->setChecked(true);
        w.Check1->setChecked(store);

        w.SaveLoginSettings();

        QCOMPARE(iniValue(::Settings::AutoConnect), u"1"_s);
        QCOMPARE(iniValue(::Settings::Login), store ? u"newuser"_s : u"old"_s);
        QCOMPARE(iniValue(::Settings::Number), store ? u"0860"_s : u"111"_s);
        QCOMPARE(iniValue(::Settings::Password), store ? u"pass word"_s : u"oldpw"_s);
    }

    void firstSaveWritesOnlyAutoConnect()
    {
        frmdial &w = m_f.load();
        m_f.fillFields();
        w.SaveLoginSettings();
        QFile file(IniPath(::Settings::FileBase));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromLocal8Bit(file.readAll());
        QVERIFY2(text.contains(u"[INFO]"_s), qPrintable(text));
        QVERIFY2(text.contains(u"AutoConnect=0"_s), qPrintable(text));
        QVERIFY2(!text.contains(u"Login1"_s), qPrintable(text));
    }

    void greyAutoConnectIsSavedAsTwo()
    {
        Fixture::writeSettings({u"demo"_s, u"0860"_s, u"demo"_s, u"2"_s});
        frmdial &w = m_f.load();
        w.SaveLoginSettings();
        QCOMPARE(iniValue(::Settings::AutoConnect), u"2"_s);
    }

    // A settings file too large to read and a call log that cannot be saved
    // are each told once in a box, not at every tick of the monitor; the
    // window runs with empty fields.
    void storageProblemsAreToldOnce()
    {
        StorageNotice::reset();
        const QString ini = IniPath(::Settings::FileBase);
        QVERIFY(writeBytes(ini, "[INFO]\r\nLogin1=bob\r\n;" + QByteArray(2 << 20, 'x')));
        QVERIFY(QDir(m_f.base.home().dataDir()).removeRecursively());
        QVERIFY(writeBytes(m_f.base.home().dataDir(), "a file where the folder goes"));
        platform::seams::clearMessageBoxCalls();

        frmdial &w = m_f.load();
        QCOMPARE(w.Combo3->currentText(), QString());
        QString told;
        for (int second = 0; second < 4; ++second) {
            w.Timer1_Timer();
            QCoreApplication::processEvents();
        }
        for (const auto &box : platform::seams::messageBoxCalls())
            told += box.text + u'\n';
        StorageNotice::reset();
        QCOMPARE(told.count(ini), 1);
        QCOMPARE(told.count(callLogPath()), 1);
        QVERIFY2(told.contains(u"larger than 1 MiB"_s) && told.contains(u"Not a directory"_s),
                 qPrintable(told));
    }
};

QTEST_MAIN(TestDialerWindow)
#include "test_frmdial.moc"
