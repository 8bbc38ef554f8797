#pragma once

// A test class whose every case runs in a fresh TestFixture (support/fixture.h)
// ready for a call on a modem line: a folder of its own for the ports' locks,
// pppd's options file for our peer (pppd is checked before a number is
// dialed), and our pppd stand-in in pppd's place, writing what it saw into
// the home (this kernel may not run pppd). Every variable a case or the setup
// set for the stand-in, pppd or the locks is unset after the case. Targets
// using it define VANTELO_PPPD_STANDIN, the stand-in's path.

#include "support/fixture.h"

#include <QDir>
#include <QFile>

// No meta-object of its own: it adds no slot, and moc would compile it
// into the support library, which knows no stand-in.
class ModemFixtureTest : public FixtureTest
{
protected:
    QString m_lockDir;

    void setUpCase() override
    {
        m_lockDir = m_f.home().path() + QStringLiteral("/lock");
        QVERIFY(QDir().mkpath(m_lockDir));
        qputenv("VANTELO_LOCK_DIR", QFile::encodeName(m_lockDir));
        const QString peers = m_f.home().path() + QStringLiteral("/peers");
        QVERIFY(writeBytes(peers + QStringLiteral("/vantelo"), "noauth\n"));
        qputenv("VANTELO_PPP_PEERS_DIR", QFile::encodeName(peers));
        qputenv("VANTELO_PPPD", VANTELO_PPPD_STANDIN);
        qputenv("VANTELO_STANDIN_DIR", QFile::encodeName(m_f.home().path()));
    }

    void tearDownCase() override
    {
        for (const char *name :
             {"VANTELO_LOCK_DIR", "VANTELO_PPP_PEERS_DIR", "VANTELO_PPPD", "VANTELO_STANDIN_DIR",
              "VANTELO_STANDIN_SETUID", "VANTELO_STANDIN_ECHO_UNIT_MS", "VANTELO_STANDIN_DEAD_EXIT",
              "VANTELO_STANDIN_END"})
            qunsetenv(name);
    }
};
