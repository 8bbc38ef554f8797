// The one place where an entry's kind of line is chosen.

#include "platform/line/line.h"

#include "platform/modem/modem_line.h"
#include "platform/modem/modem_settings.h"
#include "platform/sim/sim_line.h"

using namespace Qt::StringLiterals;

namespace line {

bool isModemEntry(const PhonebookFile &phonebook, const QString &entry)
{
    return modem::isModemDevice(phonebook.value(entry, u"Device"_s));
}

const Line &lineForEntry(const PhonebookFile &phonebook, const QString &entry)
{
    return lineOf(isModemEntry(phonebook, entry) ? Kind::Modem : Kind::Simulated);
}

const Line &lineOf(Kind kind)
{
    return kind == Kind::Modem ? modem::modemLine() : simline::detail::simulatedLine();
}

} // namespace line
