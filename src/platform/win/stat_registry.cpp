#define VANTELO_REGISTRY_IMPLEMENTATION
#include "platform/registry.h"

// The dynamic statistics on Windows. Windows 95/98/Me keep the dial-up
// adapter's figures under HKEY_DYN_DATA "PerfStats\StatData", and there the
// registry answers. Windows NT and its successors have no such key (and wine's
// is empty); there the
// same key opens on the dial-up service's statistics of the first active
// connection, so the program reads the same three figures the same way.

#include "platform/record_list.h"
#include "platform/win/stat_registry.h"

#include <ras.h>
#include <raserror.h>

#include <atomic>
#include <cstring>
#include <vector>

namespace {

// Stands for the service's statistics. Registry handles the system gives out
// are multiples of four, so this value (low bits 01) is never one of them; it
// is never handed to the system either.
HKEY statisticsKey()
{
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x56544101u));
}

// The registry ignores letter case in key and value names; the names compared
// here are plain ASCII, so the comparison is too, whatever the code page.
bool sameName(LPCSTR a, LPCSTR b)
{
    if (a == nullptr || b == nullptr)
        return false;
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (fold(static_cast<unsigned char>(*a)) != fold(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

std::atomic<platform::statistics::Source> currentSource{&platform::statistics::serviceFigures};

} // namespace

namespace platform::statistics {

bool serviceFigures(Figures &figures)
{
    // The records the system fills are its own, in the layout of Windows XP
    // (mingw's), which every later Windows takes; only the first
    // connection's handle is used.
    std::vector<RASCONNA> connections;
    const DWORD result =
        platform::listRecords<DWORD>(connections, [](RASCONNA *buffer, DWORD *bytes, DWORD *count) {
            return RasEnumConnectionsA(buffer, bytes, count);
        });
    if (result != ERROR_SUCCESS || connections.empty())
        return false;

    RAS_STATS stats;
    std::memset(&stats, 0, sizeof(stats));
    stats.dwSize = sizeof(stats);
    if (RasGetConnectionStatistics(connections[0].hrasconn, &stats) != ERROR_SUCCESS)
        return false;
    figures.connectSpeed = stats.dwBps;
    figures.bytesSent = stats.dwBytesXmited;
    figures.bytesReceived = stats.dwBytesRcved;
    return true;
}

Source setSource(Source source)
{
    return currentSource.exchange(source != nullptr ? source : &serviceFigures);
}

} // namespace platform::statistics

LONG platform::statsRegOpenKeyEx(HKEY root, LPCSTR subKey, DWORD options, REGSAM samDesired,
                                 HKEY *result)
{
    const LONG opened = RegOpenKeyExA(root, subKey, options, samDesired, result);
    if (root != HKEY_DYN_DATA || !sameName(subKey, "PerfStats\\StatData"))
        return opened;
    // A key without the dial-up adapter's figures publishes none (wine makes
    // the key, empty, in every prefix): the service's figures stand in.
    if (opened == ERROR_SUCCESS) {
        if (RegQueryValueExA(*result, "Dial-Up Adapter\\ConnectSpeed", nullptr, nullptr, nullptr,
                             nullptr) != ERROR_FILE_NOT_FOUND)
            return opened;
        RegCloseKey(*result);
    }
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = statisticsKey();
    return ERROR_SUCCESS;
}

LONG platform::statsRegQueryValueEx(HKEY key, LPCSTR valueName, DWORD *reserved, DWORD *type,
                                    BYTE *data, DWORD *size)
{
    if (key != statisticsKey())
        return RegQueryValueExA(key, valueName, reserved, type, data, size);

    DWORD statistics::Figures::*field = nullptr;
    if (sameName(valueName, "Dial-Up Adapter\\ConnectSpeed"))
        field = &statistics::Figures::connectSpeed;
    else if (sameName(valueName, "Dial-Up Adapter\\BytesXmit"))
        field = &statistics::Figures::bytesSent;
    else if (sameName(valueName, "Dial-Up Adapter\\BytesRecvd"))
        field = &statistics::Figures::bytesReceived;
    statistics::Figures figures;
    if (field == nullptr || !currentSource.load()(figures))
        return ERROR_FILE_NOT_FOUND;

    // Four little-endian bytes, as Windows 9x keeps these values.
    if (type != nullptr)
        *type = REG_BINARY;
    if (size == nullptr)
        return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    if (data != nullptr && *size < 4) {
        *size = 4;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr) {
        const DWORD value = figures.*field;
        for (int i = 0; i < 4; ++i)
            data[i] = static_cast<BYTE>((value >> (8 * i)) & 0xFF);
    }
    *size = 4;
    return ERROR_SUCCESS;
}

LONG platform::statsRegCloseKey(HKEY key)
{
    if (key == statisticsKey())
        return ERROR_SUCCESS;
    return RegCloseKey(key);
}
