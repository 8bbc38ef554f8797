// The real modem line: reading a Hayes modem's answers, the checks on what
// reaches the modem and pppd, pppd's log and exit statuses, and whole calls
// through the service's calls against our modem emulator on a pseudo-terminal
// (every answer a modem gives, a slow one, one that talks garbage and one that
// disappears mid-call), the port's lock, hang-up, and where the password goes.
// One case runs the real pppd of this system inside a private /etc/ppp (see
// in_private_etc_ppp.sh); on a kernel without PPP it must say so clearly.

#include "platform/line/call_store.h"
#include "platform/line/line.h"
#include "platform/line/phonebook_file.h"
#include "platform/lines.h"
#include "platform/modem/call_events.h"
#include "platform/modem/call_report.h"
#include "platform/modem/hayes.h"
#include "platform/modem/modem_line.h"
#include "platform/modem/modem_settings.h"
#include "platform/modem/port.h"
#include "platform/modem/pppd.h"
#include "platform/modem/preflight.h"
#include "platform/ras.h"
#include "platform/registry.h"
#include "support/emulated_modem.h"
#include "support/fixture.h"
#include "support/line_probe.h"
#include "support/modem_fixture.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

using namespace Qt::StringLiterals;
using modem::Answer;
using modem::AnswerReader;

namespace {

constexpr DWORD kGone = lineprobe::Gone;
const QString kEntry = u"ISP"_s;

// A phonebook with one modem entry on `device`, the lines given added.
bool writeModemEntry(const QString &device, const QStringList &more = {})
{
    QByteArray text = "[" + kEntry.toUtf8() + "]\nDevice=" + QFile::encodeName(device) + "\n";
    for (const QString &line : more)
        text += line.toUtf8() + "\n";
    return writeBytes(lines::phonebookPath(), text);
}

using lineprobe::Dialed;

// Dials the modem entry, or the entry given.
Dialed dial(const QString &number, const QString &user = u"bob"_s,
            const QString &password = u"s3cret-pw"_s, const QString &entry = kEntry)
{
    return lineprobe::dial(entry, user, password, number);
}

// Waits until the call is disconnected; returns its error (kGone when it vanished).
DWORD waitForEnd(HRASCONN handle, int limitMs = 8000)
{
    const QDeadlineTimer deadline(limitMs);
    while (!deadline.hasExpired()) {
        const DWORD state = lineprobe::stateOf(handle);
        if (state == kGone)
            return kGone;
        if (state == RASCS_Disconnected)
            return lineprobe::errorOf(handle);
        QThread::msleep(10);
    }
    return 0;
}

using lineprobe::hangUpAndWait;

bool waitFor(const std::function<bool()> &condition, int limitMs = 5000)
{
    const QDeadlineTimer deadline(limitMs);
    while (!deadline.hasExpired()) {
        if (condition())
            return true;
        QThread::msleep(10);
    }
    return condition();
}

// The pid the first call's process reported to the call store.
qint64 callPid()
{
    const QByteArray json =
        readBytes(qEnvironmentVariable("XDG_RUNTIME_DIR") + u"/vantelo/line.json"_s);
    const QJsonArray calls = QJsonDocument::fromJson(json).object().value(u"calls"_s).toArray();
    return calls.isEmpty() ? 0 : calls.first().toObject().value(u"pid"_s).toInteger();
}

} // namespace

class TestModemLine : public ModemFixtureTest
{
    Q_OBJECT

private slots:
    // A call's process that cannot take the line's lock changes nothing: it
    // neither writes the state unlocked nor goes on as if it had reported.
    void callReportWithoutTheLockChangesNothing()
    {
        line::LineState state;
        line::Call call;
        call.handle = line::FirstHandle;
        call.kind = line::Kind::Modem;
        call.entry = u"My ISP"_s;
        call.dialedAtMs = line::nowMs();
        state.calls.append(call);
        state.nextHandle = line::FirstHandle + 1;
        {
            const line::LineLock lock;
            QVERIFY(lock.isLocked());
            QVERIFY(line::writeLineState(state, line::nowMs()));
        }
        const QString lockFile = QFileInfo(line::lineStatePath()).absolutePath() + u"/line.lock"_s;
        QVERIFY(QFile::remove(lockFile));
        QVERIFY(QDir().mkdir(lockFile)); // no lock can be taken on a folder

        modem::ModemLog log(call.handle);
        modem::CallReport report(call.handle, log);
        QVERIFY(
            !report.report([](line::Call &c) { modem::modemPart(&c).state = RASCS_Connected; }));
        QVERIFY(!report.close());
        const line::Call *after =
            line::findCall(line::readLineState().calls, call.handle, line::nowMs());
        QVERIFY(after);
        QCOMPARE(modem::modemPart(*after).state, RASCS_OpenPort);
        QCOMPARE(after->closeAtMs, qint64(-1));

        QVERIFY(QDir().rmdir(lockFile));
        QVERIFY(report.report([](line::Call &c) { modem::modemPart(&c).state = RASCS_Connected; }));
        after = line::findCall(line::readLineState().calls, call.handle, line::nowMs());
        QVERIFY(after);
        QCOMPARE(modem::modemPart(*after).state, RASCS_Connected);
        QVERIFY(report.close());
        QVERIFY(!line::findCall(line::readLineState().calls, call.handle, line::nowMs() + 1));
    }

    // The modem's answers, however they arrive.
    void answerReader()
    {
        AnswerReader init("ATZ");
        QCOMPARE(init.feed("AT"), Answer::None);
        QCOMPARE(init.feed("Z\r\r\nO"), Answer::None); // the echo, then half an answer
        QCOMPARE(init.feed("K\r\n"), Answer::Ok);
        QVERIFY(!init.sawUnrecognized());

        AnswerReader dial("ATDT0860");
        QCOMPARE(dial.feed("ATDT0860\r\r\nRINGING\r\nCARRIER 28800\r\nPROTOCOL: LAPM\r\n"),
                 Answer::None);
        QCOMPARE(dial.feed("CONNECT 28800/ARQ/V34\r\n"), Answer::Connect);
        QCOMPARE(dial.connectSpeed(), 28800u);
        QVERIFY(!dial.sawUnrecognized());

        AnswerReader bare("ATD1");
        QCOMPARE(bare.feed("\r\nCONNECT\r\n"), Answer::Connect);
        QCOMPARE(bare.connectSpeed(), 0u);

        const QList<QPair<QByteArray, Answer>> finals = {
            {"BUSY", Answer::Busy},
            {"NO CARRIER", Answer::NoCarrier},
            {"NO DIALTONE", Answer::NoDialTone},
            {"NO DIAL TONE", Answer::NoDialTone},
            {"no answer", Answer::NoAnswer},
            {"ERROR", Answer::Error},
        };
        for (const auto &[words, answer] : finals) {
            AnswerReader r("ATDT1");
            QCOMPARE(r.feed("\r\n" + words + "\r\n"), answer);
        }
        QCOMPARE(modem::answerError(Answer::Busy), DWORD(676));
        QCOMPARE(modem::answerError(Answer::NoAnswer), DWORD(678));
        QCOMPARE(modem::answerError(Answer::NoCarrier), DWORD(679));
        QCOMPARE(modem::answerError(Answer::NoDialTone), DWORD(680));
        QCOMPARE(modem::answerError(Answer::Error), DWORD(651));

        // The line's rate as modems report it; nonsense is no rate.
        const QList<QPair<QByteArray, quint32>> rates = {
            {"CARRIER 28800\r\nCONNECT\r\n", 28800},
            {"CARRIER 26400/V34\r\nCONNECT 115200\r\n", 26400},
            {"CONNECT 33600/ARQ/V34/LAPM/V42BIS\r\n", 33600},
            {"CONNECT 99999999999\r\n", 0},
            {"CONNECT 4294967297\r\n", 0},
        };
        for (const auto &[answer, rate] : rates) {
            AnswerReader r("ATDT1");
            QCOMPARE(r.feed(answer), Answer::Connect);
            QCOMPARE(r.connectSpeed(), rate);
        }

        AnswerReader noise("ATZ");
        QCOMPARE(noise.feed(QByteArray(2000, '\x9c') + "\r\n#$%&\r\n"), Answer::None);
        QVERIFY(noise.sawUnrecognized());
        QCOMPARE(noise.feed("OK\r\n"), Answer::Ok); // noise does not hide a later answer
    }

    // Nothing typed can speak to the modem or pass for an option of pppd.
    void dialedTextsAreChecked()
    {
        QCOMPARE(modem::dialCommand(u"0860"_s), u"ATDT0860"_s);
        QCOMPARE(modem::dialCommand(u"P0860"_s), u"ATDP0860"_s);
        for (const QString &ok :
             {u"0860"_s, u"P0860"_s, u"9,0860"_s, u"*70#"_s, u"+33 (1) 23-45.67"_s, u"T0860W123"_s})
            QVERIFY2(modem::isDialableNumber(ok), qPrintable(ok));
        for (const QString &bad :
             {u""_s, u"P"_s, u"0860;H0"_s, u"08\r60"_s, u"0860\nATZ"_s, u"0860&F"_s, u"0860%"_s})
            QVERIFY2(!modem::isDialableNumber(bad), qPrintable(bad));

        QVERIFY(modem::isSafeUserName(u"bob smith"_s));
        QVERIFY(modem::isSafeUserName(u""_s));
        QVERIFY(!modem::isSafeUserName(u"-noauth"_s));
        QVERIFY(!modem::isSafeUserName(u"bob\nnoauth"_s));
        QVERIFY(modem::isSafePeerName(u"vantelo"_s));
        for (const QString &bad : {u""_s, u"../provider"_s, u"a/b"_s, u"-x"_s, u".hidden"_s})
            QVERIFY2(!modem::isSafePeerName(bad), qPrintable(bad));
        QVERIFY(modem::isSafeModemCommand(u"AT&F E1 V1"_s));
        QVERIFY(!modem::isSafeModemCommand(u"ATZ\rATD123"_s));

        const QStringList args = modem::pppdArguments(u"vantelo"_s, u"-bob x"_s, 3, 4);
        QCOMPARE(args, (QStringList{u"call"_s, u"vantelo"_s, u"nodetach"_s, u"logfd"_s, u"3"_s,
                                    u"user"_s, u"-bob x"_s, u"passwordfd"_s, u"4"_s}));
        QVERIFY(!modem::pppdArguments(u"vantelo"_s, {}, 3, 4).contains(u"user"_s));

        QCOMPARE(modem::lockFileName(u"/dev/ttyUSB0"_s), u"LCK..ttyUSB0"_s);
        QCOMPARE(modem::lockFileName(u"/dev/pts/3"_s), u"LCK..pts_3"_s);
    }

    // The entry's keys, and which entries are real modems.
    void modemEntries()
    {
        const auto file = line::PhonebookFile::parse("[A]\nDevice=/dev/ttyS0\n"
                                                     "[B]\nDevice=/dev/ttyACM0\nSpeed=57600\n"
                                                     "Init=AT&F\nTimeout=20\nPeer=isp\n"
                                                     "[C]\nDevice=Vantelo Simulated Modem\n"
                                                     "[D]\nDevice=/dev/x\nSpeed=fast\nTimeout=-3\n"
                                                     "[E]\nDevice=ttyACM0\n"
                                                     "[F]\nDevice=modem\n"
                                                     "[G]\nPhoneNumber=1\n"
                                                     "[H]\nDevice=vantelo simulated modem\n");
        const modem::ModemSettings a = modem::modemSettings(file, u"A"_s);
        QCOMPARE(a.speed, 115200);
        QCOMPARE(a.init, u"ATZ"_s);
        QCOMPARE(a.timeoutSec, 60);
        QCOMPARE(a.peer, u"vantelo"_s);
        const modem::ModemSettings b = modem::modemSettings(file, u"B"_s);
        QCOMPARE(b.speed, 57600);
        QCOMPARE(b.init, u"AT&F"_s);
        QCOMPARE(b.timeoutSec, 20);
        QCOMPARE(b.peer, u"isp"_s);
        const modem::ModemSettings d = modem::modemSettings(file, u"D"_s);
        QCOMPARE(d.speed, 115200);
        QCOMPARE(d.timeoutSec, 60);
        QVERIFY(line::isModemEntry(file, u"A"_s));
        // Only the sample phonebook's name picks the simulated line; any other
        // value, a mistyped one or none, is a modem that must be found.
        QVERIFY(!line::isModemEntry(file, u"C"_s));
        QVERIFY(!line::isModemEntry(file, u"H"_s));
        for (const QString &entry : {u"E"_s, u"F"_s, u"G"_s})
            QVERIFY2(line::isModemEntry(file, entry), qPrintable(entry));
        QCOMPARE(modem::modemSettings(file, u"E"_s).device, u"/dev/ttyACM0"_s);
    }

    // pppd's progress and ends in the service's words.
    void pppdLogAndExits()
    {
        const modem::PppdProgress link = modem::readPppdLogLine(u"Connect: ppp0 <--> /dev/pts/3"_s);
        QCOMPARE(link.step, modem::PppdProgress::LinkStarted);
        QCOMPARE(link.interfaceName, u"ppp0"_s);
        QCOMPARE(modem::readPppdLogLine(u"PAP authentication succeeded"_s).step,
                 modem::PppdProgress::Authenticated);
        QCOMPARE(modem::readPppdLogLine(u"CHAP authentication succeeded"_s).step,
                 modem::PppdProgress::Authenticated);
        QCOMPARE(modem::readPppdLogLine(u"local  IP address 10.0.0.2"_s).step,
                 modem::PppdProgress::NetworkUp);
        QCOMPARE(modem::readPppdLogLine(u"PAP authentication failed"_s).step,
                 modem::PppdProgress::AuthenticationFailed);
        QCOMPARE(modem::readPppdLogLine(u"PAP peer authentication failed for bob"_s).step,
                 modem::PppdProgress::None);
        QCOMPARE(modem::readPppdLogLine(u"Using interface ppp0"_s).step, modem::PppdProgress::None);
        QCOMPARE(modem::readPppdLogLine(u"No response to 4 echo-requests"_s).step,
                 modem::PppdProgress::PeerDead);
        QCOMPARE(modem::readPppdLogLine(u"Serial link appears to be disconnected."_s).step,
                 modem::PppdProgress::PeerDead);
        QCOMPARE(modem::readPppdLogLine(u"Modem hangup"_s).step, modem::PppdProgress::None);

        QCOMPARE(modem::pppdExitError(19), DWORD(ERROR_AUTHENTICATION_FAILURE));
        QCOMPARE(modem::pppdExitError(16), DWORD(ERROR_REMOTE_DISCONNECTION));
        QCOMPARE(modem::pppdExitError(4), DWORD(ERROR_PPP_NO_PROTOCOLS_CONFIGURED));
        QCOMPARE(modem::pppdExitError(2), DWORD(ERROR_READING_INI_FILE));
        QCOMPARE(modem::pppdExitError(15), DWORD(ERROR_PPP_TIMEOUT));
        // pppd's statuses in words: a lost carrier and a dead link say so, and
        // no two of the statuses the manual lists read alike but those that
        // mean the same (the scripts).
        QVERIFY(modem::pppdExitWords(16).contains(u"carrier was lost"_s));
        QVERIFY(modem::pppdExitWords(15).contains(u"dead link"_s));
        QStringList seen;
        for (const int status : {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 15, 16, 17, 19}) {
            const QString words = modem::pppdExitWords(status);
            QVERIFY2(!seen.contains(words), qPrintable(QString::number(status)));
            seen.append(words);
        }
        // Every way a modem call can fail has words of its own that fit the
        // service's 256-byte buffer.
        for (const DWORD code : {604, 608, 629, 630, 633, 649, 651, 652, 663, 665, 666,
                                 667, 676, 678, 679, 680, 691, 711, 718, 720, 734}) {
            char text[256] = {};
            QCOMPARE(RasGetErrorStringA(code, text, sizeof text), DWORD(0));
            QVERIFY2(std::strcmp(text, "Unknown error.") != 0, qPrintable(QString::number(code)));
        }
        // Every one of pppd's statuses has words a person can act on.
        for (int status = 0; status <= 25; ++status) {
            char text[256] = {};
            QCOMPARE(RasGetErrorStringA(modem::pppdExitError(status), text, sizeof text), DWORD(0));
            QVERIFY2(std::strcmp(text, "Unknown error.") != 0, qPrintable(QString::number(status)));
        }
    }

    // Each answer of the modem ends the call with its own error; the call is
    // listed until it is hung up, and the modem heard the right commands.
    void modemAnswers_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("number");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("heard");
        QTest::addColumn<QString>("words"); // the stage, and what the modem said
        QTest::newRow("busy") << QStringList{u"--on"_s, u"0861=busy"_s} << u"0861"_s << 676
                              << u"CMD ATDT0861"_s
                              << u"Dialing 0861: the modem answered \"BUSY\""_s;
        QTest::newRow("no answer") << QStringList{u"--default"_s, u"noanswer"_s} << u"P0860"_s
                                   << 678 << u"CMD ATDP0860"_s << u"\"NO ANSWER\""_s;
        QTest::newRow("no carrier") << QStringList{u"--default"_s, u"nocarrier"_s} << u"0860"_s
                                    << 679 << u"CMD ATZ"_s << u"\"NO CARRIER\""_s;
        QTest::newRow("no dial tone") << QStringList{u"--default"_s, u"nodialtone"_s} << u"0860"_s
                                      << 680 << u""_s << u"\"NO DIALTONE\""_s;
        QTest::newRow("modem error") << QStringList{u"--default"_s, u"error"_s} << u"0860"_s << 651
                                     << u""_s << u"Dialing 0860: the modem answered \"ERROR\""_s;
        QTest::newRow("init error") << QStringList{u"--init"_s, u"error"_s} << u"0860"_s << 651
                                    << u"CMD ATZ"_s << u"The modem's reset: "_s;
        QTest::newRow("garbage") << QStringList{u"--default"_s, u"garbage"_s} << u"0860"_s << 652
                                 << u""_s << u"Dialing 0860: "_s;
        QTest::newRow("silent dial") << QStringList{u"--default"_s, u"silent"_s} << u"0860"_s << 678
                                     << u""_s << u"did not answer within 1 s"_s;
        QTest::newRow("silent init") << QStringList{u"--init"_s, u"silent"_s} << u"0860"_s << 666
                                     << u""_s << u"did not answer ATZ"_s;
        QTest::newRow("gone mid-dial") << QStringList{u"--default"_s, u"vanish"_s} << u"0860"_s
                                       << 630 << u"VANISH"_s << u"the modem is gone"_s;
    }

    void modemAnswers()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, number);
        QFETCH(int, error);
        QFETCH(QString, heard);
        QFETCH(QString, words);
        EmulatedModem emulator(m_f.home().path(), options);
        QVERIFY(emulator.isReady());
        QVERIFY(writeModemEntry(emulator.link(), {u"Timeout=1"_s}));

        const Dialed d = dial(number);
        QCOMPARE(d.rc, DWORD(0));
        QCOMPARE(waitForEnd(d.handle), DWORD(error));
        QCOMPARE(lineprobe::stateOf(d.handle), DWORD(RASCS_Disconnected));
        const QString text = lineprobe::errorText(DWORD(error));
        QVERIFY2(text.contains(words), qPrintable(text));
        // The port and its lock are free again once the call has ended.
        QVERIFY(waitFor([&] { return QDir(m_lockDir).isEmpty(); }));
        QVERIFY(hangUpAndWait(d.handle));
        if (!heard.isEmpty())
            QVERIFY2(emulator.log().contains(heard), qPrintable(emulator.log()));
    }

    // The road of a call in the service's states, and a hang-up while dialing.
    void statesAndHangUpWhileDialing()
    {
        EmulatedModem emulator(m_f.home().path(),
                               {u"--delay-ms"_s, u"150"_s, u"--default"_s, u"silent"_s});
        QVERIFY(emulator.isReady());
        QVERIFY(writeModemEntry(emulator.link(), {u"Timeout=30"_s}));
        const Dialed d = dial(u"0860"_s);
        QCOMPARE(d.rc, DWORD(0));
        QList<DWORD> seen;
        QVERIFY(waitFor([&] {
            const DWORD s = lineprobe::stateOf(d.handle);
            if (seen.isEmpty() || seen.last() != s)
                seen.append(s);
            return s == RASCS_ConnectDevice;
        }));
        QVERIFY2(seen.contains(RASCS_PortOpened), qPrintable(QString::number(seen.size())));
        const QList<lines::CallRecord> calls = lines::calls();
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls[0].kind, u"modem"_s);
        QCOMPARE(calls[0].deviceName, emulator.link());
        QVERIFY(!calls[0].linked);

        // The call lives in a process of its own session, not in this one.
        const qint64 pid = callPid();
        QVERIFY(pid > 0 && pid != ::getpid());
        QCOMPARE(qint64(::getsid(pid_t(pid))), pid);
        // The password is nowhere another process can read it.
        const QByteArray cmdline = readBytes(u"/proc/%1/cmdline"_s.arg(pid));
        QVERIFY(!cmdline.isEmpty());
        QVERIFY(!cmdline.contains("s3cret-pw"));
        QVERIFY(!readBytes(m_f.home().runtimeDir() + u"/line.json"_s).contains("s3cret-pw"));
        QVERIFY(!readBytes(m_f.home().runtimeDir() + u"/modem.log"_s).contains("s3cret-pw"));
        // Only the dialing process knows what it dialed.
        QCOMPARE(calls[0].password, u"s3cret-pw"_s);

        QCOMPARE(RasHangUpA(d.handle), DWORD(0));
        QCOMPARE(lineprobe::stateOf(d.handle), DWORD(RASCS_Disconnected));
        QVERIFY(hangUpAndWait(d.handle));
        QVERIFY(waitFor([&] { return ::kill(pid_t(pid), 0) != 0; }));
        QVERIFY(QDir(m_lockDir).isEmpty());
        // Nothing of the call is left behind but the log of the latest call.
        QCOMPARE(QDir(m_f.home().runtimeDir()).entryList({u"call-*"_s}, QDir::Files),
                 QStringList());
        QVERIFY(waitFor([&] { return emulator.log().contains(u"HANGUP"_s); }));
    }

    // Two programs never share a modem; a lock left by a dead program is taken over.
    void portLocks()
    {
        EmulatedModem emulator(m_f.home().path(), {u"--default"_s, u"silent"_s});
        QVERIFY(emulator.isReady());
        const QString target = QFileInfo(emulator.link()).canonicalFilePath();
        const QString lockPath = m_lockDir + u'/' + modem::lockFileName(target);

        // Another program holds the port.
        QVERIFY(writeBytes(lockPath, QByteArray::number(emulator.pid()).rightJustified(10) + '\n'));
        QVERIFY(writeModemEntry(emulator.link(), {u"Timeout=1"_s}));
        Dialed d = dial(u"0860"_s);
        QCOMPARE(waitForEnd(d.handle), DWORD(ERROR_PORT_NOT_AVAILABLE));
        QVERIFY(hangUpAndWait(d.handle));
        QVERIFY(QFile::exists(lockPath)); // not ours to remove

        // Its owner is gone.
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(0);
        ::waitpid(child, nullptr, 0);
        QVERIFY(writeBytes(lockPath, QByteArray::number(child).rightJustified(10) + '\n'));
        d = dial(u"0860"_s);
        QVERIFY(waitFor([&] { return lineprobe::stateOf(d.handle) == RASCS_ConnectDevice; }));
        const QByteArray lock = readBytes(lockPath);
        QCOMPARE(lock.size(), 11); // "%10d\n", as pppd writes it
        QCOMPARE(lock.trimmed().toLongLong(), callPid());
        QVERIFY2(waitForEnd(d.handle) == ERROR_NO_ANSWER,
                 readBytes(m_f.home().runtimeDir() + u"/modem.log"_s).constData());
        QVERIFY(!QFile::exists(lockPath));
        QVERIFY(hangUpAndWait(d.handle));

        // A fresh empty lock is being written by its owner: held. One left
        // empty for long is stale.
        QVERIFY(writeBytes(lockPath, {}));
        d = dial(u"0860"_s);
        QCOMPARE(waitForEnd(d.handle), DWORD(ERROR_PORT_NOT_AVAILABLE));
        QVERIFY(hangUpAndWait(d.handle));
        QVERIFY(QFile::exists(lockPath));
        const utimbuf hourAgo = {::time(nullptr) - 3600, ::time(nullptr) - 3600};
        QCOMPARE(::utime(QFile::encodeName(lockPath).constData(), &hourAgo), 0);
        d = dial(u"0860"_s);
        QVERIFY(waitFor([&] { return lineprobe::stateOf(d.handle) == RASCS_ConnectDevice; }));
        QCOMPARE(readBytes(lockPath).trimmed().toLongLong(), callPid());
        QVERIFY(hangUpAndWait(d.handle));

        // A named pipe at the lock's place, or a link to one, never blocks the call.
        const QString fifo = m_f.home().path() + u"/fifo"_s;
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
        for (const bool link : {false, true}) {
            QFile::remove(lockPath);
            QVERIFY(link ? QFile::link(fifo, lockPath)
                         : ::mkfifo(QFile::encodeName(lockPath).constData(), 0644) == 0);
            d = dial(u"0860"_s);
            QCOMPARE(waitForEnd(d.handle, 3000), DWORD(ERROR_PORT_NOT_AVAILABLE));
            const QString words = lineprobe::errorText(ERROR_PORT_NOT_AVAILABLE);
            QVERIFY2(words.contains(lockPath), qPrintable(words));
            QVERIFY(hangUpAndWait(d.handle, 2000));
        }

        // A lock folder that cannot take the lock is said to be so, not a group to join.
        qputenv("VANTELO_LOCK_DIR", QFile::encodeName(m_f.home().path() + u"/plain-file"_s));
        QVERIFY(writeBytes(m_f.home().path() + u"/plain-file"_s, "x"));
        d = dial(u"0860"_s);
        QCOMPARE(waitForEnd(d.handle), DWORD(ERROR_PORT_NOT_AVAILABLE));
        QVERIFY(lineprobe::errorText(ERROR_PORT_NOT_AVAILABLE).contains(u"plain-file"_s));
        QVERIFY(hangUpAndWait(d.handle));
        qputenv("VANTELO_LOCK_DIR", QFile::encodeName(m_lockDir));
    }

    // A mistyped or missing Device= fails as a missing modem, in words that
    // name the entry and the value; the sample's entries stay simulated.
    void entryPicksItsLine()
    {
        QVERIFY(writeBytes(lines::phonebookPath(),
                           "[Typo]\nDevice=modem-no-such-xyz\nPhoneNumber=0860\n"
                           "[Bare]\nPhoneNumber=0860\n"));
        Dialed d = dial(u"0860"_s, u"bob"_s, u"pw"_s, u"Typo"_s);
        QCOMPARE(d.rc, DWORD(0));
        QCOMPARE(waitForEnd(d.handle), DWORD(ERROR_DEVICE_DOES_NOT_EXIST));
        QString words = lineprobe::errorText(ERROR_DEVICE_DOES_NOT_EXIST);
        QVERIFY2(words.contains(u"Typo"_s) && words.contains(u"modem-no-such-xyz"_s),
                 qPrintable(words));
        QVERIFY(hangUpAndWait(d.handle));
        d = dial(u"0860"_s, u"bob"_s, u"pw"_s, u"Bare"_s);
        QCOMPARE(waitForEnd(d.handle), DWORD(ERROR_DEVICE_DOES_NOT_EXIST));
        words = lineprobe::errorText(ERROR_DEVICE_DOES_NOT_EXIST);
        QVERIFY2(words.contains(u"Bare"_s) && words.contains(u"names no device"_s),
                 qPrintable(words));
        QVERIFY(hangUpAndWait(d.handle));

        // The sample phonebook: its busy line is still the simulated one.
        QVERIFY(writeBytes(lines::phonebookPath(), line::samplePhonebook()));
        d = dial(u"0861"_s, u"demo"_s, u"demo"_s, u"Vantelo Busy Line"_s);
        QCOMPARE(d.rc, DWORD(0));
        QCOMPARE(lines::calls().value(0).kind, u"simulated"_s);
        QVERIFY(hangUpAndWait(d.handle));
    }

    // Whether this account may open the modem and run pppd, told before
    // anything is dialed; every group it lacks is named at once.
    void permissionsNameEveryMissingGroup()
    {
        const QString port = m_f.home().path() + u"/port"_s;
        const QString pppd = m_f.home().path() + u"/pppd"_s;
        const QString peers = m_f.home().path() + u"/peers-file"_s;
        QVERIFY(writeBytes(port, {}) && writeBytes(pppd, {}) && writeBytes(peers, {}));
        // As Debian installs them: the modem root:dialout 0660, pppd root:dip 4754.
        const auto own = [](const QString &path, gid_t gid, mode_t mode) {
            const QByteArray p = QFile::encodeName(path);
            return ::chown(p.constData(), 0, gid) == 0 && ::chmod(p.constData(), mode) == 0;
        };
        if (::getuid() != 0)
            QSKIP("making files of root's with other groups needs root");
        QVERIFY(own(port, 20, 0660) && own(pppd, 30, 04754) && own(peers, 30, 0640));
        const auto check = [&](QList<gid_t> groups) {
            return modem::checkPermissions(port, pppd, peers, {1000, groups});
        };
        const auto groupName = [](gid_t gid) {
            const group *g = ::getgrgid(gid);
            return g ? QString::fromLocal8Bit(g->gr_name) : QString::number(gid);
        };
        const QString dialout = groupName(20);
        const QString dip = groupName(30);

        modem::Problem p = check({1000});
        QCOMPARE(p.code, DWORD(ERROR_PORT_NOT_CONFIGURED));
        QVERIFY2(p.words.contains(dialout) && p.words.contains(dip), qPrintable(p.words));
        p = check({1000, 20});
        QCOMPARE(p.code, DWORD(ERROR_NO_DIALIN_PERMISSION));
        QVERIFY2(p.words.contains(dip) && !p.words.contains(dialout), qPrintable(p.words));
        p = check({1000, 30});
        QCOMPARE(p.code, DWORD(ERROR_PORT_NOT_CONFIGURED));
        QVERIFY2(p.words.contains(dialout) && !p.words.contains(u" "_s + dip + u" "_s),
                 qPrintable(p.words));
        QCOMPARE(check({1000, 20, 30}).code, DWORD(0));
        QCOMPARE(modem::checkPermissions(port, pppd, peers, {0, {0}}).code, DWORD(0));
        // A setuid pppd reads its options as root; a missing file is still missing.
        QVERIFY(QFile::remove(peers));
        QCOMPARE(check({1000, 20, 30}).code, DWORD(ERROR_READING_INI_FILE));
        QCOMPARE(
            modem::checkPermissions(port, m_f.home().path() + u"/none"_s, peers, {0, {0}}).code,
            DWORD(ERROR_RASMAN_CANNOT_INITIALIZE));
    }

    // What can be known before dialing fails before the port is opened: the
    // ISP is never called for a call pppd cannot carry.
    void checkedBeforeDialing()
    {
        EmulatedModem emulator(m_f.home().path());
        QVERIFY(emulator.isReady());
        QVERIFY(writeModemEntry(emulator.link(), {u"Peer=vantelo-test-absent"_s}));
        Dialed d = dial(u"0860"_s);
        QCOMPARE(waitForEnd(d.handle), DWORD(ERROR_READING_INI_FILE));
        QVERIFY(lineprobe::errorText(ERROR_READING_INI_FILE).contains(u"vantelo-test-absent"_s));
        QVERIFY(hangUpAndWait(d.handle));
        QVERIFY2(!emulator.log().contains(u"CMD"_s), qPrintable(emulator.log()));

        qputenv("VANTELO_PPPD", QFile::encodeName(m_f.home().path() + u"/no-pppd"_s));
        QVERIFY(writeModemEntry(emulator.link()));
        d = dial(u"0860"_s);
        QCOMPARE(waitForEnd(d.handle), DWORD(ERROR_RASMAN_CANNOT_INITIALIZE));
        QVERIFY(hangUpAndWait(d.handle));
        QVERIFY2(!emulator.log().contains(u"CMD"_s), qPrintable(emulator.log()));

        // Device= values that are no device: each says what it is.
        const QString loop = m_f.home().path() + u"/loop"_s;
        QVERIFY(QFile::link(loop, loop));
        for (const auto &[value, code, what] :
             {std::tuple{loop, ERROR_DEVICE_DOES_NOT_EXIST, u"loop"_s},
              std::tuple{u"/dev/"_s + QString(5000, u'x'), ERROR_WRONG_INFO_SPECIFIED,
                         u"Device="_s}}) {
            QVERIFY(writeModemEntry(value));
            d = dial(u"0860"_s);
            QCOMPARE(waitForEnd(d.handle), DWORD(code));
            const QString words = lineprobe::errorText(code);
            QVERIFY2(words.contains(what), qPrintable(words));
            QVERIFY(hangUpAndWait(d.handle));
        }
    }

    // A value too long to travel is refused before any process starts; the
    // dialing program never dies of a broken pipe.
    void overLongValuesAreRefused()
    {
        EmulatedModem emulator(m_f.home().path());
        QVERIFY(emulator.isReady());
        QVERIFY(writeModemEntry(emulator.link(), {u"Init=AT"_s + QString(70000, u'Z')}));
        const Dialed d = dial(u"0860"_s);
        QCOMPARE(d.rc, DWORD(0));
        QCOMPARE(waitForEnd(d.handle), DWORD(ERROR_WRONG_INFO_SPECIFIED));
        QVERIFY2(lineprobe::errorText(ERROR_WRONG_INFO_SPECIFIED).contains(u"Init="_s),
                 qPrintable(lineprobe::errorText(ERROR_WRONG_INFO_SPECIFIED)));
        QCOMPARE(QDir(m_f.home().runtimeDir()).entryList({u"call-*"_s}, QDir::Files),
                 QStringList());
        QVERIFY(hangUpAndWait(d.handle));
        QVERIFY(!emulator.log().contains(u"CMD"_s));
    }

    // A second call on a busy modem is refused, and the log the first call
    // writes is neither emptied nor filled with holes.
    void sharedModemLogIsKept()
    {
        EmulatedModem emulator(m_f.home().path(), {u"--default"_s, u"silent"_s});
        QVERIFY(emulator.isReady());
        const QByteArray device = QFile::encodeName(emulator.link());
        QVERIFY(writeBytes(lines::phonebookPath(), "[ISP]\nDevice=" + device +
                                                       "\nTimeout=30\n[Other]\nDevice=" + device +
                                                       "\n"));
        const Dialed first = dial(u"0860"_s);
        QVERIFY(waitFor([&] { return lineprobe::stateOf(first.handle) == RASCS_ConnectDevice; }));
        const Dialed second = dial(u"0861"_s, u"bob"_s, u"pw"_s, u"Other"_s);
        QCOMPARE(waitForEnd(second.handle), DWORD(ERROR_PORT_NOT_AVAILABLE));
        QVERIFY(hangUpAndWait(second.handle));
        QVERIFY(hangUpAndWait(first.handle));
        const QByteArray log = readBytes(m_f.home().runtimeDir() + u"/modem.log"_s);
        QVERIFY2(!log.contains('\0'), log.constData());
        QVERIFY2(log.contains("Call " + QByteArray::number(first.handle) + '.'), log.constData());
        QVERIFY2(log.contains("> ATDT0860") && log.contains("Hung up."), log.constData());
    }

    // pppd gets the password byte for byte; one that cannot be given so is refused.
    void passwordReachesPppdAsTyped()
    {
        // A slow modem still gets through.
        EmulatedModem emulator(m_f.home().path(), {u"--delay-ms"_s, u"300"_s});
        QVERIFY(emulator.isReady());
        QVERIFY(writeModemEntry(emulator.link()));
        const QString password = u"p\u00e9 ss\u20ac"_s;
        Dialed d = dial(u"0860"_s, u"bob"_s, password);
        QVERIFY(waitFor([&] { return lineprobe::stateOf(d.handle) == RASCS_Connected; }));
        QCOMPARE(readBytes(m_f.home().path() + u"/password.hex"_s), password.toUtf8().toHex());
        QVERIFY(hangUpAndWait(d.handle));

        // From the line tool: a NUL or a byte that is not text never reaches pppd.
        for (const QByteArray &bad : {QByteArray("pa\0ss\n", 6), QByteArray("caf\xe9\n")}) {
            QFile::remove(m_f.home().path() + u"/password.hex"_s);
            QProcess tool;
            tool.start(QStringLiteral(VANTELO_LINE_TOOL),
                       {u"dial"_s, kEntry, u"--number"_s, u"0860"_s, u"--password-stdin"_s});
            QVERIFY(tool.waitForStarted());
            tool.write(bad);
            tool.closeWriteChannel();
            QVERIFY(tool.waitForFinished(5000));
            QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
            QVERIFY(tool.exitCode() != 0);
            QVERIFY2(tool.readAllStandardError().contains("password"), bad.toHex().constData());
        }
        QVERIFY(lineprobe::listedHandles().isEmpty());
        QVERIFY(!QFile::exists(m_f.home().path() + u"/password.hex"_s));
    }

    // pppd never outlives its call unnoticed; pppd ended by someone else is
    // told as such.
    void pppdEndsWithItsCall()
    {
        EmulatedModem emulator(m_f.home().path());
        QVERIFY(emulator.isReady());
        const QByteArray device = QFile::encodeName(emulator.link());
        QVERIFY(writeBytes(lines::phonebookPath(),
                           "[ISP]\nDevice=" + device + "\n[Other]\nDevice=" + device + "\n"));
        const QString lockPath =
            m_lockDir + u'/' + modem::lockFileName(QFileInfo(emulator.link()).canonicalFilePath());
        const auto pppdPid = [&] {
            return pid_t(readBytes(m_f.home().path() + u"/pid"_s).trimmed().toInt());
        };
        const auto connect = [&] {
            QFile::remove(m_f.home().path() + u"/pid"_s);
            const Dialed d = dial(u"0860"_s);
            return waitFor([&] { return lineprobe::stateOf(d.handle) == RASCS_Connected; }) &&
                           pppdPid() > 0
                       ? d.handle
                       : HRASCONN(0);
        };
        // Gone, or a zombie its new parent has not reaped yet.
        const auto gone = [](pid_t pid) {
            return waitFor([&] {
                const QByteArray stat = readBytes(u"/proc/%1/stat"_s.arg(pid));
                return stat.isEmpty() || stat.mid(stat.lastIndexOf(')') + 2, 1) == "Z";
            });
        };

        // Its supervisor killed: pppd goes with it.
        HRASCONN handle = connect();
        QVERIFY(handle != 0);
        QCOMPARE(readBytes(lockPath).trimmed().toInt(), int(pppdPid()));
        QVERIFY(::kill(pid_t(callPid()), SIGKILL) == 0);
        QVERIFY(gone(pppdPid()));
        QCOMPARE(waitForEnd(handle), DWORD(ERROR_NO_CONNECTION));
        QVERIFY(hangUpAndWait(handle));

        // A pppd that drops the parent-death signal (as a setuid one does)
        // keeps the port locked, and the next look at the line ends it.
        qputenv("VANTELO_STANDIN_SETUID", "1");
        handle = connect();
        QVERIFY(handle != 0);
        const pid_t orphan = pppdPid();
        QVERIFY(::kill(pid_t(callPid()), SIGKILL) == 0);
        const Dialed other = dial(u"0861"_s, u"bob"_s, u"pw"_s, u"Other"_s);
        QCOMPARE(waitForEnd(other.handle), DWORD(ERROR_PORT_NOT_AVAILABLE));
        QVERIFY(hangUpAndWait(other.handle));
        QCOMPARE(waitForEnd(handle), DWORD(ERROR_NO_CONNECTION));
        QVERIFY(hangUpAndWait(handle));
        QVERIFY(gone(orphan));

        // Someone else kills pppd: not the user's hang-up.
        handle = connect();
        QVERIFY(handle != 0);
        QVERIFY(::kill(pppdPid(), SIGKILL) == 0);
        QCOMPARE(waitForEnd(handle), DWORD(ERROR_PORT_DISCONNECTED));
        QVERIFY2(lineprobe::errorText(ERROR_PORT_DISCONNECTED).contains(u"signal 9"_s),
                 qPrintable(lineprobe::errorText(ERROR_PORT_DISCONNECTED)));
        QVERIFY(hangUpAndWait(handle));
    }

    // A far end that stops answering while the carrier stays up: pppd's echo
    // requests go unanswered, it ends the link as dead (its status 15), and
    // the call reads so, in the service's words and the line tool's, not as
    // a hang-up or a lost carrier, whether pppd then ends with the status of
    // a dead peer or, as pppd 2.4.9 does on a real link, of a hang-up.
    void deadLinkIsNoticed_data()
    {
        QTest::addColumn<QByteArray>("exitStatus");
        QTest::newRow("status 15") << QByteArray("15");
        QTest::newRow("modem hangup, status 16") << QByteArray("16");
    }

    void deadLinkIsNoticed()
    {
        QFETCH(QByteArray, exitStatus);
        qputenv("VANTELO_STANDIN_DEAD_EXIT", exitStatus);
        QVERIFY(writeBytes(m_f.home().path() + u"/peers/vantelo"_s,
                           "noauth\nlcp-echo-interval 2\nlcp-echo-failure 3\n"));
        // pppd's seconds as 20 ms: a request every 40 ms, given up after three.
        qputenv("VANTELO_STANDIN_ECHO_UNIT_MS", "20");
        // The far end answers every byte until it is told to go silent.
        EmulatedModem emulator(m_f.home().path(), {u"--"_s, u"cat"_s});
        QVERIFY(emulator.isReady());
        QVERIFY(writeModemEntry(emulator.link()));
        const Dialed d = dial(u"0860"_s);
        QVERIFY(waitFor([&] { return lineprobe::stateOf(d.handle) == RASCS_Connected; }));
        // Answered requests keep the link up: ten intervals pass, still up.
        QThread::msleep(400);
        QCOMPARE(lineprobe::stateOf(d.handle), DWORD(RASCS_Connected));

        QVERIFY(::kill(pid_t(emulator.pid()), SIGUSR2) == 0);
        QCOMPARE(waitForEnd(d.handle), DWORD(ERROR_PPP_TIMEOUT));
        const QString words = lineprobe::errorText(ERROR_PPP_TIMEOUT);
        QVERIFY2(
            words.startsWith(u"On line: the far end stopped answering (no LCP echo replies)"_s),
            qPrintable(words));
        QVERIFY2(words.endsWith(u"(pppd: \"No response to 3 echo-requests\")."_s),
                 qPrintable(words));

        QProcess tool;
        tool.start(QStringLiteral(VANTELO_LINE_TOOL), {u"status"_s, u"--json"_s});
        QVERIFY(tool.waitForFinished(5000));
        const QJsonObject call = QJsonDocument::fromJson(tool.readAllStandardOutput())
                                     .object()
                                     .value(u"connections"_s)
                                     .toArray()
                                     .first()
                                     .toObject();
        QCOMPARE(call.value(u"error"_s).toInteger(), qint64(ERROR_PPP_TIMEOUT));
        QCOMPARE(call.value(u"errorText"_s).toString(), words);

        // The carrier stayed up: the modem never dropped it, Vantelo hung up
        // after pppd had ended.
        QTRY_VERIFY(emulator.log().contains(u"DTR HANGUP"_s));
        const QString log = emulator.log();
        QVERIFY2(!log.contains(u"DROP"_s), qPrintable(log));
        QVERIFY2(log.indexOf(u"SILENT far end"_s) >= 0 &&
                     log.indexOf(u"SILENT far end"_s) < log.indexOf(u"DTR HANGUP"_s),
                 qPrintable(log));
        QVERIFY(hangUpAndWait(d.handle));
    }

    // The shipped peers file gives a dead link up within two minutes: the
    // echo requests' interval times the unanswered ones allowed. (The lab
    // shows pppd doing so on a real link.)
    void shippedPeersFileGivesUpADeadLinkInTime()
    {
        QFile file(QStringLiteral(VANTELO_SHIPPED_PEERS));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        long interval = 0, failures = 0;
        while (!file.atEnd()) {
            const QStringList words = QString::fromUtf8(file.readLine())
                                          .section(u'#', 0, 0)
                                          .split(u' ', Qt::SkipEmptyParts);
            if (words.size() == 2 && words.at(0) == u"lcp-echo-interval"_s)
                interval = words.at(1).toLong();
            else if (words.size() == 2 && words.at(0) == u"lcp-echo-failure"_s)
                failures = words.at(1).toLong();
        }
        QVERIFY2(interval > 0 && failures > 0, "the peers file asks for no LCP echo check");
        QVERIFY2(
            interval * failures <= 120,
            qPrintable(u"%1 s x %2 = %3 s"_s.arg(interval).arg(failures).arg(interval * failures)));
    }

    // Hanging up puts the modem on hook: by DTR, or, for a modem that
    // ignores DTR (AT&D0), by the escape and ATH.
    void hangUpPutsTheModemOnHook_data() { addBoolRows("deaf", "DTR-deaf", "DTR"); }

    void hangUpPutsTheModemOnHook()
    {
        QFETCH(bool, deaf);
        EmulatedModem emulator(m_f.home().path(),
                               deaf ? QStringList{u"--dtr-deaf"_s} : QStringList{});
        QVERIFY(emulator.isReady());
        QVERIFY(writeModemEntry(emulator.link()));
        const Dialed d = dial(u"0860"_s);
        QVERIFY(waitFor([&] { return lineprobe::stateOf(d.handle) == RASCS_Connected; }));
        QVERIFY(hangUpAndWait(d.handle));
        const QString log = emulator.log();
        if (deaf) {
            QVERIFY2(log.contains(u"DTR ignored"_s) && log.contains(u"ESCAPE"_s) &&
                         log.contains(u"ATH HANGUP"_s),
                     qPrintable(log));
            QVERIFY2(!log.contains(u"CLOSED while off-hook"_s), qPrintable(log));
        } else {
            QVERIFY2(log.contains(u"DTR HANGUP"_s) && !log.contains(u"ESCAPE"_s), qPrintable(log));
        }
    }

    // The device must be there, and be a serial port; unsafe texts never leave.
    void refusedBeforeAnything()
    {
        QVERIFY(writeModemEntry(m_f.home().path() + u"/no-such-modem"_s));
        Dialed d = dial(u"0860"_s);
        QCOMPARE(waitForEnd(d.handle), DWORD(ERROR_DEVICE_DOES_NOT_EXIST));
        QVERIFY(hangUpAndWait(d.handle));

        QVERIFY(writeBytes(m_f.home().path() + u"/plain-file"_s, "not a modem"));
        QVERIFY(writeModemEntry(m_f.home().path() + u"/plain-file"_s));
        d = dial(u"0860"_s);
        QCOMPARE(waitForEnd(d.handle), DWORD(ERROR_UNKNOWN_DEVICE_TYPE));
        QVERIFY(hangUpAndWait(d.handle));

        EmulatedModem emulator(m_f.home().path());
        QVERIFY(emulator.isReady());
        QVERIFY(writeModemEntry(emulator.link()));
        for (const auto &[number, user] :
             {std::pair{u"0860;H0"_s, u"bob"_s}, std::pair{u"0860"_s, u"-noauth"_s},
              std::pair{u"0860"_s, u"bob\nnoauth"_s}}) {
            d = dial(number, user);
            QCOMPARE(d.rc, DWORD(0));
            QCOMPARE(lineprobe::errorOf(d.handle), DWORD(ERROR_WRONG_INFO_SPECIFIED));
            QVERIFY(hangUpAndWait(d.handle));
        }
        QVERIFY(!emulator.log().contains(u"ATD"_s)); // nothing was dialed
        QVERIFY(writeModemEntry(emulator.link(), {u"Init=ATZ\rATD123"_s}));
        d = dial(u"0860"_s);
        QCOMPARE(lineprobe::errorOf(d.handle), DWORD(ERROR_WRONG_INFO_SPECIFIED));
        QVERIFY(hangUpAndWait(d.handle));
    }

    // The real pppd of this system, given the line after CONNECT. On a kernel
    // without PPP it refuses, and the call says why in words a person can act on.
    void realPppdWithoutKernelPpp()
    {
        if (qEnvironmentVariable("VANTELO_PRIVATE_ETC_PPP") != u"1"_s)
            QSKIP("needs a private /etc/ppp: run through in_private_etc_ppp.sh");
        if (QFileInfo::exists(u"/dev/ppp"_s))
            QSKIP("this kernel has PPP: the real link is tested in the lab's guest");
        qunsetenv("VANTELO_PPPD");
        qunsetenv("VANTELO_PPP_PEERS_DIR");
        QVERIFY(QFileInfo::exists(modem::peersFilePath(u"vantelo"_s)));
        EmulatedModem emulator(m_f.home().path(), {u"--speed"_s, u"33600"_s});
        QVERIFY(emulator.isReady());
        QVERIFY(writeModemEntry(emulator.link()));
        const Dialed d = dial(u"0860"_s);
        QCOMPARE(d.rc, DWORD(0));
        QCOMPARE(waitForEnd(d.handle), DWORD(ERROR_PPP_NO_PROTOCOLS_CONFIGURED));
        const QByteArray log = readBytes(m_f.home().runtimeDir() + u"/modem.log"_s);
        QVERIFY2(log.contains("pppd exited with status 4"), log.constData());
        QVERIFY2(log.contains("call vantelo nodetach logfd 3 user bob passwordfd 4"),
                 log.constData());
        QVERIFY(!log.contains("s3cret-pw"));
        char text[256] = {};
        QCOMPARE(RasGetErrorStringA(ERROR_PPP_NO_PROTOCOLS_CONFIGURED, text, sizeof text),
                 DWORD(0));
        QVERIFY(QByteArray(text).contains("no PPP support"));
        QVERIFY(hangUpAndWait(d.handle));
    }
};

QTEST_GUILESS_MAIN(TestModemLine)
#include "test_modem_line.moc"
