// A dial that cannot start: with no entry to dial, a phonebook that cannot be
// read or an entry whose name does not fit the dial record, the status line
// keeps the reason and the window is back at rest, ready for the next try.

#include "test_frmdial_support.h"

#include "engine/phonebook.h"
#include "ui/dialer/indicator_circle.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>

#include <initializer_list>

using namespace Qt::StringLiterals;
using namespace dialertest;

class TestDialerUndialed final : public QObject
{
    Q_OBJECT

private:
    Fixture m_f;

    static QList<bool> circlesShown(const frmdial &w)
    {
        QList<bool> shown;
        for (const IndicatorCircle *circle : w.Shape1)
            shown.append(circle->isVisibleTo(&w));
        return shown;
    }

private slots:
    void cleanup() { m_f.tearDown(); }

    void dialThatCannotStart_data()
    {
        QTest::addColumn<QString>("phonebook");
        QTest::addColumn<int>("error");
        QTest::newRow("empty phonebook") << u"empty"_s << int(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
        QTest::newRow("unreadable phonebook")
            << u"unreadable"_s << int(ERROR_CANNOT_OPEN_PHONEBOOK);
        QTest::newRow("entry name too long")
            << u"long name"_s << int(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    }

    void dialThatCannotStart()
    {
        QFETCH(QString, phonebook);
        QFETCH(int, error);
        if (phonebook == u"empty")
            QVERIFY(m_f.setUp({}));
        else if (phonebook == u"long name")
            QVERIFY(m_f.setUp({quickEntry(QString(300, u'E'))}));
        else
            QVERIFY(m_f.setUp());
        if (phonebook == u"unreadable") {
            // A folder in the phonebook's place cannot be read, even by root.
            QVERIFY(QFile::remove(simline::phonebookPath()));
            QVERIFY(QDir().mkpath(simline::phonebookPath()));
        }

        frmdial &w = m_f.load();
        w.show();
        const QList<bool> circles = circlesShown(w);
        m_f.fillFields();
        w.Connect_Click();

        QCOMPARE(simline::calls().size(), 0);
        QCOMPARE(LastRasError, error);
        const QString reason = GetRasErrorText();
        QVERIFY(!reason.isEmpty());
        QCOMPARE(w.status->text(), reason);
        // At rest again: nothing locked, "Close" and no sweeping circles.
        for (const QWidget *control : std::initializer_list<const QWidget *>{
                 w.Connect, w.opt, w.Combo2, w.Combo3, w.Text1, w.Check1, w.Check2})
            QVERIFY2(control->isEnabled(), qPrintable(control->objectName()));
        QCOMPARE(w.exi->text(), u"Close"_s);
        QVERIFY(!w.Timer2->isActive());
        QCOMPARE(circlesShown(w), circles);

        // The monitor has no call to follow and leaves the reason in place.
        w.Timer1_Timer();
        QCOMPARE(w.status->text(), reason);
        QVERIFY(w.Connect->isEnabled());
    }
};

QTEST_MAIN(TestDialerUndialed)
#include "test_frmdial_undialed.moc"
