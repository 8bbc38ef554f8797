// The Remote Access Service calls on systems other than Windows. Each call
// reads the phonebook and the shared call store afresh, so edits of the
// phonebook and calls made by other processes are seen at once; what differs
// between a real modem and the simulated line is left to the call's line.

#include "platform/ras.h"

#include "platform/ansi.h"
#include "platform/core/bounded_read.h"
#include "platform/line/call_store.h"
#include "platform/line/line.h"
#include "platform/lines.h"

#include <QMutex>

#include <algorithm>
#include <cstring>

using namespace Qt::StringLiterals;
using namespace line;

namespace {

// Writes a text into a record field, cut at a character boundary when it is
// too long, always NUL-terminated. ASCII is the same bytes in every ANSI code
// page, so a text of ASCII only that fits is copied as it is, without a
// conversion: a phonebook of 100,000 entries lists as many names.
void putField(char *field, int size, const QString &text)
{
    const auto ascii = [](QChar c) { return c.unicode() < 0x80; };
    if (text.size() < size && std::all_of(text.cbegin(), text.cend(), ascii)) {
        char *out = field;
        for (const QChar c : text)
            *out++ = static_cast<char>(c.unicode());
        *out = '\0';
        return;
    }
    QString fitting = text.left(size - 1);
    QByteArray ansi = platform::toAnsi(fitting);
    while (ansi.size() > size - 1) {
        fitting.chop(fitting.size() >= 2 && fitting.back().isLowSurrogate() ? 2 : 1);
        ansi = platform::toAnsi(fitting);
    }
    std::memcpy(field, ansi.constData(), ansi.size());
    field[ansi.size()] = '\0';
}

bool hasLineBreak(const QString &text)
{
    return text.contains(u'\n') || text.contains(u'\r');
}

// The words of what happened to the latest listed call that ended with this
// error, when its line gave more than the error's own text; empty otherwise.
QByteArray callErrorWords(DWORD code)
{
    const QList<Call> calls = openCalls(readLineState(), nowMs());
    for (auto it = calls.crbegin(); it != calls.crend(); ++it) {
        if (const QString words = lineOf(it->kind).errorWords(*it, code); !words.isEmpty())
            return platform::toAnsi(words);
    }
    return {};
}

HRASCONN takeHandle(LineState &state)
{
    const HRASCONN handle = state.nextHandle;
    ++state.nextHandle;
    if (state.nextHandle == 0 || state.nextHandle == 0xFFFFFFFFu)
        state.nextHandle = FirstHandle;
    return handle;
}

} // namespace

DWORD RasEnumEntriesA(LPCSTR reserved, LPCSTR lpszPhonebook, RASENTRYNAME *lprasentryname,
                      DWORD *lpcb, DWORD *lpcEntries)
{
    if (reserved || !lpcb || !lpcEntries)
        return ERROR_INVALID_PARAMETER;
    if (lprasentryname && lprasentryname->dwSize != sizeof(RASENTRYNAME))
        return ERROR_INVALID_SIZE;
    // The simulated line has the default phonebook only. Its entries' names
    // are all a listing reads of it.
    if (lpszPhonebook)
        return ERROR_CANNOT_OPEN_PHONEBOOK;
    lines::ensurePhonebook();
    const platform::BoundedRead file =
        platform::readBounded(lines::phonebookPath(), platform::PhonebookReadLimit);
    if (!file.read())
        return ERROR_CANNOT_OPEN_PHONEBOOK;

    // A caller told its buffer is too small asks again at once: while the file
    // holds the same bytes, the names listed then are listed again.
    static QMutex listedMutex;
    static QByteArray listedBytes;
    static QStringList listedNames;
    QMutexLocker listed(&listedMutex);
    const bool again = !listedBytes.isNull() && file.data == listedBytes;
    const QStringList names = again ? listedNames : PhonebookFile::entryNames(file.data);
    listedBytes.clear();
    listedNames.clear();
    const DWORD needed = static_cast<DWORD>(names.size() * sizeof(RASENTRYNAME));
    if (*lpcb < needed || (!lprasentryname && needed > 0)) {
        listedBytes = file.data;
        listedNames = names;
        *lpcb = needed;
        *lpcEntries = static_cast<DWORD>(names.size());
        return ERROR_BUFFER_TOO_SMALL;
    }
    listed.unlock();
    for (qsizetype i = 0; i < names.size(); ++i) {
        RASENTRYNAME &record = lprasentryname[i];
        std::memset(&record, 0, sizeof record);
        record.dwSize = sizeof(RASENTRYNAME);
        putField(record.szEntryName, sizeof record.szEntryName, names.at(i));
    }
    *lpcb = needed;
    *lpcEntries = static_cast<DWORD>(names.size());
    return 0;
}

DWORD RasEnumConnectionsA(RASCONN *lprasconn, DWORD *lpcb, DWORD *lpcConnections)
{
    if (!lpcb || !lpcConnections)
        return ERROR_INVALID_PARAMETER;
    if (lprasconn && lprasconn->dwSize != sizeof(RASCONN))
        return ERROR_INVALID_SIZE;

    const QList<Call> calls = openCalls(readLineState(), nowMs());
    const DWORD needed = static_cast<DWORD>(calls.size() * sizeof(RASCONN));
    if (*lpcb < needed || (!lprasconn && needed > 0)) {
        *lpcb = needed;
        *lpcConnections = static_cast<DWORD>(calls.size());
        return ERROR_BUFFER_TOO_SMALL;
    }
    for (qsizetype i = 0; i < calls.size(); ++i) {
        const Call &call = calls.at(i);
        RASCONN &record = lprasconn[i];
        std::memset(&record, 0, sizeof record);
        record.dwSize = sizeof(RASCONN);
        record.hrasconn = call.handle;
        putField(record.szEntryName, sizeof record.szEntryName, call.entry);
        putField(record.szDeviceType, sizeof record.szDeviceType, call.deviceType);
        putField(record.szDeviceName, sizeof record.szDeviceName, call.deviceName);
    }
    *lpcb = needed;
    *lpcConnections = static_cast<DWORD>(calls.size());
    return 0;
}

DWORD RasGetConnectStatusA(HRASCONN hrasconn, RASCONNSTATUS *lprasconnstatus)
{
    if (!lprasconnstatus)
        return ERROR_INVALID_PARAMETER;
    if (lprasconnstatus->dwSize != sizeof(RASCONNSTATUS))
        return ERROR_INVALID_SIZE;
    if (hrasconn == 0)
        return ERROR_INVALID_HANDLE;
    const qint64 now = nowMs();
    const QList<Call> calls = openCalls(readLineState(), now);
    const Call *call = findCall(calls, hrasconn, now);
    if (!call)
        return ERROR_INVALID_HANDLE;
    const CallStatus status = lineOf(call->kind).status(*call, now);
    lprasconnstatus->rasconnstate = status.state;
    lprasconnstatus->dwError = status.error;
    putField(lprasconnstatus->szDeviceType, sizeof lprasconnstatus->szDeviceType, call->deviceType);
    putField(lprasconnstatus->szDeviceName, sizeof lprasconnstatus->szDeviceName, call->deviceName);
    return 0;
}

DWORD RasGetErrorStringA(UINT uErrorValue, LPSTR lpszErrorString, DWORD cBufSize)
{
    if (!lpszErrorString || uErrorValue < 600 || uErrorValue > 799)
        return ERROR_INVALID_PARAMETER;
    QByteArray text = errorText(uErrorValue);
    // The runtime folder's error names the folder and the reason, as this
    // thread last met them.
    if (uErrorValue == ERROR_RUNTIME_FOLDER_UNUSABLE && !runtimeProblem().isEmpty())
        text = platform::toAnsi(runtimeProblem());
    else if (const QByteArray words = callErrorWords(uErrorValue); !words.isEmpty())
        text = words;
    const size_t length = size_t(text.size());
    if (length + 1 > cBufSize)
        return ERROR_BUFFER_TOO_SMALL;
    std::memcpy(lpszErrorString, text.constData(), length + 1);
    return 0;
}

DWORD RasGetEntryDialParamsA(LPCSTR lpszPhonebook, RASDIALPARAMS *lprasdialparams,
                             BOOL *lpfPassword)
{
    if (!lprasdialparams || !lpfPassword)
        return ERROR_INVALID_PARAMETER;
    if (lprasdialparams->dwSize != sizeof(RASDIALPARAMS))
        return ERROR_INVALID_SIZE;
    PhonebookFile phonebook;
    if (lpszPhonebook || !readPhonebook(&phonebook))
        return ERROR_CANNOT_OPEN_PHONEBOOK;
    const QString entry = phonebook.canonicalName(
        platform::fieldText(lprasdialparams->szEntryName, RAS_MaxEntryName + 1));
    if (entry.isEmpty())
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;

    RASDIALPARAMS &p = *lprasdialparams;
    const auto stored = [&](const QString &key) { return phonebook.value(entry, key); };
    // A hand-written entry may give the password without saying it is stored.
    const QString flag = stored(u"DialPasswordStored"_s).trimmed();
    const bool passwordStored =
        flag.isEmpty() ? !stored(u"DialPassword"_s).isEmpty() : flag == u"1"_s;
    putField(p.szPhoneNumber, sizeof p.szPhoneNumber, {});
    putField(p.szCallbackNumber, sizeof p.szCallbackNumber, stored(u"DialCallbackNumber"_s));
    putField(p.szUserName, sizeof p.szUserName, stored(u"DialUserName"_s));
    putField(p.szPassword, sizeof p.szPassword,
             passwordStored ? stored(u"DialPassword"_s) : QString());
    putField(p.szDomain, sizeof p.szDomain, stored(u"DialDomain"_s));
    *lpfPassword = passwordStored ? TRUE : FALSE;
    return 0;
}

DWORD RasSetEntryDialParamsA(LPCSTR lpszPhonebook, RASDIALPARAMS *lprasdialparams,
                             BOOL fRemovePassword)
{
    if (!lprasdialparams)
        return ERROR_INVALID_PARAMETER;
    const RASDIALPARAMS &p = *lprasdialparams;
    if (p.dwSize != sizeof(RASDIALPARAMS))
        return ERROR_INVALID_SIZE;
    if (lpszPhonebook)
        return ERROR_CANNOT_OPEN_PHONEBOOK;
    const QString user = platform::fieldText(p.szUserName, sizeof p.szUserName);
    const QString password = platform::fieldText(p.szPassword, sizeof p.szPassword);
    const QString domain = platform::fieldText(p.szDomain, sizeof p.szDomain);
    const QString callback = platform::fieldText(p.szCallbackNumber, sizeof p.szCallbackNumber);
    // A line break would end the value early and let the rest pass for keys
    // of the phonebook file.
    for (const QString *text : {&user, &password, &domain, &callback}) {
        if (hasLineBreak(*text))
            return ERROR_INVALID_PARAMETER;
    }

    LineLock lock;
    if (lock.error() == ERROR_LINE_BUSY_CHANGING)
        return lock.error();
    PhonebookFile phonebook;
    if (!readPhonebook(&phonebook))
        return ERROR_CANNOT_OPEN_PHONEBOOK;
    const QString entry =
        phonebook.canonicalName(platform::fieldText(p.szEntryName, sizeof p.szEntryName));
    if (entry.isEmpty())
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    phonebook.setValue(entry, u"DialUserName"_s, user);
    phonebook.setValue(entry, u"DialDomain"_s, domain);
    phonebook.setValue(entry, u"DialCallbackNumber"_s, callback);
    if (fRemovePassword) {
        phonebook.removeValue(entry, u"DialPassword"_s);
        phonebook.setValue(entry, u"DialPasswordStored"_s, u"0"_s);
    } else {
        phonebook.setValue(entry, u"DialPassword"_s, password);
        phonebook.setValue(entry, u"DialPasswordStored"_s, u"1"_s);
    }
    if (!lock.isLocked() || !writePhonebook(phonebook))
        return ERROR_CANNOT_WRITE_PHONEBOOK;
    return 0;
}

DWORD RasDialA(void *lpRasDialExtensions, LPCSTR lpszPhonebook, RASDIALPARAMS *lprasdialparams,
               DWORD dwNotifierType, void *lpvNotifier, HRASCONN *lphRasConn)
{
    // The caller polls the call's state; no notification is ever sent.
    Q_UNUSED(lpRasDialExtensions);
    Q_UNUSED(dwNotifierType);
    Q_UNUSED(lpvNotifier);
    if (!lprasdialparams || !lphRasConn)
        return ERROR_INVALID_PARAMETER;
    const RASDIALPARAMS &p = *lprasdialparams;
    if (p.dwSize != sizeof(RASDIALPARAMS))
        return ERROR_INVALID_SIZE;
    PhonebookFile phonebook;
    if (lpszPhonebook || !readPhonebook(&phonebook))
        return ERROR_CANNOT_OPEN_PHONEBOOK;
    DialRequest request;
    request.entry =
        phonebook.canonicalName(platform::fieldText(p.szEntryName, sizeof p.szEntryName));
    if (request.entry.isEmpty())
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    request.userName = platform::fieldText(p.szUserName, sizeof p.szUserName);
    request.password = platform::fieldText(p.szPassword, sizeof p.szPassword);
    request.phoneNumber = platform::fieldText(p.szPhoneNumber, sizeof p.szPhoneNumber);
    request.callbackNumber = platform::fieldText(p.szCallbackNumber, sizeof p.szCallbackNumber);
    request.domain = platform::fieldText(p.szDomain, sizeof p.szDomain);
    const Line &line = lineForEntry(phonebook, request.entry);

    LineLock lock;
    if (!lock.isLocked())
        return lock.error();
    LineState state = readLineState();
    const qint64 now = nowMs();
    // An entry's modem is busy with its call until that call is hung up.
    for (const Call &call : openCalls(state, now)) {
        if (call.entry.compare(request.entry, Qt::CaseInsensitive) == 0)
            return ERROR_PORT_ALREADY_OPEN;
    }

    Call call;
    call.kind = line.kind();
    call.entry = request.entry;
    call.userName = request.userName;
    call.phoneNumber = request.phoneNumber;
    call.callbackNumber = request.callbackNumber;
    call.domain = request.domain;
    call.dialedAtMs = now;
    call.handle = takeHandle(state);
    // A refused dial writes nothing: the handle is not spent.
    if (const DWORD rc = line.dial(phonebook, request, &call, &state); rc != 0)
        return rc;
    state.calls.append(call);
    if (!writeLineState(state, now))
        return ERROR_RUNTIME_FOLDER_UNUSABLE;
    rememberDialedPassword(call.handle, request.password);
    *lphRasConn = call.handle;
    return 0;
}

DWORD RasHangUpA(HRASCONN hrasconn)
{
    if (hrasconn == 0)
        return ERROR_INVALID_HANDLE;
    // A handle no call has is told at once, lock or no lock.
    if (!findCall(readLineState().calls, hrasconn, nowMs()))
        return ERROR_INVALID_HANDLE;
    LineLock lock;
    if (!lock.isLocked())
        return lock.error();
    LineState state = readLineState();
    const qint64 now = nowMs();
    Call *call = findCall(state.calls, hrasconn, now);
    if (!call)
        return ERROR_INVALID_HANDLE;
    const Call before = *call;
    const int nextHangUpDelayMs = state.nextHangUpDelayMs;
    const DWORD rc = lineOf(call->kind).hangUp(call, &state, now);
    const bool changed = call->hangUpAtMs != before.hangUpAtMs ||
                         call->closeAtMs != before.closeAtMs ||
                         state.nextHangUpDelayMs != nextHangUpDelayMs;
    if (rc != 0 || !changed)
        return rc;
    if (!writeLineState(state, now))
        return ERROR_RUNTIME_FOLDER_UNUSABLE;
    return 0;
}
