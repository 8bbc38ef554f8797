// The simulated line shared between processes: calls dialed by the line tool
// are seen here and the other way round, the tool steers calls of this
// process, and processes dialing at the same moment lose none of their calls.

#include "platform/paths.h"
#include "platform/ras.h"
#include "platform/simline.h"
#include "support/fixture.h"
#include "support/line_probe.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using lineprobe::dial;
using lineprobe::errorOf;
using lineprobe::stateOf;

namespace {

constexpr int kWaitMs = 5000;

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the line tool to its end; the child inherits this process's
// environment, so it shares the temporary home.
Run runTool(const QStringList &args, const QByteArray &input = {})
{
    QProcess process;
    process.start(QStringLiteral(VANTELO_LINE_TOOL), args);
    process.write(input);
    process.closeWriteChannel();
    Run run;
    if (!process.waitForFinished(kWaitMs) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

class TestLineTool final : public FixtureTest
{
    Q_OBJECT

    QList<PhonebookEntry> phonebook() const override
    {
        return {
            quickEntry(u"Home"_s, {u"SimStageMs=2"_s, u"SimHangUpMs=2"_s}),
            quickEntry(u"Office"_s, {u"SimStageMs=2"_s, u"SimHangUpMs=2"_s}),
            quickEntry(u"Busy"_s, {u"SimStageMs=2"_s, u"SimOutcome=busy"_s}),
            quickEntry(u"Slow"_s, {u"SimStageMs=600000"_s}),
        };
    }

private slots:
    void callDialedByTheToolIsSeenHere()
    {
        const Run list = runTool({u"list"_s});
        QCOMPARE(list.exitCode, 0);
        QCOMPARE(list.out, u"Home\nOffice\nBusy\nSlow\n"_s);

        const Run run = runTool({u"dial"_s, u"Home"_s, u"--user"_s, u"demo"_s, u"--password"_s,
                                 u"demo"_s, u"--number"_s, u"P0860"_s, u"--wait"_s});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.endsWith(u"Connected.\n"_s), qPrintable(run.out));
        QCOMPARE(lineprobe::listedEntries(), QStringList{u"Home"_s});
        const QList<simline::CallRecord> calls = simline::calls();
        QCOMPARE(calls.size(), 1);
        QCOMPARE(stateOf(calls[0].handle), DWORD(RASCS_Connected));
        QCOMPARE(calls[0].phoneNumber, u"P0860"_s);
        QCOMPARE(calls[0].userName, u"demo"_s);
    }

    // A password never needs to be on the command line: it comes from the
    // input's first line, or is asked for at a terminal without being shown.
    void passwordReadFromInputOrAskedForAtTerminal()
    {
        QVERIFY(writePhonebook({quickEntry(u"Vault"_s, {u"SimPassword=s3cret-pw"_s})}));
        const QStringList dial{u"dial"_s, u"Vault"_s, u"--user"_s, u"demo"_s, u"--wait"_s};

        const Run piped = runTool(dial + QStringList{u"--password-stdin"_s}, "s3cret-pw\n");
        QCOMPARE(piped.exitCode, 0);
        QVERIFY2(piped.out.endsWith(u"Connected.\n"_s), qPrintable(piped.out + piped.err));
        QCOMPARE(runTool({u"hangup"_s}).exitCode, 0);

        const Run wrong = runTool(dial + QStringList{u"--password-stdin"_s}, "wrong\n");
        QCOMPARE(wrong.exitCode, 1);
        QVERIFY2(wrong.err.contains(u"691"_s), qPrintable(wrong.err));
        QCOMPARE(runTool(dial + QStringList{u"--password-stdin"_s}).exitCode, 1);
        QCOMPARE(runTool(dial + QStringList{u"--password-stdin"_s, u"--password=x"_s}).exitCode, 2);

        // `script` runs the tool on a terminal of its own and copies what the
        // tool shows there to its output; the password is typed once asked for.
        QProcess terminal;
        const QString command = QStringLiteral(VANTELO_LINE_TOOL) + u" "_s + dial.join(u' ');
        terminal.start(u"script"_s, {u"-qec"_s, command, u"/dev/null"_s});
        QByteArray shown;
        QTRY_VERIFY_WITH_TIMEOUT(
            (shown += terminal.readAllStandardOutput()).contains("Password for Vault: "), kWaitMs);
        terminal.write("s3cret-pw\n");
        QVERIFY(terminal.waitForFinished(kWaitMs));
        shown += terminal.readAllStandardOutput();
        QCOMPARE(terminal.exitCode(), 0);
        QVERIFY2(!shown.contains("s3cret"), shown.constData());
        QVERIFY2(shown.contains("Connected."), shown.constData());
    }

    void toolDropsAndHangsUpCallsOfThisProcess()
    {
        const HRASCONN home = dial(u"Home"_s).handle;
        const HRASCONN office = dial(u"Office"_s).handle;
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(home), DWORD(RASCS_Connected), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(office), DWORD(RASCS_Connected), kWaitMs);

        QCOMPARE(runTool({u"drop"_s}).exitCode, 0);
        QCOMPARE(stateOf(home), DWORD(RASCS_Disconnected));
        QCOMPARE(errorOf(office), ERROR_NO_CARRIER);

        const Run hangUp = runTool({u"hangup"_s});
        QCOMPARE(hangUp.exitCode, 0);
        QCOMPARE(hangUp.out, u"Hung up Home.\nHung up Office.\n"_s);
        QVERIFY(lineprobe::listedEntries().isEmpty());
        QCOMPARE(RasHangUpA(home), ERROR_INVALID_HANDLE);
    }

    void statusForScripts()
    {
        const HRASCONN home = dial(u"Home"_s).handle;
        const HRASCONN busy = dial(u"Busy"_s).handle;
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(home), DWORD(RASCS_Connected), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(busy), DWORD(RASCS_Disconnected), kWaitMs);

        const Run run = runTool({u"status"_s, u"--json"_s});
        QCOMPARE(run.exitCode, 0);
        const QJsonArray conns =
            QJsonDocument::fromJson(run.out.toUtf8()).object().value(u"connections"_s).toArray();
        QCOMPARE(conns.size(), 2);
        const QJsonObject first = conns[0].toObject();
        QCOMPARE(first.value(u"handle"_s).toInteger(), qint64(home));
        QCOMPARE(first.value(u"entry"_s).toString(), u"Home"_s);
        QCOMPARE(first.value(u"state"_s).toString(), u"Connected"_s);
        QCOMPARE(first.value(u"rasconnstate"_s).toInteger(), qint64(RASCS_Connected));
        const QJsonObject second = conns[1].toObject();
        QCOMPARE(second.value(u"handle"_s).toInteger(), qint64(busy));
        QCOMPARE(second.value(u"state"_s).toString(), u"Disconnected (676: The line is busy.)"_s);
        QCOMPARE(second.value(u"error"_s).toInteger(), 676);

        const Run text = runTool({u"status"_s});
        QCOMPARE(text.exitCode, 0);
        QVERIFY2(text.out.contains(u"  Home  Connected\n"_s), qPrintable(text.out));
        QVERIFY(text.out.contains(u"  Busy  Disconnected (676: The line is busy.)\n"_s));
    }

    void processesDialingAtOnceAreAllListed()
    {
        const QStringList entries{u"Home"_s, u"Office"_s, u"Busy"_s, u"Slow"_s};
        QList<QProcess *> processes;
        for (const QString &entry : entries) {
            auto *process = new QProcess(this);
            process->start(QStringLiteral(VANTELO_LINE_TOOL), {u"dial"_s, entry});
            processes.append(process);
        }
        for (QProcess *process : std::as_const(processes)) {
            QVERIFY(process->waitForFinished(kWaitMs));
            QCOMPARE(process->exitCode(), 0);
            delete process;
        }
        QStringList listed = lineprobe::listedEntries();
        listed.sort();
        QStringList expected = entries;
        expected.sort();
        QCOMPARE(listed, expected);
        QList<quint32> handles;
        for (const simline::CallRecord &call : simline::calls()) {
            QVERIFY(call.handle != 0 && !handles.contains(call.handle));
            handles.append(call.handle);
        }
    }

    void toolSteersTheNextCallOfThisProcess()
    {
        QCOMPARE(runTool({u"force"_s, u"nodialtone"_s}).exitCode, 0);
        const HRASCONN forced = dial(u"Home"_s).handle;
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(forced), DWORD(RASCS_Disconnected), kWaitMs);
        QCOMPARE(errorOf(forced), ERROR_NO_DIALTONE);

        QCOMPARE(runTool({u"slow-hangup"_s, u"300"_s}).exitCode, 0);
        const HRASCONN office = dial(u"Office"_s).handle;
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(office), DWORD(RASCS_Connected), kWaitMs);
        QCOMPARE(RasHangUpA(office), DWORD(0));
        QTest::qWait(50);
        QCOMPARE(RasHangUpA(office), DWORD(0)); // still closing
        QTRY_COMPARE_WITH_TIMEOUT(RasHangUpA(office), ERROR_INVALID_HANDLE, kWaitMs);

        QCOMPARE(runTool({u"reset"_s}).exitCode, 0);
        QVERIFY(lineprobe::listedEntries().isEmpty());
    }

    // While another process holds the line's lock, the tool waits a few
    // seconds for it, then says the line is busy and fails.
    void toolSaysTheLineIsBusy()
    {
        const QByteArray lockPath = QFile::encodeName(platform::runtimeFolder() + u"/line.lock"_s);
        const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY(fd >= 0);
        QVERIFY(::flock(fd, LOCK_EX | LOCK_NB) == 0);
        QElapsedTimer clock;
        clock.start();
        const Run reset = runTool({u"reset"_s});
        ::close(fd);
        QCOMPARE(reset.exitCode, 1);
        QVERIFY2(reset.err.contains(u"busy"_s), qPrintable(reset.err));
        QVERIFY(clock.elapsed() >= 1000); // it did wait for the lock
    }

    void failuresAndUsageErrorsHaveTheirExitCodes()
    {
        const Run busy = runTool({u"dial"_s, u"Busy"_s, u"--wait"_s});
        QCOMPARE(busy.exitCode, 1);
        QVERIFY2(busy.err.contains(u"676: The line is busy."_s), qPrintable(busy.err));
        QVERIFY(lineprobe::listedEntries().isEmpty()); // the dead call was hung up

        const Run unknown = runTool({u"dial"_s, u"Nowhere"_s});
        QCOMPARE(unknown.exitCode, 1);
        QVERIFY(unknown.err.contains(u"623: Cannot find the phone book entry."_s));
        QCOMPARE(runTool({u"dial"_s, u"Slow"_s}).exitCode, 0);
        const Run again = runTool({u"dial"_s, u"Slow"_s});
        QCOMPARE(again.exitCode, 1);
        QVERIFY(again.err.contains(u"602"_s));

        const QList<QStringList> misuses{
            {},
            {u"frobnicate"_s},
            {u"dial"_s},
            {u"dial"_s, u"Home"_s, u"--user"_s},
            {u"force"_s, u"sometimes"_s},
            {u"slow-hangup"_s, u"-5"_s},
            {u"status"_s, u"--xml"_s},
        };
        for (const QStringList &args : misuses) {
            const Run run = runTool(args);
            QCOMPARE(run.exitCode, 2);
            QVERIFY2(run.err.contains(u"Usage: vantelo-line"_s), qPrintable(args.join(u' ')));
        }
        const Run help = runTool({u"--help"_s});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.startsWith(u"Usage: vantelo-line"_s));
        QVERIFY(help.err.isEmpty());
        QCOMPARE(lineprobe::listedEntries(), QStringList{u"Slow"_s});
    }
};

QTEST_GUILESS_MAIN(TestLineTool)
#include "test_simline_tool.moc"
