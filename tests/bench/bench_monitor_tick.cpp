// What the connection monitor costs each second while a line is up: the
// status poll, the speed and byte counters, and the call log rewrite.

#include "engine/line_status.h"
#include "platform/ras.h"
#include "platform/simline.h"
#include "services/call_log.h"
#include "support/fake_dialer.h"
#include "support/line_probe.h"
#include "support/phonebook_file.h"
#include "support/testenv.h"

#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

class BenchMonitorTick final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TemporaryHome> m_home;

private slots:
    void initTestCase()
    {
        m_home = std::make_unique<TemporaryHome>();
        QVERIFY(writePhonebook({quickEntry(u"Home"_s)}));
        RASDIALPARAMS params{};
        params.dwSize = sizeof(params);
        qstrcpy(params.szEntryName, "Home");
        qstrcpy(params.szUserName, "demo");
        qstrcpy(params.szPassword, "demo");
        HRASCONN handle = 0;
        QCOMPARE(RasDialA(nullptr, nullptr, &params, RASDIAL_NOTIFIER_HWND, nullptr, &handle),
                 DWORD(0));
        QTRY_COMPARE(lineprobe::stateOf(handle), DWORD(RASCS_Connected));
    }

    void cleanupTestCase()
    {
        simline::reset();
        m_home.reset();
    }

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
