// The phonebook listing, the active entry's name and the words for errors.

#include "engine/globals.h"
#include "engine/phonebook.h"
#include "platform/line/phonebook_file.h"
#include "platform/ras.h"
#include "platform/simline.h"
#include "support/fake_dialer.h"
#include "support/fixture.h"
#include "support/line_probe.h"

#include <QElapsedTimer>
#include <QTest>

using namespace Qt::StringLiterals;

class TestPhonebook final : public FixtureTest
{
    Q_OBJECT

private slots:
    void trimAtNul_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("cut at the NUL") << u"abc\0def"_s << u"abc"_s;
        QTest::newRow("NUL first") << u"\0abc"_s << QString();
        QTest::newRow("no NUL at all") << u"abc"_s << QString();
        QTest::newRow("blanks are kept") << u"  a \0"_s << u"  a "_s;
    }

    void trimAtNul()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(TrimAtNul(text), expected);
    }

    void listsEntriesInPhonebookOrder()
    {
        // Names beyond ASCII are decoded.
        QVERIFY(writePhonebook({quickEntry(u"Zeta"_s), quickEntry(u"alpha"_s),
                                quickEntry(u"Caf\u00e9 \u20ac"_s), quickEntry(u"Mid Town"_s)}));
        FakeEntryList combo;
        ListPhonebookEntries(combo);
        QCOMPARE(combo.items,
                 (QStringList{u"Zeta"_s, u"alpha"_s, u"Caf\u00e9 \u20ac"_s, u"Mid Town"_s}));
        QCOMPARE(combo.index, 0);
    }

    void emptyPhonebookLeavesNothingSelected()
    {
        QVERIFY(writeBytes(simline::phonebookPath(), "; no entries\r\n"));
        FakeEntryList combo;
        ListPhonebookEntries(combo);
        QVERIFY(combo.items.isEmpty());
        QCOMPARE(combo.index, -1);
    }

    void longPhonebookIsListedWhole()
    {
        QList<PhonebookEntry> entries;
        for (int i = 0; i < 70; ++i)
            entries.append(quickEntry(u"Entry %1"_s.arg(i, 2, 10, QChar(u'0'))));
        QVERIFY(writePhonebook(entries));
        FakeEntryList combo;
        ListPhonebookEntries(combo);
        QCOMPARE(combo.items.size(), 70);
        QCOMPARE(combo.items.first(), u"Entry 00"_s);
        QCOMPARE(combo.items.last(), u"Entry 69"_s);
    }

    void activeEntryNameFollowsTheFirstConnection()
    {
        QVERIFY(writePhonebook({quickEntry(u"First"_s), quickEntry(u"Second"_s),
                                quickEntry(u"Slow"_s, {u"SimStageMs=60000"_s}),
                                quickEntry(u"Busy"_s, {u"SimOutcome=busy"_s})}));
        QCOMPARE(ActiveEntryName(), QString()); // no connection

        const HRASCONN slow = lineprobe::dial(u"Slow"_s).handle; // stays in its first stage
        QVERIFY(slow != 0);
        QCOMPARE(lineprobe::stateOf(slow), DWORD(RASCS_OpenPort));
        QCOMPARE(ActiveEntryName(), QString());
        simline::reset();

        const HRASCONN busy = lineprobe::dial(u"Busy"_s).handle;
        QTRY_COMPARE_WITH_TIMEOUT(lineprobe::stateOf(busy), DWORD(RASCS_Disconnected), 2000);
        QCOMPARE(ActiveEntryName(), QString());
        simline::reset();

        const HRASCONN first = lineprobe::dial(u"First"_s).handle;
        const HRASCONN second = lineprobe::dial(u"Second"_s).handle;
        QVERIFY(first != 0 && second != 0);
        QTRY_COMPARE_WITH_TIMEOUT(lineprobe::stateOf(second), DWORD(RASCS_Connected), 2000);
        QCOMPARE(ActiveEntryName(), u"First"_s);
    }

    // What the phonebook holds is what it reads back after a rewrite: a CR
    // before the line end belongs to the line end, and a value the file
    // could not give back is refused.
    void phonebookFileReadsBackWhatItHolds()
    {
        line::PhonebookFile book =
            line::PhonebookFile::parse("[A]\r\nKey=v\r\r\nMid=a\rb\r\nDialPassword=old\n");
        QCOMPARE(book.value(u"A"_s, u"Key"_s), u"v"_s);
        QCOMPARE(book.value(u"A"_s, u"Mid"_s), u"a\rb"_s);
        book.setValue(u"A"_s, u"DialPassword"_s, u"secret\r"_s);
        book.setValue(u"A"_s, u"DialUserName"_s, u"x\nDialPassword=y"_s);
        QCOMPARE(book.value(u"A"_s, u"DialPassword"_s), u"old"_s);
        QVERIFY(!book.hasValue(u"A"_s, u"DialUserName"_s));
        book.setValue(u"A"_s, u"DialDomain"_s, u" blanks kept "_s);

        const line::PhonebookFile again = line::PhonebookFile::parse(book.serialize());
        for (const QString &key : {u"Key"_s, u"Mid"_s, u"DialPassword"_s, u"DialDomain"_s})
            QCOMPARE(again.value(u"A"_s, key), book.value(u"A"_s, key));
        QCOMPARE(again.serialize(), book.serialize());

        // However many byte order marks an editor left, the first line is read as it reads.
        for (const QByteArray &start : {"\xEF\xBB\xBF\xEF\xBB\xBF"_ba, "\r\xEF\xBB\xBF"_ba}) {
            const line::PhonebookFile marked =
                line::PhonebookFile::parse(start + "[Entry]\nPhoneNumber=1\n");
            QCOMPARE(marked.value(u"Entry"_s, u"PhoneNumber"_s), u"1"_s);
            QCOMPARE(line::PhonebookFile::parse(marked.serialize()).serialize(),
                     marked.serialize());
        }
    }

    // Listing reads the same entries as the whole file does: headers with
    // blanks or CRs around them count, "[]" and comments do not.
    void listingReadsTheNamesTheFileHolds()
    {
        const QByteArray text = "\xEF\xBB\xBF; [Not] an entry\r\n[]\r\n  [ Spaced ]  \r\r\nKey=1\n"
                                "[caf\xC3\xA9]\n[CAF\xC3\x89]\n#[Hidden]\n[Last]";
        const QStringList expected{u" Spaced "_s, u"caf\u00e9"_s, u"Last"_s};
        QCOMPARE(line::PhonebookFile::entryNames(text), expected);
        const line::PhonebookFile book = line::PhonebookFile::parse(text);
        QCOMPARE(book.entryNames(), expected);
        QCOMPARE(book.value(u" spaced "_s, u"Key"_s), u"1"_s);
        QCOMPARE(book.canonicalName(u"CAF\u00c9"_s), u"caf\u00e9"_s);
    }

    // A listing asked again after a buffer too small reads the file again: an
    // entry added in between is counted and listed.
    void listingAskedAgainSeesEdits()
    {
        QVERIFY(writePhonebook({quickEntry(u"One"_s), quickEntry(u"Two"_s)}));
        RASENTRYNAME records[3] = {};
        records[0].dwSize = sizeof(RASENTRYNAME);
        DWORD bytes = sizeof(RASENTRYNAME);
        DWORD count = 0;
        QCOMPARE(RasEnumEntriesA(nullptr, nullptr, records, &bytes, &count),
                 DWORD(ERROR_BUFFER_TOO_SMALL));
        QCOMPARE(count, DWORD(2));
        QVERIFY(
            writePhonebook({quickEntry(u"One"_s), quickEntry(u"Two"_s), quickEntry(u"Three"_s)}));
        bytes = sizeof(records);
        QCOMPARE(RasEnumEntriesA(nullptr, nullptr, records, &bytes, &count), DWORD(0));
        QCOMPARE(count, DWORD(3));
        QCOMPARE(QByteArray(records[2].szEntryName), "Three"_ba);
    }

    // A copy of a phonebook keeps its own values when the other one changes.
    void copiesOfAPhonebookChangeApart()
    {
        const line::PhonebookFile original = line::PhonebookFile::parse("[A]\nKey=old\nGone=1\n");
        line::PhonebookFile copy = original;
        QVERIFY(copy.setValue(u"a"_s, u"Key"_s, u"new"_s));
        copy.removeValue(u"A"_s, u"Gone"_s);
        QCOMPARE(copy.value(u"A"_s, u"Key"_s), u"new"_s);
        QVERIFY(!copy.hasValue(u"A"_s, u"Gone"_s));
        QCOMPARE(original.value(u"A"_s, u"Key"_s), u"old"_s);
        QVERIFY(original.hasValue(u"A"_s, u"Gone"_s));
    }

    // A hundred thousand entries are listed, and one of them looked up, in a
    // few seconds. A name given again in another case is listed once, as first
    // spelt, and names the first of its sections.
    void largePhonebookIsListedQuickly()
    {
        constexpr int count = 100000;
        QByteArray text;
        text.reserve(count * 40);
        for (int i = 0; i < count; ++i) {
            text += "[Entry " + QByteArray::number(i) +
                    "]\r\nPhoneNumber=" + QByteArray::number(i) + "\r\n";
            if (i == 7)
                text += "DialUserName=first\r\n";
        }
        text += "[ENTRY 7]\r\nDialUserName=second\r\n[entry 99999]\r\nPhoneNumber=again\r\n";
        QVERIFY(writeBytes(simline::phonebookPath(), text));

        QElapsedTimer timer;
        timer.start();
        FakeEntryList combo;
        ListPhonebookEntries(combo);
        RASDIALPARAMS params{};
        params.dwSize = sizeof(params);
        qstrcpy(params.szEntryName, "eNtRy 7");
        BOOL password = TRUE;
        const DWORD found = RasGetEntryDialParamsA(nullptr, &params, &password);
        const qint64 elapsedMs = timer.elapsed();

        QCOMPARE(combo.items.size(), count);
        QCOMPARE(combo.items.at(7), u"Entry 7"_s);
        QCOMPARE(combo.items.last(), u"Entry 99999"_s);
        QCOMPARE(combo.index, 0);
        QCOMPARE(found, DWORD(0));
        QCOMPARE(QByteArray(params.szUserName), "first"_ba);
        QVERIFY2(elapsedMs < 5000, qPrintable(u"took %1 ms"_s.arg(elapsedMs)));
    }

    void phonebookTooLargeIsNotRead()
    {
        QByteArray large = "[Big]\r\nPhoneNumber=0860\r\n";
        large += ';' + QByteArray(16 << 20, 'x') + "\r\n";
        QVERIFY(writeBytes(simline::phonebookPath(), large));
        FakeEntryList combo;
        ListPhonebookEntries(combo);
        QVERIFY(combo.items.isEmpty());
        QCOMPARE(readBytes(simline::phonebookPath()).size(), large.size());
    }

    void errorTexts_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing recorded yet") << 0 << u"Unexpected Error. Error code 0."_s;
        QTest::newRow("below the service's range") << 6 << u"Unexpected Error. Error code 6."_s;
        QTest::newRow("negative") << -1 << u"Unexpected Error. Error code-1."_s;
        QTest::newRow("unknown error 635")
            << 635 << u"Incorrect password. Server connection canceled."_s;
        QTest::newRow("other unknown error") << 699 << u"Unknown error. 699"_s;
        QTest::newRow("the service's own text") << 676 << u"The line is busy."_s;
        QTest::newRow("no text to be had") << 900 << u"Error: Unable to retrieve error message."_s;
    }

    void errorTexts()
    {
        QFETCH(int, code);
        QFETCH(QString, expected);
        LastRasError = code;
        QCOMPARE(GetRasErrorText(), expected);
    }
};

QTEST_GUILESS_MAIN(TestPhonebook)
#include "test_phonebook.moc"
