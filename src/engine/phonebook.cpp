#include "engine/phonebook.h"

#include "engine/first_connection.h"
#include "engine/globals.h"
#include "platform/ansi.h"
#include "platform/ras.h"
#include "platform/ras_lists.h"

#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Error codes are written with a blank before a number that is not negative.
QString errorCodeText(qint32 code)
{
    return code >= 0 ? u" "_s + QString::number(code) : QString::number(code);
}

// The name a record of the service holds: the bytes up to the first NUL, a
// record without one reading as the empty name.
QString entryName(const char *field, int size)
{
    if (qstrnlen(field, static_cast<size_t>(size)) >= static_cast<size_t>(size))
        return {};
    return platform::fieldText(field, size);
}

} // namespace

QString TrimAtNul(QString text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul < 0)
        return {};
    // A text of its own is cut where it stands, without a copy.
    text.truncate(nul);
    return text;
}

void ListPhonebookEntries(EntryList &combo)
{
    // A failed listing reads as an empty phonebook.
    std::vector<RASENTRYNAME> buffer;
    platform::listEntries(buffer);
    const auto entries = static_cast<DWORD>(buffer.size());

    combo.clear();
    for (DWORD i = 0; i < entries; ++i)
        combo.addItem(entryName(buffer[i].szEntryName, sizeof(buffer[i].szEntryName)));
    combo.setListIndex(0); // fails, harmlessly, on an empty list
}

QString ActiveEntryName()
{
    const FirstConnection first = QueryFirstConnection();
    const RASCONNSTATE state = first.status.rasconnstate;
    if (state == RASCS_Disconnected || state == RASCS_OpenPort)
        return {};
    return TrimAtNul(
        platform::fromAnsiField(first.conn.szEntryName, sizeof(first.conn.szEntryName)));
}

QString GetRasErrorText()
{
    const qint32 code = LastRasError;
    QString text;
    if (code < 600) {
        text = u"Unexpected Error. Error code"_s + errorCodeText(code) + u"."_s;
    } else {
        char buffer[256] = {};
        if (RasGetErrorStringA(static_cast<UINT>(code), buffer, sizeof(buffer)) != 0) {
            text = u"Error: Unable to retrieve error message."_s;
        } else {
            text = TrimAtNul(platform::fromAnsiField(buffer, sizeof(buffer)));
            if (text == u"Unknown error.") {
                text += errorCodeText(code);
                if (code == 635)
                    text = u"Incorrect password. Server connection canceled."_s;
            }
        }
    }
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul > 0)
        text.truncate(nul);
    return text;
}
