// The Remote Access Service calls, served by the simulated line. Each call
// reads the phonebook and the shared line state afresh, so edits of the
// phonebook and calls made by other processes are seen at once.

#include "platform/ras.h"

#include "platform/ansi.h"
#include "platform/sim/line_store.h"

#include <QHash>

#include <cstring>

using namespace Qt::StringLiterals;
using namespace simline::detail;

namespace {

// The service's own words for the errors it reports; any other code of its
// range reads "Unknown error.".
const QHash<DWORD, const char *> &errorTexts()
{
    static const QHash<DWORD, const char *> texts = {
        {600, "An operation is pending."},
        {601, "The port handle is invalid."},
        {602, "The port is already open."},
        {603, "Caller's buffer is too small."},
        {604, "Wrong information specified."},
        {606, "The port is not connected."},
        {607, "The event is invalid."},
        {608, "The device does not exist."},
        {609, "The device type does not exist."},
        {610, "The buffer is invalid."},
        {611, "The route is not available."},
        {612, "The route is not allocated."},
        {613, "Invalid compression specified."},
        {614, "Out of buffers."},
        {615, "The port was not found."},
        {616, "An asynchronous request is pending."},
        {617, "The port or device is already disconnecting."},
        {618, "The port is not open."},
        {619, "The port is disconnected."},
        {620, "There are no endpoints."},
        {621, "Cannot open the phone book file."},
        {622, "Cannot load the phone book file."},
        {623, "Cannot find the phone book entry."},
        {624, "Cannot write the phone book file."},
        {625, "Invalid information found in the phone book file."},
        {626, "Cannot load a string."},
        {627, "Cannot find key."},
        {628, "The port was disconnected."},
        {629, "The port was disconnected by the remote machine."},
        {630, "The port was disconnected due to hardware failure."},
        {631, "The port was disconnected by the user."},
        {632, "The structure size is incorrect."},
        {633, "The port is already in use or is not configured for Remote Access dial out."},
        {638, "The request has timed out."},
        {664, "Cannot allocate memory."},
        {668, "The connection dropped."},
        {676, "The line is busy."},
        {677, "A person answered instead of a modem."},
        {678, "There is no answer."},
        {679, "Cannot detect carrier."},
        {680, "There is no dial tone."},
        {691, "Access denied because username and/or password is invalid on the domain."},
    };
    return texts;
}

// The text of a NUL-terminated field that may fill its whole size.
QString fieldText(const char *field, int size)
{
    return QString::fromLocal8Bit(field, qstrnlen(field, size));
}

// Writes a text into a record field, cut at a character boundary when it is
// too long, always NUL-terminated.
void putField(char *field, int size, const QString &text)
{
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

const Call *findCall(const QList<Call> &calls, HRASCONN handle)
{
    for (const Call &call : calls) {
        if (call.handle == handle)
            return &call;
    }
    return nullptr;
}

// The number a dial uses: the record's, or the entry's own when it is empty.
QString numberToDial(const RASDIALPARAMS &params, const EntrySettings &settings)
{
    const QString typed = fieldText(params.szPhoneNumber, RAS_MaxPhoneNumber + 1);
    return typed.isEmpty() ? settings.phoneNumber : typed;
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
    // The simulated line has the default phonebook only.
    PhonebookFile phonebook;
    if (lpszPhonebook || !readPhonebook(&phonebook))
        return ERROR_CANNOT_OPEN_PHONEBOOK;

    const QStringList names = phonebook.entryNames();
    const DWORD needed = static_cast<DWORD>(names.size() * sizeof(RASENTRYNAME));
    if (*lpcb < needed || (!lprasentryname && needed > 0)) {
        *lpcb = needed;
        *lpcEntries = static_cast<DWORD>(names.size());
        return ERROR_BUFFER_TOO_SMALL;
    }
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
    const Call *call = findCall(calls, hrasconn);
    if (!call)
        return ERROR_INVALID_HANDLE;
    const CallStatus status = callStatus(*call, now);
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
    const char *text = errorTexts().value(uErrorValue, "Unknown error.");
    const size_t length = std::strlen(text);
    if (length + 1 > cBufSize)
        return ERROR_BUFFER_TOO_SMALL;
    std::memcpy(lpszErrorString, text, length + 1);
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
    const QString entry =
        phonebook.canonicalName(fieldText(lprasdialparams->szEntryName, RAS_MaxEntryName + 1));
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
    const QString user = fieldText(p.szUserName, sizeof p.szUserName);
    const QString password = fieldText(p.szPassword, sizeof p.szPassword);
    const QString domain = fieldText(p.szDomain, sizeof p.szDomain);
    const QString callback = fieldText(p.szCallbackNumber, sizeof p.szCallbackNumber);
    // A line break would end the value early and let the rest pass for keys
    // of the phonebook file.
    for (const QString *text : {&user, &password, &domain, &callback}) {
        if (hasLineBreak(*text))
            return ERROR_INVALID_PARAMETER;
    }

    LineLock lock;
    PhonebookFile phonebook;
    if (!readPhonebook(&phonebook))
        return ERROR_CANNOT_OPEN_PHONEBOOK;
    const QString entry = phonebook.canonicalName(fieldText(p.szEntryName, sizeof p.szEntryName));
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
    const QString entry = phonebook.canonicalName(fieldText(p.szEntryName, sizeof p.szEntryName));
    if (entry.isEmpty())
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    const EntrySettings settings = entrySettings(phonebook, entry);

    LineLock lock;
    if (!lock.isLocked())
        return ERROR_PORT_NOT_AVAILABLE;
    LineState state = readLineState();
    const qint64 now = nowMs();
    // An entry's modem is busy with its call until that call is hung up.
    for (const Call &call : openCalls(state, now)) {
        if (call.entry.compare(entry, Qt::CaseInsensitive) == 0)
            return ERROR_PORT_ALREADY_OPEN;
    }

    Call call;
    call.handle = takeHandle(state);
    call.entry = entry;
    call.deviceName = settings.deviceName;
    call.deviceType = settings.deviceType;
    call.userName = fieldText(p.szUserName, sizeof p.szUserName);
    call.password = fieldText(p.szPassword, sizeof p.szPassword);
    call.phoneNumber = numberToDial(p, settings);
    call.callbackNumber = fieldText(p.szCallbackNumber, sizeof p.szCallbackNumber);
    call.domain = fieldText(p.szDomain, sizeof p.szDomain);
    call.dialedAtMs = now;
    call.stageMs = settings.stageMs;
    call.outcome = settings.outcome;
    if (state.outcomeForced) {
        call.outcome = state.forcedOutcome;
        state.outcomeForced = false;
    }
    call.accountAccepted = accountAccepted(settings, call.userName, call.password);
    call.speed = settings.speed;
    call.dropAfterSec = settings.dropAfterSec;
    call.hangUpMs = settings.hangUpMs;
    state.calls.append(call);
    if (!writeLineState(state, now))
        return ERROR_PORT_NOT_AVAILABLE;
    *lphRasConn = call.handle;
    return 0;
}

DWORD RasHangUpA(HRASCONN hrasconn)
{
    if (hrasconn == 0)
        return ERROR_INVALID_HANDLE;
    LineLock lock;
    LineState state = readLineState();
    const qint64 now = nowMs();
    Call *call = nullptr;
    for (Call &c : state.calls) {
        if (c.handle == hrasconn && !callClosed(c, now))
            call = &c;
    }
    if (!call)
        return ERROR_INVALID_HANDLE;
    if (call->hangUpAtMs >= 0)
        return 0; // still closing
    if (!lock.isLocked())
        return ERROR_PORT_NOT_AVAILABLE;

    int delay = call->hangUpMs;
    if (callStatus(*call, now).state == RASCS_Disconnected) {
        delay = 0; // nothing left to close
    } else if (state.nextHangUpDelayMs >= 0) {
        delay = state.nextHangUpDelayMs;
        state.nextHangUpDelayMs = -1;
    }
    call->hangUpAtMs = now;
    call->closeAtMs = now + delay;
    if (!writeLineState(state, now))
        return ERROR_PORT_NOT_AVAILABLE;
    return 0;
}
