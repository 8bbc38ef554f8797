#include "platform/simline.h"

// The simulated line's outcomes by name, as the phonebook's SimOutcome=, the
// shared state and the line tool spell them.

using namespace Qt::StringLiterals;

namespace simline {

QString outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Connect:
        return u"connect"_s;
    case Outcome::Busy:
        return u"busy"_s;
    case Outcome::NoAnswer:
        return u"noanswer"_s;
    case Outcome::NoDialTone:
        return u"nodialtone"_s;
    case Outcome::NoCarrier:
        return u"nocarrier"_s;
    }
    return u"connect"_s;
}

bool outcomeFromName(const QString &name, Outcome *outcome)
{
    const QString wanted = name.trimmed();
    for (Outcome o : {Outcome::Connect, Outcome::Busy, Outcome::NoAnswer, Outcome::NoDialTone,
                      Outcome::NoCarrier}) {
        if (wanted.compare(outcomeName(o), Qt::CaseInsensitive) == 0) {
            if (outcome)
                *outcome = o;
            return true;
        }
    }
    return false;
}

} // namespace simline
