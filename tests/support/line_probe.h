#pragma once

// Looks at the dial-up line straight through the service's calls, as the
// tests' independent witness of what the code under test did.

#include "platform/ansi.h"
#include "platform/ras.h"
#include "platform/ras_lists.h"

#include <QDeadlineTimer>
#include <QList>
#include <QStringList>
#include <QThread>

#include <vector>

namespace lineprobe {

// A state no call is ever in: the service no longer knows the handle.
inline constexpr DWORD Gone = 0xFFFFFFFFu;

inline DWORD stateOf(HRASCONN handle)
{
    RASCONNSTATUS status{};
    status.dwSize = sizeof status;
    return RasGetConnectStatusA(handle, &status) == 0 ? DWORD(status.rasconnstate) : Gone;
}

inline DWORD errorOf(HRASCONN handle)
{
    RASCONNSTATUS status{};
    status.dwSize = sizeof status;
    return RasGetConnectStatusA(handle, &status) == 0 ? status.dwError : Gone;
}

// The listed calls' handles, in the service's order.
inline QList<HRASCONN> listedHandles()
{
    std::vector<RASCONN> conns;
    platform::listConnections(conns);
    QList<HRASCONN> handles;
    for (const RASCONN &conn : conns)
        handles.append(conn.hrasconn);
    return handles;
}

// A text field of each record of a listing, in its order.
template <typename Record, std::size_t N>
QStringList fieldTexts(const std::vector<Record> &records, char (Record::*field)[N])
{
    QStringList texts;
    for (const Record &record : records)
        texts.append(platform::fieldText(record.*field, static_cast<int>(N)));
    return texts;
}

// The listed calls' entry names, in the service's order.
inline QStringList listedEntries()
{
    std::vector<RASCONN> conns;
    platform::listConnections(conns);
    return fieldTexts(conns, &RASCONN::szEntryName);
}

// The state of the first listed call (Gone when there is none).
inline DWORD firstState()
{
    const QList<HRASCONN> handles = listedHandles();
    return handles.isEmpty() ? Gone : stateOf(handles.first());
}

// The service's words for an error, as a caller showing it gets them;
// `failed` when the service has none.
inline QString errorText(DWORD code, const QString &failed = {})
{
    char text[512] = {};
    if (RasGetErrorStringA(code, text, sizeof text) != 0)
        return failed;
    return QString::fromLocal8Bit(text);
}

// The phonebook's entry names, in its order.
inline QStringList phonebookEntries()
{
    std::vector<RASENTRYNAME> names;
    platform::listEntries(names);
    return fieldTexts(names, &RASENTRYNAME::szEntryName);
}

// What RasDialA answered, and the call's handle (0 when none was made).
struct Dialed
{
    DWORD rc = 0;
    HRASCONN handle = 0;
};

// A code no dial answers: a value given to dial() does not fit its field.
inline constexpr DWORD NotDialed = 0xFFFFFFFEu;

// Dials the entry straight through the service, as the program does: the
// values go into the record's fields, each checked against its field's size
// (a value too long is not cut: the call is not made and rc is NotDialed).
// No number dials the entry's own.
inline Dialed dial(const QString &entry, const QString &user = QStringLiteral("demo"),
                   const QString &password = QStringLiteral("demo"), const QString &number = {})
{
    RASDIALPARAMS params{};
    params.dwSize = sizeof params;
    const auto put = [](char *field, int size, const QString &text) {
        return platform::copyToField(field, size, platform::toAnsi(text));
    };
    if (!put(params.szEntryName, sizeof params.szEntryName, entry) ||
        !put(params.szUserName, sizeof params.szUserName, user) ||
        !put(params.szPassword, sizeof params.szPassword, password) ||
        !put(params.szPhoneNumber, sizeof params.szPhoneNumber, number)) {
        qWarning("dial(): a value does not fit its field of the dial record");
        return {NotDialed, 0};
    }
    Dialed d;
    d.rc = RasDialA(nullptr, nullptr, &params, RASDIAL_NOTIFIER_HWND, nullptr, &d.handle);
    return d;
}

// Hangs the call up and waits until the service no longer knows it; false
// when it is still known after `limitMs`.
inline bool hangUpAndWait(HRASCONN handle, int limitMs = 8000)
{
    const QDeadlineTimer deadline(limitMs);
    while (!deadline.hasExpired()) {
        if (RasHangUpA(handle) == ERROR_INVALID_HANDLE)
            return true;
        QThread::msleep(10);
    }
    return false;
}

} // namespace lineprobe
