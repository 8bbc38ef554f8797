// What the connection monitor costs each second while a line is up: the
// status poll, the speed and byte counters, and the call log rewrite.

#include "engine/line_status.h"
#include "platform/ras.h"
#include "platform/simline.h"
#include "services/call_log.h"
#include "support/fake_dialer.h"
#include "support/fixture.h"
#include "support/line_probe.h"

#include <QTest>

using namespace Qt::StringLiterals;

class BenchMonitorTick final : public QObject
{
    Q_OBJECT

private:
    TestFixture m_f;

private slots:
    void initTestCase()
    {
        QVERIFY(m_f.setUp({quickEntry(u"Home"_s)}));
        const lineprobe::Dialed d = lineprobe::dial(u"Home"_s);
        QCOMPARE(d.rc, DWORD(0));
        QTRY_COMPARE(lineprobe::stateOf(d.handle), DWORD(RASCS_Connected));
    }

    void cleanupTestCase() { m_f.tearDown(); }

    void statusPoll()
    {
        FakeDialer dialer;
        QBENCHMARK
        {
            QVERIFY(UpdateConnectionStatus(dialer));
        }
    }

    void byteCounters()
    {
        QBENCHMARK
        {
            ReadRegistryValue(HKEY_DYN_DATA, StatDataKey, BytesXmitValue, 0);
            ReadRegistryValue(HKEY_DYN_DATA, StatDataKey, BytesRecvdValue, 0);
        }
    }

    void callLogRewrite()
    {
        QBENCHMARK
        {
            AppendCallLog(u"06/12/26"_s, u"21:03:04"_s, u"21:05:10"_s, u"28800"_s);
        }
    }
};

QTEST_GUILESS_MAIN(BenchMonitorTick)
#include "bench_monitor_tick.moc"
