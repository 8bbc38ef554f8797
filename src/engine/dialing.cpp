#include "engine/dialing.h"

#include "engine/globals.h"
#include "engine/phonebook.h"
#include "platform/ansi.h"
#include "platform/events.h"
#include "platform/ras_lists.h"

#include <QDeadlineTimer>

#include <vector>

using namespace Qt::StringLiterals;

DWORD GetEntryDialParams(const QString &entryName, RASDIALPARAMS &params, BOOL &passwordStored)
{
    params.dwSize = sizeof(RASDIALPARAMS);
    // A name too long for the record names no entry of the phonebook.
    if (!platform::copyToField(params.szEntryName, sizeof(params.szEntryName),
                               platform::toAnsi(entryName)))
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    return RasGetEntryDialParamsA(nullptr, &params, &passwordStored);
}

namespace {

QString numberToDial(const DialerView &dialer)
{
    return DialType == 1 ? dialer.phoneNumber() : u"P"_s + dialer.phoneNumber();
}

// Copies the typed values into the record; false when one does not fit.
bool copyDialValues(const DialerView &dialer, RASDIALPARAMS &params)
{
    return platform::copyToField(params.szUserName, sizeof(params.szUserName),
                                 platform::toAnsi(dialer.userName())) &&
           platform::copyToField(params.szPassword, sizeof(params.szPassword),
                                 platform::toAnsi(dialer.password())) &&
           platform::copyToField(params.szPhoneNumber, sizeof(params.szPhoneNumber),
                                 platform::toAnsi(numberToDial(dialer)));
}

} // namespace

bool DialValuesFit(const DialerView &dialer)
{
    RASDIALPARAMS params{};
    return copyDialValues(dialer, params);
}

bool DialEntry(DialerView &dialer, const QString &entryName)
{
    RASDIALPARAMS params{};
    BOOL passwordStored = FALSE;
    const DWORD stored = GetEntryDialParams(entryName, params, passwordStored);

    // Values that do not fit their field are refused rather than cut: a cut
    // password or number would dial something the user never typed.
    if (!copyDialValues(dialer, params)) {
        dialer.setStatusCaption(DialFieldTooLongText);
        return false;
    }

    if (stored == ERROR_SUCCESS) {
        HRASCONN connection{};
        if (RasDialA(nullptr, nullptr, &params, RASDIAL_NOTIFIER_HWND,
                     platform::dialNotifier(dialer.handle()), &connection) == 0)
            return true;
        dialer.setStatusCaption(
            u"Unable To Contact the Modem... Please Check The Connections..."_s);
        return false;
    }

    LastRasError = static_cast<qint32>(stored);
    dialer.setStatusCaption(GetRasErrorText());
    HangUpAll(dialer, -1);
    return false;
}

void HangUpAll(DialerView &dialer, platform::ConnectionId handle)
{
    HangUpAttempts = 0;
    std::vector<RASCONN> buffer;
    const DWORD result = platform::listConnections(buffer);
    if (result != ERROR_SUCCESS) {
        LastRasError = static_cast<qint32>(result);
        dialer.setStatusCaption(GetRasErrorText());
    } else {
        for (std::size_t i = 0; i < buffer.size(); ++i) {
            const HRASCONN connection = buffer[i].hrasconn;
            if (handle != -1 && platform::connectionId(connection) != handle)
                continue;
            // Each attempt lets the windows live and waits a little longer
            // than the one before, so a line that takes seconds to close is
            // waited for without spinning the processor.
            const QDeadlineTimer patience(qMax(0, HangUpPatienceMs));
            const int longestPace = qMax(HangUpPaceMs, HangUpMaxPaceMs);
            int pace = HangUpPaceMs;
            qint16 attempts = 0;
            DWORD hangUp = 0;
            do {
                if (pace > 0) {
                    platform::DoEventsFor(pace);
                    pace = qMin(pace * 2, longestPace);
                } else {
                    platform::DoEvents();
                }
                AddInteger(attempts, 1);
                ++HangUpAttempts;
                hangUp = RasHangUpA(connection);
            } while (hangUp != ERROR_INVALID_HANDLE && attempts < 1000 && !patience.hasExpired());
        }
    }
    dialer.switchOffTimer2();
}

void AddInteger(qint16 &target, qint16 addend)
{
    const int sum = int(target) + int(addend);
    if (sum >= -32768 && sum <= 32767)
        target = static_cast<qint16>(sum);
}
