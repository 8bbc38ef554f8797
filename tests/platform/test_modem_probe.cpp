// Finding a modem and telling what a call did, as a user sees it from the
// line tool: `vantelo-line probe` against our modem emulator on a
// pseudo-terminal (a modem that answers, a port that stays silent, a port
// another program holds), the entry it writes into a phonebook kept byte for
// byte, `vantelo-line log` showing the latest call alone and no password, and
// a failed call's words naming the stage it failed at, in the status too.

#include "platform/lines.h"
#include "platform/modem/modem_settings.h"
#include "platform/modem/port.h"
#include "platform/modems.h"
#include "platform/ras.h"
#include "support/emulated_modem.h"
#include "support/fixture.h"
#include "support/line_probe.h"
#include "support/modem_fixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

struct Run
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

Run lineTool(const QStringList &args)
{
    QProcess tool;
    tool.start(QStringLiteral(VANTELO_LINE_TOOL), args);
    Run run;
    if (!tool.waitForFinished(30000))
        return run;
    run.code = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    run.out = tool.readAllStandardOutput();
    run.err = tool.readAllStandardError();
    return run;
}

// The ports `probe --json` reported.
QJsonArray probedPorts(const Run &run)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(run.out, &error);
    if (error.error != QJsonParseError::NoError)
        return {};
    return doc.object().value(u"ports"_s).toArray();
}

// Dials the entry ISP as bob; 0 when the call was not made.
HRASCONN dial(const QString &number, const QString &password = u"s3cret-pw"_s)
{
    const lineprobe::Dialed d = lineprobe::dial(u"ISP"_s, u"bob"_s, password, number);
    return d.rc == 0 ? d.handle : 0;
}

bool waitForState(HRASCONN handle, DWORD state, int limitMs = 8000)
{
    const QDeadlineTimer deadline(limitMs);
    while (!deadline.hasExpired()) {
        if (lineprobe::stateOf(handle) == state)
            return true;
        QThread::msleep(10);
    }
    return false;
}

} // namespace

class TestModemProbe : public ModemFixtureTest
{
    Q_OBJECT

private:
    QString m_root; // the probe's /dev and /sys

    void setUpCase() override
    {
        ModemFixtureTest::setUpCase();
        if (QTest::currentTestFailed())
            return;
        m_root = m_f.home().path() + u"/root"_s;
        QVERIFY(QDir().mkpath(m_root + u"/dev"_s));
        qputenv("VANTELO_PROBE_ROOT", QFile::encodeName(m_root));
        qputenv("VANTELO_PROBE_TIMEOUT_MS", "300");
    }
    void tearDownCase() override
    {
        ModemFixtureTest::tearDownCase();
        qunsetenv("VANTELO_PROBE_ROOT");
        qunsetenv("VANTELO_PROBE_TIMEOUT_MS");
    }

    // The emulator's port published as root/dev/ttyACM0, with a by-id name.
    void publish(const EmulatedModem &emulator)
    {
        QVERIFY(QDir().mkpath(m_root + u"/dev/serial/by-id"_s));
        QVERIFY(QFile::link(emulator.link(), m_root + u"/dev/ttyACM0"_s));
        QVERIFY(QFile::link(u"../../ttyACM0"_s,
                            m_root + u"/dev/serial/by-id/usb-Vantelo_VEM-336-if00"_s));
    }
    QString lockOf(const EmulatedModem &emulator) const
    {
        return m_lockDir + u'/' +
               modem::lockFileName(QFileInfo(emulator.link()).canonicalFilePath());
    }

private slots:
    // A modem that answers is found with what it says it is and the first
    // reset it takes; one that takes none is found without an Init=.
    void probeFindsTheModem_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("init");
        QTest::newRow("takes a reset") << QStringList{} << u"AT&F E0 V1 &D2 &C1 S0=0"_s;
        QTest::newRow("takes no reset") << QStringList{u"--init"_s, u"error"_s} << QString();
    }

    void probeFindsTheModem()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, init);
        EmulatedModem emulator(m_f.home().path(), options);
        QVERIFY(emulator.isReady());
        publish(emulator);

        const Run run = lineTool({u"probe"_s, u"--json"_s});
        QCOMPARE(run.code, 0);
        const QJsonArray ports = probedPorts(run);
        QCOMPARE(ports.size(), 1);
        const QJsonObject port = ports.first().toObject();
        QCOMPARE(port.value(u"outcome"_s).toString(), u"answered"_s);
        QCOMPARE(port.value(u"device"_s).toString(), m_root + u"/dev/ttyACM0"_s);
        QCOMPARE(port.value(u"byId"_s).toString(),
                 m_root + u"/dev/serial/by-id/usb-Vantelo_VEM-336-if00"_s);
        const QString identity = port.value(u"identity"_s).toString();
        QVERIFY2(identity.contains(u"Vantelo Emulated Modem"_s) && identity.contains(u"VEM-336"_s),
                 qPrintable(identity));
        QCOMPARE(port.value(u"init"_s).toString(), init);
        const QString heard = emulator.log();
        for (const QString &command :
             {u"CMD AT"_s, u"CMD ATE0V1"_s, u"CMD ATI3"_s, u"CMD AT+GMI"_s, u"CMD AT+GMM"_s})
            QVERIFY2(heard.contains(command), qPrintable(heard));
        // Only asked: nothing dialed, the port released, the call log untouched.
        QVERIFY(!heard.contains(u"ATD"_s));
        QVERIFY(QDir(m_lockDir).isEmpty());
        QVERIFY(!QFileInfo::exists(m_f.home().runtimeDir() + u"/modem.log"_s));

        const Run text = lineTool({u"probe"_s});
        QCOMPARE(text.code, 0);
        QVERIFY2(text.out.contains("a modem answered: Vantelo Emulated Modem"), text.out);
    }

    // A port where nothing answers, and one another program holds (its lock
    // names a live process): each is reported, the held one never opened and
    // its lock left as it was.
    void silentAndHeldPorts()
    {
        {
            EmulatedModem emulator(m_f.home().path(), {u"--mute"_s});
            QVERIFY(emulator.isReady());
            publish(emulator);
            const Run run = lineTool({u"probe"_s});
            QCOMPARE(run.code, 1);
            QVERIFY2(run.out.contains("silent") && run.out.contains("does not answer AT"), run.out);
            QVERIFY2(run.err.contains("No modem answered"), run.err);
            QVERIFY(QDir(m_lockDir).isEmpty());
        }
        QVERIFY(QFile::remove(m_root + u"/dev/ttyACM0"_s));
        QVERIFY(QFile::remove(m_root + u"/dev/serial/by-id/usb-Vantelo_VEM-336-if00"_s));

        const QString second = m_f.home().path() + u"/second"_s;
        QVERIFY(QDir().mkpath(second));
        EmulatedModem emulator(second);
        QVERIFY(emulator.isReady());
        publish(emulator);
        const QByteArray held = QByteArray::number(emulator.pid()).rightJustified(10, ' ') + '\n';
        QVERIFY(writeBytes(lockOf(emulator), held));
        const Run run = lineTool({u"probe"_s, u"--json"_s});
        QCOMPARE(run.code, 1);
        const QJsonObject port = probedPorts(run).first().toObject();
        QCOMPARE(port.value(u"outcome"_s).toString(), u"in use"_s);
        QVERIFY2(port.value(u"problem"_s).toString().contains(QString::number(emulator.pid())),
                 run.out);
        QCOMPARE(readBytes(lockOf(emulator)), held);
        QVERIFY2(!emulator.log().contains(u"CMD"_s), qPrintable(emulator.log()));
        const QJsonArray advice =
            QJsonDocument::fromJson(run.out).object().value(u"advice"_s).toArray();
        QVERIFY2(QJsonDocument(advice).toJson().contains("held by another program"), run.out);
    }

    // A port this account may not open is reported with the group that may,
    // and nothing answering then says which group to join. Run as another,
    // ordinary account, which only the superuser can start.
    void deniedPortNamesTheGroup()
    {
        if (::getuid() != 0)
            QSKIP("needs root, to probe as another, ordinary account");
        EmulatedModem emulator(m_f.home().path(), {u"--line-mode"_s, u"0660"_s});
        QVERIFY(emulator.isReady());
        publish(emulator);
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(emulator.link()).constData(), &st), 0);
        const group *g = ::getgrgid(st.st_gid);
        QVERIFY(g);
        const QString locks = m_f.home().path() + u"/open-locks"_s;
        QVERIFY(QDir().mkpath(locks));
        QVERIFY(::chmod(QFile::encodeName(m_f.home().path()).constData(), 0711) == 0);
        QVERIFY(::chmod(QFile::encodeName(locks).constData(), 0777) == 0);
        qputenv("VANTELO_LOCK_DIR", QFile::encodeName(locks));

        QProcess tool;
        tool.start(u"setpriv"_s, {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s,
                                  QStringLiteral(VANTELO_LINE_TOOL), u"probe"_s, u"--json"_s});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 1);
        const QJsonObject report = QJsonDocument::fromJson(tool.readAllStandardOutput()).object();
        const QJsonObject port = report.value(u"ports"_s).toArray().first().toObject();
        QCOMPARE(port.value(u"outcome"_s).toString(), u"denied"_s);
        const QString group = QString::fromLocal8Bit(g->gr_name);
        QVERIFY2(
            port.value(u"problem"_s).toString().contains(u"add it to the %1 group"_s.arg(group)),
            qPrintable(port.value(u"problem"_s).toString()));
        QCOMPARE(report.value(u"missingGroups"_s).toArray(), QJsonArray{group});
        QVERIFY(!emulator.log().contains(u"CMD"_s));
        QVERIFY(QDir(locks).isEmpty());
    }

    // --write puts the entry first and keeps every other byte of the
    // phonebook; a second entry of the same name is refused.
    void writeKeepsThePhonebook()
    {
        EmulatedModem emulator(m_f.home().path());
        QVERIFY(emulator.isReady());
        publish(emulator);
        const QByteArray header = "; my own notes\r\n;\r\n\r\n";
        const QByteArray rest = "[Office]\r\nDevice=Vantelo Simulated Modem\r\n"
                                "; keep this comment\r\nDialPassword=x y\r\n\r\n"
                                "[Home]\r\nPhoneNumber=0860\r\nUnknownKey= spaced ";
        QVERIFY(writeBytes(lines::phonebookPath(), header + rest));

        const Run run = lineTool({u"probe"_s, u"--write"_s, u"--name"_s, u"My Modem"_s});
        QCOMPARE(run.code, 0);
        QVERIFY2(run.out.contains("[My Modem] is now first"), run.out);
        const QByteArray device =
            QFile::encodeName(m_root + u"/dev/serial/by-id/usb-Vantelo_VEM-336-if00"_s);
        const QByteArray expected = header + "[My Modem]\r\nDevice=" + device +
                                    "\r\nSpeed=115200\r\nInit=AT&F E0 V1 &D2 &C1 S0=0\r\n"
                                    "; Give your ISP's number after PhoneNumber= (or type it "
                                    "when dialing).\r\nPhoneNumber=\r\n\r\n" +
                                    rest;
        QCOMPARE(readBytes(lines::phonebookPath()), expected);

        const Run again = lineTool(
            {u"probe"_s, u"--write"_s, u"--name"_s, u"my modem"_s, u"--number"_s, u"0860"_s});
        QCOMPARE(again.code, 1);
        QVERIFY2(again.err.contains("already"), again.err);
        QCOMPARE(readBytes(lines::phonebookPath()), expected);

        // A phonebook of comments alone, its last line without a line end.
        const modems::NewEntry entry{u"Modem"_s, u"/dev/ttyACM0"_s, 115200, u"ATZ"_s, u"0860"_s};
        QCOMPARE(modems::withEntryFirst("; nothing yet", entry),
                 QByteArray("; nothing yet\n[Modem]\nDevice=/dev/ttyACM0\nSpeed=115200\nInit=ATZ\n"
                            "PhoneNumber=0860\n\n"));
    }

    // What `log` shows: the latest call's lines only, and no password in
    // any of the shapes a log could hold one.
    void logShowsTheLastCallWithoutPasswords()
    {
        const QString log = u"10:00:00.000 Call 3.\n10:00:00.100 > ATDT0861\n"
                            u"10:00:00.200 < BUSY\n10:00:05.000 Call 4.\n"
                            u"10:00:05.100 pppd: sent [PAP AuthReq user=\"bob\" "
                            u"password=\"hunter22\"]\n10:00:05.200 pppd: PAP secret hunter22\n"
                            u"10:00:05.300 Starting pppd: call vantelo passwordfd 4 s3cret\n"
                            u"10:00:05.400 pppd: PAP authentication failed\n"_s;
        const QString last = modems::lastCallOf(log);
        QVERIFY2(last.startsWith(u"10:00:05.000 Call 4."_s) && !last.contains(u"BUSY"_s),
                 qPrintable(last));
        const QString masked = modems::maskSecrets(last, {u"s3cret"_s});
        QVERIFY2(!masked.contains(u"hunter22"_s) && !masked.contains(u"s3cret"_s),
                 qPrintable(masked));
        QVERIFY2(masked.contains(u"passwordfd 4"_s) &&
                     masked.contains(u"PAP authentication failed"_s) &&
                     masked.contains(u"user=\"bob\""_s),
                 qPrintable(masked));

        // Two real calls: one busy, then one that connects.
        EmulatedModem emulator(m_f.home().path(), {u"--on"_s, u"0861=busy"_s});
        QVERIFY(emulator.isReady());
        QVERIFY(writeBytes(lines::phonebookPath(),
                           "[ISP]\nDevice=" + QFile::encodeName(emulator.link()) +
                               "\nDialPassword=s3cret-pw\n"));
        const HRASCONN busy = dial(u"0861"_s);
        QVERIFY(busy != 0);
        QVERIFY(waitForState(busy, RASCS_Disconnected));
        QVERIFY(lineprobe::hangUpAndWait(busy));
        const HRASCONN up = dial(u"0860"_s);
        QVERIFY(waitForState(up, RASCS_Connected));

        const Run run = lineTool({u"log"_s});
        QCOMPARE(run.code, 0);
        QVERIFY2(run.out.contains("Call " + QByteArray::number(up) + '.') &&
                     run.out.contains("> ATDT0860") && run.out.contains("Starting pppd"),
                 run.out);
        QVERIFY2(!run.out.contains("Call " + QByteArray::number(busy) + '.') &&
                     !run.out.contains("BUSY"),
                 run.out);
        QVERIFY(!run.out.contains("s3cret-pw"));
        const Run json = lineTool({u"log"_s, u"--json"_s});
        QCOMPARE(json.code, 0);
        const QJsonArray lines =
            QJsonDocument::fromJson(json.out).object().value(u"lines"_s).toArray();
        QVERIFY(!lines.isEmpty());
        QVERIFY(lines.first().toString().endsWith(u"Call %1."_s.arg(up)));
    }

    // A port another program opened for itself alone fails at the opening,
    // in words that say so; its lock is not left behind. Run as an ordinary
    // account: the superuser opens such a port all the same.
    void portOpenedByAnotherProgram()
    {
        EmulatedModem emulator(m_f.home().path());
        QVERIFY(emulator.isReady());
        const QString pty = QFileInfo(emulator.link()).canonicalFilePath();
        const int holder = ::open(QFile::encodeName(pty).constData(), O_RDWR | O_NOCTTY);
        QVERIFY(holder >= 0);
        QCOMPARE(::ioctl(holder, TIOCEXCL), 0);
        // The lock folder open to the account the port is opened as.
        const QString locks = m_f.home().path() + u"/open-locks"_s;
        QVERIFY(QDir().mkpath(locks));
        QVERIFY(::chmod(QFile::encodeName(m_f.home().path()).constData(), 0711) == 0);
        QVERIFY(::chmod(QFile::encodeName(locks).constData(), 0777) == 0);
        qputenv("VANTELO_LOCK_DIR", QFile::encodeName(locks));
        int report[2];
        QVERIFY(::pipe(report) == 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(report[0]);
            if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(2);
            modem::Port port;
            const DWORD rc = port.open(pty, 115200);
            const QByteArray said = QByteArray::number(uint(rc)) + ' ' + port.problem().toUtf8();
            ::_exit(::write(report[1], said.constData(), size_t(said.size())) == said.size() ? 0
                                                                                             : 1);
        }
        ::close(report[1]);
        QByteArray said(512, '\0');
        const ssize_t n = ::read(report[0], said.data(), size_t(said.size()));
        ::close(report[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(holder);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        said.truncate(n > 0 ? n : 0);
        QVERIFY2(said.startsWith(QByteArray::number(ERROR_PORT_NOT_AVAILABLE) + ' '), said);
        QVERIFY2(said.contains("Opening the port " + QFile::encodeName(pty) +
                               ": another program has it open for itself alone"),
                 said);
        QVERIFY(QDir(locks).isEmpty());
    }

    // A failed call says at which stage it failed and what the modem or pppd
    // said, in the service's words and in `vantelo-line status`.
    void failureSaysTheStage_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("pppdEnd");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("words");
        QTest::newRow("reset refused")
            << QStringList{u"--init"_s, u"error"_s} << QByteArray() << 651
            << u"The modem's reset: the modem answered \"ERROR\"."_s;
        QTest::newRow("no dial tone")
            << QStringList{u"--default"_s, u"nodialtone"_s} << QByteArray() << 680
            << u"Dialing 0860: the modem answered \"NO DIALTONE\"."_s;
        QTest::newRow("no CONNECT in time")
            << QStringList{u"--default"_s, u"silent"_s} << QByteArray() << 678
            << u"Dialing 0860: the far end did not answer within 1 s."_s;
        QTest::newRow("network setup fails")
            << QStringList{} << QByteArray("ipcp") << 734
            << u"The network: the ISP and this machine could not agree on the network's "
               u"addresses (IPCP) (pppd's status 10) (pppd: \"IPCP: timeout sending "
               u"Config-Requests\")."_s;
    }

    void failureSaysTheStage()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, pppdEnd);
        QFETCH(int, error);
        QFETCH(QString, words);
        if (!pppdEnd.isEmpty())
            qputenv("VANTELO_STANDIN_END", pppdEnd);
        EmulatedModem emulator(m_f.home().path(), options);
        QVERIFY(emulator.isReady());
        QVERIFY(
            writeBytes(lines::phonebookPath(),
                       "[ISP]\nDevice=" + QFile::encodeName(emulator.link()) + "\nTimeout=1\n"));
        const HRASCONN handle = dial(u"0860"_s);
        QVERIFY(handle != 0);
        QVERIFY(waitForState(handle, RASCS_Disconnected));
        QCOMPARE(lineprobe::errorOf(handle), DWORD(error));
        QCOMPARE(lineprobe::errorText(DWORD(error)), words);
        const Run status = lineTool({u"status"_s});
        QCOMPARE(status.code, 0);
        QVERIFY2(QString::fromUtf8(status.out).contains(u"(%1: %2)"_s.arg(error).arg(words)),
                 status.out);
        QVERIFY(lineprobe::hangUpAndWait(handle));
    }
};

QTEST_GUILESS_MAIN(TestModemProbe)
#include "test_modem_probe.moc"
