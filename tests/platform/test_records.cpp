// The service's records as the program exchanges them: the enumeration byte
// counts hold exactly their number of records, and what the service writes
// lands at the published offsets.

#include "platform/ras.h"
#include "platform/ras_lists.h"
#include "platform/simline.h"
#include "support/fixture.h"

#include <QTest>

#include <cstring>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

QByteArray textAt(const void *record, size_t offset)
{
    return QByteArray(static_cast<const char *>(record) + offset);
}

DWORD dwordAt(const void *record, size_t offset)
{
    DWORD value = 0;
    std::memcpy(&value, static_cast<const char *>(record) + offset, sizeof value);
    return value;
}

QList<PhonebookEntry> slowEntries(int count)
{
    QList<PhonebookEntry> entries;
    for (int i = 0; i < count; ++i)
        entries.append(quickEntry(u"Entry %1"_s.arg(i), {u"SimStageMs=600000"_s}));
    return entries;
}

} // namespace

class TestRecords final : public FixtureTest
{
    Q_OBJECT

private slots:
    void phonebookListOf16896BytesHolds64Entries()
    {
        QVERIFY(writePhonebook(slowEntries(65)));
        std::vector<RASENTRYNAME> buffer(64);
        buffer[0].dwSize = 264;
        DWORD bytes = 16896;
        DWORD count = 0;
        QCOMPARE(sizeof(RASENTRYNAME) * buffer.size(), size_t(bytes));
        QCOMPARE(RasEnumEntriesA(nullptr, nullptr, buffer.data(), &bytes, &count),
                 ERROR_BUFFER_TOO_SMALL);
        QCOMPARE(bytes, DWORD(65 * 264));

        QVERIFY(writePhonebook(slowEntries(64)));
        bytes = 16896;
        QCOMPARE(RasEnumEntriesA(nullptr, nullptr, buffer.data(), &bytes, &count), DWORD(0));
        QCOMPARE(count, DWORD(64));
        QCOMPARE(textAt(&buffer[63], 4), "Entry 63"_ba);
    }

    void connectionListsOf105472And26368BytesHold256And64Calls()
    {
        QVERIFY(writePhonebook(slowEntries(65)));
        for (int i = 0; i < 64; ++i) {
            RASDIALPARAMS params{};
            params.dwSize = 1052;
            std::strcpy(params.szEntryName, qPrintable(u"Entry %1"_s.arg(i)));
            HRASCONN handle = 0;
            QCOMPARE(RasDialA(nullptr, nullptr, &params, 0, nullptr, &handle), DWORD(0));
        }
        std::vector<RASCONN> wide(256);
        wide[0].dwSize = 412;
        DWORD bytes = 105472;
        DWORD count = 0;
        QCOMPARE(sizeof(RASCONN) * wide.size(), size_t(bytes));
        QCOMPARE(RasEnumConnectionsA(wide.data(), &bytes, &count), DWORD(0));
        QCOMPARE(count, DWORD(64));
        QCOMPARE(bytes, DWORD(64 * 412));

        std::vector<RASCONN> narrow(64);
        narrow[0].dwSize = 412;
        bytes = 26368;
        QCOMPARE(sizeof(RASCONN) * narrow.size(), size_t(bytes));
        QCOMPARE(RasEnumConnectionsA(narrow.data(), &bytes, &count), DWORD(0));
        QCOMPARE(count, DWORD(64));
        // The 65th call no longer fits the hang-up's buffer.
        RASDIALPARAMS params{};
        params.dwSize = 1052;
        std::strcpy(params.szEntryName, "Entry 64");
        HRASCONN handle = 0;
        QCOMPARE(RasDialA(nullptr, nullptr, &params, 0, nullptr, &handle), DWORD(0));
        bytes = 26368;
        QCOMPARE(RasEnumConnectionsA(narrow.data(), &bytes, &count), ERROR_BUFFER_TOO_SMALL);
        QCOMPARE(bytes, DWORD(65 * 412));
        QCOMPARE(count, DWORD(65));
    }

    void listsGrowTheBufferAsOftenAsTheServiceAsks()
    {
        // A service whose list grows between two calls asks twice.
        QList<DWORD> sizesSeen;
        DWORD listed = 5;
        std::vector<RASCONN> records;
        auto growing = [&](RASCONN *buffer, DWORD *bytes, DWORD *count) -> DWORD {
            sizesSeen.append(*bytes / DWORD(sizeof(RASCONN)));
            if (buffer[0].dwSize != sizeof(RASCONN))
                return ERROR_INVALID_SIZE;
            *count = listed;
            if (*bytes < listed * sizeof(RASCONN)) {
                *bytes = listed * DWORD(sizeof(RASCONN));
                if (listed == 5)
                    listed += 7;
                return ERROR_BUFFER_TOO_SMALL;
            }
            for (DWORD i = 0; i < listed; ++i)
                buffer[i].hrasconn = HRASCONN(i + 1);
            return 0;
        };
        QCOMPARE(platform::listRecords<DWORD>(records, growing), DWORD(0));
        QCOMPARE(sizesSeen, (QList<DWORD>{4, 5, 12}));
        QCOMPARE(records.size(), size_t(12));
        QCOMPARE(records.back().hrasconn, HRASCONN(12));

        // A failure leaves no records; one that never stops asking is a failure too.
        auto failing = [](RASCONN *, DWORD *, DWORD *) -> DWORD { return 610; };
        QCOMPARE(platform::listRecords<DWORD>(records, failing), DWORD(610));
        QVERIFY(records.empty());
        auto greedy = [](RASCONN *, DWORD *bytes, DWORD *) -> DWORD {
            *bytes += sizeof(RASCONN);
            return ERROR_BUFFER_TOO_SMALL;
        };
        QCOMPARE(platform::listRecords<DWORD>(records, greedy), ERROR_BUFFER_TOO_SMALL);
        QVERIFY(records.empty());
    }

    void serviceWritesFieldsAtTheirOffsets()
    {
        const QString longest(256, u'x'); // the longest name its field holds
        QVERIFY(writePhonebook({quickEntry(
            longest, {u"Device=Vantelo Simulated Modem"_s, u"DialUserName=ann"_s,
                      u"DialPassword=pw"_s, u"DialDomain=DOM"_s, u"DialCallbackNumber=555"_s})}));

        RASDIALPARAMS params{};
        params.dwSize = 1052;
        std::memcpy(reinterpret_cast<char *>(&params) + 4, qPrintable(longest), 257);
        BOOL stored = FALSE;
        QCOMPARE(RasGetEntryDialParamsA(nullptr, &params, &stored), DWORD(0));
        QCOMPARE(textAt(&params, 390), "555"_ba);
        QCOMPARE(textAt(&params, 519), "ann"_ba);
        QCOMPARE(textAt(&params, 776), "pw"_ba);
        QCOMPARE(textAt(&params, 1033), "DOM"_ba);

        HRASCONN handle = 0;
        QCOMPARE(RasDialA(nullptr, nullptr, &params, 0, nullptr, &handle), DWORD(0));
        RASCONN conn{};
        conn.dwSize = 412;
        DWORD bytes = sizeof conn;
        DWORD count = 0;
        QCOMPARE(RasEnumConnectionsA(&conn, &bytes, &count), DWORD(0));
        QCOMPARE(dwordAt(&conn, 4), handle);
        QCOMPARE(textAt(&conn, 8), longest.toLatin1());
        QCOMPARE(textAt(&conn, 265), "modem"_ba);
        QCOMPARE(textAt(&conn, 282), "Vantelo Simulated Modem"_ba);

        RASCONNSTATUS status{};
        status.dwSize = 160;
        QCOMPARE(RasGetConnectStatusA(handle, &status), DWORD(0));
        QVERIFY(dwordAt(&status, 4) <= DWORD(RASCS_Connected));
        QCOMPARE(dwordAt(&status, 8), DWORD(0));
        QCOMPARE(textAt(&status, 12), "modem"_ba);
        QCOMPARE(textAt(&status, 29), "Vantelo Simulated Modem"_ba);
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "test_records.moc"
