// The dynamic statistics under HKEY_DYN_DATA, as this system's lines publish
// them: the dial-up adapter's values exist while the devices of a call are
// linked, from RASCS_DeviceConnected through the logon to the end of the call.
// A modem call's byte counters are those of the network interface pppd
// brought up; the simulated line counts its own.

#include "platform/registry.h"

#include "platform/line/call_store.h"
#include "platform/line/line.h"
#include "platform/simline.h"

#include <QHash>
#include <QMutex>
#include <QSet>

#include <cstring>
#include <optional>

using namespace Qt::StringLiterals;
using namespace line;

namespace {

const QString kStatDataKey = u"PerfStats\\StatData"_s;
const QString kConnectSpeed = u"Dial-Up Adapter\\ConnectSpeed"_s;
const QString kBytesXmit = u"Dial-Up Adapter\\BytesXmit"_s;
const QString kBytesRecvd = u"Dial-Up Adapter\\BytesRecvd"_s;

// Open keys and the tests' overrides; value names are kept in lower case,
// since the registry ignores case.
struct Registry
{
    QMutex mutex;
    QSet<HKEY> openKeys;
    HKEY nextKey = 0x100;
    bool keyPresent = true;
    QHash<QString, QByteArray> overrides;
    QSet<QString> removed;
};

Registry &registry()
{
    static Registry r;
    return r;
}

QByteArray littleEndian(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// The line's own value, or nothing while no call has its devices linked.
std::optional<QByteArray> lineValue(const QString &name)
{
    const qint64 now = nowMs();
    for (const Call &call : openCalls(readLineState(), now)) {
        const std::optional<Statistics> figures = lineOf(call.kind).statistics(call, now);
        if (!figures)
            continue;
        if (name.compare(kConnectSpeed, Qt::CaseInsensitive) == 0)
            return littleEndian(figures->connectSpeed);
        if (name.compare(kBytesXmit, Qt::CaseInsensitive) == 0)
            return littleEndian(figures->bytesSent);
        if (name.compare(kBytesRecvd, Qt::CaseInsensitive) == 0)
            return littleEndian(figures->bytesReceived);
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, DWORD samDesired, HKEY *phkResult)
{
    Q_UNUSED(ulOptions);
    Q_UNUSED(samDesired);
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    Registry &r = registry();
    QMutexLocker locker(&r.mutex);
    const QString subKey = lpSubKey ? QString::fromLocal8Bit(lpSubKey) : QString();
    if (hKey != HKEY_DYN_DATA || !r.keyPresent ||
        subKey.compare(kStatDataKey, Qt::CaseInsensitive) != 0)
        return ERROR_FILE_NOT_FOUND;
    const HKEY key = r.nextKey++;
    r.openKeys.insert(key);
    *phkResult = key;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, DWORD *lpReserved, DWORD *lpType, BYTE *lpData,
                      DWORD *lpcbData)
{
    if (lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    Registry &r = registry();
    std::optional<QByteArray> value;
    {
        QMutexLocker locker(&r.mutex);
        if (!r.openKeys.contains(hKey))
            return ERROR_INVALID_HANDLE;
        const QString name = lpValueName ? QString::fromLocal8Bit(lpValueName) : QString();
        const QString folded = name.toLower();
        if (r.overrides.contains(folded))
            value = r.overrides.value(folded);
        else if (!r.removed.contains(folded))
            value = lineValue(name);
    }
    if (!value)
        return ERROR_FILE_NOT_FOUND;

    if (lpType)
        *lpType = REG_BINARY;
    const DWORD size = static_cast<DWORD>(value->size());
    if (!lpcbData)
        return ERROR_SUCCESS;
    if (lpData && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (lpData)
        std::memcpy(lpData, value->constData(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey)
{
    Registry &r = registry();
    QMutexLocker locker(&r.mutex);
    return r.openKeys.remove(hKey) ? ERROR_SUCCESS : LONG(ERROR_INVALID_HANDLE);
}

namespace simline {

void setStatisticsValue(const QString &valueName, const QByteArray &bytes)
{
    Registry &r = registry();
    QMutexLocker locker(&r.mutex);
    r.removed.remove(valueName.toLower());
    r.overrides.insert(valueName.toLower(), bytes);
}

void removeStatisticsValue(const QString &valueName)
{
    Registry &r = registry();
    QMutexLocker locker(&r.mutex);
    r.overrides.remove(valueName.toLower());
    r.removed.insert(valueName.toLower());
}

void setStatisticsKeyPresent(bool present)
{
    Registry &r = registry();
    QMutexLocker locker(&r.mutex);
    r.keyPresent = present;
}

void clearStatisticsOverrides()
{
    Registry &r = registry();
    QMutexLocker locker(&r.mutex);
    r.overrides.clear();
    r.removed.clear();
    r.keyPresent = true;
}

} // namespace simline
