// A phonebook entry for a modem found by a probe, put first (the entry
// Vantelo dials) with every other byte of the phonebook kept.

#include "platform/core/bounded_read.h"
#include "platform/line/call_store.h"
#include "platform/line/phonebook_file.h"
#include "platform/lines.h"
#include "platform/modem/modem_settings.h"
#include "platform/modems.h"

using namespace Qt::StringLiterals;

namespace modems {

namespace {

// Where the first "[Entry]" line of the file begins; its size when it has none.
qsizetype firstSection(const QByteArray &bytes)
{
    qsizetype start = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        const QByteArray line = bytes.mid(start, end - start).trimmed();
        if (line.startsWith('[') && line.endsWith(']') && line.size() > 2)
            return start;
        start = end + 1;
    }
    return bytes.size();
}

} // namespace

QByteArray withEntryFirst(const QByteArray &phonebook, const NewEntry &entry)
{
    const QByteArray eol = phonebook.contains("\r\n") ? "\r\n" : "\n";
    QByteArray section = '[' + entry.name.toUtf8() + ']' + eol;
    section += "Device=" + entry.device.toUtf8() + eol;
    section += "Speed=" + QByteArray::number(entry.speed) + eol;
    section += "Init=" + entry.init.toUtf8() + eol;
    if (entry.number.isEmpty())
        section += "; Give your ISP's number after PhoneNumber= (or type it when dialing)." + eol;
    section += "PhoneNumber=" + entry.number.toUtf8() + eol + eol;

    const qsizetype at = firstSection(phonebook);
    QByteArray out = phonebook.left(at);
    // A file whose last line has no line end gets one before the new entry.
    if (at == phonebook.size() && !out.isEmpty() && !out.endsWith('\n'))
        out += eol;
    return out + section + phonebook.mid(at);
}

QString addEntryFirst(const NewEntry &entry)
{
    const QString name = entry.name.trimmed();
    if (name.isEmpty() || name != entry.name || name.contains(u'[') || name.contains(u']') ||
        !modem::isSafeModemCommand(name))
        return u"The entry's name \"%1\" cannot be written: it must be one line of printable "
               u"ASCII without brackets or blanks around it."_s.arg(entry.name.left(60));
    if (!modem::isSafeModemCommand(entry.device) || !modem::isSafeModemCommand(entry.init))
        return u"The device or the reset command holds characters a phonebook line cannot keep."_s;
    if (!entry.number.isEmpty() && !modem::isDialableNumber(entry.number))
        return u"The number \"%1\" holds characters a modem cannot dial."_s.arg(
            entry.number.left(40));

    const line::LineLock lock;
    if (!lock.isLocked())
        return lines::runtimeProblem();
    lines::ensurePhonebook();
    const QString path = lines::phonebookPath();
    const platform::BoundedRead file = platform::readBounded(path, platform::PhonebookReadLimit);
    if (!file.read() && file.status != platform::BoundedRead::Status::Missing)
        return u"The phonebook %1 cannot be read: %2."_s.arg(path, file.reason);
    if (!line::PhonebookFile::parse(file.data).canonicalName(name).isEmpty())
        return u"The phonebook %1 has an entry named \"%2\" already: give another name with "
               u"--name, or remove that entry first."_s.arg(path, name);
    if (!line::saveAtomically(path, withEntryFirst(file.data, entry)))
        return u"The phonebook %1 cannot be written."_s.arg(path);
    return {};
}

} // namespace modems
