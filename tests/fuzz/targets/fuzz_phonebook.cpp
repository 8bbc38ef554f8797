// The phonebook on arbitrary files: parsing, writing out and parsing again
// gives the same entries, in the same order, with the same values, and
// writing out is then stable byte for byte. A value set on an entry (with no
// line break) reads back the same after the round trip.

#include "fuzz_support.h"
#include "platform/line/phonebook_file.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstddef>
#include <cstdint>

using line::PhonebookFile;

namespace {

const QString Missing = QStringLiteral("\x01missing");

// Every key of every entry is looked up: the first ones are enough on a large file.
constexpr qsizetype MaxEntries = 64;
constexpr qsizetype MaxKeys = 128;

// Every text before an "=" on a line of the file, as a possible key: the
// reader has no list of keys, so each possible one is looked up.
QStringList possibleKeys(const QByteArray &bytes)
{
    QSet<QString> keys;
    for (const QString &line : QString::fromUtf8(bytes).split(u'\n')) {
        const qsizetype equals = line.indexOf(u'=');
        if (equals >= 0)
            keys.insert(line.left(equals).trimmed());
        if (keys.size() == MaxKeys)
            break;
    }
    return keys.values();
}

void checkSame(const PhonebookFile &first, const PhonebookFile &again, const QStringList &keys,
               const QByteArray &input)
{
    const QStringList names = first.entryNames();
    if (again.entryNames() != names)
        fuzz::fail("the entries changed on the round trip",
                   names.join(u'|').toUtf8() + " -> " + again.entryNames().join(u'|').toUtf8() +
                       "\ninput: " + input);
    for (const QString &entry : names.first(std::min(names.size(), MaxEntries))) {
        for (const QString &key : keys) {
            const QString was = first.value(entry, key, Missing);
            const QString now = again.value(entry, key, Missing);
            if (was != now)
                fuzz::fail(
                    "a value changed on the round trip",
                    (entry + u'/' + key + QStringLiteral(": ") + was + QStringLiteral(" -> ") + now)
                            .toUtf8() +
                        "\ninput: " + input);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const PhonebookFile first = PhonebookFile::parse(input);
    const QByteArray written = first.serialize();
    const PhonebookFile again = PhonebookFile::parse(written);
    checkSame(first, again, possibleKeys(input) + possibleKeys(written), input);
    const QByteArray rewritten = again.serialize();
    if (rewritten != written)
        fuzz::fail("writing out again changed the file",
                   written + "\n  ->\n  " + rewritten + "\ninput: " + input);

    // The input's first line, without its line break, set as a new value and
    // as a replacement for an existing one in every entry.
    const QString value =
        QString::fromUtf8(input.left(input.indexOf('\n'))).remove(u'\r').remove(u'\n');
    PhonebookFile changed = again;
    const QStringList entries = changed.entryNames();
    for (const QString &entry : entries) {
        changed.setValue(entry, QStringLiteral("FuzzAddedValue"), value);
        changed.setValue(entry, QStringLiteral("PhoneNumber"), value);
    }
    const PhonebookFile reread = PhonebookFile::parse(changed.serialize());
    fuzz::check(reread.entryNames() == entries, "setting values changed the entries", input);
    for (const QString &entry : entries) {
        for (const QString &key :
             {QStringLiteral("FuzzAddedValue"), QStringLiteral("PhoneNumber")}) {
            const QString back = reread.value(entry, key, Missing);
            if (back != value)
                fuzz::fail("a value set reads back otherwise",
                           (entry + u'/' + key + QStringLiteral(": ") + value +
                            QStringLiteral(" -> ") + back)
                                   .toUtf8() +
                               "\ninput: " + input);
        }
    }
    return 0;
}
