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

#include <QHash>
#include <QMutex>

#include <algorithm>
#include <cstring>

using namespace Qt::StringLiterals;
using namespace line;

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
        {604, "Wrong information specified: the user name, the number or the entry's modem "
              "settings hold characters that cannot be dialed."},
        {605, "Vantelo cannot keep the line's state in its runtime folder."},
        {606, "The port is not connected."},
        {607, "The event is invalid."},
        {608, "The device does not exist: check that the modem is plugged in and that the "
              "entry's Device= names it."},
        {609, "The device type does not exist."},
        {610, "The buffer is invalid."},
        {611, "The route is not available."},
        {612, "The route is not allocated."},
        {613, "Invalid compression specified."},
        {614, "Out of buffers."},
        {615, "The port was not found."},
        {616, "The line is busy: another Vantelo process is changing it; try again."},
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
        {649, "Your account may not run pppd: add it to the dip group (sudo adduser $USER dip), "
              "then log in again."},
        {651, "The modem (or other connecting device) has reported an error."},
        {652, "There is an unrecognized response from the modem (or other connecting device)."},
        {663, "The device type is unknown: the entry's Device= is not a serial port."},
        {665, "The port is not configured for Remote Access: your account may not open the "
              "modem. Add it to the dialout group (sudo adduser $USER dialout), then log in "
              "again."},
        {666, "The modem (or other connecting device) is not functioning: it does not answer "
              "its commands."},
        {667, "Cannot read the pppd options: /etc/ppp/peers/vantelo (or the file the entry's Peer= "
              "names) is missing or invalid. Install it from Vantelo's source folder with: sudo "
              "cmake --install build --component ppp-peers"},
        {638, "The request has timed out."},
        {664, "Cannot allocate memory."},
        {668, "The connection dropped."},
        {676, "The line is busy."},
        {677, "A person answered instead of a modem."},
        {678, "There is no answer."},
        {679, "Cannot detect carrier."},
        {680, "There is no dial tone."},
        {691, "Access denied because username and/or password is invalid on the domain."},
        {711, "The PPP service could not start: pppd is missing or failed. Install the ppp "
              "package (sudo apt install ppp)."},
        {718, "The connection was terminated because the remote computer did not respond in a "
              "timely manner."},
        {720, "This system's kernel has no PPP support (pppd cannot open /dev/ppp): load the "
              "ppp_async module (sudo modprobe ppp_async) or use a kernel built with PPP."},
        {734, "The PPP link control protocol was terminated."},
    };
    return texts;
}

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
        if (it->finished && it->error == code && !it->errorWords.isEmpty())
            return platform::toAnsi(it->errorWords);
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
    QByteArray text = errorTexts().value(uErrorValue, "Unknown error.");
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
