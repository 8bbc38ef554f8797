// The line statistics as the program reads them on Windows: HKEY_DYN_DATA
// "PerfStats\StatData" opened, one value queried into a 4-byte buffer, the key
// closed, through the same RegOpenKeyExA / RegQueryValueExA / RegCloseKey names
// the engine uses. First with the registry holding the key (Windows 9x; wine
// lets a program create it and write values there), then without it (Windows
// NT and later), where the figures come from the dial-up service.

#include "platform/registry.h"
#include "platform/win/stat_registry.h"

#include "check.h"

#include <initializer_list>

namespace {

const char *const StatData = "PerfStats\\StatData";
const char *const ConnectSpeed = "Dial-Up Adapter\\ConnectSpeed";
const char *const BytesXmit = "Dial-Up Adapter\\BytesXmit";
const char *const BytesRecvd = "Dial-Up Adapter\\BytesRecvd";

// The engine's reading: 0 when the key does not open, the default when the
// value cannot be read into 4 bytes, else the bytes as a little-endian int.
long readValue(const char *keyPath, const char *valueName, long defaultValue)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_DYN_DATA, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    BYTE data[4] = {};
    DWORD type = 0;
    DWORD size = sizeof(data);
    long result = defaultValue;
    if (RegQueryValueExA(key, valueName, nullptr, &type, data, &size) == ERROR_SUCCESS)
        result = static_cast<long>(static_cast<int>(data[0] | (data[1] << 8) | (data[2] << 16) |
                                                    (static_cast<unsigned>(data[3]) << 24)));
    CHECK_EQ(RegCloseKey(key), ERROR_SUCCESS);
    return result;
}

int sourceCalls = 0;
bool sourceAnswers = true;

bool testFigures(platform::statistics::Figures &figures)
{
    ++sourceCalls;
    if (!sourceAnswers)
        return false;
    figures.connectSpeed = 33600;
    figures.bytesSent = 1000;
    figures.bytesReceived = 0x80000001u;
    return true;
}

void setBinary(HKEY key, const char *name, const BYTE *bytes, DWORD size)
{
    CHECK_EQ(RegSetValueExA(key, name, 0, REG_BINARY, bytes, size), ERROR_SUCCESS);
}

void readsTheRegistryWhereItHasTheKey()
{
    HKEY key = nullptr;
    CHECK_EQ(RegCreateKeyExA(HKEY_DYN_DATA, StatData, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                             nullptr),
             ERROR_SUCCESS);
    const BYTE speed[4] = {0x80, 0x70, 0x00, 0x00};
    setBinary(key, ConnectSpeed, speed, 4);
    const DWORD sent = 1234;
    CHECK_EQ(RegSetValueExA(key, BytesXmit, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&sent), 4),
             ERROR_SUCCESS);
    const BYTE received[4] = {0x2E, 0x16, 0x00, 0x00};
    setBinary(key, BytesRecvd, received, 4);
    const BYTE tooLong[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    setBinary(key, "Dial-Up Adapter\\TooLong", tooLong, 8);
    RegCloseKey(key);

    // The registry answers; the service is not asked.
    sourceCalls = 0;
    platform::statistics::setSource(&testFigures);
    CHECK_EQ(readValue(StatData, ConnectSpeed, 0), 28800);
    CHECK_EQ(readValue(StatData, BytesXmit, 0), 1234);
    CHECK_EQ(readValue(StatData, BytesRecvd, 0), 5678);
    CHECK_EQ(readValue("perfstats\\STATDATA", "dial-up adapter\\connectspeed", 0), 28800);
    CHECK_EQ(readValue(StatData, "Dial-Up Adapter\\Missing", 7), 7);
    CHECK_EQ(readValue(StatData, "Dial-Up Adapter\\TooLong", 9), 9);
    CHECK_EQ(sourceCalls, 0);
    platform::statistics::setSource(nullptr);
}

// wine makes the key in every prefix and leaves it empty: a key without the
// adapter's figures publishes nothing, and the service's figures are read.
void readsTheServiceWhereTheKeyHasNoFigures()
{
    HKEY key = nullptr;
    CHECK_EQ(RegCreateKeyExA(HKEY_DYN_DATA, StatData, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                             nullptr),
             ERROR_SUCCESS);
    for (const char *name : {ConnectSpeed, BytesXmit, BytesRecvd})
        RegDeleteValueA(key, name);
    CHECK_EQ(RegCloseKey(key), ERROR_SUCCESS);

    platform::statistics::setSource(&testFigures);
    sourceAnswers = true;
    sourceCalls = 0;
    CHECK_EQ(readValue(StatData, ConnectSpeed, 0), 33600);
    CHECK_EQ(readValue(StatData, BytesRecvd, 0), static_cast<int>(0x80000001u));
    CHECK(sourceCalls >= 2);
    platform::statistics::setSource(nullptr);
}

void readsTheServiceWhereTheRegistryLacksTheKey()
{
    const LONG deleted = RegDeleteKeyA(HKEY_DYN_DATA, StatData);
    CHECK(deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND);
    HKEY direct = nullptr;
    CHECK(RegOpenKeyExA(HKEY_DYN_DATA, "PerfStats\\NoSuchKey", 0, KEY_QUERY_VALUE, &direct) !=
          ERROR_SUCCESS);

    platform::statistics::setSource(&testFigures);
    sourceAnswers = true;
    CHECK_EQ(readValue(StatData, ConnectSpeed, 0), 33600);
    CHECK_EQ(readValue(StatData, BytesXmit, 0), 1000);
    CHECK_EQ(readValue(StatData, BytesRecvd, 0), static_cast<int>(0x80000001u));
    CHECK_EQ(readValue("PERFSTATS\\statdata", "DIAL-UP ADAPTER\\CONNECTSPEED", 0), 33600);
    CHECK_EQ(readValue(StatData, "Dial-Up Adapter\\Other", 5), 5);

    // The value's type, a size query, and a buffer too small, as the registry
    // answers them.
    HKEY key = nullptr;
    CHECK_EQ(RegOpenKeyExA(HKEY_DYN_DATA, StatData, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = 0;
    CHECK_EQ(RegQueryValueExA(key, ConnectSpeed, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    CHECK_EQ(type, REG_BINARY);
    CHECK_EQ(size, 4);
    BYTE small[2] = {0xAA, 0xAA};
    size = sizeof(small);
    CHECK_EQ(RegQueryValueExA(key, ConnectSpeed, nullptr, nullptr, small, &size), ERROR_MORE_DATA);
    CHECK_EQ(size, 4);
    CHECK_EQ(small[0], 0xAA);
    CHECK_EQ(RegCloseKey(key), ERROR_SUCCESS);

    // No active connection: every value is missing, so the engine's defaults.
    sourceAnswers = false;
    CHECK_EQ(readValue(StatData, ConnectSpeed, 0), 0);
    CHECK_EQ(readValue(StatData, BytesRecvd, 3), 3);
    sourceAnswers = true;

    // The service itself. wine's rasapi32 is stubs: it lists no connection,
    // so this proves only that RasEnumConnectionsA and
    // RasGetConnectionStatistics link and that "no connection" reads as the
    // default. The figures of a real call need a Windows machine with a modem.
    platform::statistics::setSource(nullptr);
    platform::statistics::Figures figures;
    figures.connectSpeed = 77;
    CHECK(!platform::statistics::serviceFigures(figures));
    CHECK_EQ(figures.connectSpeed, 77);
    CHECK_EQ(readValue(StatData, ConnectSpeed, 0), 0);
    CHECK_EQ(readValue(StatData, BytesXmit, 0), 0);
}

} // namespace

int main()
{
    readsTheRegistryWhereItHasTheKey();
    readsTheServiceWhereTheKeyHasNoFigures();
    readsTheServiceWhereTheRegistryLacksTheKey();
    return checkSummary("statistics_test");
}
