// The lines' shared state in the runtime folder as an attacker or a damaged
// file would meet it: a folder someone else made first, links planted in
// place of the state's files, a lock held by another process for long, and
// values in line.json that no program of ours ever writes.

#include "platform/core/clock.h"
#include "platform/line/call_store.h"
#include "platform/lines.h"
#include "platform/modem/modem_line.h"
#include "platform/paths.h"
#include "platform/ras.h"
#include "platform/sim/line_model.h"
#include "support/fixture.h"
#include "support/line_probe.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace lineprobe;

namespace {

// The service's codes for a line being changed by another process and for a
// runtime folder that cannot be used.
constexpr DWORD kBusy = 616;
constexpr DWORD kFolderUnusable = 605;
// The user planted folders and files belong to.
constexpr uid_t kOtherUser = 65534;

mode_t modeOf(const QString &path)
{
    struct stat st = {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

bool isSymlink(const QString &path)
{
    return S_ISLNK(modeOf(path));
}

bool makeFolder(const QString &path, mode_t mode, uid_t owner)
{
    const QByteArray p = QFile::encodeName(path);
    return ::mkdir(p.constData(), mode) == 0 && ::chmod(p.constData(), mode) == 0 &&
           ::chown(p.constData(), owner, gid_t(-1)) == 0;
}

bool link(const QString &target, const QString &path)
{
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()) ==
           0;
}

// Holds line.lock as another process would (a lock of its own open file
// description) and lets it go after `limitMs` at the latest, so that code
// that waits for it without a bound is seen as slow instead of never ending.
class ForeignLock final
{
public:
    ForeignLock(const QString &path, int limitMs)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0 || ::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
            return;
        m_held = true;
        m_release = std::thread([this, limitMs] {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_done.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return m_stop; });
            ::flock(m_fd, LOCK_UN);
        });
    }
    ~ForeignLock()
    {
        if (m_release.joinable()) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_stop = true;
            }
            m_done.notify_all();
            m_release.join();
        }
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isHeld() const { return m_held; }

private:
    int m_fd = -1;
    bool m_held = false;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_stop = false;
    std::thread m_release;
};

} // namespace

class TestRuntimeState final : public QObject
{
    Q_OBJECT

private:
    TestFixture m_f;
    std::unique_ptr<QTemporaryDir> m_tmp;
    QByteArray m_savedTmpDir;

    // XDG_RUNTIME_DIR unset, the temporary folder a fresh one of the test's.
    void useFallbackFolder()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(m_tmp->path()));
    }
    QString fallbackBase() const { return m_tmp->path() + u"/runtime-root"_s; }

private slots:
    void init()
    {
        m_savedTmpDir = qgetenv("TMPDIR");
        QVERIFY(m_f.setUp({quickEntry(u"Quick"_s), quickEntry(u"Other"_s)}));
    }

    void cleanup()
    {
        m_f.tearDown();
        if (m_savedTmpDir.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", m_savedTmpDir);
        m_tmp.reset();
    }

    void fallbackFolderIsMadePrivate()
    {
        if (::geteuid() != 0)
            QSKIP("the fallback folder is named after root here");
        useFallbackFolder();
        const QString folder = platform::runtimeFolder();
        QCOMPARE(folder, fallbackBase() + u"/vantelo"_s);
        for (const QString &path : {fallbackBase(), folder}) {
            QCOMPARE(modeOf(path) & 07777, mode_t(0700));
            QCOMPARE(QFileInfo(path).ownerId(), ::geteuid());
        }
        // A folder of ours whose mode was loosened is narrowed again.
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
        QCOMPARE(platform::runtimeFolder(), folder);
        QCOMPARE(modeOf(folder) & 07777, mode_t(0700));
        QCOMPARE(dial(u"Quick"_s).rc, DWORD(0));
    }

    // Folders another user could have made first, or that are not folders:
    // refused with their own error naming the folder, and nothing is written
    // where they lead.
    void unsafeFoldersAreRefused_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("named"); // the folder the error names, under TMPDIR
        QTest::newRow("base of another user") << u"base-other"_s << u"/runtime-root"_s;
        QTest::newRow("base open to all, of another user") << u"base-open"_s << u"/runtime-root"_s;
        QTest::newRow("base a link") << u"base-link"_s << u"/runtime-root"_s;
        QTest::newRow("base a file") << u"base-file"_s << u"/runtime-root"_s;
        QTest::newRow("vantelo of another user")
            << u"vantelo-other"_s << u"/runtime-root/vantelo"_s;
        QTest::newRow("vantelo a link") << u"vantelo-link"_s << u"/runtime-root/vantelo"_s;
        QTest::newRow("XDG_RUNTIME_DIR of another user, fallback a link")
            << u"xdg-other"_s << u"/runtime-root"_s;
    }

    void unsafeFoldersAreRefused()
    {
        QFETCH(QString, layout);
        QFETCH(QString, named);
        if (::geteuid() != 0)
            QSKIP("planting another user's folder needs root");
        useFallbackFolder();
        const QString base = fallbackBase();
        const QString elsewhere = m_tmp->path() + u"/elsewhere"_s;
        QVERIFY(makeFolder(elsewhere, 0700, ::geteuid()));
        if (layout == u"base-other"_s) {
            QVERIFY(makeFolder(base, 0700, kOtherUser));
        } else if (layout == u"base-open"_s) {
            QVERIFY(makeFolder(base, 01777, kOtherUser));
        } else if (layout == u"base-link"_s || layout == u"xdg-other"_s) {
            QVERIFY(link(elsewhere, base));
        } else if (layout == u"base-file"_s) {
            QVERIFY(writeBytes(base, "not a folder"));
        } else if (layout == u"vantelo-other"_s) {
            QVERIFY(makeFolder(base, 0700, ::geteuid()));
            QVERIFY(makeFolder(base + u"/vantelo"_s, 0700, kOtherUser));
        } else if (layout == u"vantelo-link"_s) {
            QVERIFY(makeFolder(base, 0700, ::geteuid()));
            QVERIFY(link(elsewhere, base + u"/vantelo"_s));
        }
        if (layout == u"xdg-other"_s) {
            const QString xdg = m_tmp->path() + u"/xdg"_s;
            QVERIFY(makeFolder(xdg, 0700, kOtherUser));
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(xdg));
        }

        QCOMPARE(platform::runtimeFolder(), QString());
        QVERIFY(platform::runtimeFolderError().contains(m_tmp->path() + named));
        const Dialed d = dial(u"Quick"_s);
        QCOMPARE(d.rc, kFolderUnusable);
        const QString text = errorText(kFolderUnusable);
        QVERIFY2(text.contains(m_tmp->path() + named), qPrintable(text));
        QVERIFY(listedHandles().isEmpty());
        QCOMPARE(QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

    // A link planted in place of a file of the runtime folder is never
    // followed: line.json's is replaced, its target left as it was; a lock
    // or a log that is a link (or no file at all) is refused.
    void plantedLinksAreNeverFollowed()
    {
        const QString folder = platform::runtimeFolder();
        QVERIFY(!folder.isEmpty());
        QTemporaryDir outside;
        const QString victim = outside.path() + u"/victim"_s;
        QVERIFY(writeBytes(victim, "precious"));
        QVERIFY(::chmod(QFile::encodeName(victim).constData(), 0644) == 0);

        QVERIFY(link(victim, folder + u"/line.json"_s));
        const Dialed d = dial(u"Quick"_s);
        QCOMPARE(d.rc, DWORD(0));
        QCOMPARE(readBytes(victim), QByteArray("precious"));
        QCOMPARE(modeOf(victim) & 07777, mode_t(0644));
        QVERIFY(S_ISREG(modeOf(folder + u"/line.json"_s)));
        QCOMPARE(modeOf(folder + u"/line.json"_s) & 07777, mode_t(0600));
        QCOMPARE(listedHandles(), QList<HRASCONN>{d.handle});
        // No temporary file is left behind.
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::System),
                 QStringList({u"line.json"_s, u"line.lock"_s}));

        QVERIFY(QFile::remove(folder + u"/line.lock"_s));
        QVERIFY(link(victim, folder + u"/line.lock"_s));
        QCOMPARE(dial(u"Other"_s).rc, kFolderUnusable);
        QCOMPARE(RasHangUpA(d.handle), kFolderUnusable);
        QVERIFY2(errorText(kFolderUnusable).contains(u"line.lock"_s),
                 qPrintable(errorText(kFolderUnusable)));
        QCOMPARE(readBytes(victim), QByteArray("precious"));
        QCOMPARE(modeOf(victim) & 07777, mode_t(0644));

        const QString log = folder + u"/modem.log"_s;
        QVERIFY(link(victim, log));
        QCOMPARE(line::openRuntimeFile(log, O_WRONLY | O_CREAT | O_TRUNC), -1);
        QVERIFY(QFile::remove(log));
        QVERIFY(::mkfifo(QFile::encodeName(log).constData(), 0600) == 0);
        QCOMPARE(line::openRuntimeFile(log, O_WRONLY | O_CREAT | O_TRUNC), -1); // never blocks
        QCOMPARE(readBytes(victim), QByteArray("precious"));
    }

    // The user's own phonebook may be a link the user made: it is written
    // through, and stays a link.
    void phonebookLinkOfTheUserIsKept()
    {
        QTemporaryDir dotfiles;
        const QString real = dotfiles.path() + u"/rasphone.pbk"_s;
        QVERIFY(QFile::rename(simline::phonebookPath(), real));
        QVERIFY(link(real, simline::phonebookPath()));
        RASDIALPARAMS params{};
        params.dwSize = sizeof params;
        std::strcpy(params.szEntryName, "Quick");
        std::strcpy(params.szUserName, "someone");
        QCOMPARE(RasSetEntryDialParamsA(nullptr, &params, TRUE), DWORD(0));
        QVERIFY(isSymlink(simline::phonebookPath()));
        QVERIFY(readBytes(real).contains("DialUserName=someone"));
    }

    // Another process holding the line's lock: what changes the line gives up
    // at once with its own error, what reads it goes on, nothing stalls.
    void busyLineNeverStallsTheCaller()
    {
        const Dialed first = dial(u"Quick"_s);
        QCOMPARE(first.rc, DWORD(0));
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(first.handle), DWORD(RASCS_Connected), 3000);

        ForeignLock held(platform::runtimeFolder() + u"/line.lock"_s, 3000);
        QVERIFY(held.isHeld());
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(dial(u"Other"_s).rc, kBusy);
        QCOMPARE(RasHangUpA(first.handle), kBusy);
        QCOMPARE(stateOf(first.handle), DWORD(RASCS_Connected));
        QCOMPARE(listedHandles(), QList<HRASCONN>{first.handle});
        QCOMPARE(RasHangUpA(first.handle + 1000), ERROR_INVALID_HANDLE);
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(errorText(kBusy).contains(u"busy"_s));
        QVERIFY(errorText(kBusy).contains(u"another Vantelo process"_s));
    }

    // The line's state is read and parsed once per version of line.json,
    // however often the line is looked at; a version written by another
    // process is seen at the next look, even one of the same size and the
    // same modification time, and one this process wrote is never parsed again.
    void lineIsParsedOncePerVersion()
    {
        const Dialed d = dial(u"Quick"_s);
        QCOMPARE(d.rc, DWORD(0));
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(d.handle), DWORD(RASCS_Connected), 3000);
        int parses = line::lineStateParses();
        for (int i = 0; i < 50; ++i) {
            QCOMPARE(listedHandles(), QList<HRASCONN>{d.handle});
            QCOMPARE(stateOf(d.handle), DWORD(RASCS_Connected));
        }
        QCOMPARE(line::lineStateParses(), parses);

        // Another process's version: a new file renamed over the old one.
        const QString path = line::lineStatePath();
        const QByteArray name = QFile::encodeName(path);
        struct stat old = {};
        QVERIFY(::stat(name.constData(), &old) == 0);
        QByteArray json = readBytes(path);
        QVERIFY(json.contains("\"Quick\""));
        json.replace("\"Quick\"", "\"Quack\"");
        QVERIFY(writeBytes(path + u".other"_s, json));
        const timespec times[2] = {old.st_atim, old.st_mtim};
        QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path + u".other"_s).constData(), times,
                            0) == 0);
        QVERIFY(::rename(QFile::encodeName(path + u".other"_s).constData(), name.constData()) == 0);
        RASCONN conns[2] = {};
        conns[0].dwSize = sizeof(RASCONN);
        DWORD bytes = sizeof conns;
        DWORD count = 0;
        QCOMPARE(RasEnumConnectionsA(conns, &bytes, &count), DWORD(0));
        QCOMPARE(count, DWORD(1));
        QCOMPARE(QByteArray(conns[0].szEntryName), QByteArray("Quack"));
        QCOMPARE(line::lineStateParses(), parses + 1);

        // This process's own change: parsed once, when it is written. The
        // line's clock stands still meanwhile: the call, closing in 5 ms,
        // stays listed however slowly this process runs.
        parses = line::lineStateParses();
        platform::clock::setNowMs(platform::clock::nowMs());
        QCOMPARE(RasHangUpA(d.handle), DWORD(0));
        for (int i = 0; i < 50; ++i)
            QCOMPARE(stateOf(d.handle), DWORD(RASCS_Disconnected));
        QVERIFY(line::lineStateParses() <= parses + 1);
    }

    // The runtime folder is checked in full once, not at every look at the
    // line; a folder taken away meanwhile is made again, private, as soon as
    // a file of it is needed, and the line goes on in it.
    void runtimeFolderIsCheckedOnce()
    {
        const QString folder = platform::runtimeFolder();
        QVERIFY(!folder.isEmpty());
        const Dialed first = dial(u"Quick"_s);
        QCOMPARE(first.rc, DWORD(0));
        const int checks = platform::runtimeFolderFullChecks();
        for (int i = 0; i < 20; ++i) {
            QCOMPARE(listedHandles(), QList<HRASCONN>{first.handle});
            QVERIFY(stateOf(first.handle) != Gone);
        }
        QCOMPARE(platform::runtimeFolderFullChecks(), checks);

        QVERIFY(QDir().rename(folder, folder + u".away"_s));
        QVERIFY(listedHandles().isEmpty());
        QCOMPARE(modeOf(folder) & 07777, mode_t(0700));
        const Dialed second = dial(u"Other"_s);
        QCOMPARE(second.rc, DWORD(0));
        QCOMPARE(listedHandles(), QList<HRASCONN>{second.handle});
        QVERIFY(QFileInfo(folder + u"/line.json"_s).isFile());
        QCOMPARE(platform::runtimeFolderFullChecks(), checks + 1);
    }

    // Values line.json never holds when our code writes it: a call with a
    // nonsense handle, time or state is left out; other values are brought
    // back into their range, so the call goes on and its counters stay sound.
    void nonsenseValuesAreCheckedOnRead()
    {
        const qint64 now = line::nowMs();
        const QByteArray json = QStringLiteral(R"({"nextHandle": -5, "nextHangUpDelayMs": 9e18,
          "calls": [
            {"handle": 300, "kind": "simulated", "entry": "A", "dialedAtMs": -9223372036854775808},
            {"handle": 301, "kind": "simulated", "entry": "B", "dialedAtMs": %1,
             "stageMs": 2147483647, "speed": 4294967295, "dropAfterSec": -7,
             "hangUpMs": -1, "closeAtMs": 9223372036854775807},
            {"handle": 302, "kind": "modem", "entry": "C", "dialedAtMs": %1, "pid": -1,
             "state": 3, "error": 5, "speed": -28800},
            {"handle": 303, "kind": "modem", "entry": "D", "dialedAtMs": %1, "state": 99999},
            {"handle": 4294967296, "kind": "simulated", "entry": "E", "dialedAtMs": %1},
            {"handle": 304, "kind": "simulated", "entry": "F", "dialedAtMs": 1.5e300}
          ]})")
                                    .arg(now - 10000)
                                    .toUtf8();
        QVERIFY(writeBytes(m_f.home().runtimeDir() + u"/line.json"_s, json));

        const line::LineState state = line::readLineState();
        QCOMPARE(state.nextHandle, line::FirstHandle);
        QCOMPARE(state.nextHangUpDelayMs, -1);
        QCOMPARE(state.calls.size(), 2);
        const line::Call &b = state.calls.at(0);
        QCOMPARE(b.handle, HRASCONN(301));
        const simline::detail::SimPart &sim = simline::detail::simPart(b);
        QVERIFY(sim.stageMs >= 0 && sim.stageMs <= line::MaxStageMs);
        QCOMPARE(b.speed, line::DefaultSpeed);
        QCOMPARE(sim.dropAfterSec, 0);
        QVERIFY(sim.hangUpMs >= 0);
        QCOMPARE(b.closeAtMs, line::MaxTimeMs);
        const line::Call &c = state.calls.at(1);
        QCOMPARE(c.handle, HRASCONN(302));
        QCOMPARE(modem::modemPart(c).pid, qint64(0)); // never a signal to every process
        QCOMPARE(modem::modemPart(c).error, DWORD(ERROR_UNKNOWN));
        QCOMPARE(c.speed, quint32(0));

        // Dialed ten seconds ago at a sane stage time: connected by now, not
        // opening its port for weeks.
        QCOMPARE(stateOf(301), DWORD(RASCS_Connected));
        const QList<lines::CallRecord> records = lines::calls();
        QVERIFY(!records.isEmpty());
        QCOMPARE(records.first().speed, line::DefaultSpeed);
        QVERIFY(records.first().bytesReceived > 0);

        // The pure reader agrees with the file's and survives any text.
        QCOMPARE(line::parseLineState(json).calls.size(), 2);
        for (int cut = 0; cut < json.size(); cut += 7) {
            const line::LineState part = line::parseLineState(json.left(cut));
            for (const line::Call &call : part.calls)
                QVERIFY(call.dialedAtMs >= 0 && call.dialedAtMs <= line::MaxTimeMs);
        }
    }

    // The model's arithmetic at the ends of the ranges: exact counters modulo
    // 2^32 where the plain product would outgrow 64 bits, and moments that
    // saturate instead of wrapping.
    void modelArithmeticNeverOverflows()
    {
        line::Call call;
        call.dialedAtMs = 0;
        simline::detail::SimPart &sim = simline::detail::simPart(&call);
        sim.stageMs = 0;
        call.speed = 0x7fffffff;
        const qint64 periods = 100'000'000; // of 800 s each
        const qint64 at = 800'000 * periods;
        const quint64 perPeriod = quint64(call.speed) * 55;
        QCOMPARE(simline::detail::bytesReceived(call, at),
                 quint32(312 + quint64(periods) * perPeriod));
        QCOMPARE(simline::detail::bytesSent(call, at),
                 quint32(248 + quint64(periods) * quint64(call.speed) * 12));

        sim.stageMs = 100;
        sim.dropAfterSec = int(line::MaxDropAfterSec);
        call.dialedAtMs = std::numeric_limits<qint64>::max();
        QCOMPARE(simline::detail::callStatus(call, 0).state, RASCS_OpenPort);
        QCOMPARE(simline::detail::bytesReceived(call, line::nowMs()), quint32(0));
        sim.stageMs = 0;
        call.dialedAtMs = std::numeric_limits<qint64>::max() - 1000;
        QCOMPARE(simline::detail::callStatus(call, call.dialedAtMs + 500).state, RASCS_Connected);
    }
};

QTEST_GUILESS_MAIN(TestRuntimeState)
#include "test_runtime_state.moc"
