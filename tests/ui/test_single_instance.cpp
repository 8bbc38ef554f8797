// One Vantelo per user: a second start of the real program asks the running
// one to show itself and ends at once; two starts at the same moment leave
// exactly one running; a running one that cannot be reached is reported, not
// joined by a second monitor.

#include "test_frmdial_support.h"

#include "platform/single_instance.h"
#include "ui/details/frmset.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include <memory>

using namespace Qt::StringLiterals;
using namespace dialertest;
using Role = platform::SingleInstance::Role;

class TestSingleInstance final : public QObject
{
    Q_OBJECT

private:
    Fixture m_f;
    std::vector<std::unique_ptr<QProcess>> m_started;

    // Starts the built program in this test's home (the environment is
    // inherited), on the offscreen platform.
    QProcess &start()
    {
        auto process = std::make_unique<QProcess>();
        process->setProgram(QStringLiteral(VANTELO_PROGRAM));
        process->start();
        m_started.push_back(std::move(process));
        return *m_started.back();
    }

    // Waits, with this process's event loop running, until `process` ends.
    static bool ends(QProcess &process, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
    }

    static bool endedWell(const QProcess &process)
    {
        return process.state() == QProcess::NotRunning &&
               process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    // A connection to the guard's socket, as another program of the user
    // could make; -1 when it cannot be made.
    static int connectTo(const QString &path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::memcpy(address.sun_path, name.constData(),
                    qMin(sizeof address.sun_path - 1, static_cast<size_t>(name.size())));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const void *at = &address;
        if (fd >= 0 && ::connect(fd, static_cast<const sockaddr *>(at), sizeof address) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

private slots:
    void init() { QVERIFY(m_f.setUp()); }

    void cleanup()
    {
        for (const auto &process : m_started) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
        m_started.clear();
        m_f.tearDown();
    }

    void secondStartShowsTheRunningOne_data()
    {
        QTest::addColumn<QString>("before");
        QTest::newRow("hidden") << u"hidden"_s;
        QTest::newRow("minimized") << u"minimized"_s;
        QTest::newRow("line up") << u"line up"_s;
    }

    void secondStartShowsTheRunningOne()
    {
        QFETCH(QString, before);
        const bool lineUp = before == u"line up";
        frmdial &w = m_f.load();
        if (lineUp)
            QVERIFY(m_f.connectLine()); // the monitor hides the window
        else if (before == u"minimized")
            w.showMinimized();
        QCOMPARE(w.isVisible() && !w.isMinimized(), false);
        QVERIFY(!Forms::details().isVisible());

        // A socket left behind by a Vantelo that crashed is no obstacle.
        QVERIFY(writeBytes(m_f.base.home().runtimeDir() + u"/instance.socket"_s, "stale"));
        platform::SingleInstance guard(platform::runtimeFolder());
        QCOMPARE(guard.claim(), Role::First);
        QCOMPARE(guard.problem(), QString());
        struct stat st = {};
        QCOMPARE(::lstat(QFile::encodeName(guard.socketPath()).constData(), &st), 0);
        // The socket is the user's alone.
        QVERIFY(S_ISSOCK(st.st_mode));
        QCOMPARE(st.st_mode & 0677, 0600u);
        connect(&guard, &platform::SingleInstance::showRequested, &w, &frmdial::showOnRequest);

        QElapsedTimer clock;
        clock.start();
        QProcess &second = start();
        QVERIFY(ends(second));
        QVERIFY2(endedWell(second), second.readAllStandardError().constData());
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));

        // While the line is up the dialer would hide again within a second:
        // the connection's details window is shown instead.
        if (lineUp) {
            QTRY_VERIFY_WITH_TIMEOUT(Forms::details().isVisible(), 3000);
            QVERIFY(!w.isVisible());
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(w.isVisible() && !w.isMinimized(), 3000);
        }
    }

    // A request may come in pieces; a peer that says nothing holds nobody
    // up, and one that sends more than a request without a line end is cut off.
    void requestsAreReadWithoutWaitingForAPeer()
    {
        platform::SingleInstance guard(platform::runtimeFolder());
        QCOMPARE(guard.claim(), Role::First);
        QSignalSpy shown(&guard, &platform::SingleInstance::showRequested);

        const int silent = connectTo(guard.socketPath());
        const int pieces = connectTo(guard.socketPath());
        const int flood = connectTo(guard.socketPath());
        QVERIFY(silent >= 0 && pieces >= 0 && flood >= 0);
        QCOMPARE(::write(pieces, "sh", 2), ssize_t(2));
        QTest::qWait(50);
        QCOMPARE(shown.count(), 0);
        QCOMPARE(::write(pieces, "ow\n", 3), ssize_t(3));
        const QByteArray junk(200, 'x');
        QCOMPARE(::write(flood, junk.constData(), junk.size()), junk.size());
        QTRY_COMPARE_WITH_TIMEOUT(shown.count(), 1, 3000);

        // The flooding peer finds its connection closed (reset: it was not all read).
        const auto closed = [flood] {
            char byte = 0;
            const ssize_t got = ::recv(flood, &byte, 1, MSG_DONTWAIT);
            return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
        };
        QVERIFY(QTest::qWaitFor(closed, 3000));
        ::close(silent);
        ::close(pieces);
        ::close(flood);
        QCOMPARE(shown.count(), 1);
    }

    void unreachableRunningOneIsReported()
    {
        // The lock is held (by this test) but nobody listens.
        platform::SingleInstance probe(platform::runtimeFolder());
        const int fd = ::open(QFile::encodeName(probe.lockPath()).constData(),
                              O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);

        QProcess &second = start();
        const bool ended = ends(second, 8000);
        ::close(fd);
        QVERIFY(ended);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QVERIFY(second.exitCode() != 0);
        QVERIFY(second.readAllStandardError().contains("already running"));
    }

    void simultaneousStartsLeaveOne()
    {
        QProcess &a = start();
        QProcess &b = start();
        QVERIFY(QTest::qWaitFor(
            [&] { return a.state() == QProcess::NotRunning || b.state() == QProcess::NotRunning; },
            5000));
        QProcess &ended = a.state() == QProcess::NotRunning ? a : b;
        QProcess &running = &ended == &a ? b : a;
        QVERIFY2(endedWell(ended), ended.readAllStandardError().constData());

        // The one left serves later starts, and is still the only one.
        QProcess &third = start();
        QVERIFY(ends(third));
        QVERIFY2(endedWell(third), third.readAllStandardError().constData());
        QCOMPARE(running.state(), QProcess::Running);

        // Serving later starts takes no networking library into the program.
        QFile maps(u"/proc/%1/maps"_s.arg(running.processId()));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QByteArray mapped = maps.readAll();
        QVERIFY(mapped.contains("libQt6Core"));
        QVERIFY2(!mapped.contains("libQt6Network"), "libQt6Network is mapped");
    }

    void noUsableFolderRunsUnguarded()
    {
        platform::SingleInstance noFolder{QString()};
        QCOMPARE(noFolder.claim(), Role::Unguarded);
        QVERIFY(!noFolder.problem().isEmpty());

        // A link in the lock's place is not followed to another file.
        const QString elsewhere = m_f.base.home().path() + u"/elsewhere"_s;
        platform::SingleInstance linked(platform::runtimeFolder());
        QVERIFY(QFile::link(elsewhere, linked.lockPath()));
        QCOMPARE(linked.claim(), Role::Unguarded);
        QVERIFY(!QFile::exists(elsewhere));
    }
};

QTEST_MAIN(TestSingleInstance)
#include "test_single_instance.moc"
