#pragma once

// One test case's world, set up in init() and taken down in cleanup(): a
// private home (HOME and the XDG folders in a temporary folder), a phonebook,
// the program-wide state as the program starts with it, the simulated line
// with no call, no pending control and no statistics override, the platform's
// seams quiet with nothing recorded, and the clocks on the system's time.

#include "support/phonebook_file.h"
#include "support/testenv.h"

#include <QList>
#include <QObject>
#include <QTest>

#include <memory>

class TestFixture final
{
public:
    // Makes a fresh home and resets the state above; writes the phonebook
    // when one is given. False when the home or the phonebook cannot be made.
    bool setUp(const QList<PhonebookEntry> &phonebook = {});
    // Ends the simulated line's calls and every modem call (none may outlive
    // its test: its process would write into a removed home), resets the
    // state again and removes the home.
    void tearDown();

    TemporaryHome &home() { return *m_home; }

private:
    std::unique_ptr<TemporaryHome> m_home;
};

// The program-wide values and the settable clocks as the program starts with
// them, the seams quiet with nothing recorded and the desktop asked whether it
// has a tray, no statistics override.
void resetProgramState();

// Stops the lines' clock (platform::clock) a minute before the system's: the
// test then moves its calls through their stages with
// platform::clock::advanceMs, and may give the system's clock back
// (platform::clock::useSystemClock) without a call going back a stage.
// tearDown gives it back.
void stopLineClock();

// A test class whose every case runs in a fresh TestFixture that starts with
// phonebook(). A class that needs more for each case says it in setUpCase()
// (run in the new home; a failed check there fails the case before it runs)
// and tearDownCase() (run after the home is gone).
class FixtureTest : public QObject
{
    Q_OBJECT

protected:
    TestFixture m_f;

    // The phonebook each case starts with: none unless the class says.
    virtual QList<PhonebookEntry> phonebook() const { return {}; }
    virtual void setUpCase() {}
    virtual void tearDownCase() {}

private slots:
    void init()
    {
        QVERIFY(m_f.setUp(phonebook()));
        setUpCase();
    }
    void cleanup()
    {
        m_f.tearDown();
        tearDownCase();
    }
};

// A data table of one bool column and two rows, the true one first.
inline void addBoolRows(const char *column, const char *whenTrue, const char *whenFalse)
{
    QTest::addColumn<bool>(column);
    QTest::newRow(whenTrue) << true;
    QTest::newRow(whenFalse) << false;
}
