// The one place where an entry's kind of line is chosen, and the table of
// the kinds there are.

#include "platform/line/line.h"

#include "platform/modem/modem_line.h"
#include "platform/sim/sim_line.h"

#include <QList>

using namespace Qt::StringLiterals;

namespace line {

bool isModemEntry(const PhonebookFile &phonebook, const QString &entry)
{
    return phonebook.value(entry, u"Device"_s)
               .trimmed()
               .compare(simline::detail::DefaultDeviceName, Qt::CaseInsensitive) != 0;
}

const Line &lineForEntry(const PhonebookFile &phonebook, const QString &entry)
{
    return lineOf(isModemEntry(phonebook, entry) ? Kind::Modem : Kind::Simulated);
}

const Line &lineOf(Kind kind)
{
    return kind == Kind::Modem ? modem::modemLine() : simline::detail::simulatedLine();
}

QList<const Line *> allLines()
{
    return {&lineOf(Kind::Simulated), &lineOf(Kind::Modem)};
}

QString kindName(Kind kind)
{
    return kind == Kind::Modem ? u"modem"_s : u"simulated"_s;
}

Kind kindFromName(const QString &name)
{
    return name == u"modem"_s ? Kind::Modem : Kind::Simulated;
}

void Line::writeShared(const LineState &, QJsonObject *) const {}

void Line::readShared(const QJsonObject &, LineState *) const {}

QString Line::interfaceName(const Call &) const
{
    return {};
}

QString Line::errorWords(const Call &, DWORD) const
{
    return {};
}

const char *Line::errorText(DWORD) const
{
    return nullptr;
}

} // namespace line
