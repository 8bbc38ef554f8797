#include "platform/modem/modem_settings.h"

#include "platform/modem/preflight.h"

using namespace Qt::StringLiterals;

namespace modem {

namespace {

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

} // namespace

ModemSettings modemSettings(const line::PhonebookFile &phonebook, const QString &entry)
{
    ModemSettings s;
    s.device = devicePath(phonebook.value(entry, u"Device"_s));
    s.speed = int(phonebook.number(entry, u"Speed"_s, DefaultSpeed, 50, 4000000));
    const QString init = phonebook.value(entry, u"Init"_s).trimmed();
    if (phonebook.hasValue(entry, u"Init"_s))
        s.init = init; // an empty Init= sends no reset
    s.timeoutSec = int(phonebook.number(entry, u"Timeout"_s, DefaultTimeoutSec, 1, 3600));
    const QString peer = phonebook.value(entry, u"Peer"_s).trimmed();
    if (!peer.isEmpty())
        s.peer = peer;
    return s;
}

bool isDialableNumber(const QString &number)
{
    static const QString allowed = u"0123456789*#+,W@!ABCDabcdw -()./"_s;
    QString rest = number;
    if (rest.startsWith(u'P') || rest.startsWith(u'p') || rest.startsWith(u'T') ||
        rest.startsWith(u't'))
        rest.remove(0, 1);
    if (rest.trimmed().isEmpty())
        return false;
    for (const QChar c : rest) {
        if (!allowed.contains(c))
            return false;
    }
    return true;
}

QString dialCommand(const QString &number)
{
    if (number.startsWith(u'P') || number.startsWith(u'p'))
        return u"ATDP"_s + number.mid(1);
    if (number.startsWith(u'T') || number.startsWith(u't'))
        return u"ATDT"_s + number.mid(1);
    return u"ATDT"_s + number;
}

bool isSafeUserName(const QString &user)
{
    return !user.startsWith(u'-') && !hasControlCharacter(user);
}

bool isSafePeerName(const QString &peer)
{
    return !peer.isEmpty() && !peer.startsWith(u'-') && !peer.startsWith(u'.') &&
           !peer.contains(u'/') && !hasControlCharacter(peer);
}

bool isSafeModemCommand(const QString &command)
{
    for (const QChar c : command) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return false;
    }
    return true;
}

QString lockFileName(const QString &devicePath)
{
    QString name = devicePath;
    if (name.startsWith(u"/dev/"_s))
        name = name.mid(5);
    else if (const qsizetype slash = name.lastIndexOf(u'/'); slash >= 0)
        name = name.mid(slash + 1);
    name.replace(u'/', u'_');
    return u"LCK.."_s + name;
}

} // namespace modem
