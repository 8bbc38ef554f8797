#include "engine/line_status.h"

#include "engine/first_connection.h"
#include "engine/globals.h"
#include "engine/phonebook.h"
#include "platform/ansi.h"

#include <QtEndian>

using namespace Qt::StringLiterals;

bool UpdateConnectionStatus(DialerView &dialer)
{
    const RASCONNSTATUS status = QueryFirstConnection().status;

    switch (status.rasconnstate) {
    case RASCS_Connected:
        dialer.setStatusCaption(u"Connected."_s);
        return true;
    case RASCS_PortOpened:
        dialer.setStatusCaption(u"Opening port for connection..."_s);
        break;
    case RASCS_LogonNetwork:
        dialer.setStatusCaption(u"Logging on to network..."_s);
        break;
    case RASCS_Authenticate:
        dialer.setStatusCaption(u"Verifying username and password..."_s);
        break;
    case RASCS_Authenticated:
        dialer.setStatusCaption(
            ReadRegistryValue(HKEY_DYN_DATA, StatDataKey, ConnectSpeedValue, 0) > 0
                ? u"Logon successful."_s
                : u"Disconnected."_s);
        break;
    case RASCS_ConnectDevice:
        dialer.setStatusCaption(u"Dialing "_s + dialer.phoneNumber() + u" ..."_s);
        break;
    case RASCS_Disconnected:
        // A call that failed (busy, no answer, refused account, carrier lost)
        // says why; without this the status would keep the last progress words.
        if (status.dwError != 0) {
            LastRasError = static_cast<qint32>(status.dwError);
            dialer.showCallFailure(status.dwError, GetRasErrorText());
        }
        break;
    default:
        break;
    }
    return false;
}

qint32 ReadConnectSpeed(DialerView &dialer)
{
    if (!UpdateConnectionStatus(dialer))
        return 0;
    return ReadRegistryValue(HKEY_DYN_DATA, StatDataKey, ConnectSpeedValue, 0);
}

qint32 ReadRegistryValue(HKEY root, const QString &keyPath, const QString &valueName,
                         qint32 defaultValue)
{
    HKEY key = 0;
    if (RegOpenKeyExA(root, platform::toAnsi(keyPath).constData(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return 0;
    uchar data[4] = {};
    DWORD type = 0;
    DWORD size = sizeof(data);
    qint32 result = defaultValue;
    if (RegQueryValueExA(key, platform::toAnsi(valueName).constData(), nullptr, &type, data,
                         &size) == ERROR_SUCCESS)
        result = qFromLittleEndian<qint32>(data);
    RegCloseKey(key);
    return result;
}
