#pragma once

// The phonebook's entries and the active connections as the Remote Access
// Service lists them, in a buffer that grows as the service asks.

#include "platform/ras.h"
#include "platform/record_list.h"

#include <vector>

namespace platform {

// The phonebook's entries into `entries`; the service's result.
inline DWORD listEntries(std::vector<RASENTRYNAME> &entries)
{
    return listRecords<DWORD>(entries, [](RASENTRYNAME *buffer, DWORD *bytes, DWORD *count) {
        return RasEnumEntriesA(nullptr, nullptr, buffer, bytes, count);
    });
}

// The active connections into `connections`; the service's result.
inline DWORD listConnections(std::vector<RASCONN> &connections)
{
    return listRecords<DWORD>(connections, [](RASCONN *buffer, DWORD *bytes, DWORD *count) {
        return RasEnumConnectionsA(buffer, bytes, count);
    });
}

} // namespace platform
