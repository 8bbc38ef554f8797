// The dynamic statistics under HKEY_DYN_DATA, as this system's lines publish
// them: the dial-up adapter's values exist while the devices of a call are
// linked, from RASCS_DeviceConnected through the logon to the end of the call.
// A modem call's byte counters are those of the network interface pppd
// brought up; the simulated line counts its own.

#include "platform/registry.h"

#include "platform/line/call_store.h"
#include "platform/line/line.h"

#include <QHash>
#include <QMutex>
#include <QSet>

#include <cstring>
#include <optional>

using namespace Qt::StringLiterals;
using namespace line;

namespace {

// The key and its values, in the ANSI code page as the calls receive them;
// the registry ignores case.
constexpr char kStatDataKey[] = "PerfStats\\StatData";
constexpr char kConnectSpeed[] = "Dial-Up Adapter\\ConnectSpeed";
constexpr char kBytesXmit[] = "Dial-Up Adapter\\BytesXmit";
constexpr char kBytesRecvd[] = "Dial-Up Adapter\\BytesRecvd";

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
// Asked twice a second while the details window is shown: the calls are
// looked at where they stand, with no copy made.
std::optional<QByteArray> lineValue(const char *name)
{
    const qint64 now = nowMs();
    const LineState state = readLineState();
    for (const Call &call : state.calls) {
        if (callClosed(call, now))
            continue;
        const std::optional<Statistics> figures = lineOf(call.kind).statistics(call, now);
        if (!figures)
            continue;
        if (qstricmp(name, kConnectSpeed) == 0)
            return littleEndian(figures->connectSpeed);
        if (qstricmp(name, kBytesXmit) == 0)
            return littleEndian(figures->bytesSent);
        if (qstricmp(name, kBytesRecvd) == 0)
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
    if (hKey != HKEY_DYN_DATA || !r.keyPresent || !lpSubKey ||
        qstricmp(lpSubKey, kStatDataKey) != 0)
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
        const char *name = lpValueName ? lpValueName : "";
        // The tests' overrides are looked up only when there are any.
        const QString folded = r.overrides.isEmpty() && r.removed.isEmpty()
                                   ? QString()
                                   : QString::fromLocal8Bit(name).toLower();
        if (!folded.isEmpty() && r.overrides.contains(folded))
            value = r.overrides.value(folded);
        else if (folded.isEmpty() || !r.removed.contains(folded))
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

namespace platform::statistics {

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

} // namespace platform::statistics
