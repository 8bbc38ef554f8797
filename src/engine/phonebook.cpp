#include "engine/phonebook.h"

#include "engine/first_connection.h"
#include "engine/globals.h"
#include "platform/ansi.h"
#include "platform/ras.h"

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
// record without one reading as the empty name. Only the bytes up to the first
// NUL, with it, are decoded: what comes after a NUL never changes how the
// bytes before it read. ASCII reads the same in every ANSI code page, so a
// name of ASCII only is taken as it is, without a decoder.
QString entryName(const char *field, int size)
{
    const int length = static_cast<int>(qstrnlen(field, size));
    const auto ascii = [](char c) { return static_cast<unsigned char>(c) < 0x80; };
    if (length < size && std::all_of(field, field + length, ascii))
        return QString::fromLatin1(field, length);
    return TrimAtNul(platform::fromAnsiField(field, length < size ? length + 1 : size));
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
    // Room for 64 entries; a longer phonebook gets the buffer it asks for.
    std::vector<RASENTRYNAME> buffer(64);
    DWORD entries = 0;
    DWORD result = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        // A new buffer is all zeros already; the service fills every record it counts.
        buffer[0].dwSize = sizeof(RASENTRYNAME);
        DWORD bytes = buffer[0].dwSize * static_cast<DWORD>(buffer.size());
        entries = 0;
        result = RasEnumEntriesA(nullptr, nullptr, buffer.data(), &bytes, &entries);
        if (result != ERROR_BUFFER_TOO_SMALL)
            break;
        buffer = std::vector<RASENTRYNAME>(bytes / sizeof(RASENTRYNAME) + 1);
    }
    // A failed enumeration reads as an empty phonebook; never trust a count
    // beyond the records the buffer holds.
    if (result != ERROR_SUCCESS)
        entries = 0;
    entries = qMin<DWORD>(entries, static_cast<DWORD>(buffer.size()));

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
